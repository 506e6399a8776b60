#include <windows.h>

#include "base/clock_win.h"
#include "base/scoped_handle_win.h"
#include "process/process_win.h"

namespace talvex {
namespace {

// One probe: true while a process with this id exists and has not ended. The handle is opened
// and closed per probe, so the updater never keeps an exited application's process object (and
// with it its pid) alive. A pid that does not exist (error 87), pid 0, or a failed wait counts
// as gone: waiting longer could not help.
//
// Access denied is different: it means a process with that id exists, but its security (an
// elevated or another user's application) withholds the right to wait on it. Treating it as
// gone would start the installer while the application still runs, so the probe falls back to
// the limited-query right alone and reads the exit code. A process that exited with code 259
// (STILL_ACTIVE) cannot be told from a running one that way; it is then taken as running until
// the time limit, which only delays the installer. When even that open is denied, the process
// is taken as running for the same reason.
bool process_is_running(DWORD pid) {
  ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                     /*bInheritHandle=*/FALSE, pid));
  if (process) return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
  if (::GetLastError() != ERROR_ACCESS_DENIED) return false;
  ScopedHandle query_only(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, /*bInheritHandle=*/FALSE, pid));
  if (!query_only) return ::GetLastError() == ERROR_ACCESS_DENIED;
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(query_only.get(), &exit_code)) return false;
  return exit_code == STILL_ACTIVE;
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
