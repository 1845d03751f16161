#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

class QSocketNotifier;

namespace kibro {

// A single-shot wake at a moment on the steady clock, for waits shorter than a millisecond.
class WakeTimer : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    using QObject::QObject;

    [[nodiscard]] virtual Clock::time_point now() const { return Clock::now(); }
    // Replaces any wake already armed; a moment already past wakes at the next turn.
    virtual void startAt(Clock::time_point deadline) = 0;
    virtual void stop() = 0;
    [[nodiscard]] virtual bool isActive() const = 0;

signals:
    void timeout();
};

// Linux: a timerfd on CLOCK_MONOTONIC (the steady clock) at an absolute moment, watched by the
// event loop, so the wake lands within tens of microseconds. Elsewhere a precise QTimer,
// which rounds up to whole milliseconds.
class PreciseWakeTimer final : public WakeTimer
{
    Q_OBJECT

public:
    explicit PreciseWakeTimer(QObject* parent = nullptr);
    ~PreciseWakeTimer() override;

    void startAt(Clock::time_point deadline) override;
    void stop() override;
    [[nodiscard]] bool isActive() const override { return m_active; }

private:
    void onTimerFd();
    void onExpired();
    void disarm();

    int m_fd = -1;
    Clock::time_point m_deadline{};
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_fallback;
    bool m_active = false;
};

} // namespace kibro
