// Whether a path names an existing file.
#pragma once

#include <string>
#include <string_view>

namespace talvex {

// True when `path` names an existing entry that is not a directory, symbolic links followed.
// Relative paths are taken against the current directory. When the entry cannot be opened even
// without access rights (denied, or held by the system), its directory listing decides; when
// its reparse point cannot be followed (ERROR_CANT_ACCESS_FILE), the entry itself decides.
[[nodiscard]] bool is_file(std::wstring_view path);

// The two fallbacks of is_file, for a path already in the form CreateFileW accepts.
// Listed in its directory as a file (never a symbolic link; a wildcard name gives false).
[[nodiscard]] bool is_file_by_directory_entry(const std::wstring& path);
// Opened without following a reparse point: neither a directory nor a symbolic link.
[[nodiscard]] bool is_file_not_following(const std::wstring& path);

}  // namespace talvex
