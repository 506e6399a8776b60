// The Win32 boundary for text: the platform-free code holds UTF-16 as char16_t, the system's
// wide functions take wchar_t. On Windows both are 16-bit UTF-16 code units, so a string of one
// is viewed as the other without copying.
#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

// The views below reinterpret one unit type as the other; that is sound only where they have
// the same size, as on every Windows compiler.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide text must be UTF-16 code units");

namespace talvex {

[[nodiscard]] inline std::wstring_view as_wide(std::u16string_view text) {
  return {reinterpret_cast<const wchar_t*>(text.data()), text.size()};
}
// The NUL-terminated form Win32 calls take.
[[nodiscard]] inline const wchar_t* as_wide_cstr(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
// A writable buffer for the calls that write text into the caller's memory.
[[nodiscard]] inline wchar_t* as_writable_wide(char16_t* buffer) {
  return reinterpret_cast<wchar_t*>(buffer);
}
[[nodiscard]] inline std::u16string_view as_utf16(std::wstring_view text) {
  return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}
// Text the system handed over, as UTF-8 (for the log).
[[nodiscard]] inline std::string to_utf8(std::wstring_view wide) { return to_utf8(as_utf16(wide)); }

}  // namespace talvex
