#include "receivejob.h"

#include "errors.h"
#include "serialport.h"
#include "transfer_platform.h"

namespace kibro {

ReceiveJob::ReceiveJob(SerialPort& serial, PortUse use, QObject* parent)
    : QObject(parent), m_serial(serial), m_use(use)
{
    m_silenceTimer.setSingleShot(true);
    // A coarse timer may fire 5% late: 150 ms on the default silence.
    m_silenceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_silenceTimer, &QTimer::timeout, this, &ReceiveJob::onSilenceTimeout);
    // Also said when the port is lost or closed.
    connect(&m_serial, &SerialPort::activity, this, &ReceiveJob::onActivity);
}

ReceiveJob::~ReceiveJob() = default;

std::chrono::milliseconds ReceiveJob::sinceFirstByte() const
{
    return std::chrono::milliseconds(m_firstByte.isValid() ? m_firstByte.elapsed() : 0);
}

bool ReceiveJob::enter(Phase phase)
{
    m_phase = phase;
    emit phaseChanged(phase);
    return m_phase == phase;
}

void ReceiveJob::start(const NativePath& path, bool overwrite)
{
    if (m_phase != Phase::Ready)
        return;
    // The file first: a name that cannot be had is said before the line is taken.
    m_file = std::make_unique<platform::SaveFile>(path);
    switch (m_file->create(overwrite)) {
    case platform::SaveFile::Check::Ok:
        break;
    case platform::SaveFile::Check::Exists:
        fail(Failure::Exists, m_file->reason());
        return;
    case platform::SaveFile::Check::Refused:
        fail(Failure::File, m_file->reason());
        return;
    }
    if (openPort())
        (void)enter(Phase::Waiting);
}

bool ReceiveJob::openPort()
{
    if (!enter(Phase::Opening))
        return false;
    try {
        const bool wasOpen = m_serial.isOpen();
        takePort(m_serial, m_use, this);
        // What an open port took in before START belongs to no file.
        if (wasOpen)
            m_serial.setInBufferCount(0);
        return true;
    } catch (const KibroError& error) {
        fail(Failure::Port, QString::fromUtf8(error.what()));
        return false;
    }
}

void ReceiveJob::onActivity()
{
    if (m_phase != Phase::Waiting && m_phase != Phase::Receiving)
        return;
    // Lost or closed under us: what came is kept, what the port had read too.
    if (take(false) && !m_serial.isOpen())
        finish(Ending::LineLost);
}

bool ReceiveJob::take(bool fromDriver)
{
    const QByteArray bytes = m_serial.takeReceived(fromDriver);
    if (bytes.isEmpty())
        return true;
    if (!m_file->write(bytes.constData(), bytes.size())) {
        fail(Failure::File, m_file->reason());
        return false;
    }
    m_received += bytes.size();
    m_lastByte.start();
    if (!m_silenceTimer.isActive())
        m_silenceTimer.start(m_silence);
    if (m_phase == Phase::Waiting) {
        m_firstByte.start();
        if (!enter(Phase::Receiving))
            return false;
    }
    emit receivedChanged(m_received);
    return true;
}

void ReceiveJob::onSilenceTimeout()
{
    // Restarted only when it fires, not for every byte: a line at full rate costs no timer
    // work a byte.
    const auto quiet = std::chrono::milliseconds(m_lastByte.elapsed());
    if (quiet < m_silence)
        m_silenceTimer.start(m_silence - quiet);
    else if (take(true) && m_lastByte.elapsed() >= m_silence.count())
        finish(Ending::Silence);
}

void ReceiveJob::stop()
{
    if (m_phase == Phase::Waiting || m_phase == Phase::Receiving) {
        if (take(m_serial.isOpen()))
            finish(Ending::Stopped);
    }
}

void ReceiveJob::abandon()
{
    m_silenceTimer.stop();
    m_file.reset();
    m_serial.release(this);
    m_phase = Phase::Done;
}

void ReceiveJob::finish(Ending ending)
{
    Result result{ending, Failure::None, m_received, false, {}};
    if (m_received == 0) {
        m_file->discard();
    } else {
        switch (m_file->place()) {
        case platform::SaveFile::Check::Ok:
            result.kept = true;
            break;
        case platform::SaveFile::Check::Exists:
            result = {Ending::Failed, Failure::Exists, m_received, false, m_file->reason()};
            break;
        case platform::SaveFile::Check::Refused:
            result = {Ending::Failed, Failure::File, m_received, false, m_file->reason()};
            break;
        }
    }
    report(result);
}

void ReceiveJob::fail(Failure failure, const QString& reason)
{
    // A file that could not take what came is not what came: it goes.
    if (m_file)
        m_file->discard();
    report({Ending::Failed, failure, m_received, false, reason});
}

void ReceiveJob::report(const Result& result)
{
    m_silenceTimer.stop();
    m_serial.release(this);
    if (std::exchange(m_phase, Phase::Done) != Phase::Done)
        emit finished(result);
}

} // namespace kibro
