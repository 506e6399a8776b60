#include <windows.h>

#include <string>

#include "base/clock_win.h"
#include "base/error_text_win.h"
#include "base/wide_win.h"
#include "log/run_log_win.h"
#include "process/installer_command.h"
#include "process/process_win.h"

namespace talvex {

bool run_installer(std::wstring_view installer, const RunLog& log,
                   std::chrono::milliseconds time_limit, std::chrono::milliseconds poll_interval,
                   const Launcher& launcher) {
  const InstallerCommand command = installer_command(as_utf16(installer));
  log_line(log, "running installer: " + installer_command_text(command));

  LaunchSpec spec;
  spec.program = command.program;
  spec.arguments = command.arguments;
  // An unattended installer has nobody to talk to; giving it the updater's handles would
  // also let it hold the caller's pipes open for as long as it runs.
  spec.std_in = StdStream::kNull;
  spec.std_out = StdStream::kNull;
  spec.std_err = StdStream::kNull;
  spec.creation_flags = CREATE_NO_WINDOW;
  Result<ChildProcess> child = launcher.start(spec);
  if (!child) {
    log_line(log, "ERROR: failed to spawn installer: " + error_text(child.error()));
    return false;
  }

  // Polled rather than waited on, so the time limit holds even if a wait would not return.
  // The first query comes at once: a quick installer costs no poll interval.
  const MonotonicTime start = monotonic_now();
  for (;;) {
    const Result<std::optional<DWORD>> status = try_wait(child.value());
    if (!status) {
      // The run now reports failure and brings the old version back; an installer left running
      // unwatched could go on replacing its files under it, so it is stopped as on a timeout.
      static_cast<void>(kill(child.value()));
      log_line(log, "ERROR: waiting installer: " + error_text(status.error()));
      return false;
    }
    if (const std::optional<DWORD>& exit_code = status.value()) {
      log_line(log, "installer exited: " + exit_status_text(*exit_code));
      return *exit_code == 0;
    }
    if (monotonic_now() - start > time_limit) {
      // Termination is asynchronous on Windows and a process stuck in a driver may never
      // finish it, so the updater neither waits for the child afterwards nor lets a failed
      // kill change the outcome: the run has already failed.
      static_cast<void>(kill(child.value()));
      log_line(log, "ERROR: installer timed out, killed");
      return false;
    }
    sleep_for(poll_interval);
  }
}

}  // namespace talvex
