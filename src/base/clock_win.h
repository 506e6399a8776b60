// The system's clocks, and sleeping on them.
#pragma once

#include <chrono>
#include <cstdint>

#include "base/clock.h"

namespace talvex {

// The wall clock now, in Unix seconds (0 when it reads earlier than 1970).
[[nodiscard]] std::uint64_t unix_seconds_now();

// The monotonic performance counter now.
[[nodiscard]] MonotonicTime monotonic_now();

// Sleeps at least `duration` on a high-resolution waitable timer, so a 500 ms sleep is not
// stretched to the next 15.6 ms scheduler tick; returns false, without sleeping, when the
// system has no such timer (before Windows 10 1803).
[[nodiscard]] bool sleep_with_high_resolution_timer(std::chrono::milliseconds duration);

// Sleeps about `duration` with Sleep, whose wake-up is rounded to the scheduler tick (up to
// ~15.6 ms late, and up to a tick early on some systems).
void sleep_with_system_timer(std::chrono::milliseconds duration);

// Sleeps at least `duration`: the high-resolution timer where there is one, else Sleep.
void sleep_for(std::chrono::milliseconds duration);

}  // namespace talvex
