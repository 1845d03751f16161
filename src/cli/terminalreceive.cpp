#include "terminalreceive.h"

#include "filenames.h"
#include "terminal.h"

#include <chrono>
#include <cstdio>

#include <unistd.h>

namespace kibro {

namespace {

constexpr std::chrono::milliseconds kRedrawInterval{200};

} // namespace

TerminalReceive::TerminalReceive(ReceiveRequest request, QObject* parent)
    : QObject(parent), m_request(std::move(request))
{
    m_showsProgress = !m_request.quiet && ::isatty(STDERR_FILENO) == 1;
    m_dumbTerminal = terminal::isDumb();
    m_redraw.setInterval(kRedrawInterval);
    connect(&m_redraw, &QTimer::timeout, this, &TerminalReceive::showProgress);
    m_job.setSilence(m_request.silence);
    connect(&m_job, &ReceiveJob::finished, this, &TerminalReceive::onFinished,
            Qt::QueuedConnection);
    connect(&m_termination, &TerminationRequests::requested, this,
            &TerminalReceive::onTerminationRequested);
}

void TerminalReceive::start()
{
    if (m_finished)
        return;
    configureTerminalPort(m_serial, m_request.port, "kibro-receive");
    m_job.start(m_request.file == u"-" ? NativePath() : toNativePath(m_request.file),
                m_request.force);
    if (m_showsProgress && m_job.isBusy()) {
        showProgress();
        m_redraw.start();
    }
}

QString TerminalReceive::target() const
{
    return m_request.file == u"-" ? QStringLiteral("standard output") : m_request.file;
}

void TerminalReceive::onTerminationRequested(int signalNumber)
{
    m_stopStatus = 128 + signalNumber;
    if (m_job.isBusy())
        m_job.stop();
    else
        finish(m_stopStatus, QStringLiteral("stopped before the first byte"));
}

void TerminalReceive::showProgress()
{
    m_rate.add(m_job.sinceFirstByte(), m_job.received());
    const QString line = receiveProgressText(m_job.received(), m_rate.bytesPerSecond(),
                                             m_job.sinceFirstByte(), terminal::errorColumns());
    std::fputs(qUtf8Printable(redrawn(line, m_shown, m_dumbTerminal)), stderr);
    std::fflush(stderr);
    m_shown = line.size();
}

void TerminalReceive::onFinished(const ReceiveJob::Result& result)
{
    using Ending = ReceiveJob::Ending;
    using Failure = ReceiveJob::Failure;
    const QString where = m_serial.deviceName();
    const QString kept = result.kept ? QStringLiteral("; kept in %1").arg(target()) : QString();
    switch (result.failure) {
    case Failure::Port:
        finish(int(ReceiveStatus::PortError),
               QStringLiteral("cannot use the port: ") + result.reason);
        return;
    case Failure::Exists:
        finish(int(ReceiveStatus::FileError),
               QStringLiteral("%1: %2; --force replaces it").arg(target(), result.reason));
        return;
    case Failure::File:
        finish(int(ReceiveStatus::FileError),
               result.received == 0
                   ? QStringLiteral("cannot write %1: %2").arg(target(), result.reason)
                   : QStringLiteral("cannot write %1 after %2 bytes: %3")
                         .arg(target())
                         .arg(result.received)
                         .arg(result.reason));
        return;
    case Failure::None:
        break;
    }
    switch (result.ending) {
    case Ending::Silence:
        finish(int(ReceiveStatus::Received),
               QStringLiteral("received %1 bytes into %2 from %3 at %4 bit/s")
                   .arg(result.received)
                   .arg(target(), where)
                   .arg(LineSettings::parse(m_serial.settings()).baudRate));
        return;
    case Ending::LineLost:
        finish(int(ReceiveStatus::LineLost),
               QStringLiteral("the line to %1 was lost after %2 bytes%3")
                   .arg(where)
                   .arg(result.received)
                   .arg(kept));
        return;
    case Ending::Stopped:
    case Ending::Failed:
        finish(m_stopStatus,
               result.received == 0
                   ? QStringLiteral("stopped before the first byte")
                   : QStringLiteral("stopped after %1 bytes%2").arg(result.received).arg(kept));
        return;
    }
}

void TerminalReceive::finish(int status, const QString& line)
{
    if (m_finished)
        return;
    m_finished = true;
    m_redraw.stop();
    if (m_showsProgress && m_shown > 0)
        std::fputs(qUtf8Printable(redrawn({}, m_shown, m_dumbTerminal)), stderr);
    if (!line.isEmpty())
        std::fputs(qUtf8Printable(QStringLiteral("kibro-receive: ") + line + u'\n'), stderr);
    // Closed before the status is known outside: the lock is gone when the shell goes on.
    m_serial.close();
    emit done(status);
}

} // namespace kibro
