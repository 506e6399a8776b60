// The run sequence: one fixed pass from the start banner to the exit status.
#pragma once

#include <chrono>
#include <string>

#include "log/run_log.h"
#include "main/updater_options.h"
#include "process/limits.h"

namespace talvex {

// After a successful install the installer may still be starting the application itself (it
// was given "/R"); this pause gives it time before we look for a running instance.
inline constexpr std::chrono::milliseconds kSettlePause{5000};

// The run's timing limits; the product always uses these defaults, tests shorter ones.
struct UpdateTimings {
  std::chrono::seconds app_exit_limit = kAppExitTimeLimit;
  std::chrono::milliseconds installer_limit = kInstallerTimeLimit;
  std::chrono::milliseconds poll_interval = kPollInterval;
  std::chrono::milliseconds settle_pause = kSettlePause;
};

// The run log of these options: the log's own set-up given the --log value.
[[nodiscard]] inline RunLog prepare_log(const UpdaterOptions& options) {
  return prepare_run_log(options.log);
}

// Performs every step of an update and returns the exit status: 0 when the installer exited
// with code 0, 1 when it was missing or failed.
[[nodiscard]] unsigned perform_update(const UpdaterOptions& options, const RunLog& log,
                                      const UpdateTimings& timings = {});

// perform_update, then ends the process with its status.
[[noreturn]] void run_update(const UpdaterOptions& options, const RunLog& log);

}  // namespace talvex
