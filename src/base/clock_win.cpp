#include <windows.h>

#include "base/clock_win.h"
#include "base/scoped_handle_win.h"

// Older MinGW-w64 headers lack the flag (Windows 10 1803 and later accept it).
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace talvex {

std::uint64_t unix_seconds_now() {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  const std::uint64_t filetime =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return unix_seconds_from_filetime(filetime);
}

MonotonicTime monotonic_now() {
  // Both calls always succeed on Windows XP and later.
  LARGE_INTEGER frequency{};
  LARGE_INTEGER counter{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  // Split the division so that counter * 1e9 cannot overflow after long uptimes.
  const std::int64_t f = frequency.QuadPart;
  const std::int64_t c = counter.QuadPart;
  return MonotonicTime((c / f) * 1000000000LL + (c % f) * 1000000000LL / f);
}

bool sleep_with_high_resolution_timer(std::chrono::milliseconds duration) {
  ScopedHandle timer(::CreateWaitableTimerExW(
      nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_MODIFY_STATE | SYNCHRONIZE));
  if (!timer) return false;
  // A negative due time is relative, in 100 ns units.
  LARGE_INTEGER due{};
  due.QuadPart = -static_cast<LONGLONG>(duration.count()) * 10000;
  if (!::SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE)) return false;
  return ::WaitForSingleObject(timer.get(), INFINITE) == WAIT_OBJECT_0;
}

void sleep_with_system_timer(std::chrono::milliseconds duration) {
  if (duration.count() <= 0) return;
  ::Sleep(static_cast<DWORD>(duration.count()));
}

void sleep_for(std::chrono::milliseconds duration) {
  if (duration.count() <= 0) return;
  if (!sleep_with_high_resolution_timer(duration)) sleep_with_system_timer(duration);
}

}  // namespace talvex
