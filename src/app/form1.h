#pragma once

#include "form2.h"
#include "form3.h"
#include "mscomm.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class QAction;

namespace kibro {

class DriveList;
class DirList;
class FileList;

// The main window: owns the port and the file chooser, and starts and ends the program.
class Form1 : public QMainWindow
{
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up: position from the store, then the port. Call before show().
    void Form_load();
    void mnuExit_Click();
    void mnuSetting_Click();

    void Drive1_Change();
    void Dir1_Change();
    void File1_Click();

    [[nodiscard]] MSComm& MSComm1() noexcept { return m_comm; }
    [[nodiscard]] QString Fname() const { return m_fname; }
    [[nodiscard]] DriveList* Drive1() const noexcept { return m_drive1; }
    [[nodiscard]] DirList* Dir1() const noexcept { return m_dir1; }
    [[nodiscard]] FileList* File1() const noexcept { return m_file1; }
    [[nodiscard]] Form2* sendWindow() const { return m_form2.data(); }
    [[nodiscard]] Form3* settingsWindow() const { return m_form3.data(); }

    // How the program ends once the exit routine is done. Tests replace it.
    void setEndProgram(std::function<void()> endProgram) { m_endProgram = std::move(endProgram); }
    [[nodiscard]] bool hasEnded() const noexcept { return m_ended; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Unload();

    MSComm m_comm;
    QString m_fname;
    DriveList* m_drive1 = nullptr;
    DirList* m_dir1 = nullptr;
    FileList* m_file1 = nullptr;
    QAction* m_mnuExit = nullptr;
    QAction* m_mnuSetting = nullptr;
    QPointer<Form2> m_form2;
    QPointer<Form3> m_form3;
    std::function<void()> m_endProgram;
    bool m_ended = false;
};

} // namespace kibro
