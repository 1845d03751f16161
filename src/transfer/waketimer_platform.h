#pragma once

// The system's own wake at a moment on the steady clock, one file a platform.

#include <chrono>

namespace kibro::platform {

// A handle that turns readable at the moment armed, or -1 where the system has none and the
// wake falls back to a millisecond timer.
[[nodiscard]] int openWakeHandle();
// Replaces the moment armed; false when it cannot be set, which leaves the fallback to wake.
[[nodiscard]] bool armWakeHandle(int handle, std::chrono::steady_clock::time_point deadline);
void disarmWakeHandle(int handle);
void closeWakeHandle(int handle);

} // namespace kibro::platform
