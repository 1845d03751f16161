#include "transfer_platform.h"

// No wake of the system's own: the millisecond timer wakes every time.
namespace kibro::platform {

int openWakeHandle()
{
    return -1;
}

bool armWakeHandle(int, std::chrono::steady_clock::time_point)
{
    return false;
}

void disarmWakeHandle(int) {}

void closeWakeHandle(int) {}

} // namespace kibro::platform
