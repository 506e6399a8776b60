// Locale-independent Unicode lower-casing.
#pragma once

#include <string>
#include <string_view>

namespace talvex {

// Lower-cases UTF-8 text by the Unicode default (full) lower-case mapping, including mappings
// to several characters and the Final_Sigma context. Meant for valid UTF-8 (as the output of
// to_utf8 always is); a byte that does not start a valid sequence is copied unchanged.
[[nodiscard]] std::string unicode_to_lower(std::string_view utf8);

// The Unicode version the mapping tables were generated from, e.g. "15.0.0".
[[nodiscard]] std::string_view unicode_lower_version();

}  // namespace talvex
