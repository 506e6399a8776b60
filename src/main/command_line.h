// The command line: splitting it by the C runtime's rules and parsing the four options.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "main/updater_options.h"

namespace talvex {

// The program's exit statuses.
inline constexpr unsigned kExitSuccess = 0;  // the installer ran and exited with code 0
inline constexpr unsigned kExitFailure = 1;  // the installer was missing or failed
inline constexpr unsigned kExitUsage = 2;    // the command line was unusable

inline constexpr std::string_view kUsageText =
    "usage: talvex-updater --installer <path> --app-exe <path> [--wait-pid <pid>] [--log <path>]\n";

// Splits a Windows command line the way the Microsoft C runtime builds argv: element 0 is the
// program name. Our own implementation, so that what the updater sees does not depend on which
// C runtime it happens to be linked with.
[[nodiscard]] std::vector<std::u16string> split_command_line(std::u16string_view command_line);

// An unsigned 32-bit decimal: an optional single "+", then one or more ASCII digits only.
[[nodiscard]] std::optional<std::uint32_t> parse_pid(std::u16string_view text);

// The options from the arguments after the program name; nullopt when the command line is
// unusable (an unknown argument, or a required option missing).
[[nodiscard]] std::optional<UpdaterOptions> parse_options(std::span<const std::u16string> args);

}  // namespace talvex
