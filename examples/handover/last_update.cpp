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
// What a second updater for an application that is already being updated writes, and nothing
// else: it belongs to no run.
constexpr std::string_view kRefused =
    "ERROR: another update of this application is running; installer not run: ";

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

std::wstring to_wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), units);
  return wide;
}

// The form in which two application paths are compared, as close to the updater's as the
// system allows: without a leading "\\?\", each character lower-cased on its own by the
// system's invariant mapping, and U+0130 becoming "i" and U+0307 (the one character whose full
// mapping is longer than its simple one). The updater lowers a word-final capital sigma to a final
// sigma; folding both small sigmas into one keeps every pair of paths it takes for one application
// equal here too.
std::wstring comparable_path(std::wstring_view path) {
  constexpr std::wstring_view kVerbatim = L"\\\\?\\";
  if (path.substr(0, kVerbatim.size()) == kVerbatim) path.remove_prefix(kVerbatim.size());
  std::wstring text;
  for (const wchar_t c : path) {
    if (c == L'\u0130') {
      text += L"i\u0307";
    } else {
      text.push_back(c);
    }
  }
  if (text.empty()) return text;
  std::wstring lower(text.size(), L'\0');
  const int units = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, text.data(),
                                  static_cast<int>(text.size()), lower.data(),
                                  static_cast<int>(lower.size()), nullptr, nullptr, 0);
  if (units <= 0) return text;
  lower.resize(static_cast<size_t>(units));
  for (wchar_t& c : lower) {
    if (c == L'\u03C2') c = L'\u03C3';
  }
  return lower;
}

}  // namespace

LastUpdate parse_last_update(std::string_view log, std::wstring_view app_exe) {
  std::vector<std::string_view> messages;
  for (size_t begin = 0; begin < log.size();) {
    size_t end = log.find('\n', begin);
    if (end == std::string_view::npos) end = log.size();
    const auto message = message_of(log.substr(begin, end - begin));
    if (message && !starts_with(*message, kRefused)) messages.push_back(*message);
    begin = end + 1;
  }
  // The last run (from a start banner up to the next), or the last one for `app_exe`.
  const std::wstring wanted = comparable_path(app_exe);
  size_t start = messages.size();
  for (size_t end = messages.size(); start > 0; --start) {
    if (messages[start - 1] != kStart) continue;
    if (wanted.empty()) break;
    std::optional<std::string_view> named;
    for (size_t i = start; i < end && !named; ++i) named = app_exe_of(messages[i]);
    if (named && comparable_path(to_wide(*named)) == wanted) break;
    end = start - 1;
  }
  LastUpdate outcome;
  if (start == 0) return outcome;
  outcome.started = true;

  std::optional<std::string_view> run_app_exe;
  for (size_t i = start; i < messages.size(); ++i) {
    const std::string_view message = messages[i];
    if (message == kStart) break;
    if (!run_app_exe && (run_app_exe = app_exe_of(message))) continue;
    if (starts_with(message, kInstallerExited) && outcome.installer_status.empty()) {
      outcome.installer_status = message.substr(kInstallerExited.size());
      outcome.installed = outcome.installer_status == "exit code: 0";
    } else if (message == kInstallerRelaunched) {
      outcome.relaunched_by = LastUpdate::Relauncher::installer;
    } else if (starts_with(message, kRelaunched)) {
      // Another update writing to the same log relaunches another application.
      if (!run_app_exe || message.substr(kRelaunched.size()) == *run_app_exe) {
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

LastUpdate read_last_update(const std::wstring& log_path, std::wstring_view app_exe) {
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
  return parse_last_update(text, app_exe);
}

}  // namespace talvex_example
