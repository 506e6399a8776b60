// Shared by the fuzz targets: turning the fuzzer's bytes into the inputs the core takes, and the
// properties every output must have.
#pragma once

#include <iconv.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace talvex::fuzz {

// Each pair of bytes is one UTF-16 code unit (little-endian). An odd last byte is dropped.
inline std::u16string utf16_units(const std::uint8_t* data, std::size_t size) {
  std::u16string units;
  units.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return units;
}

// The C library's converter, an implementation independent of the product's, as the oracle
// for UTF-8 and UTF-16: nullopt when `text` is not valid in the `from` encoding (glibc's is
// strict: no overlong forms, no encoded or unpaired surrogates, nothing beyond U+10FFFF).
inline std::optional<std::string> convert(const char* to, const char* from, std::string_view text) {
  const iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) std::abort();
  std::string in(text);
  std::string out(text.size() * 2 + 4, '\0');
  char* in_next = in.data();
  std::size_t in_left = in.size();
  char* out_next = out.data();
  std::size_t out_left = out.size();
  const std::size_t done = iconv(cd, &in_next, &in_left, &out_next, &out_left);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1)) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

// UTF-8 to UTF-16 by the oracle.
inline std::optional<std::u16string> oracle_utf16(std::string_view utf8) {
  const std::optional<std::string> bytes = convert("UTF-16LE", "UTF-8", utf8);
  if (!bytes) return std::nullopt;
  return utf16_units(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size());
}

// UTF-16 to UTF-8 by the oracle. The fuzzing hosts are little-endian, so the units' own bytes
// are UTF-16LE.
static_assert(std::endian::native == std::endian::little);
inline std::optional<std::string> oracle_utf8(std::u16string_view units) {
  return convert("UTF-8", "UTF-16LE",
                 std::string_view(reinterpret_cast<const char*>(units.data()), units.size() * 2));
}

inline bool is_valid_utf8(std::string_view text) { return oracle_utf16(text).has_value(); }

// Any bytes to UTF-16 by the oracle, each byte that starts no valid character replaced by
// U+FFFD: at every position the one length (UTF-8 is prefix-free) that the C library takes as
// a whole character, or none.
inline std::u16string oracle_utf16_replacing(std::string_view bytes) {
  std::u16string out;
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t length = 1;
    std::optional<std::u16string> one;
    for (; length <= 4 && i + length <= bytes.size() && !one; ++length) {
      one = oracle_utf16(bytes.substr(i, length));
    }
    out += one ? *one : u"\uFFFD";
    i += one ? length - 1 : 1;
  }
  return out;
}

// A failed property: abort, so the fuzzer keeps the input and reports it.
inline void require(bool holds) {
  if (!holds) std::abort();
}

}  // namespace talvex::fuzz
