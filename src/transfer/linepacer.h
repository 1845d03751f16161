#pragma once

#include <chrono>
#include <optional>

namespace kibro {

// Decides when to look at the transmit queue again, so the next byte goes out while the line
// still has work: a 16550 keeps one or two bytes beyond what its count shows, a USB adapter
// empties its count a fixed latency after each write. The first look after a write is aimed
// where the queue should have emptied; the aim is learnt from what each such look finds.
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

    void wrote(Clock::time_point at);
    // A look found count bytes still queued (count > 0): when to look next.
    [[nodiscard]] Clock::time_point nextLook(Clock::time_point now, int count);
    // A look found the queue empty.
    void cleared(Clock::time_point now);
    // A wake planned for deadline came at now: how late wakes come is taken off the aim.
    void woke(Clock::time_point deadline, Clock::time_point now);

    // The time from a write to the queue's emptying, as learnt so far.
    [[nodiscard]] Duration aim() const noexcept { return m_aim; }
    // The step between looks once the aimed one came too early.
    [[nodiscard]] Duration retryStep() const;

private:
    Duration m_byteTime;
    Duration m_aim;
    Duration m_wakeLate{};
    std::optional<Clock::time_point> m_writtenAt;
    int m_lateStreak = 0;
    bool m_aimed = false;
    bool m_early = false;
};

} // namespace kibro
