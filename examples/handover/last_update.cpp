#include "last_update.h"

#include <windows.h>

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

// The message of one "[<seconds>] <message>" line; false for anything else (a line cut short
// when a writer was killed, say).
bool message_of(std::string_view line, std::string_view& message) {
  if (line.size() < 3 || line[0] != '[') return false;
  size_t i = 1;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
  if (i == 1 || line.substr(i, 2) != "] ") return false;
  message = line.substr(i + 2);
  return true;
}

// The application path of an options line, "installer=<path> app_exe=<path> wait_pid=<pid>".
bool app_exe_of(std::string_view message, std::string_view& app_exe) {
  constexpr std::string_view kApp = " app_exe=";
  constexpr std::string_view kPid = " wait_pid=";
  if (!starts_with(message, "installer=")) return false;
  const size_t pid = message.rfind(kPid);
  if (pid == std::string_view::npos) return false;
  const size_t app = message.rfind(kApp, pid);
  if (app == std::string_view::npos) return false;
  app_exe = message.substr(app + kApp.size(), pid - app - kApp.size());
  return true;
}

}  // namespace

LastUpdate parse_last_update(std::string_view log) {
  std::vector<std::string_view> messages;
  for (size_t begin = 0; begin < log.size();) {
    size_t end = log.find('\n', begin);
    if (end == std::string_view::npos) end = log.size();
    std::string_view message;
    if (message_of(log.substr(begin, end - begin), message)) messages.push_back(message);
    begin = end + 1;
  }
  size_t start = messages.size();
  while (start > 0 && messages[start - 1] != kStart) --start;
  LastUpdate outcome;
  if (start == 0) return outcome;
  outcome.started = true;

  bool have_options = false;
  std::string_view app_exe;
  for (size_t i = start; i < messages.size(); ++i) {
    const std::string_view message = messages[i];
    if (!have_options && app_exe_of(message, app_exe)) {
      have_options = true;
    } else if (starts_with(message, kInstallerExited) && outcome.installer_status.empty()) {
      outcome.installer_status = message.substr(kInstallerExited.size());
      outcome.installed = outcome.installer_status == "exit code: 0";
    } else if (message == kInstallerRelaunched) {
      outcome.relaunched_by = LastUpdate::Relauncher::installer;
    } else if (starts_with(message, kRelaunched)) {
      // Another update writing to the same log relaunches another application.
      if (!have_options || message.substr(kRelaunched.size()) == app_exe) {
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
