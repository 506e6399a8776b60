// UTF-16 to UTF-8 and back: always valid UTF-8, every unpaired surrogate (and nothing else)
// replaced by U+FFFD, the rest encoded as the C library encodes it; and UTF-8 of any bytes gives
// the C library's UTF-16, with one U+FFFD for each byte that starts no valid character.
#include <cstddef>
#include <cstdint>

#include "base/text.h"
#include "fuzz/fuzz_input.h"

using talvex::fuzz::require;

namespace {

bool is_high(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// `units` with each unpaired surrogate replaced, computed apart from the code under test.
std::u16string with_unpaired_replaced(const std::u16string& units) {
  std::u16string out = units;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (is_high(out[i]) && i + 1 < out.size() && is_low(out[i + 1])) {
      ++i;
    } else if (is_high(out[i]) || is_low(out[i])) {
      out[i] = u'\uFFFD';
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string units = talvex::fuzz::utf16_units(data, size);
  const std::string utf8 = talvex::to_utf8(units);
  require(talvex::fuzz::is_valid_utf8(utf8));
  const std::u16string expected = with_unpaired_replaced(units);
  require(talvex::to_utf16(utf8) == expected);
  require(talvex::has_unpaired_surrogate(units) == (expected != units));
  require(talvex::fuzz::oracle_utf8(expected) == utf8);

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = talvex::to_utf16(bytes);
  require(wide == talvex::fuzz::oracle_utf16_replacing(bytes));
  require(!talvex::has_unpaired_surrogate(wide));
  const std::string back = talvex::to_utf8(wide);
  require(talvex::fuzz::is_valid_utf8(back));
  if (talvex::fuzz::is_valid_utf8(bytes)) require(back == bytes);
  return 0;
}
