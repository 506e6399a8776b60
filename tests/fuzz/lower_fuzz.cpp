// Lower-casing: valid UTF-8 in gives valid UTF-8 out, and lower-casing again changes nothing
// (the default lower-case mapping is stable: no lower-cased text has a further mapping, and
// the only context-dependent rule, the final sigma, applies to a capital sigma alone). Invalid
// bytes must never be misread.
#include <cstddef>
#include <cstdint>

#include "base/text.h"
#include "base/unicode_lower.h"
#include "fuzz/fuzz_input.h"

using talvex::fuzz::require;

namespace {

void check_valid(const std::string& text) {
  const std::string lower = talvex::unicode_to_lower(text);
  require(talvex::fuzz::is_valid_utf8(lower));
  require(talvex::unicode_to_lower(lower) == lower);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string lowered = talvex::unicode_to_lower(bytes);
  if (talvex::fuzz::is_valid_utf8(bytes)) check_valid(bytes);
  // Every byte that starts no valid sequence is copied, so the output is never empty for
  // non-empty input.
  require(bytes.empty() == lowered.empty());
  // The same bytes read as UTF-16, the way file names reach the comparison.
  check_valid(talvex::to_utf8(talvex::fuzz::utf16_units(data, size)));
  return 0;
}
