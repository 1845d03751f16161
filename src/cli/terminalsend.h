#pragma once

#include "commandline.h"
#include "progressline.h"
#include "sendjob.h"
#include "serialport.h"
#include "termination.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace kibro {

// Exit statuses, as scripts and Makefiles read them.
enum class SendStatus : int {
    Sent = 0,
    Usage = 1,
    FileError = 2,
    PortError = 3,
    LineLost = 4,
    Interrupted = 130, // SIGINT; 128 + the signal's number for any other
};

// What the command line asked for.
struct SendRequest
{
    PortRequest port;
    bool quiet = false;
    // A file, or "-" for standard input.
    QString file;
    // Standard input, read to its end before anything else happens.
    QByteArray input;
};

// One send from a terminal: the window's send job on the port as the window would open it, a
// progress line on stderr, and an exit status.
class TerminalSend : public QObject
{
    Q_OBJECT

public:
    explicit TerminalSend(SendRequest request, QObject* parent = nullptr);

    // Opens, reads and starts; done follows with the status (perhaps before this returns).
    void start();

signals:
    void done(int status);

private:
    void onPhaseChanged(SendJob::Phase phase);
    void onFinished(const SendJob::Result& result);
    [[nodiscard]] QString fileLine(const QString& reason) const;
    void onTerminationRequested(int signalNumber);
    void showProgress();
    void finish(int status, const QString& line);

    SendRequest m_request;
    SerialPort m_serial;
    SendJob m_job{m_serial, SendJob::PortUse::Opened, this};
    TerminationRequests m_termination;
    QElapsedTimer m_clock;
    RecentRate m_rate;
    // Characters of the progress line now on the terminal.
    qsizetype m_shown = 0;
    // Redraws the progress line while the pocket computer holds the transfer.
    QTimer m_redraw;
    int m_cancelStatus = static_cast<int>(SendStatus::Interrupted);
    bool m_showsProgress = false;
    bool m_dumbTerminal = false;
    bool m_finished = false;
};

} // namespace kibro
