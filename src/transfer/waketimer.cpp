#include "waketimer.h"

#include "transfer_platform.h"

#include <QSocketNotifier>

#include <algorithm>

namespace kibro {

PreciseWakeTimer::PreciseWakeTimer(QObject* parent) : WakeTimer(parent)
{
    m_fallback.setSingleShot(true);
    m_fallback.setTimerType(Qt::PreciseTimer);
    connect(&m_fallback, &QTimer::timeout, this, &PreciseWakeTimer::onExpired);
    m_fd = platform::openWakeHandle();
    if (m_fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &PreciseWakeTimer::onTimerFd);
    }
}

PreciseWakeTimer::~PreciseWakeTimer()
{
    m_notifier.reset();
    if (m_fd >= 0)
        platform::closeWakeHandle(m_fd);
}

void PreciseWakeTimer::startAt(Clock::time_point deadline)
{
    using namespace std::chrono;
    m_active = true;
    m_deadline = deadline;
    if (m_fd >= 0 && platform::armWakeHandle(m_fd, deadline))
        return;
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
    if (m_fd >= 0)
        platform::disarmWakeHandle(m_fd);
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
