#include <windows.h>

#include "log/run_log.h"

#include <vector>

#include "base/clock.h"
#include "base/path_win.h"
#include "base/scoped_handle_win.h"
#include "base/text.h"

namespace talvex {
namespace {

// FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE: the
// generic write rights without FILE_WRITE_DATA. With append-only access the system puts every
// write at the current end of file atomically, so two writers (or a reader that truncates and a
// writer) cannot overwrite each other's lines.
constexpr DWORD kAppendAccess = 0x120114;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A sharing or lock violation on the log is nearly always another program (a backup, indexing
// or antivirus tool) holding the file for a moment. The open is retried for up to this long in
// all before the line is dropped: long enough for such a tool, short enough that a file held
// for good costs the run little.
constexpr std::chrono::milliseconds kLogOpenRetryBudget{100};
constexpr std::chrono::milliseconds kLogOpenRetryPause{20};

using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, LPWSTR);

// The temporary directory as the system reports it, with its trailing separator.
std::optional<std::wstring> system_temp_dir() {
  // GetTempPath2W (Windows 11, and updates of 10) gives SYSTEM processes a private directory;
  // it is looked up by name because the import would stop the program loading elsewhere.
  auto get_temp_path = &::GetTempPathW;
  if (HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll")) {
    if (FARPROC proc = ::GetProcAddress(kernel32, "GetTempPath2W")) {
      // LCOV_EXCL_START Windows only: Wine's kernel32 has no GetTempPath2W
      get_temp_path = reinterpret_cast<GetTempPath2WFn>(reinterpret_cast<void*>(proc));
      // LCOV_EXCL_STOP
    }
  }
  Result<std::wstring> dir = read_grown_text(
      [get_temp_path](wchar_t* buffer, DWORD size) { return get_temp_path(size, buffer); });
  if (!dir) return std::nullopt;
  return std::move(dir).value();
}

// Creates `dir` and every missing ancestor; failures are left for the log's opens to meet.
void create_dir_all(const std::wstring& dir) {
  std::vector<std::wstring> missing;
  std::optional<std::wstring> next = dir;
  while (next) {
    if (::CreateDirectoryW(next->c_str(), nullptr)) break;
    const DWORD error = ::GetLastError();
    if (error != ERROR_PATH_NOT_FOUND) break;  // exists already, or cannot be made
    missing.push_back(std::move(*next));
    next = parent_dir(missing.back());
  }
  // Deepest first was tried; now create the ancestors that were missing, outermost first.
  while (!missing.empty()) {
    if (!::CreateDirectoryW(missing.back().c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return;
    }
    missing.pop_back();
  }
}

// The log opened for appending, or an invalid handle when it cannot be opened (after retries
// while another program holds it).
ScopedFileHandle open_for_append(const std::wstring& path) {
  const MonotonicTime give_up = monotonic_now() + kLogOpenRetryBudget;
  for (;;) {
    // Not inheritable (no security attributes), so children never hold the log open.
    ScopedFileHandle file(
        ::CreateFileW(path.c_str(), kAppendAccess, kShareAll, nullptr, OPEN_ALWAYS, 0, nullptr));
    if (file) return file;
    const DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) break;
    if (monotonic_now() + kLogOpenRetryPause > give_up) break;
    sleep_with_system_timer(kLogOpenRetryPause);
  }
  return ScopedFileHandle();
}

}  // namespace

std::optional<std::wstring> default_log_path() { return log_path_in(system_temp_dir()); }

RunLog prepare_run_log(const std::optional<std::wstring>& log_option) {
  std::optional<std::wstring> path = log_option ? log_option : default_log_path();
  if (!path) return RunLog();
  if (std::optional<std::wstring> dir = parent_dir(*path)) create_dir_all(*dir);
  return RunLog(std::move(*path));
}

void log_line(const RunLog& log, std::string_view message) {
  if (!log.path()) return;
  // The whole line is composed first and written with as few calls as possible, so that a
  // concurrent reader or writer never sees half of it.
  const std::string line = format_log_line(unix_seconds_now(), message);
  // The file is opened and closed for every line: each line is on disk once we return, even if
  // we are killed next, and nobody is locked out of the file between lines.
  const ScopedFileHandle file = open_for_append(*log.path());
  if (!file) return;
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    if (!::WriteFile(file.get(), data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    left -= written;
  }
}

}  // namespace talvex
