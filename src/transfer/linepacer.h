#pragma once

#include <array>
#include <chrono>
#include <optional>

namespace kibro {

// Decides when to look at the transmit queue again, so the next byte goes out while the line
// still has work: a 16550 keeps one or two bytes beyond what its count shows, a USB adapter
// empties its count a fixed latency after each write. The first look after a write is aimed
// where the queue should have emptied; the aim is learnt from what each such look finds.
// No look comes before the line could have sent all but the last part of what was written: a
// line cannot go faster than its rate, so until then the line has work. Where the driver
// hands a byte to the hardware at once when it has room (a 16550's FIFO), that part is under
// a byte, and one wake sends two bytes. Elsewhere (a USB adapter holds each byte a round trip,
// and its chip many bytes) it is a cushion of some milliseconds: looks then come at the line's
// rate and find the queue empty, instead of hunting for the moment it empties.
class LinePacer
{
public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::nanoseconds;

    // However many bytes are reported, the queue is looked at again at least this often.
    static constexpr Duration kLongestWait = std::chrono::milliseconds(20);

    explicit LinePacer(Duration byteTime = std::chrono::milliseconds(1));

    void setByteTime(Duration byteTime);
    [[nodiscard]] Duration byteTime() const noexcept { return m_byteTime; }

    // A byte was handed to the driver in a write that began and ended at these moments.
    void wrote(Clock::time_point began, Clock::time_point ended);
    // A look found count bytes still queued (count > 0): when to look next.
    [[nodiscard]] Clock::time_point nextLook(Clock::time_point now, int count);
    // A look found the queue empty.
    void cleared(Clock::time_point now);
    // A wake planned for deadline came at now: how late wakes come is taken off the aim.
    void woke(Clock::time_point deadline, Clock::time_point now);

    // Whether to look again right after a write, the inPass-th since the last wait: worth it
    // where the hardware often takes that byte at once, a question wasted where it never
    // does (a USB adapter; a 16550 once its FIFO holds a byte).
    [[nodiscard]] bool worthLookingAtOnce(int inPass);
    // A look right after the inPass-th write found the queue empty (or not).
    void lookedAtOnce(int inPass, bool empty);

    // The time from a write to the queue's emptying, as learnt so far.
    [[nodiscard]] Duration aim() const noexcept { return m_aim; }
    // The step between looks once the aimed one came too early.
    [[nodiscard]] Duration retryStep() const;
    // How much of the line's work is left when a look is aimed by the line's rate.
    [[nodiscard]] Duration lead() const;

private:
    Duration m_byteTime;
    Duration m_aim;
    Duration m_wakeLate{};
    Duration m_wakeLateTail{};
    // The last write's end: the driver had the byte by then, so its round trip is timed from
    // here. A write the program was held up in would otherwise look like a slow driver.
    std::optional<Clock::time_point> m_writtenAt;
    // And its beginning: the byte cannot have been taken earlier.
    Clock::time_point m_writeBegan{};
    // The earliest the line can have sent everything written so far.
    Clock::time_point m_lineFree{};
    int m_lateStreak = 0;
    // Looks right after a write that found it queued, in a row: after the first write since
    // a wait, and after later ones.
    std::array<int, 2> m_heldAtOnce{};
    std::array<int, 2> m_writesSkipped{};
    bool m_aimed = false;
    bool m_early = false;
    // The look planned last was set by the line's rate rather than the aim: what it finds
    // says nothing of the aim.
    bool m_rateBound = false;
    // The last look that found the queue empty was one the line's rate set.
    bool m_clearedByRate = false;
    // A byte has left the driver's count the moment it was written.
    bool m_passesAtOnce = false;
};

} // namespace kibro
