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
  explicit RunLog(std::wstring path) : path_(std::move(path)) {}

  [[nodiscard]] const std::optional<std::wstring>& path() const { return path_; }

 private:
  std::optional<std::wstring> path_;
};

// The default log path: the system temporary directory joined with "talvex-updater.log";
// nullopt when the temporary directory cannot be determined.
[[nodiscard]] std::optional<std::wstring> default_log_path();

// "talvex-updater.log" in `temp_dir` (a backslash between them unless the directory already
// ends in one or in a slash); nullopt without a directory.
[[nodiscard]] std::optional<std::wstring> log_path_in(const std::optional<std::wstring>& temp_dir);

// The directory part of `path` (trailing separators dropped), or nullopt for a bare name or a
// root.
[[nodiscard]] std::optional<std::wstring> parent_dir(std::wstring_view path);

// "[" + seconds + "] " + message + line feed, each control character of the message (U+0000 to
// U+001F, U+007F) written as "<U+XXXX>" so that one message is always one line.
[[nodiscard]] std::string format_log_line(std::uint64_t unix_seconds, std::string_view message);

// Fixes the log path (`log_option`, the --log value, else the default) and creates its parent
// directory with every missing ancestor. Failures are ignored: later lines are then lost, the
// run is not affected.
[[nodiscard]] RunLog prepare_run_log(const std::optional<std::wstring>& log_option);

// Appends "[<unix seconds>] <message>\n". Opens and closes the file for every line and never
// reports failure.
void log_line(const RunLog& log, std::string_view message);

}  // namespace talvex
