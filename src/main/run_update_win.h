// The run sequence on the system.
#pragma once

#include "log/run_log.h"
#include "main/run_update.h"

namespace talvex {

// The real operations, writing to `log` and bounded by `timings`.
[[nodiscard]] UpdateSteps system_update_steps(const RunLog& log, const UpdateTimings& timings = {});
// The steps keep a reference to the log, so it must outlive them.
UpdateSteps system_update_steps(RunLog&& log, const UpdateTimings& timings = {}) = delete;

// The whole program: reads the command line, prepares the log, performs the update with the
// real operations and `timings`, and ends the process with its status. The shipped entry point
// calls it with the product's limits; test builds call the same function with short ones.
[[noreturn]] void updater_main(const UpdateTimings& timings = {});

}  // namespace talvex
