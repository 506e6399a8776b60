// The run sequence: one fixed pass from the start banner to the exit status. The decisions live
// here, apart from the operations they order, so that every path through them can be followed
// without starting a process.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "main/updater_options.h"
#include "process/app_claim.h"
#include "process/limits.h"

namespace talvex {

// The run's timing limits; the product always uses these defaults, tests shorter ones.
struct UpdateTimings {
  std::chrono::seconds app_exit_limit = kAppExitTimeLimit;
  std::chrono::milliseconds installer_limit = kInstallerTimeLimit;
  std::chrono::milliseconds poll_interval = kPollInterval;
  std::chrono::milliseconds settle_pause = kSettlePause;
  std::chrono::milliseconds icon_refresh_limit = kIconRefreshTimeLimit;
};

// The operations an update is made of, in the order the run may call them. The real ones, bound
// to a log and to timings, come from system_update_steps.
struct UpdateSteps {
  // Claims the application for this run, to be held until the process ends.
  std::function<AppClaim(std::u16string_view app_exe)> claim_app;
  // Appends one line to the run log.
  std::function<void(std::string_view message)> log_line;
  // Whether the installer file exists.
  std::function<bool(std::u16string_view installer)> installer_exists;
  // True when the process has gone, false when it still ran at the time limit.
  std::function<bool(std::uint32_t pid)> wait_for_exit;
  // Runs the installer (logging its own lines); true only when it exited with code 0.
  std::function<bool(std::u16string_view installer)> run_installer;
  // Refreshes the shell's icons (logging its own lines; its failures do not matter).
  std::function<void()> refresh_icon_cache;
  // The pause that lets an installer's own relaunch show up.
  std::function<void()> settle;
  // Whether some process runs the application.
  std::function<bool(std::u16string_view app_exe)> is_app_running;
  // Starts the application detached (logging the outcome).
  std::function<void(std::u16string_view app_exe)> relaunch_app;
};

// Performs every step of an update and returns the exit status: 0 when the installer exited
// with code 0, 1 when it was missing or failed, or when another update of the application was
// running (then nothing else is done).
[[nodiscard]] unsigned perform_update(const UpdaterOptions& options, const UpdateSteps& steps);

}  // namespace talvex
