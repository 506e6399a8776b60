// Locale-independent Unicode lower-casing.
#pragma once

#include <string>
#include <string_view>

namespace talvex {

// Lower-cases UTF-8 text by the Unicode default (full) lower-case mapping, including mappings
// to several characters and the Final_Sigma context. The input must be valid UTF-8 (as the
// output of to_utf8 always is).
[[nodiscard]] std::string unicode_to_lower(std::string_view utf8);

}  // namespace talvex
