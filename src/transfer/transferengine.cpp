#include "transferengine.h"

#include "errors.h"
#include "transferline.h"
#include "waketimer.h"

namespace kibro {

namespace {

constexpr std::chrono::microseconds kSlice{250};

} // namespace

TransferEngine::TransferEngine(SerialPort& serial, TransferView& view, QObject* parent)
    : QObject(parent), m_ownLine(std::make_unique<SerialLine>(serial)),
      m_ownWake(std::make_unique<PreciseWakeTimer>()), m_line(*m_ownLine), m_wake(*m_ownWake),
      m_view(view)
{
    setUp();
}

TransferEngine::TransferEngine(TransferLine& line, WakeTimer& wake, TransferView& view,
                               QObject* parent)
    : QObject(parent), m_line(line), m_wake(wake), m_view(view)
{
    setUp();
}

TransferEngine::~TransferEngine() = default;

void TransferEngine::setUp()
{
    m_tickTimer.setObjectName(QStringLiteral("Timer1"));
    m_tickTimer.setInterval(kTickInterval);
    m_tickTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_tickTimer, &QTimer::timeout, this, &TransferEngine::onTick);

    connect(&m_wake, &WakeTimer::timeout, this, [this] {
        if (!m_waiting)
            return;
        m_waiting = false;
        m_pacer.woke(m_lookAt, m_wake.now());
        run();
    });
    // Queued: the port reports a loss from inside a write, in the middle of a pass.
    connect(&m_line, &TransferLine::activity, this, &TransferEngine::onLineActivity,
            Qt::QueuedConnection);

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
        m_line.clear();
        m_pacer.setByteTime(m_line.byteTime());
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
    m_justWrote = false;
    m_writtenThisPass = 0;
    m_tickCount = 0;
    m_afterPause = resumeAt;
    m_pausing = true;
    m_tickTimer.start();
}

void TransferEngine::waitForLine(LinePacer::Clock::time_point lookAt)
{
    m_yield.stop();
    m_writtenThisPass = 0;
    m_waiting = true;
    m_lookAt = lookAt;
    m_wake.startAt(lookAt);
}

void TransferEngine::onLineActivity()
{
    if (!m_waiting)
        return;
    // Bytes arrived or the port went: look now rather than at the planned moment.
    stopWaiting();
    run();
}

void TransferEngine::stopWaiting()
{
    m_waiting = false;
    m_justWrote = false;
    m_wake.stop();
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
                if (m_justWrote && !m_pacer.worthLookingAtOnce(m_writtenThisPass)) {
                    // The byte just written is still queued, as every time lately: wait for it
                    // without asking.
                    m_justWrote = false;
                    waitForLine(m_pacer.nextLook(m_wake.now(), 1));
                    m_running = false;
                    return;
                }
                m_stage = Stage::CheckTransmit;
                if (m_line.receivedCount() != 0) {
                    startPause(Stage::CheckTransmit);
                    m_running = false;
                    return;
                }
                break;
            case Stage::CheckTransmit: {
                // One question to the driver a look: a second could find the byte gone and
                // plan a wait for nothing.
                const TransferLine::TransmitQueue queue = m_line.transmitQueue();
                const auto now = m_wake.now();
                // Bytes held in our own buffer say nothing of the hardware.
                if (m_justWrote && queue.held == 0)
                    m_pacer.lookedAtOnce(m_writtenThisPass, queue.count == 0);
                m_justWrote = false;
                if (queue.count != 0) {
                    // After the wait, received bytes are looked at again before the next
                    // look at the line: the same as the check before it.
                    m_stage = Stage::CheckReceived;
                    // Bytes in our own buffer move when the driver has room, which the
                    // port reports; the driver's count says nothing of when.
                    waitForLine(queue.held > 0 ? now + LinePacer::kLongestWait
                                               : m_pacer.nextLook(now, queue.count));
                    m_running = false;
                    return;
                }
                m_pacer.cleared(now);
                m_clearedAt = now;
                m_stage = Stage::Write;
                break;
            }
            case Stage::Write:
                m_line.writeByte(m_bytes[m_index]);
                m_pacer.wrote(m_clearedAt, m_wake.now());
                m_justWrote = true;
                ++m_writtenThisPass;
                ++m_index;
                m_view.setProgressValue(static_cast<int>(m_index));
                emit byteWritten(m_index);
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
