#include "linepacer.h"

#include <algorithm>

namespace kibro {

namespace {

using namespace std::chrono_literals;

// Below this, a wake costs more than the precision it buys.
constexpr LinePacer::Duration kShortestStep = 20us;
constexpr LinePacer::Duration kLongestStep = 1ms;

} // namespace

LinePacer::LinePacer(Duration byteTime)
    : m_byteTime(std::max(byteTime, Duration(1))), m_aim(m_byteTime)
{
}

void LinePacer::setByteTime(Duration byteTime)
{
    m_byteTime = std::max(byteTime, Duration(1));
    m_aim = m_byteTime;
    m_lateStreak = 0;
    m_writtenAt.reset();
}

LinePacer::Duration LinePacer::retryStep() const
{
    return std::clamp(m_byteTime / 8, kShortestStep, kLongestStep);
}

void LinePacer::wrote(Clock::time_point at)
{
    m_writtenAt = at;
    m_aimed = false;
    m_early = false;
}

LinePacer::Clock::time_point LinePacer::nextLook(Clock::time_point now, int count)
{
    const Duration more = m_byteTime * std::max(count - 1, 0);
    Clock::time_point next;
    if (!m_writtenAt) {
        // Nothing of ours in the queue: what is there leaves at the line rate.
        next = now + m_byteTime + more;
    } else if (!m_aimed) {
        // What the aim learnt covers whatever count a write leaves behind.
        m_aimed = true;
        next = *m_writtenAt + m_aim - m_wakeLate;
    } else {
        // The aimed look found bytes: it came early, or the line is slower than learnt.
        m_early = true;
        next = now + retryStep() + more;
    }
    return std::clamp(next, now, now + kLongestWait);
}

void LinePacer::woke(Clock::time_point deadline, Clock::time_point now)
{
    const Duration late = std::clamp<Duration>(now - deadline, Duration::zero(), kLongestStep);
    m_wakeLate += (late - m_wakeLate) / 8;
}

void LinePacer::cleared(Clock::time_point now)
{
    if (!m_writtenAt || !m_aimed) {
        // Emptied before any aimed look: nothing learnt (a 16550 whose FIFO took the byte).
        m_writtenAt.reset();
        return;
    }
    const Duration step = retryStep();
    if (m_early) {
        // The queue emptied within the last step: aim there, no earlier than half a step on.
        m_aim = std::max(m_aim + step / 2, (now - *m_writtenAt) - step);
        m_lateStreak = 0;
    } else {
        // Found empty at the first try: perhaps late. Creep back to find the edge again,
        // faster the longer it stays out of reach.
        m_aim -= (step / 16) * (1 << std::min(m_lateStreak, 8));
        ++m_lateStreak;
    }
    m_aim = std::clamp(m_aim, Duration::zero(), kLongestWait);
    m_writtenAt.reset();
}

} // namespace kibro
