#pragma once

#include <array>
#include <chrono>
#include <optional>

namespace kibro {

// Decides when to look at the transmit queue again, so the next byte goes out while the line
// still has work. Two rules set each look, the later one wins:
// - the aim: the first look after a write comes where the queue emptied after earlier writes,
//   learnt from what each such look finds; should it find the byte queued, looks step on;
// - the line's rate: no look before the line could have sent all but the lead of what was
//   written, since a line cannot go faster than its rate and has work until then.
// The lead follows from the kind of driver the pacer believes it faces (driverKind()).
class LinePacer
{
public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::nanoseconds;

    // What the driver's queue count says of the line, as far as the pacer can tell.
    enum class DriverKind {
        // Nothing told yet: fed as a round trip, which a FIFO survives and an adapter needs.
        Unknown,
        // The hardware takes a byte within the write when it has room (a 16550's FIFO): when
        // the count empties the line has a byte or two of work, so the lead is under a byte
        // and one wake sends two bytes.
        TakesAtOnce,
        // Each byte stays counted a round trip after its write and the hardware holds many (a
        // USB adapter): the lead is a cushion of milliseconds, and looks at the line's rate
        // find the queue empty instead of hunting for the moment it empties.
        RoundTrip,
        // The count is write buffers in flight times their size, not bytes (a USB modem-class
        // adapter: one byte counts 1280): it says only whether the host still holds something.
        // Fed as a round trip, but a count never stands for byte times.
        CountsBuffers,
    };

    // However many bytes are reported, the queue is looked at again at least this often.
    static constexpr Duration kLongestWait = std::chrono::milliseconds(20);

    explicit LinePacer(Duration byteTime = std::chrono::milliseconds(1));

    // A new line: everything learnt of the old one is forgotten but how late wakes come.
    void setByteTime(Duration byteTime);
    [[nodiscard]] Duration byteTime() const noexcept { return m_byteTime; }
    [[nodiscard]] DriverKind driverKind() const noexcept { return m_kind; }

    // A byte was written after a look found the queue empty at foundEmpty; the write returned
    // at returned.
    void wrote(Clock::time_point foundEmpty, Clock::time_point returned);
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

    // The step between looks once the aimed one came too early.
    [[nodiscard]] Duration retryStep() const;
    // How much of the line's work is left when a look is set by the line's rate.
    [[nodiscard]] Duration lead() const;

private:
    // How far the looks after a write have gone in finding when its byte left the count.
    enum class Probe {
        None,     // no look planned since the write
        Aimed,    // the aimed look is planned
        Stepping, // the aimed look found the byte queued: looks step on from there
    };

    // The write whose byte the next looks wait for.
    struct PendingWrite
    {
        // The look before it found the queue empty here: the byte cannot have left earlier.
        Clock::time_point foundEmpty;
        // The driver had the byte by then, so its round trip is timed from here. A write the
        // program was held up in would otherwise look like a slow driver.
        Clock::time_point returned;
        Probe probe = Probe::None;
    };

    // The looks right after the writes of one place in a pass: the first since a wait, or a
    // later one.
    struct AtOnceLooks
    {
        int heldInARow = 0; // such looks in a row that found the byte queued
        int skipped = 0;    // writes gone by without one since the last try
    };

    // How late wakes come after their deadline.
    struct WakeLateness
    {
        Duration usual{}; // most wakes are no later
        Duration tail{};  // all but the latest few in a hundred are no later
    };

    // The one place the driver's kind is decided: after each look that tells something, with
    // when it found the queue empty, or what it counted.
    void reviseKind(std::optional<Clock::time_point> emptiedAt, int count = 0);
    // Moves the aim by what a look found at now of the pending write's byte.
    void learnAim(Clock::time_point now, Clock::time_point returned, Probe probe);
    [[nodiscard]] AtOnceLooks& atOnceLooks(int inPass);

    Duration m_byteTime;
    DriverKind m_kind = DriverKind::Unknown;
    // The time from a write to the queue's emptying, as learnt so far.
    Duration m_aim;
    // Aimed looks in a row that found the queue empty at the first try (at most
    // kLateDoublings).
    int m_lateStreak = 0;
    WakeLateness m_wakeLate;
    std::optional<PendingWrite> m_pending;
    // Bytes written since a look last found the queue empty: a count of bytes holds no more.
    int m_unseen = 0;
    // The earliest the line can have sent everything written so far.
    Clock::time_point m_lineFree{};
    std::array<AtOnceLooks, 2> m_atOnce{};
    // The look planned last was set by the line's rate rather than the aim: what it finds
    // says nothing of the aim.
    bool m_lookByRate = false;
    // The last look that found the queue empty was one the line's rate set, and no look right
    // after a write has come since.
    bool m_clearedByRate = false;
};

} // namespace kibro
