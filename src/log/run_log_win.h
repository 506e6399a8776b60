// Writing the run log on the system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "log/run_log.h"

namespace talvex {

// The default log path: the system temporary directory joined with "talvex-updater.log";
// nullopt when the temporary directory cannot be determined.
[[nodiscard]] std::optional<std::u16string> default_log_path();

// Fixes the log path (`log_option`, the --log value, else the default) and creates its parent
// directory with every missing ancestor. Failures are ignored: later lines are then lost, the
// run is not affected.
[[nodiscard]] RunLog prepare_log(const std::optional<std::u16string>& log_option);

// Appends "[<unix seconds>] <message>\n". Opens and closes the file for every line and never
// reports failure.
void log_line(const RunLog& log, std::string_view message);

}  // namespace talvex
