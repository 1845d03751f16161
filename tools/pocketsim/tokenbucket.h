#pragma once

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <limits>

// Limits reads to a byte rate. Credit is kept in byte-nanoseconds so that rounding
// never accumulates into drift, however long the transfer.
class TokenBucket
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr qint64 unlimited = std::numeric_limits<qint64>::max();

    explicit TokenBucket(qint64 bytesPerSecond)
        // Room for two bytes at least, so a wake-up that comes late carries its credit over
        // instead of losing it: at low rates that loss alone made the line 2% slow.
        : m_rate(bytesPerSecond), m_burst(std::max<qint64>(2, bytesPerSecond / 100)),
          m_wakeTokens(std::clamp<qint64>(bytesPerSecond / 1000, 1, m_burst))
    {
    }

    [[nodiscard]] bool isLimited() const { return m_rate > 0; }
    [[nodiscard]] bool isStarted() const { return m_started; }

    // One token at start: the first byte of a serial line needs no waiting for.
    void start(Clock::time_point now)
    {
        m_started = true;
        m_last = now;
        m_credit = nanosPerSecond;
    }

    [[nodiscard]] qint64 available(Clock::time_point now)
    {
        if (!isLimited())
            return unlimited;
        // Clamping the elapsed time keeps the multiplication far from overflow; a full
        // bucket never needs more than one second to refill.
        const qint64 elapsed = std::clamp<qint64>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_last).count(), 0,
            2 * nanosPerSecond);
        m_last = now;
        m_credit = std::min(m_credit + elapsed * m_rate, m_burst * nanosPerSecond);
        return m_credit / nanosPerSecond;
    }

    void consume(qint64 bytes)
    {
        if (isLimited())
            m_credit -= bytes * nanosPerSecond;
    }

    // Waits for at least a millisecond's worth of tokens: waking for every single token
    // would cost a lot of CPU at high rates. Rounded up so the wake-up never comes early.
    [[nodiscard]] std::chrono::nanoseconds untilNextTokens() const
    {
        const qint64 missing = std::max<qint64>(0, m_wakeTokens * nanosPerSecond - m_credit);
        return std::chrono::nanoseconds((missing + m_rate - 1) / m_rate);
    }

private:
    static constexpr qint64 nanosPerSecond = 1'000'000'000;

    qint64 m_rate = 0;
    qint64 m_burst = 1;
    qint64 m_wakeTokens = 1;
    bool m_started = false;
    Clock::time_point m_last{};
    qint64 m_credit = 0;
};
