// The parsed command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace talvex {

// Filled once by parse_args and read-only afterwards. Paths are UTF-16 text exactly as
// passed: not made absolute, not canonicalised, not tested for existence.
struct UpdaterOptions {
  std::u16string installer;
  std::u16string app_exe;
  std::optional<std::u16string> log;
  std::optional<std::uint32_t> wait_pid;
};

// "installer=<path> app_exe=<path> wait_pid=<None|Some(<pid>)>", paths as UTF-8 text.
[[nodiscard]] std::string options_line(const UpdaterOptions& options);

}  // namespace talvex
