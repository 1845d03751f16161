#include "sendjob.h"

#include "errors.h"
#include "errorsection.h"
#include "serialport.h"
#include "storedport.h"

namespace kibro {

SendJob::SendJob(SerialPort& serial, PortUse use, QObject* parent)
    : QObject(parent), m_serial(serial), m_use(use), m_line(serial)
{
    connect(&m_loader, &FileLoader::loaded, this, &SendJob::onLoaded);
    connect(&m_engine, &TransferEngine::finished, this, &SendJob::onEngineFinished);
}

bool SendJob::enter(Phase phase)
{
    m_phase = phase;
    emit phaseChanged(phase);
    return m_phase == phase;
}

void SendJob::start(const NativePath& path)
{
    if (m_phase == Phase::Ready && openPort() && enter(Phase::Reading))
        m_loader.start(path);
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
        if (!m_serial.isOpen()) {
            // Adapters are replugged all the time: a lost port is opened again as stored.
            if (m_serial.wasLost()) {
                ErrorSection section;
                applyStoredConfiguration(m_serial, section);
            } else if (m_use == PortUse::Kept) {
                throw KibroError(ErrorNumber::PortNotOpen,
                                 QStringLiteral("%1: not open").arg(m_serial.deviceName()));
            }
            m_serial.open();
        }
    } catch (const KibroError& error) {
        finish({TransferEngine::Outcome::Failed, Failure::Port, 0,
                QString::fromStdString(error.what())});
        return false;
    }
    return true;
}

void SendJob::onLoaded(FileRead read)
{
    if (read.check == FileCheck::Ok) {
        send(std::move(read.bytes));
        return;
    }
    const Failure failure =
        read.check == FileCheck::TooLarge ? Failure::FileTooLarge : Failure::File;
    finish({TransferEngine::Outcome::Failed, failure, 0, read.reason});
}

void SendJob::send(QByteArray bytes)
{
    m_total = bytes.size();
    if (enter(Phase::Sending))
        m_engine.start(std::move(bytes));
}

void SendJob::onEngineFinished(TransferEngine::Outcome outcome)
{
    const bool failed = outcome == TransferEngine::Outcome::Failed;
    finish({outcome, failed ? Failure::Line : Failure::None, m_engine.bytesSent(),
            m_engine.failureReason()});
}

void SendJob::cancel()
{
    // Seen before the next byte; before START it is only the flag.
    m_engine.requestCancel();
    if (m_phase == Phase::Opening || m_phase == Phase::Reading) {
        m_loader.cancel();
        finish({TransferEngine::Outcome::Cancelled, Failure::None, 0, {}});
    }
}

void SendJob::abandon()
{
    m_loader.cancel();
    m_engine.abandon();
    m_phase = Phase::Done;
}

void SendJob::finish(const Result& result)
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    emit finished(result);
}

} // namespace kibro
