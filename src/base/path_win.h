// The Win32 calls behind path handling: absolute forms, and the "call, grow the buffer, call
// again" pattern of the functions that write a string into a caller's buffer.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "base/path.h"
#include "base/result_win.h"

namespace talvex {

// For the functions that return the length without the NUL on success and the size needed
// (with the NUL) when the buffer is too small: GetFullPathNameW, GetTempPathW,
// GetSystemDirectoryW, GetWindowsDirectoryW, GetEnvironmentVariableW. `call(buffer, size)` makes
// the call. Fails with the call's error, or with ERROR_FILENAME_EXCED_RANGE when the text kept
// growing between calls (another thread changing it) a few times in a row.
template <typename Call>
[[nodiscard]] Result<std::wstring> read_grown_text(Call call) {
  std::wstring buffer(kMaxPathUnits + 1, L'\0');
  // LCOV_EXCL_BR_START the loop runs out only for text growing between calls; its test reader is
  // not instrumented
  for (int attempt = 0; attempt < 4; ++attempt) {
    // LCOV_EXCL_BR_STOP
    const DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return last_os_error();
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(n, L'\0');  // the size needed, NUL included
  }
  return Error::os(ERROR_FILENAME_EXCED_RANGE);  // LCOV_EXCL_LINE text growing between calls
}

// GetFullPathNameW: "." and ".." resolved, "/" turned into "\", a relative path taken against
// the current directory (and drive).
[[nodiscard]] Result<std::wstring> full_path_name(const std::wstring& path);

// The form in which `path` reaches CreateFileW or CreateProcessW whatever its length: the
// platform-free openable_path given the path's absolute form.
[[nodiscard]] Result<std::wstring> openable_path(std::wstring_view path);

// GetModuleFileNameW of the running executable. That call truncates instead of reporting the
// size it needs, so the buffer grows until the name fits.
[[nodiscard]] Result<std::wstring> own_executable_path();

}  // namespace talvex
