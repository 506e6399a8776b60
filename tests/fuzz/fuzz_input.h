// Shared by the fuzz targets: turning the fuzzer's bytes into the inputs the core takes, and the
// properties every output must have.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace talvex::fuzz {

// Each pair of bytes is one UTF-16 code unit (little-endian), whatever the width of wchar_t:
// the core reads wide text as 16-bit units on every host. An odd last byte is dropped.
inline std::wstring utf16_units(const std::uint8_t* data, std::size_t size) {
  std::wstring units;
  units.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  }
  return units;
}

// Strict UTF-8: shortest forms only, no encoded surrogates, nothing beyond U+10FFFF.
inline bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, cp = lead & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto cont = static_cast<unsigned char>(text[i + k]);
      if ((cont & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cont & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// A failed property: abort, so the fuzzer keeps the input and reports it.
inline void require(bool holds) {
  if (!holds) std::abort();
}

}  // namespace talvex::fuzz
