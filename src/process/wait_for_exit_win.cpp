#include <windows.h>

#include "base/clock_win.h"
#include "base/scoped_handle_win.h"
#include "process/process_win.h"

namespace talvex {
namespace {

// One probe: true only when the process could be opened and has not yet ended. The handle is
// opened and closed per probe, so the updater never keeps an exited application's process
// object (and with it its pid) alive. A pid that cannot be opened (no such process, access
// denied, pid 0) counts as gone, as does a failed wait: waiting longer could not help.
bool process_is_running(DWORD pid) {
  ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                     /*bInheritHandle=*/FALSE, pid));
  if (!process) return false;
  return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace

bool wait_for_exit(DWORD pid, std::chrono::seconds limit, std::chrono::milliseconds poll_interval) {
  const MonotonicTime start = monotonic_now();
  for (;;) {
    // Whole seconds, checked before every probe (the first included), so the last probe
    // happens before `limit` has fully passed.
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(monotonic_now() - start);
    if (elapsed >= limit) return false;
    if (!process_is_running(pid)) return true;
    sleep_for(poll_interval);
  }
}

}  // namespace talvex
