#include "linepacer.h"

#include <algorithm>
#include <ratio>
#include <utility>

namespace kibro {

namespace {

using namespace std::chrono_literals;
using Duration = LinePacer::Duration;

// Below this, a wake costs more than the precision it buys.
constexpr Duration kShortestStep = 20us;
// The longest step between looks, and the most one wake counts as late: a line idle this long
// loses an eighth of a byte at 1200 bit/s, and a wake later than this is the machine, not the
// usual.
constexpr Duration kLongestStep = 1ms;
// After an early look, the next comes this part of a byte later: the line idles at most that
// long, and a few looks find where the queue empties.
using RetryStepPerByte = std::ratio<1, 8>;
// An aimed look found early moves the aim on by at least this part of a step: no second
// look at the same too early moment.
using EarlyNudge = std::ratio<1, 2>;
// An aimed look found the queue empty at once: perhaps late. The aim creeps back this part of
// a step, doubling with each such look in a row up to kLateDoublings times, to find the edge
// again, faster the longer it stays out of reach.
using FirstCreep = std::ratio<1, 16>;
constexpr int kLateDoublings = 8;
// The slowest adapter's round trip from a write to its count's emptying.
constexpr Duration kLongestRoundTrip = 2ms;
// However the count behaves, a queue of one byte empties within this many byte times or an
// adapter's round trip.
constexpr int kLongestAimBytes = 3;
// How far one wake moves the estimate of how late wakes come.
constexpr Duration kLateStep = 2us;
// The tail estimate settles where one wake in kTailSteps + 1 comes later: it rises this many
// steps for each wake later than it, and falls one for each other.
constexpr int kTailSteps = 32;
// Where the hardware takes bytes at once, the lead covers the spread of wake lateness, yet at
// least this part of a byte: the look and the write take their moment too...
using LeastAtOnceLead = std::ratio<1, 4>;
// ...and at most this part: a look a whole byte before the line is free finds the FIFO full.
using MostAtOnceLead = std::ratio<7, 8>;
// What an adapter that holds many bytes keeps queued: enough to ride out a stall of the
// program, little enough that a cancel stops the line soon.
constexpr Duration kCushion = 50ms;
// A line so slow that a byte outlasts the cushion is still looked at this part of a byte ahead.
using LeastCushionLead = std::ratio<1, 2>;
// A count empty this soon after the look that let the byte go means the hardware took it
// within the write; no adapter's round trip is this short.
constexpr Duration kAtOnce = 100us;
// Looks right after a write that found bytes, in a row, before such looks stop; and how many
// writes go by before one is tried again, should the hardware have changed its ways.
constexpr int kHeldBeforeSkipping = 8;
constexpr int kSkippedBeforeTrying = 64;

// d times R, rounded towards zero as nanoseconds are.
template <class R> constexpr Duration part(Duration d)
{
    return d * R::num / R::den;
}

} // namespace

LinePacer::LinePacer(Duration byteTime)
    : m_byteTime(std::max(byteTime, Duration(1))), m_aim(m_byteTime)
{
}

void LinePacer::setByteTime(Duration byteTime)
{
    m_byteTime = std::max(byteTime, Duration(1));
    m_kind = DriverKind::Unknown;
    m_aim = m_byteTime;
    m_lateStreak = 0;
    m_pending.reset();
    m_unseen = 0;
    m_lineFree = {};
    m_atOnce = {};
}

void LinePacer::reviseKind(std::optional<Clock::time_point> emptiedAt, int count)
{
    // More counted than was written since the queue was last seen empty: the driver counts
    // its buffers, whatever else it seemed to do, and does so until the line changes.
    if (m_unseen > 0 && count > m_unseen)
        m_kind = DriverKind::CountsBuffers;
    if (m_kind == DriverKind::CountsBuffers)
        return;
    // Only a look within moments of the write tells of a FIFO: one the program came to late
    // (it was not scheduled) would find an adapter's round trip over too, and taking the
    // adapter for a FIFO drops its cushion and starves the line. A FIFO once seen stays one.
    if (emptiedAt) {
        if (m_pending && m_pending->probe == Probe::None &&
            *emptiedAt - m_pending->foundEmpty < kAtOnce)
            m_kind = DriverKind::TakesAtOnce;
        return;
    }
    // The first byte after a wait still counted, look after look: a round trip.
    if (m_kind == DriverKind::Unknown && m_atOnce[0].heldInARow >= kHeldBeforeSkipping)
        m_kind = DriverKind::RoundTrip;
}

LinePacer::AtOnceLooks& LinePacer::atOnceLooks(int inPass)
{
    return m_atOnce[inPass > 1 ? 1 : 0];
}

bool LinePacer::worthLookingAtOnce(int inPass)
{
    AtOnceLooks& looks = atOnceLooks(inPass);
    if (looks.heldInARow < kHeldBeforeSkipping)
        return true;
    if (++looks.skipped < kSkippedBeforeTrying)
        return false;
    looks.skipped = 0;
    return true;
}

void LinePacer::lookedAtOnce(int inPass, bool empty)
{
    AtOnceLooks& looks = atOnceLooks(inPass);
    looks.heldInARow = empty ? 0 : std::min(looks.heldInARow + 1, kHeldBeforeSkipping);
    reviseKind(std::nullopt);
    // Hardware that takes a byte at once when it has room was still full at a look the
    // line's rate set: the line runs behind its rate, so the estimate of when it is free
    // moves on. (An adapter holds every byte a while; that says nothing.)
    if (!empty && m_clearedByRate && m_kind == DriverKind::TakesAtOnce)
        m_lineFree += retryStep();
    m_clearedByRate = false;
}

LinePacer::Duration LinePacer::retryStep() const
{
    return std::clamp(part<RetryStepPerByte>(m_byteTime), kShortestStep, kLongestStep);
}

LinePacer::Duration LinePacer::lead() const
{
    if (m_kind == DriverKind::TakesAtOnce) {
        const Duration spread = m_wakeLate.tail - m_wakeLate.usual + kShortestStep;
        return std::clamp(spread, part<LeastAtOnceLead>(m_byteTime),
                          part<MostAtOnceLead>(m_byteTime));
    }
    return std::max(part<LeastCushionLead>(m_byteTime), kCushion);
}

void LinePacer::wrote(Clock::time_point foundEmpty, Clock::time_point returned)
{
    m_pending = PendingWrite{foundEmpty, std::max(foundEmpty, returned)};
    ++m_unseen;
    // A line a little fast of its rate is then fed at its rate: it idles by the difference, and
    // the looks never fall behind.
    m_lineFree = std::max(m_lineFree, foundEmpty) + m_byteTime;
}

LinePacer::Clock::time_point LinePacer::nextLook(Clock::time_point now, int count)
{
    reviseKind(std::nullopt, count);
    // Bytes counted beyond the first leave at the line rate; buffers say nothing of when.
    const Duration more = m_kind == DriverKind::CountsBuffers ? Duration::zero()
                                                              : m_byteTime * std::max(count - 1, 0);
    Clock::time_point next;
    if (!m_pending) {
        // Nothing of ours in the queue: what is there leaves at the line rate.
        next = now + m_byteTime + more;
    } else if (m_pending->probe == Probe::None) {
        // What the aim learnt covers whatever count a write leaves behind.
        m_pending->probe = Probe::Aimed;
        next = m_pending->returned + m_aim - m_wakeLate.usual;
    } else {
        // The aimed look found bytes: it came early, or the line is slower than learnt.
        m_pending->probe = Probe::Stepping;
        next = now + retryStep() + more;
        // A buffer's round trip ends at one moment, with nothing on the line to show it:
        // every late wake is lost, so the retries aim as the first look does.
        if (m_kind == DriverKind::CountsBuffers)
            next -= m_wakeLate.usual;
    }
    const Clock::time_point byRate = m_lineFree - lead() - m_wakeLate.usual;
    m_lookByRate = byRate > next;
    if (m_lookByRate)
        next = byRate;
    return std::clamp(next, now, now + kLongestWait);
}

void LinePacer::woke(Clock::time_point deadline, Clock::time_point now)
{
    const Duration late = std::clamp<Duration>(now - deadline, Duration::zero(), kLongestStep);
    // The usual lateness, not the mean: a wake that came a millisecond late now and then must
    // not make the others early.
    Duration& usual = m_wakeLate.usual;
    usual += late > usual ? kLateStep : -std::min(kLateStep, usual);
    // And how late the latest few in a hundred come: up a long step, down a short one.
    Duration& tail = m_wakeLate.tail;
    tail += late > tail ? kTailSteps * kLateStep : -std::min(kLateStep, tail);
}

void LinePacer::cleared(Clock::time_point now)
{
    m_clearedByRate = std::exchange(m_lookByRate, false);
    reviseKind(now);
    m_unseen = 0;
    const std::optional<PendingWrite> pending = std::exchange(m_pending, std::nullopt);
    // Emptied before any aimed look (a FIFO took the byte), or at a look the line's rate put
    // off: nothing learnt of the aim.
    if (pending && pending->probe != Probe::None && !m_clearedByRate)
        learnAim(now, pending->returned, pending->probe);
}

void LinePacer::learnAim(Clock::time_point now, Clock::time_point returned, Probe probe)
{
    const Duration step = retryStep();
    if (probe == Probe::Stepping) {
        // The queue emptied within the last step: aim there.
        m_aim = std::max(m_aim + part<EarlyNudge>(step), (now - returned) - step);
        m_lateStreak = 0;
    } else {
        m_aim -= part<FirstCreep>(step) * (1 << m_lateStreak);
        // A buffer's round trip is the device's own, steady from one URB to the next: the aim
        // creeps back at one pace, so that early looks, each a wake for nothing, stay few.
        if (m_kind != DriverKind::CountsBuffers)
            m_lateStreak = std::min(m_lateStreak + 1, kLateDoublings);
    }
    m_aim = std::clamp(m_aim, Duration::zero(),
                       std::max(kLongestAimBytes * m_byteTime, kLongestRoundTrip));
}

} // namespace kibro
