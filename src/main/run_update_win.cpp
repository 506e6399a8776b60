#include "main/run_update_win.h"

#include "base/clock_win.h"
#include "base/exit_process_win.h"
#include "base/file_check_win.h"
#include "base/wide_win.h"
#include "log/run_log_win.h"
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

UpdateSteps system_update_steps(const RunLog& log, const UpdateTimings& timings) {
  return UpdateSteps{
      .log_line = [&log](std::string_view message) { log_line(log, message); },
      .installer_exists = [](std::u16string_view installer) { return is_file(as_wide(installer)); },
      .wait_for_exit =
          [timings](std::uint32_t pid) {
            return wait_for_exit(pid, timings.app_exit_limit, timings.poll_interval);
          },
      .run_installer =
          [&log, timings](std::u16string_view installer) {
            return run_installer(as_wide(installer), log, timings.installer_limit,
                                 timings.poll_interval);
          },
      .refresh_icon_cache = [&log] { refresh_icon_cache(log); },
      .settle = [timings] { pause_at_least(timings.settle_pause); },
      .is_app_running =
          [](std::u16string_view app_exe) { return is_app_running(as_wide(app_exe)); },
      .relaunch_app = [&log](std::u16string_view app_exe) { relaunch_app(as_wide(app_exe), log); },
  };
}

void run_update(const UpdaterOptions& options, const RunLog& log) {
  exit_process(perform_update(options, system_update_steps(log)));
}

}  // namespace talvex
