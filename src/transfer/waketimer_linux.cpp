#include "transfer_platform.h"

#include <algorithm>

#include <sys/timerfd.h>
#include <unistd.h>

namespace kibro::platform {

int openWakeHandle()
{
    return ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
}

bool armWakeHandle(int handle, std::chrono::steady_clock::time_point deadline)
{
    using namespace std::chrono;
    // The steady clock is CLOCK_MONOTONIC here; zero would disarm, so at least 1 ns.
    const auto since = std::max(deadline.time_since_epoch(), nanoseconds(1));
    const auto secs = duration_cast<seconds>(since);
    itimerspec expiry{};
    expiry.it_value.tv_sec = static_cast<time_t>(secs.count());
    expiry.it_value.tv_nsec = static_cast<long>(duration_cast<nanoseconds>(since - secs).count());
    return ::timerfd_settime(handle, TFD_TIMER_ABSTIME, &expiry, nullptr) == 0;
}

void disarmWakeHandle(int handle)
{
    const itimerspec off{};
    ::timerfd_settime(handle, 0, &off, nullptr);
}

void closeWakeHandle(int handle)
{
    ::close(handle);
}

} // namespace kibro::platform
