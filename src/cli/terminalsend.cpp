#include "terminalsend.h"

#include "errors.h"
#include "errorsection.h"
#include "filenames.h"
#include "progressline.h"
#include "storedport.h"
#include "terminal.h"

#include <QFileInfo>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <limits>

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
    connect(&m_loader, &FileLoader::loaded, this, &TerminalSend::onLoaded);
    connect(&m_engine, &TransferEngine::finished, this, &TerminalSend::onFinished,
            Qt::QueuedConnection);
    connect(&m_termination, &TerminationRequests::requested, this,
            &TerminalSend::onTerminationRequested);
}

void TerminalSend::start()
{
    if (m_request.file == u"-") {
        if (!openPort())
            return;
        send(std::exchange(m_request.input, {}));
        return;
    }
    // Looked at before the port is taken; read whole once it is.
    const FileFacts facts = inspectFile(toNativePath(m_request.file));
    if (facts.check != FileCheck::Ok) {
        finish(int(SendStatus::FileError), m_request.file + QStringLiteral(": ") + facts.reason);
        return;
    }
    if (!openPort())
        return;
    m_loader.start(toNativePath(m_request.file));
}

bool TerminalSend::openPort()
{
    // Where the window would send: the same store, read only, and the same port map.
    ErrorSection section;
    applyStoredConfiguration(m_serial, section);
    if (section.lastError() != 0) {
        // A store the window could not use either: the built-in port and rate, as it would.
        printLine(
            QStringLiteral("kibro-send: the stored port settings are unusable; using COM%1 at 9600")
                .arg(SerialPort::kDefaultPort));
        m_serial.setPortNumber(SerialPort::kDefaultPort);
        m_serial.setSettings(SerialPort::kDefaultSettings.toString());
    }
    try {
        if (m_request.portNumber)
            m_serial.setPortNumber(*m_request.portNumber);
        m_serial.setDevice(m_request.device);
        if (m_request.baud > 0)
            m_serial.setSettings(QString::number(m_request.baud) + QStringLiteral(",N,8,1"));
        if (m_serial.deviceName().isEmpty()) {
            finish(int(SendStatus::PortError),
                   QStringLiteral("COM%1 has no device").arg(m_serial.portNumber()));
            return false;
        }
        m_serial.open();
    } catch (const KibroError&) {
        // The port has said which device and why.
        finish(int(SendStatus::PortError), {});
        return false;
    }
    return true;
}

void TerminalSend::onLoaded(FileRead read)
{
    if (read.check != FileCheck::Ok) {
        finish(int(SendStatus::FileError), m_request.file + QStringLiteral(": ") + read.reason);
        return;
    }
    send(std::move(read.bytes));
}

void TerminalSend::send(QByteArray bytes)
{
    if (bytes.size() > std::numeric_limits<qint32>::max()) {
        finish(int(SendStatus::FileError),
               m_request.file +
                   QStringLiteral(": larger than the 2147483647 bytes a transfer counts"));
        return;
    }
    m_total = bytes.size();
    m_clock.start();
    if (m_showsProgress) {
        showProgress();
        m_redraw.start();
    }
    m_engine.start(std::move(bytes));
}

void TerminalSend::onTerminationRequested(int signalNumber)
{
    m_cancelStatus = 128 + signalNumber;
    if (m_engine.isRunning()) {
        m_engine.requestCancel();
        return;
    }
    m_loader.cancel();
    finish(m_cancelStatus, QStringLiteral("stopped before the first byte"));
}

void TerminalSend::showProgress()
{
    const qint64 sent = m_engine.bytesSent();
    m_rate.add(std::chrono::milliseconds(m_clock.elapsed()), sent);
    const QString line = progressText(
        {sent, m_total, m_rate.bytesPerSecond(), m_engine.isPausing()}, terminal::errorColumns());
    std::fputs(qUtf8Printable(redrawn(line, m_shown, m_dumbTerminal)), stderr);
    std::fflush(stderr);
    m_shown = line.size();
}

void TerminalSend::onFinished(TransferEngine::Outcome outcome)
{
    const qint64 sent = m_engine.bytesSent();
    // On a stop, what our own buffer still holds is dropped with the port: it never left.
    const qint64 left = sent - m_serial.heldOutgoingBytes();
    const QString where = m_serial.deviceName();
    switch (outcome) {
    case TransferEngine::Outcome::Completed:
        finish(
            int(SendStatus::Sent),
            QStringLiteral("sent %1 bytes of %2 to %3 at %4 bit/s in %5")
                .arg(sent)
                .arg(m_request.file == u"-" ? QStringLiteral("standard input") : m_request.file)
                .arg(where)
                .arg(LineSettings::parse(m_serial.settings()).baudRate)
                .arg(QString::number(m_clock.nsecsElapsed() / 1e9, 'f', 1) + QStringLiteral(" s")));
        break;
    case TransferEngine::Outcome::Cancelled:
        finish(m_cancelStatus,
               QStringLiteral("stopped after %1 of %2 bytes").arg(left).arg(m_total));
        break;
    default:
        finish(int(SendStatus::LineLost),
               QStringLiteral("the line to %1 was lost after %2 of %3 bytes")
                   .arg(where)
                   .arg(left)
                   .arg(m_total));
        break;
    }
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
