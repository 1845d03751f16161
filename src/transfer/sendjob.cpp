#include "sendjob.h"

#include "errors.h"
#include "serialport.h"

namespace kibro {

namespace {

// Slices are read until a turn's time is up.
constexpr std::chrono::milliseconds kTurn{8};

} // namespace

SendJob::SendJob(SerialPort& serial, PortUse use, QObject* parent)
    : QObject(parent), m_serial(serial), m_use(use), m_line(serial)
{
    m_nextSlice.setSingleShot(true);
    connect(&m_nextSlice, &QTimer::timeout, this, &SendJob::readOn);
    connect(&m_engine, &TransferEngine::finished, this, [this](TransferEngine::Outcome outcome) {
        const bool failed = outcome == TransferEngine::Outcome::Failed;
        finish({outcome, failed ? Failure::Line : Failure::None, m_engine.bytesSent(),
                m_engine.failureReason()});
    });
}

bool SendJob::enter(Phase phase)
{
    m_phase = phase;
    emit phaseChanged(phase);
    return m_phase == phase;
}

void SendJob::start(const NativePath& path)
{
    if (m_phase != Phase::Ready || !openPort() || !enter(Phase::Reading))
        return;
    m_reader = std::make_unique<WholeFileReader>(path);
    readOn();
}

void SendJob::startBytes(QByteArray bytes)
{
    if (m_phase == Phase::Ready && openPort())
        send(std::move(bytes));
}

bool SendJob::openPort()
{
    if (!enter(Phase::Opening))
        return false;
    try {
        takePort(m_serial, m_use, this);
        return true;
    } catch (const KibroError& error) {
        finish(
            {TransferEngine::Outcome::Failed, Failure::Port, 0, QString::fromUtf8(error.what())});
        return false;
    }
}

void SendJob::readOn()
{
    if (!m_reader->readOn(QDeadlineTimer(kTurn))) {
        m_nextSlice.start();
        return;
    }
    FileRead read = m_reader->take();
    m_reader.reset();
    if (read.check == FileCheck::Ok)
        send(std::move(read.bytes));
    else
        finish({TransferEngine::Outcome::Failed,
                read.check == FileCheck::TooLarge ? Failure::FileTooLarge : Failure::File, 0,
                read.reason});
}

void SendJob::send(QByteArray bytes)
{
    m_total = bytes.size();
    if (enter(Phase::Sending))
        m_engine.start(std::move(bytes));
}

void SendJob::cancel()
{
    // Seen before the next byte; before START it is only the flag.
    m_engine.requestCancel();
    if (m_phase == Phase::Opening || m_phase == Phase::Reading)
        finish({TransferEngine::Outcome::Cancelled, Failure::None, 0, {}});
}

void SendJob::abandon()
{
    m_engine.abandon();
    stopReading();
    m_serial.release(this);
    m_phase = Phase::Done;
}

void SendJob::stopReading()
{
    m_nextSlice.stop();
    m_reader.reset();
}

void SendJob::finish(const Result& result)
{
    stopReading();
    m_serial.release(this);
    if (std::exchange(m_phase, Phase::Done) != Phase::Done)
        emit finished(result);
}

} // namespace kibro
