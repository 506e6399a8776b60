#include "base/path_win.h"

#include "base/wide_win.h"

namespace talvex {
namespace {

// The longest path the system accepts, in units, terminator included.
constexpr size_t kLongestPathUnits = 32768;

}  // namespace

Result<std::wstring> full_path_name(const std::wstring& path) {
  return read_grown_text([&path](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(path.c_str(), size, buffer, nullptr);
  });
}

Result<std::wstring> openable_path(std::wstring_view path) {
  std::wstring given(path);
  if (has_verbatim_or_device_prefix(as_utf16(given))) return given;
  Result<std::wstring> full = full_path_name(given);
  if (!full) return full.error();
  return std::wstring(as_wide(openable_path(as_utf16(given), as_utf16(full.value()))));
}

Result<std::wstring> own_executable_path() {
  std::wstring buffer(kMaxPathUnits, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return last_os_error();
    // LCOV_EXCL_BR_START needs the updater itself started from a path of MAX_PATH units or more
    if (n < buffer.size()) {
      // LCOV_EXCL_BR_STOP
      buffer.resize(n);
      return buffer;
    }
    // LCOV_EXCL_START needs the updater itself started from a path of MAX_PATH units or more
    if (buffer.size() >= kLongestPathUnits) return Error::os(ERROR_INSUFFICIENT_BUFFER);
    buffer.resize(buffer.size() * 2);
    // LCOV_EXCL_STOP
  }
}

}  // namespace talvex
