// Whether a path names an existing file.
#pragma once

#include <string_view>

namespace talvex {

// True when `path` names an existing entry that is not a directory, symbolic links followed.
// Relative paths are taken against the current directory.
[[nodiscard]] bool is_file(std::wstring_view path);

}  // namespace talvex
