#include "waketimer.h"

#include <QSocketNotifier>

#include <algorithm>

#if defined(Q_OS_LINUX)
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace kibro {

PreciseWakeTimer::PreciseWakeTimer(QObject* parent) : WakeTimer(parent)
{
    m_fallback.setSingleShot(true);
    m_fallback.setTimerType(Qt::PreciseTimer);
    connect(&m_fallback, &QTimer::timeout, this, &PreciseWakeTimer::onExpired);
#if defined(Q_OS_LINUX)
    m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &PreciseWakeTimer::onTimerFd);
    }
#endif
}

PreciseWakeTimer::~PreciseWakeTimer()
{
    m_notifier.reset();
#if defined(Q_OS_LINUX)
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

void PreciseWakeTimer::startAt(Clock::time_point deadline)
{
    using namespace std::chrono;
    m_active = true;
    m_deadline = deadline;
#if defined(Q_OS_LINUX)
    if (m_fd >= 0) {
        // The steady clock is CLOCK_MONOTONIC here; zero would disarm, so at least 1 ns.
        const auto since = std::max(deadline.time_since_epoch(), nanoseconds(1));
        const auto secs = duration_cast<seconds>(since);
        itimerspec expiry{};
        expiry.it_value.tv_sec = static_cast<time_t>(secs.count());
        expiry.it_value.tv_nsec =
            static_cast<long>(duration_cast<nanoseconds>(since - secs).count());
        if (::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &expiry, nullptr) == 0)
            return;
    }
#endif
    const auto left = ceil<milliseconds>(deadline - now());
    m_fallback.start(std::max(left, milliseconds::zero()));
}

void PreciseWakeTimer::stop()
{
    m_active = false;
    m_fallback.stop();
    disarm();
}

void PreciseWakeTimer::disarm()
{
#if defined(Q_OS_LINUX)
    if (m_fd >= 0) {
        const itimerspec off{};
        ::timerfd_settime(m_fd, 0, &off, nullptr);
    }
#endif
}

void PreciseWakeTimer::onTimerFd()
{
    // Setting the timer clears an expiry, so the wake reads nothing: whoever hears it arms the
    // next one, or it is disarmed here. A wake the event loop saw before the timer was set
    // again for later is no wake at all.
    if (m_active && now() < m_deadline)
        return;
    onExpired();
    if (!m_active)
        disarm();
}

void PreciseWakeTimer::onExpired()
{
    if (!m_active)
        return;
    m_active = false;
    emit timeout();
}

} // namespace kibro
