#include "linepacer.h"

#include <algorithm>

namespace kibro {

namespace {

using namespace std::chrono_literals;

// Below this, a wake costs more than the precision it buys.
constexpr LinePacer::Duration kShortestStep = 20us;
constexpr LinePacer::Duration kLongestStep = 1ms;
// How far one wake moves the estimate of how late wakes come.
constexpr LinePacer::Duration kLateStep = 2us;
// Settles where one wake in kTailSteps + 1 comes later.
constexpr int kTailSteps = 32;
// The slowest adapter's round trip from a write to its count's emptying.
constexpr LinePacer::Duration kLongestRoundTrip = 2ms;
// What an adapter that holds many bytes keeps queued: enough to ride out a stall of the
// program, little enough that a cancel stops the line soon.
constexpr LinePacer::Duration kCushion = 50ms;
// A count empty this soon after a write means the hardware took the byte within the write; no
// adapter's round trip is this short.
constexpr LinePacer::Duration kAtOnce = 100us;
// Looks right after a write that found bytes, in a row, before such looks stop; and how many
// writes go by before one is tried again, should the hardware have changed its ways.
constexpr int kHeldBeforeSkipping = 8;
constexpr int kSkippedBeforeTrying = 64;

// The first write since a wait, or a later one.
std::size_t atOnceSlot(int inPass)
{
    return inPass > 1 ? 1 : 0;
}

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
    m_lineFree = {};
    m_passesAtOnce = false;
    m_heldAtOnce = {};
    m_writesSkipped = {};
}

bool LinePacer::worthLookingAtOnce(int inPass)
{
    const std::size_t which = atOnceSlot(inPass);
    if (m_heldAtOnce[which] < kHeldBeforeSkipping)
        return true;
    if (++m_writesSkipped[which] < kSkippedBeforeTrying)
        return false;
    m_writesSkipped[which] = 0;
    return true;
}

void LinePacer::lookedAtOnce(int inPass, bool empty)
{
    int& held = m_heldAtOnce[atOnceSlot(inPass)];
    held = empty ? 0 : std::min(held + 1, kHeldBeforeSkipping);
    // Hardware that takes a byte at once when it has room was still full at a look the
    // line's rate set: the line runs behind its rate, so the estimate of when it is free
    // moves on. (An adapter holds every byte a while; that says nothing.)
    if (!empty && m_clearedByRate && m_passesAtOnce)
        m_lineFree += retryStep();
    m_clearedByRate = false;
}

LinePacer::Duration LinePacer::retryStep() const
{
    return std::clamp(m_byteTime / 8, kShortestStep, kLongestStep);
}

LinePacer::Duration LinePacer::lead() const
{
    if (m_passesAtOnce) {
        // Enough for all but the latest few wakes, yet no look earlier than a byte before the
        // line is free, which would find the FIFO still full.
        const Duration spread = m_wakeLateTail - m_wakeLate + kShortestStep;
        return std::clamp(spread, m_byteTime / 4, m_byteTime * 7 / 8);
    }
    return std::max(m_byteTime / 2, kCushion);
}

void LinePacer::wrote(Clock::time_point began, Clock::time_point ended)
{
    m_writeBegan = began;
    m_writtenAt = std::max(began, ended);
    m_aimed = false;
    m_early = false;
    // A line a little fast of its rate is then fed at its rate: it idles by the difference, and
    // the looks never fall behind.
    m_lineFree = std::max(m_lineFree, began) + m_byteTime;
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
    const Clock::time_point byRate = m_lineFree - lead() - m_wakeLate;
    m_rateBound = byRate > next;
    if (m_rateBound)
        next = byRate;
    return std::clamp(next, now, now + kLongestWait);
}

void LinePacer::woke(Clock::time_point deadline, Clock::time_point now)
{
    const Duration late = std::clamp<Duration>(now - deadline, Duration::zero(), kLongestStep);
    // The usual lateness, not the mean: a wake that came a millisecond late now and then must
    // not make the others early.
    m_wakeLate += late > m_wakeLate ? kLateStep : -std::min(kLateStep, m_wakeLate);
    // And how late the latest few in a hundred come: up a long step, down a short one.
    m_wakeLateTail +=
        late > m_wakeLateTail ? kTailSteps * kLateStep : -std::min(kLateStep, m_wakeLateTail);
}

void LinePacer::cleared(Clock::time_point now)
{
    m_clearedByRate = m_rateBound;
    m_rateBound = false;
    if (!m_writtenAt || !m_aimed || m_clearedByRate) {
        // Emptied before any aimed look (a 16550 whose FIFO took the byte), or at a look the
        // line's rate put off: nothing learnt of the aim.
        // Only a look within moments of the write tells: one the program came to late (it was
        // not scheduled) would find an adapter's round trip over too.
        if (m_writtenAt && !m_aimed && now - m_writeBegan < kAtOnce)
            m_passesAtOnce = true;
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
    // However the count behaves, a queue of one byte empties within a few byte times or an
    // adapter's round trip.
    m_aim = std::clamp(m_aim, Duration::zero(), std::max(3 * m_byteTime, kLongestRoundTrip));
    m_writtenAt.reset();
}

} // namespace kibro
