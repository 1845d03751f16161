#include "terminalsend.h"

#include "filenames.h"
#include "progressline.h"
#include "terminal.h"

#include <chrono>
#include <cstdio>

#include <unistd.h>

namespace kibro {

namespace {

// Often enough to look alive, seldom enough to cost nothing beside the line.
constexpr std::chrono::milliseconds kRedrawInterval{100};

void printLine(const QString& text)
{
    std::fputs(qUtf8Printable(text + u'\n'), stderr);
}

} // namespace

TerminalSend::TerminalSend(SendRequest request, QObject* parent)
    : QObject(parent), m_request(std::move(request))
{
    m_showsProgress = !m_request.quiet && ::isatty(STDERR_FILENO) == 1;
    m_dumbTerminal = terminal::isDumb();
    m_redraw.setInterval(kRedrawInterval);
    connect(&m_redraw, &QTimer::timeout, this, &TerminalSend::showProgress);
    connect(&m_job, &SendJob::phaseChanged, this, &TerminalSend::onPhaseChanged);
    connect(&m_job, &SendJob::finished, this, &TerminalSend::onFinished, Qt::QueuedConnection);
    connect(&m_termination, &TerminationRequests::requested, this,
            &TerminalSend::onTerminationRequested);
}

void TerminalSend::start()
{
    if (m_finished)
        return;
    if (m_request.file == u"-") {
        configureTerminalPort(m_serial, m_request.port, "kibro-send");
        m_job.startBytes(std::exchange(m_request.input, {}));
        return;
    }
    // Looked at before the port is taken, as the window looks when it shows the file.
    const FileFacts facts = inspectFile(toNativePath(m_request.file));
    if (facts.check != FileCheck::Ok) {
        finish(int(SendStatus::FileError), fileLine(facts.reason));
        return;
    }
    configureTerminalPort(m_serial, m_request.port, "kibro-send");
    m_job.start(toNativePath(m_request.file));
}

QString TerminalSend::fileLine(const QString& reason) const
{
    return QStringLiteral("cannot read the file %1: %2").arg(m_request.file, reason);
}

void TerminalSend::onPhaseChanged(SendJob::Phase phase)
{
    if (phase != SendJob::Phase::Sending)
        return;
    m_clock.start();
    if (m_showsProgress) {
        showProgress();
        m_redraw.start();
    }
}

void TerminalSend::onTerminationRequested(int signalNumber)
{
    m_cancelStatus = 128 + signalNumber;
    if (m_job.isBusy())
        m_job.cancel();
    else
        finish(m_cancelStatus, QStringLiteral("stopped before the first byte"));
}

void TerminalSend::showProgress()
{
    const TransferEngine& engine = m_job.engine();
    const qint64 sent = engine.bytesSent();
    m_rate.add(std::chrono::milliseconds(m_clock.elapsed()), sent);
    const QString line =
        progressText({sent, m_job.total(), m_rate.bytesPerSecond(), engine.isPausing()},
                     terminal::errorColumns());
    std::fputs(qUtf8Printable(redrawn(line, m_shown, m_dumbTerminal)), stderr);
    std::fflush(stderr);
    m_shown = line.size();
}

void TerminalSend::onFinished(const SendJob::Result& result)
{
    // On a stop, what our own buffer still holds is dropped with the port: it never left.
    const qint64 left = result.sent - m_serial.heldOutgoingBytes();
    const qint64 total = m_job.total();
    const QString where = m_serial.deviceName();
    switch (result.failure) {
    case SendJob::Failure::Port:
        finish(int(SendStatus::PortError), QStringLiteral("cannot use the port: ") + result.reason);
        return;
    case SendJob::Failure::File:
    case SendJob::Failure::FileTooLarge:
        finish(int(SendStatus::FileError), fileLine(result.reason));
        return;
    case SendJob::Failure::Line:
        finish(int(SendStatus::LineLost),
               QStringLiteral("the line to %1 was lost after %2 of %3 bytes: %4")
                   .arg(where)
                   .arg(left)
                   .arg(total)
                   .arg(result.reason));
        return;
    case SendJob::Failure::None:
        break;
    }
    if (result.outcome == TransferEngine::Outcome::Completed)
        finish(
            int(SendStatus::Sent),
            QStringLiteral("sent %1 bytes of %2 to %3 at %4 bit/s in %5")
                .arg(result.sent)
                .arg(m_request.file == u"-" ? QStringLiteral("standard input") : m_request.file)
                .arg(where)
                .arg(LineSettings::parse(m_serial.settings()).baudRate)
                .arg(QString::number(m_clock.nsecsElapsed() / 1e9, 'f', 1) + QStringLiteral(" s")));
    else if (!m_clock.isValid())
        finish(m_cancelStatus, QStringLiteral("stopped before the first byte"));
    else
        finish(m_cancelStatus, QStringLiteral("stopped after %1 of %2 bytes").arg(left).arg(total));
}

void TerminalSend::finish(int status, const QString& line)
{
    if (m_finished)
        return;
    m_finished = true;
    m_redraw.stop();
    if (m_showsProgress && m_clock.isValid())
        std::fputs(qUtf8Printable(redrawn({}, m_shown, m_dumbTerminal)), stderr);
    if (!line.isEmpty())
        printLine(QStringLiteral("kibro-send: ") + line);
    // Closed before the status is known outside: the lock is gone when the shell goes on.
    m_serial.close();
    emit done(status);
}

} // namespace kibro
