// Text conversions between the native UTF-16 of Windows and the UTF-8 the log and the
// comparisons use.
#pragma once

#include <string>
#include <string_view>

namespace talvex {

// UTF-16 to UTF-8. Each unpaired surrogate becomes U+FFFD, so every wide string has a text form
// (Windows file names need not be valid UTF-16).
[[nodiscard]] std::string to_utf8(std::wstring_view wide);

// Appends the UTF-8 encoding of the code point `cp` (at most U+10FFFF, not a surrogate).
void append_utf8(std::string& out, char32_t cp);

// UTF-8 to UTF-16. Invalid sequences become U+FFFD. Used where the program builds wide text
// from its own UTF-8 (argument texts handed to a child).
[[nodiscard]] std::wstring to_wide(std::string_view utf8);

// True when `text` contains an unpaired surrogate.
[[nodiscard]] bool has_unpaired_surrogate(std::wstring_view text);

// ASCII-only case-insensitive comparisons, for file extensions and the like. Non-ASCII units
// compare exactly.
[[nodiscard]] wchar_t ascii_lower(wchar_t c);
[[nodiscard]] bool ascii_iequals(std::wstring_view a, std::wstring_view b);
[[nodiscard]] bool ascii_iends_with(std::wstring_view text, std::wstring_view suffix);

// Decimal text of an unsigned number.
[[nodiscard]] std::string decimal(unsigned long long value);

}  // namespace talvex
