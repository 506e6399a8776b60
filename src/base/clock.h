// Time values the program computes with.
//
// Two clocks, for two jobs: log lines carry wall-clock time (what a person reading the log
// wants), while every timeout is measured on the monotonic performance counter, which a clock
// change or a time-zone switch in the middle of an update cannot move.
#pragma once

#include <chrono>
#include <cstdint>

namespace talvex {

// Seconds from 1970-01-01T00:00:00 UTC for a Windows file time (100 ns units since 1601);
// 0 for a time earlier than the Unix epoch.
[[nodiscard]] std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime);

// Time on the monotonic clock, from an arbitrary origin.
using MonotonicTime = std::chrono::nanoseconds;

}  // namespace talvex
