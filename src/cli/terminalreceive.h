#pragma once

#include "commandline.h"
#include "progressline.h"
#include "receivejob.h"
#include "serialport.h"
#include "termination.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace kibro {

// Exit statuses, as kibro-send's: 0 received, then usage, file, port, line, and 128 + a signal.
enum class ReceiveStatus : int {
    Received = 0,
    Usage = 1,
    FileError = 2,
    PortError = 3,
    LineLost = 4,
};

struct ReceiveRequest
{
    PortRequest port;
    bool quiet = false;
    bool force = false;
    std::chrono::milliseconds silence = ReceiveJob::kDefaultSilence;
    // A file, or "-" for standard output.
    QString file;
};

// One receive from a terminal: the window's receive job on the port as the window would open
// it, a progress line on stderr when it is a terminal, and an exit status.
class TerminalReceive : public QObject
{
    Q_OBJECT

public:
    explicit TerminalReceive(ReceiveRequest request, QObject* parent = nullptr);

    // done follows with the status (perhaps before this returns).
    void start();

signals:
    void done(int status);

private:
    void onFinished(const ReceiveJob::Result& result);
    void onTerminationRequested(int signalNumber);
    void showProgress();
    void finish(int status, const QString& line);
    [[nodiscard]] QString target() const;

    ReceiveRequest m_request;
    SerialPort m_serial;
    ReceiveJob m_job{m_serial, PortUse::Opened, this};
    TerminationRequests m_termination;
    RecentRate m_rate;
    qsizetype m_shown = 0;
    QTimer m_redraw;
    int m_stopStatus = 0;
    bool m_showsProgress = false;
    bool m_dumbTerminal = false;
    bool m_finished = false;
};

} // namespace kibro
