// Finding a running instance of the application, and starting it again.
#include <windows.h>
#include <tlhelp32.h>

#include <array>
#include <optional>
#include <string>

#include "base/error_text_win.h"
#include "base/file_check_win.h"
#include "base/scoped_handle_win.h"
#include "base/wide_win.h"
#include "log/run_log_win.h"
#include "process/image_path.h"
#include "process/process_win.h"

namespace talvex {
namespace {

// The Toolhelp record of 64-bit Windows; a different size would mean a different ABI, and
// Process32FirstW rejects a record whose dwSize it does not know.
static_assert(sizeof(PROCESSENTRY32W) == 568);

// Image paths longer than this (terminator included) fail the query and are skipped.
constexpr DWORD kImagePathUnits = 1024;

// The Win32 form of the process's image path, normalised; nullopt when the process cannot be
// opened or queried (system processes, other users' processes, paths that do not fit).
std::optional<std::string> normalized_image_of(DWORD pid) {
  ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  std::array<wchar_t, kImagePathUnits> buffer{};
  DWORD units = kImagePathUnits;
  const BOOL queried = QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &units);
  process.reset();
  // On success `units` excludes the terminator, so it is below the buffer size; anything else
  // is not trusted, so the buffer is never read past its end.
  // LCOV_EXCL_BR_START no system reports success with a length that does not fit
  if (!queried || units >= kImagePathUnits) return std::nullopt;
  // LCOV_EXCL_BR_STOP
  return normalize_image_path(as_utf16(std::wstring_view(buffer.data(), units)));
}

}  // namespace

bool is_app_running(std::wstring_view app_exe) {
  const std::string target = normalize_image_path(as_utf16(app_exe));
  ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  // Without a process list the application is assumed to run: starting a second instance is
  // worse than leaving the user to start it.
  if (!snapshot) return true;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    const std::optional<std::string> image = normalized_image_of(entry.th32ProcessID);
    if (image && *image == target) return true;
  }
  return false;
}

void relaunch_app(std::wstring_view app_exe, const RunLog& log, const Launcher& launcher) {
  if (!is_file(app_exe)) {
    log_line(log, "ERROR: app exe missing, cannot relaunch");
    return;
  }
  LaunchSpec spec;
  spec.program = std::u16string(as_utf16(app_exe));
  spec.std_in = StdStream::kNull;
  spec.std_out = StdStream::kNull;
  spec.std_err = StdStream::kNull;
  spec.creation_flags = CREATE_NO_WINDOW;
  Result<ChildProcess> child = launcher.start(spec);
  if (!child) {
    log_line(log, "ERROR: relaunch failed: " + error_text(child.error()));
    return;
  }
  log_line(log, "relaunched " + to_utf8(app_exe));
  // `child` closes both handles here; the application runs on by itself and is never waited
  // for.
}

}  // namespace talvex
