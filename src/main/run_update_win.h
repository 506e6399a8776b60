// The run sequence on the system.
#pragma once

#include "log/run_log.h"
#include "main/run_update.h"

namespace talvex {

// The real operations, writing to `log` and bounded by `timings`.
[[nodiscard]] UpdateSteps system_update_steps(const RunLog& log, const UpdateTimings& timings = {});
// The steps keep a reference to the log, so it must outlive them.
UpdateSteps system_update_steps(RunLog&& log, const UpdateTimings& timings = {}) = delete;

// perform_update with the real operations, then ends the process with its status.
[[noreturn]] void run_update(const UpdaterOptions& options, const RunLog& log);

}  // namespace talvex
