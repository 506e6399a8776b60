// Ending the process on an unusable command line.
#pragma once

#include <span>
#include <string>

#include "main/command_line.h"

namespace talvex {

// Writes the usage text to standard error (when there is one) and exits with status 2.
[[noreturn]] void usage_exit();

// parse_options, ending the process through usage_exit when the command line is unusable.
[[nodiscard]] UpdaterOptions parse_args(std::span<const std::u16string> args);

}  // namespace talvex
