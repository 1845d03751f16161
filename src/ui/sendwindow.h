#pragma once

#include "filenames.h"
#include "transferengine.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kibro {

class SerialPort;

// The send window: shows the chosen file and sends it on START.
class SendWindow : public QDialog, private TransferView
{
    Q_OBJECT

public:
    // The window sends the file it was opened for: the path is taken here.
    SendWindow(SerialPort& serial, QString fname, QString fileName, QWidget* parent);
    // The file by its exact bytes, its name shown in readable form.
    SendWindow(SerialPort& serial, NativePath path, QWidget* parent);
    ~SendWindow() override;

    // Returns false, after telling the user, when the file cannot be shown or sent.
    [[nodiscard]] bool loadFile();
    void onStartClicked();  // START
    void onCancelClicked(); // CANCEL
    // The program is ending: go without running the closing handler or the transfer.
    void abandon();

    [[nodiscard]] qint32 fileSize() const noexcept { return m_fileSize; }
    [[nodiscard]] NativePath chosenPath() const { return m_chosenPath; }
    // The name as the title and the details show it.
    [[nodiscard]] QString shownName() const { return m_fileName; }
    [[nodiscard]] qint16 cancelFlag() const noexcept { return m_engine.cancelFlag(); }
    [[nodiscard]] TransferEngine& engine() noexcept { return m_engine; }
    // False once the window is going: closed, finished or abandoned.
    [[nodiscard]] bool isLoaded() const noexcept { return !m_unloaded; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void showEvent(QShowEvent* event) override;

private:
    void onUnload();
    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(int value) override;
    // Shows a value the bar has not caught up with yet.
    void showProgress();
    // Whether the bar would look different at value.
    [[nodiscard]] bool progressShows(int value) const;
    void acknowledgeCancel() override;
    void reportFailure() override;
    void unload() override;
    [[nodiscard]] QWidget* messageParent();

    NativePath m_chosenPath;
    QString m_fileName;
    qint32 m_fileSize = 0;
    TransferEngine m_engine;
    QProgressBar* m_progressBar = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QLabel* m_details = nullptr;
    QElapsedTimer m_progressShown;
    int m_progress = 0;
    int m_progressPainted = 0;
    bool m_unloaded = false;
};

} // namespace kibro
