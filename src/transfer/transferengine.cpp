#include "transferengine.h"

#include "errors.h"
#include "transferline.h"
#include "waketimer.h"

namespace kibro {

namespace {

constexpr std::chrono::microseconds kSlice{250};

} // namespace

TransferEngine::TransferEngine(TransferLine& line, WakeTimer& wake, QObject* parent)
    : QObject(parent), m_line(line), m_wake(wake)
{
    m_tickTimer.setObjectName(QStringLiteral("Timer1"));
    m_tickTimer.setInterval(kTickInterval);
    m_tickTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_tickTimer, &QTimer::timeout, this, &TransferEngine::onTick);
    // A stopped wake never fires, so a wake is always the one the pass is waiting for.
    connect(&m_wake, &WakeTimer::timeout, this, &TransferEngine::onWake);
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
    if (m_outcome != Outcome::Ready)
        return;
    m_outcome = Outcome::Running;
    m_bytes = std::move(bytes);
    try {
        m_line.clear();
        m_pacer.setByteTime(m_line.byteTime());
    } catch (const KibroError& error) {
        m_failureReason = QString::fromUtf8(error.what());
        finish(Outcome::Failed);
        return;
    }
    run();
}

void TransferEngine::requestCancel()
{
    m_cancelFlag = -1;
    // The byte waiting for the line has not gone out; drop it rather than make the user
    // wait for a slow line to take it.
    if (isRunning() && (m_wake.isActive() || m_tickTimer.isActive())) {
        stopWaiting();
        m_stage = Stage::Top;
        yieldThenRun();
    }
}

void TransferEngine::abandon()
{
    stopWaiting();
    m_yield.stop();
    if (m_outcome == Outcome::Ready || isRunning())
        m_outcome = Outcome::Abandoned;
}

void TransferEngine::onTick()
{
    ++m_tickCount;
    if (m_tickCount >= kPauseTicks) {
        m_tickTimer.stop();
        m_stage = m_afterPause;
        run();
    }
}

void TransferEngine::onWake()
{
    m_pacer.woke(m_lookAt, m_wake.now());
    run();
}

void TransferEngine::startPause(Stage resumeAt)
{
    m_yield.stop();
    m_justWrote = false;
    m_writtenThisPass = 0;
    m_tickCount = 0;
    m_afterPause = resumeAt;
    m_tickTimer.start();
}

void TransferEngine::waitForLine(LinePacer::Clock::time_point lookAt)
{
    m_yield.stop();
    m_writtenThisPass = 0;
    m_lookAt = lookAt;
    m_wake.startAt(lookAt);
}

void TransferEngine::onLineActivity()
{
    if (!m_wake.isActive())
        return;
    // Bytes arrived or the port went: look now rather than at the planned moment.
    stopWaiting();
    run();
}

void TransferEngine::stopWaiting()
{
    m_justWrote = false;
    m_wake.stop();
    m_tickTimer.stop();
}

void TransferEngine::yieldThenRun()
{
    if (!m_yield.isActive())
        m_yield.start();
}

void TransferEngine::run()
{
    if (!isRunning())
        return;
    m_slice.start();
    try {
        for (;;) {
            switch (m_stage) {
            case Stage::Top:
                // Whoever heard of the last byte may have ended the transfer.
                if (!isRunning())
                    return;
                if (m_index >= m_bytes.size()) {
                    finish(Outcome::Completed);
                    return;
                }
                if (m_cancelFlag != 0) {
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
                    return;
                }
                m_stage = Stage::CheckTransmit;
                if (m_line.receivedCount() != 0) {
                    startPause(Stage::CheckTransmit);
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
                    return;
                }
                m_pacer.cleared(now);
                m_clearedAt = now;
                m_stage = Stage::Write;
                break;
            }
            case Stage::Write:
                // Read through the const side: a write access would copy a buffer the caller still
                // shares.
                m_line.writeByte(m_bytes.at(m_index));
                m_pacer.wrote(m_clearedAt, m_wake.now());
                m_justWrote = true;
                ++m_writtenThisPass;
                ++m_index;
                m_stage = Stage::Top;
                emit byteWritten(m_index);
                // While the line takes bytes as fast as they come, a turn of the event loop
                // for every byte would cost more than the byte; a short slice keeps clicks
                // and ticks answered well within a millisecond.
                if (std::chrono::nanoseconds(m_slice.nsecsElapsed()) < kSlice)
                    break;
                yieldThenRun();
                return;
            }
        }
    } catch (const KibroError& error) {
        m_failureReason = QString::fromUtf8(error.what());
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
    emit finished(outcome);
}

} // namespace kibro
