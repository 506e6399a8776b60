// The text by which the running-instance check compares executable paths.
#pragma once

#include <string>
#include <string_view>

namespace talvex {

// The form in which two image paths are compared: UTF-8, without a leading "\\?\", lower-cased
// by the locale-independent Unicode default mapping.
[[nodiscard]] std::string normalize_image_path(std::u16string_view path);

}  // namespace talvex
