#include <windows.h>

#include "log/run_log_win.h"

#include <bit>
#include <vector>

#include "base/clock_win.h"
#include "base/file_win.h"
#include "base/path.h"
#include "base/path_win.h"
#include "base/scoped_handle_win.h"
#include "base/wide_win.h"

namespace talvex {
namespace {

// FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE: the
// generic write rights without FILE_WRITE_DATA. With append-only access the system puts every
// write at the current end of file atomically, so two writers (or a reader that truncates and a
// writer) cannot overwrite each other's lines.
constexpr DWORD kAppendAccess = 0x120114;
// A sharing or lock violation on the log is nearly always another program (a backup, indexing
// or antivirus tool) holding the file for a moment. The open is retried for up to this long in
// all before the line is dropped: long enough for such a tool, short enough that a file held
// for good costs the run little.
constexpr std::chrono::milliseconds kLogOpenRetryBudget{100};
constexpr std::chrono::milliseconds kLogOpenRetryPause{20};

using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, LPWSTR);

// The temporary directory as the system reports it, with its trailing separator.
std::optional<std::u16string> system_temp_dir() {
  // GetTempPath2W (Windows 11, and updates of 10) gives SYSTEM processes a private directory;
  // it is looked up by name because the import would stop the program loading elsewhere.
  auto get_temp_path = &::GetTempPathW;
  if (HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll")) {
    // LCOV_EXCL_BR_START GetTempPath2W exists only from Windows 11 and updates of Windows 10
    if (FARPROC proc = ::GetProcAddress(kernel32, "GetTempPath2W")) {
      // LCOV_EXCL_BR_STOP
      // LCOV_EXCL_START GetTempPath2W exists only from Windows 11 and updates of Windows 10
      // Both are plain function pointers: bit_cast changes the type without the cast through
      // void* (or to an unrelated function type) that compilers and linters warn about.
      get_temp_path = std::bit_cast<GetTempPath2WFn>(proc);
      // LCOV_EXCL_STOP
    }
  }
  Result<std::wstring> dir = read_grown_text(
      [get_temp_path](wchar_t* buffer, DWORD size) { return get_temp_path(size, buffer); });
  if (!dir) return std::nullopt;
  return std::u16string(as_utf16(dir.value()));
}

// Creates `dir` and every missing ancestor; failures are left for the log's opens to meet.
void create_dir_all(const std::u16string& dir) {
  std::vector<std::u16string> missing;
  std::optional<std::u16string> next = dir;
  while (next) {
    if (::CreateDirectoryW(as_wide_cstr(*next), nullptr)) break;
    const DWORD error = ::GetLastError();
    if (error != ERROR_PATH_NOT_FOUND) break;  // exists already, or cannot be made
    missing.push_back(std::move(*next));
    next = parent_dir(missing.back());
  }
  // Deepest first was tried; now create the ancestors that were missing, outermost first.
  while (!missing.empty()) {
    if (!::CreateDirectoryW(as_wide_cstr(missing.back()), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return;
    }
    missing.pop_back();
  }
}

// The log opened for appending, or an invalid handle when it cannot be opened (after retries
// while another program holds it).
ScopedFileHandle open_for_append(const std::u16string& path) {
  const MonotonicTime give_up = monotonic_now() + kLogOpenRetryBudget;
  for (;;) {
    // Not inheritable (no security attributes), so children never hold the log open.
    ScopedFileHandle file(::CreateFileW(as_wide_cstr(path), kAppendAccess, kShareAll, nullptr,
                                        OPEN_ALWAYS, 0, nullptr));
    if (file) return file;
    const DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) break;
    if (monotonic_now() + kLogOpenRetryPause > give_up) break;
    sleep_with_system_timer(kLogOpenRetryPause);
  }
  return ScopedFileHandle();
}

}  // namespace

std::optional<std::u16string> default_log_path() { return log_path_in(system_temp_dir()); }

RunLog prepare_log(const std::optional<std::u16string>& log_option) {
  std::optional<std::u16string> path = log_option ? log_option : default_log_path();
  if (!path) return RunLog();
  if (std::optional<std::u16string> dir = parent_dir(*path)) create_dir_all(*dir);
  return RunLog(std::move(*path));
}

void log_line(const RunLog& log, std::string_view message) {
  const std::optional<std::u16string>& path = log.path();
  if (!path) return;
  // The whole line is composed first and written with as few calls as possible, so that a
  // concurrent reader or writer never sees half of it.
  const std::string line = format_log_line(unix_seconds_now(), message);
  // The file is opened and closed for every line: each line is on disk once we return, even if
  // we are killed next, and nobody is locked out of the file between lines.
  const ScopedFileHandle file = open_for_append(*path);
  if (!file) return;
  // A line that could not be written whole is lost; the run goes on either way.
  static_cast<void>(write_all(file.get(), line));
}

}  // namespace talvex
