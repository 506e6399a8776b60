#include "main/run_update_win.h"

#include <windows.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/clock_win.h"
#include "base/exit_process_win.h"
#include "base/file_check_win.h"
#include "base/wide_win.h"
#include "log/run_log_win.h"
#include "main/command_line_win.h"
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
  // Shared by the step's copies, and so held for as long as the steps are: for the whole run.
  auto claim = std::make_shared<ScopedHandle>();
  return UpdateSteps{
      .claim_app =
          [claim](std::u16string_view app_exe) {
            ClaimedApp claimed = talvex::claim_app(as_wide(app_exe));
            *claim = std::move(claimed.held);
            return claimed.outcome;
          },
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
      .refresh_icon_cache = [&log,
                             timings] { refresh_icon_cache(log, timings.icon_refresh_limit); },
      .settle = [timings] { pause_at_least(timings.settle_pause); },
      .is_app_running =
          [](std::u16string_view app_exe) { return is_app_running(as_wide(app_exe)); },
      .relaunch_app = [&log](std::u16string_view app_exe) { relaunch_app(as_wide(app_exe), log); },
  };
}

void updater_main(const UpdateTimings& timings) {
  // Libraries are loaded from the system directory only: a DLL planted beside the updater or
  // in the current directory must never be picked up by a delay-loaded system import. The call
  // fails only for flags it does not know, and the run could do nothing better than go on.
  static_cast<void>(::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
  // The command line is split by our own rules rather than taken from the C runtime's argv.
  const std::vector<std::u16string> args = split_command_line(as_utf16(::GetCommandLineW()));
  const UpdaterOptions options = parse_args(std::span<const std::u16string>(args).subspan(1));
  const RunLog log = prepare_log(options.log);
  exit_process(perform_update(options, system_update_steps(log, timings)));
}

}  // namespace talvex
