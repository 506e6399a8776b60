// The run sequence: one fixed pass from the start banner to the exit status.
#pragma once

#include <string>

#include "log/run_log.h"
#include "main/updater_options.h"

namespace talvex {

// "installer=<path> app_exe=<path> wait_pid=<None|Some(<pid>)>", paths as UTF-8 text.
[[nodiscard]] std::string options_line(const UpdaterOptions& options);

// Runs the update and ends the process with status 0 (installed) or 1 (failed).
[[noreturn]] void run_update(const UpdaterOptions& options, const RunLog& log);

}  // namespace talvex
