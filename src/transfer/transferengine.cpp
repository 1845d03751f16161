#include "transferengine.h"

#include "errors.h"
#include "serialport.h"

namespace kibro {

namespace {

// Only a driver queue that never reports, with our own buffer still holding bytes, waits
// this long without a signal; the port's signals end the wait much sooner.
constexpr std::chrono::milliseconds kFallbackWait{100};
constexpr std::chrono::milliseconds kShortestWait{1};
constexpr std::chrono::microseconds kSlice{250};

} // namespace

TransferEngine::TransferEngine(SerialPort& serial, TransferView& view, QObject* parent)
    : QObject(parent), m_serial(serial), m_view(view)
{
    m_tickTimer.setObjectName(QStringLiteral("Timer1"));
    m_tickTimer.setInterval(kTickInterval);
    m_tickTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_tickTimer, &QTimer::timeout, this, &TransferEngine::onTick);

    m_lineTimer.setSingleShot(true);
    m_lineTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_lineTimer, &QTimer::timeout, this, [this] {
        stopWaiting();
        run();
    });

    // One pass a turn of the event loop while bytes flow freely. The timer keeps running
    // between passes rather than being armed anew for every byte, which would cost more
    // than the byte itself.
    m_yield.setInterval(0);
    connect(&m_yield, &QTimer::timeout, this, &TransferEngine::run);
}

void TransferEngine::start(QByteArray bytes)
{
    if (m_started)
        return;
    m_started = true;
    m_bytes = std::move(bytes);
    m_index = 0;
    m_stage = Stage::Top;

    m_view.setProgressRange(0, static_cast<int>(m_bytes.size()));
    try {
        m_serial.setInBufferCount(0);
        m_serial.setOutBufferCount(0);
    } catch (const KibroError&) {
        finish(Outcome::Failed);
        return;
    }
    run();
}

void TransferEngine::requestCancel()
{
    m_cancelFlag = -1;
    if (!m_started || !isRunning())
        return;
    // The byte waiting for the line has not gone out; drop it rather than make the user
    // wait for a slow line to take it.
    if (m_waiting || m_pausing) {
        stopWaiting();
        m_stage = Stage::Top;
        yieldThenRun();
    }
}

void TransferEngine::windowClosed()
{
    m_cancelFlag = -1;
    m_windowClosed = true;
    if (!m_started || !isRunning() || m_running)
        return;
    stopWaiting();
    m_stage = Stage::Top;
    yieldThenRun();
}

void TransferEngine::abandon()
{
    stopWaiting();
    m_yield.stop();
    if (isRunning())
        m_outcome = Outcome::Abandoned;
}

void TransferEngine::onTick()
{
    ++m_tickCount;
    if (m_pausing && m_tickCount >= kPauseTicks) {
        m_tickTimer.stop();
        m_pausing = false;
        m_stage = m_afterPause;
        run();
    }
}

void TransferEngine::startPause(Stage resumeAt)
{
    m_yield.stop();
    m_tickCount = 0;
    m_afterPause = resumeAt;
    m_pausing = true;
    m_tickTimer.start();
}

void TransferEngine::waitForLine()
{
    m_yield.stop();
    m_waiting = true;
    m_activity = connect(
        &m_serial, &SerialPort::activity, this,
        [this] {
            if (!m_waiting)
                return;
            stopWaiting();
            run();
        },
        Qt::QueuedConnection);
    const auto drain = m_serial.driverDrainTime();
    m_lineTimer.start(
        drain.count() > 0
            ? std::max(kShortestWait, std::chrono::ceil<std::chrono::milliseconds>(drain))
            : kFallbackWait);
}

void TransferEngine::stopWaiting()
{
    m_waiting = false;
    if (m_activity)
        disconnect(m_activity);
    m_lineTimer.stop();
    if (m_pausing) {
        m_tickTimer.stop();
        m_pausing = false;
    }
}

void TransferEngine::yieldThenRun()
{
    if (!m_yield.isActive())
        m_yield.start();
}

void TransferEngine::run()
{
    if (!isRunning() || m_running)
        return;
    m_running = true;
    m_slice.start();
    try {
        for (;;) {
            switch (m_stage) {
            case Stage::Top:
                if (m_index >= m_bytes.size()) {
                    m_running = false;
                    finish(Outcome::Completed);
                    return;
                }
                if (m_cancelFlag != 0) {
                    m_yield.stop();
                    // Still this pass while the box is up: what its event loop delivers
                    // (the window closing) must not start another pass and another box.
                    m_view.acknowledgeCancel();
                    m_running = false;
                    finish(Outcome::Cancelled);
                    return;
                }
                m_stage = Stage::CheckReceived;
                break;
            case Stage::CheckReceived:
                m_stage = Stage::CheckTransmit;
                if (m_serial.inBufferCount() != 0) {
                    startPause(Stage::CheckTransmit);
                    m_running = false;
                    return;
                }
                break;
            case Stage::CheckTransmit: {
                if (m_serial.outBufferCount() != 0) {
                    // After the wait, received bytes are looked at again before the next
                    // look at the line: the same as the check before it.
                    m_stage = Stage::CheckReceived;
                    waitForLine();
                    m_running = false;
                    return;
                }
                m_stage = Stage::Write;
                break;
            }
            case Stage::Write:
                m_oneByte[0] = m_bytes[m_index];
                m_serial.write(m_oneByte);
                ++m_index;
                m_view.setProgressValue(static_cast<int>(m_index));
                m_stage = Stage::Top;
                // While the line takes bytes as fast as they come, a turn of the event loop
                // for every byte would cost more than the byte; a short slice keeps clicks
                // and ticks answered well within a millisecond.
                if (std::chrono::nanoseconds(m_slice.nsecsElapsed()) < kSlice)
                    break;
                yieldThenRun();
                m_running = false;
                return;
            }
        }
    } catch (const KibroError&) {
        m_running = false;
        finish(Outcome::Failed);
    }
}

void TransferEngine::finish(Outcome outcome)
{
    stopWaiting();
    m_yield.stop();
    if (!isRunning())
        return;
    m_outcome = outcome;
    if (outcome == Outcome::Failed)
        m_view.reportFailure();
    emit outcomeChanged(outcome);
    m_view.unload();
}

} // namespace kibro
