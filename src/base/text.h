// Text conversions between the UTF-16 of Windows (held as char16_t on every host) and the UTF-8
// the log and the comparisons use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace talvex {

// UTF-16 to UTF-8. Each unpaired surrogate becomes U+FFFD, so every UTF-16 string has a text
// form (Windows file names need not be valid UTF-16).
[[nodiscard]] std::string to_utf8(std::u16string_view utf16);

// Appends the UTF-8 encoding of the code point `cp` (at most U+10FFFF, not a surrogate).
void append_utf8(std::string& out, char32_t cp);

// What decode_utf8_at gives for a byte that does not start a valid sequence.
inline constexpr char32_t kInvalidUtf8 = 0xFFFFFFFF;

// One character read from UTF-8 text: its code point (or kInvalidUtf8) and how many bytes it
// took (1 for an invalid byte, so a scan never loses sync).
struct Utf8Char {
  char32_t cp;
  std::size_t length;
};

// Decodes the sequence starting at `text[i]` (i < text.size()) strictly: shortest forms only,
// no encoded surrogates, nothing beyond U+10FFFF.
[[nodiscard]] Utf8Char decode_utf8_at(std::string_view text, std::size_t i);

// UTF-8 to UTF-16. Invalid sequences become U+FFFD. Used where the program builds UTF-16 text
// from its own UTF-8 (argument texts handed to a child).
[[nodiscard]] std::u16string to_utf16(std::string_view utf8);

// True when `text` contains an unpaired surrogate.
[[nodiscard]] bool has_unpaired_surrogate(std::u16string_view text);

// ASCII-only case-insensitive comparisons, for file extensions and the like. Non-ASCII units
// compare exactly.
[[nodiscard]] char16_t ascii_lower(char16_t c);
[[nodiscard]] bool ascii_iequals(std::u16string_view a, std::u16string_view b);
[[nodiscard]] bool ascii_iends_with(std::u16string_view text, std::u16string_view suffix);

// Decimal text of an unsigned number.
[[nodiscard]] std::string decimal(unsigned long long value);

}  // namespace talvex
