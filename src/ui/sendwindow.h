#pragma once

#include "filenames.h"
#include "sendjob.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kibro {

class SerialPort;

// The send window: shows the chosen file and sends it on START. The job reports; the window
// shows the outcome, once the job has stopped, and goes.
class SendWindow : public QDialog
{
    Q_OBJECT

public:
    SendWindow(SerialPort& serial, QWidget* parent);

    // Shows the file, by its exact bytes, as the one START sends; returns false, after
    // telling the user, when it cannot be shown or sent. Once sending, nothing changes.
    [[nodiscard]] bool loadFile(const NativePath& path);
    void onStartClicked();  // START
    void onCancelClicked(); // CANCEL
    // The program is ending: go at once, the transfer dropped where it stands, nothing shown.
    void abandon();

    [[nodiscard]] qint32 fileSize() const noexcept { return m_fileSize; }
    [[nodiscard]] NativePath chosenPath() const { return m_chosenPath; }
    [[nodiscard]] qint16 cancelFlag() { return m_job.engine().cancelFlag(); }
    [[nodiscard]] TransferEngine& engine() noexcept { return m_job.engine(); }
    // False once the window is going: closed, finished or abandoned. A window closed while
    // sending stays until the transfer has stopped.
    [[nodiscard]] bool isLoaded() const { return isVisible() || m_job.isBusy(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void showEvent(QShowEvent* event) override;

private:
    void onPhaseChanged(SendJob::Phase phase);
    void onByteWritten(qint64 sent);
    void onFinished(const SendJob::Result& result);
    void leave();
    // Shows a value the bar has not caught up with yet.
    void showProgress();
    // Whether the bar would look different at value.
    [[nodiscard]] bool progressShows(int value) const;
    [[nodiscard]] QWidget* messageParent();
    void reportFileError(QWidget* parent, bool tooLarge, const QString& reason);

    SerialPort& m_serial;
    NativePath m_chosenPath;
    QString m_fileName;
    qint32 m_fileSize = 0;
    SendJob m_job;
    QProgressBar* m_progressBar = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QLabel* m_details = nullptr;
    QElapsedTimer m_progressShown;
    int m_progress = 0;
    int m_progressPainted = 0;
};

} // namespace kibro
