#include "serial_platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <pthread.h>
#include <termios.h>
#include <unistd.h>

namespace kibro::platform {

namespace {

// Wakes tcdrain when the bound has passed. Ignored by default, so one that comes after the
// wait, once its old action is back, is dropped.
constexpr int kWakeSignal = SIGURG;
// Again and again after the bound, should one come just before tcdrain sleeps.
constexpr std::chrono::milliseconds kRewake{1};

extern "C" void onWake(int) {}

timespec toTimespec(std::chrono::nanoseconds span)
{
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(span);
    return {static_cast<time_t>(whole.count()), static_cast<long>((span - whole).count())};
}

} // namespace

bool drainOutput(qintptr handle, std::chrono::nanoseconds bound)
{
    struct sigaction wake = {};
    wake.sa_handler = onWake;
    sigemptyset(&wake.sa_mask);
    // No SA_RESTART: the wake must bring tcdrain back.
    wake.sa_flags = 0;
    struct sigaction previous = {};
    if (::sigaction(kWakeSignal, &wake, &previous) != 0)
        return false;
    // To this thread only: another would take the wake and leave tcdrain asleep.
    sigevent event = {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = kWakeSignal;
    event._sigev_un._tid = ::gettid();
    timer_t timer = {};
    bool drained = false;
    if (::timer_create(CLOCK_MONOTONIC, &event, &timer) == 0) {
        const itimerspec when{toTimespec(kRewake),
                              toTimespec(std::max(bound, std::chrono::nanoseconds(1)))};
        sigset_t wakeOnly;
        sigemptyset(&wakeOnly);
        sigaddset(&wakeOnly, kWakeSignal);
        sigset_t mask;
        ::pthread_sigmask(SIG_UNBLOCK, &wakeOnly, &mask);
        timespec start{};
        ::clock_gettime(CLOCK_MONOTONIC, &start);
        if (::timer_settime(timer, 0, &when, nullptr) == 0) {
            for (;;) {
                if (::tcdrain(static_cast<int>(handle)) == 0) {
                    drained = true;
                    break;
                }
                if (errno != EINTR)
                    break;
                // Another signal, before the bound: go on waiting.
                timespec now{};
                ::clock_gettime(CLOCK_MONOTONIC, &now);
                const auto waited = std::chrono::seconds(now.tv_sec - start.tv_sec) +
                                    std::chrono::nanoseconds(now.tv_nsec - start.tv_nsec);
                if (waited >= bound)
                    break;
            }
        }
        ::timer_delete(timer);
        ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    }
    ::sigaction(kWakeSignal, &previous, nullptr);
    return drained;
}

} // namespace kibro::platform
