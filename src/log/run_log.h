// The run log: one timestamped line per step, appended to a plain-text file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvex {

// The log file's path, fixed before the first line. Without a path (the temporary directory
// could not be determined) every line is dropped and the run goes on.
class RunLog {
 public:
  RunLog() = default;
  explicit RunLog(std::u16string path) : path_(std::move(path)) {}

  [[nodiscard]] const std::optional<std::u16string>& path() const { return path_; }

 private:
  std::optional<std::u16string> path_;
};

// "talvex-updater.log" in `temp_dir` (a backslash between them unless the directory already
// ends in one or in a slash); nullopt without a directory.
[[nodiscard]] std::optional<std::u16string> log_path_in(
    const std::optional<std::u16string>& temp_dir);

// "[" + seconds + "] " + message + line feed, each control character of the message (U+0000 to
// U+001F, U+007F) written as "<U+XXXX>" so that one message is always one line.
[[nodiscard]] std::string format_log_line(std::uint64_t unix_seconds, std::string_view message);

}  // namespace talvex
