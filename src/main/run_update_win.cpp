#include <windows.h>

#include "main/run_update.h"

#include "base/clock.h"
#include "base/exit_process_win.h"
#include "base/file_check.h"
#include "base/text.h"
#include "main/command_line.h"
#include "process/process_win.h"

namespace talvex {
namespace {

// Sleeps until `duration` has passed on the monotonic clock: a timer may wake a little early
// when the system changes its timer resolution, and the pause is a lower bound.
void pause_at_least(std::chrono::milliseconds duration) {
  const MonotonicTime end = monotonic_now() + duration;
  for (MonotonicTime now = monotonic_now(); now < end; now = monotonic_now()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
    sleep_for(left);
  }
}

}  // namespace

unsigned perform_update(const UpdaterOptions& options, const RunLog& log,
                        const UpdateTimings& timings) {
  log_line(log, "=== talvex-updater start ===");
  log_line(log, options_line(options));

  if (!is_file(options.installer)) {
    // Nothing to install: make sure the application is not left stopped. It may still be
    // running (we did not wait), so this can start a second instance.
    log_line(log, "ERROR: installer file missing");
    relaunch_app(options.app_exe, log);
    return kExitFailure;
  }

  if (options.wait_pid) {
    const std::string pid = decimal(*options.wait_pid);
    if (wait_for_exit(*options.wait_pid, timings.app_exit_limit, timings.poll_interval)) {
      log_line(log, "main process " + pid + " exited");
    } else {
      // Not a failure: the installer is expected to stop a running application itself.
      log_line(log, "main process " + pid +
                        " still running after timeout, proceeding (installer kills it)");
    }
  }

  const bool installed =
      run_installer(options.installer, log, timings.installer_limit, timings.poll_interval);
  refresh_icon_cache(log);

  if (installed) {
    pause_at_least(timings.settle_pause);
    if (is_app_running(options.app_exe)) {
      log_line(log, "app already running (installer /R relaunched), skip");
    } else {
      relaunch_app(options.app_exe, log);
    }
    log_line(log, "=== talvex-updater done");
    return kExitSuccess;
  }

  // The old version is most likely still installed: bring it back without delay.
  log_line(log, "install failed; best-effort relaunch of existing app");
  relaunch_app(options.app_exe, log);
  log_line(log, "=== talvex-updater done");
  return kExitFailure;
}

void run_update(const UpdaterOptions& options, const RunLog& log) {
  exit_process(perform_update(options, log));
}

}  // namespace talvex
