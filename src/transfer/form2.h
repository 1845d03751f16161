#pragma once

#include "transferengine.h"

#include <QDialog>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kibro {

class MSComm;

// The send window: shows the chosen file and sends it on START.
class Form2 : public QDialog, private TransferView
{
    Q_OBJECT

public:
    // The window sends the file it was opened for: the path is taken here.
    Form2(MSComm& comm, QString fname, QString fileName, QWidget* parent);
    ~Form2() override;

    // Returns false, after telling the user, when the file cannot be shown or sent.
    [[nodiscard]] bool Form_load();
    void Command2_Click(); // START
    void Command1_Click(); // CANCEL
    // The program is ending: go without running the closing handler or the transfer.
    void abandon();

    [[nodiscard]] qint32 FileSize() const noexcept { return m_fileSize; }
    [[nodiscard]] qint16 CancelFlag() const noexcept { return m_engine.CancelFlag(); }
    [[nodiscard]] TransferEngine& engine() noexcept { return m_engine; }
    // False once the window is going: closed, finished or abandoned.
    [[nodiscard]] bool isLoaded() const noexcept { return !m_unloaded; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Unload();
    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(int value) override;
    void acknowledgeCancel() override;
    void reportFailure() override;
    void unload() override;
    [[nodiscard]] QWidget* messageParent();

    QString m_fname;
    QString m_fileName;
    qint32 m_fileSize = 0;
    TransferEngine m_engine;
    QProgressBar* m_progressBar1 = nullptr;
    QPushButton* m_command2 = nullptr;
    QPushButton* m_command1 = nullptr;
    QLabel* m_label1 = nullptr;
    bool m_unloaded = false;
};

} // namespace kibro
