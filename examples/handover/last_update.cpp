#include "last_update.h"

#include <windows.h>

#include <optional>
#include <vector>

namespace talvex_example {
namespace {

constexpr std::string_view kStart = "=== talvex-updater start ===";
constexpr std::string_view kDone = "=== talvex-updater done";
constexpr std::string_view kInstallerExited = "installer exited: ";
constexpr std::string_view kInstallerRelaunched =
    "app already running (installer /R relaunched), skip";
constexpr std::string_view kRelaunched = "relaunched ";
constexpr std::string_view kInstallerMissing = "ERROR: installer file missing";
constexpr std::string_view kAppExeMissing = "ERROR: app exe missing";
constexpr std::string_view kRelaunchFailed = "ERROR: relaunch failed: ";

// Closes the log however the read ends.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The message of one "[<seconds>] <message>" line; nothing for any other line (one cut short
// when a writer was killed, say).
std::optional<std::string_view> message_of(std::string_view line) {
  if (line.size() < 3 || line[0] != '[') return std::nullopt;
  size_t i = 1;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
  if (i == 1 || line.substr(i, 2) != "] ") return std::nullopt;
  return line.substr(i + 2);
}

// The application path of an options line, "installer=<path> app_exe=<path> wait_pid=<pid>".
std::optional<std::string_view> app_exe_of(std::string_view message) {
  constexpr std::string_view kApp = " app_exe=";
  constexpr std::string_view kPid = " wait_pid=";
  if (!starts_with(message, "installer=")) return std::nullopt;
  const size_t pid = message.rfind(kPid);
  if (pid == std::string_view::npos) return std::nullopt;
  const size_t app = message.rfind(kApp, pid);
  if (app == std::string_view::npos) return std::nullopt;
  return message.substr(app + kApp.size(), pid - app - kApp.size());
}

}  // namespace

LastUpdate parse_last_update(std::string_view log) {
  std::vector<std::string_view> messages;
  for (size_t begin = 0; begin < log.size();) {
    size_t end = log.find('\n', begin);
    if (end == std::string_view::npos) end = log.size();
    if (const auto message = message_of(log.substr(begin, end - begin))) {
      messages.push_back(*message);
    }
    begin = end + 1;
  }
  size_t start = messages.size();
  while (start > 0 && messages[start - 1] != kStart) --start;
  LastUpdate outcome;
  if (start == 0) return outcome;
  outcome.started = true;

  std::optional<std::string_view> app_exe;
  for (size_t i = start; i < messages.size(); ++i) {
    const std::string_view message = messages[i];
    if (!app_exe && (app_exe = app_exe_of(message))) continue;
    if (starts_with(message, kInstallerExited) && outcome.installer_status.empty()) {
      outcome.installer_status = message.substr(kInstallerExited.size());
      outcome.installed = outcome.installer_status == "exit code: 0";
    } else if (message == kInstallerRelaunched) {
      outcome.relaunched_by = LastUpdate::Relauncher::installer;
    } else if (starts_with(message, kRelaunched)) {
      // Another update writing to the same log relaunches another application.
      if (!app_exe || message.substr(kRelaunched.size()) == *app_exe) {
        outcome.relaunched_by = LastUpdate::Relauncher::updater;
      }
    } else if (message == kDone) {
      outcome.finished = true;
    }
    if (starts_with(message, "ERROR: ") && outcome.error.empty()) outcome.error = message;
    // Without an installer the run ends with its relaunch attempt and writes no closing banner.
    if (outcome.error == kInstallerMissing &&
        (starts_with(message, kRelaunched) || starts_with(message, kAppExeMissing) ||
         starts_with(message, kRelaunchFailed))) {
      outcome.finished = true;
    }
  }
  return outcome;
}

LastUpdate read_last_update(const std::wstring& log_path) {
  // Share everything: the updater opens the file for every line it appends, and must be able
  // to while we read; so may whoever trims or deletes the log.
  const FileHandle file(CreateFileW(log_path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return {};
  // Read to the end as it is now; lines appended meanwhile belong to a later look. A read that
  // fails part way tells nothing reliable (a cut-off run would look unfinished).
  std::string text;
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return {};
    if (read == 0) break;
    text.append(buffer, read);
  }
  return parse_last_update(text);
}

}  // namespace talvex_example
