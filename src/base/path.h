// Windows path text: the rules the system applies to a path string, kept free of any system
// call so they can be checked on any host. The calls themselves live in path_win.h.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace talvex {

// MAX_PATH: an absolute path of this many units or more reaches CreateFileW and CreateProcessW
// only in the verbatim form (the program carries no long-path manifest).
inline constexpr std::size_t kMaxPathUnits = 260;

// "\\?\": the rest of the path is passed to the file system as it is, with no length limit and
// no normalisation ("/" is then an ordinary character).
inline constexpr std::u16string_view kVerbatimPrefix = u"\\\\?\\";

// "\" and "/" both separate components in the Win32 form of a path.
[[nodiscard]] bool is_path_separator(char16_t c);

// True for the "\\?\" and "\\.\" forms, which the system does not normalise and which are
// therefore passed on unchanged.
[[nodiscard]] bool has_verbatim_or_device_prefix(std::u16string_view path);

// True for "C:\..." and for "\\..." (UNC, "\\?\" and "\\.\" forms), either slash. Anything else
// (".", "bin", "\bin", "C:bin") depends on the current directory or drive.
[[nodiscard]] bool is_absolute_path(std::u16string_view path);

// `directory` and `name` with one "\" between them (none added when `directory` is empty or
// already ends in a separator).
[[nodiscard]] std::u16string join_path(std::u16string_view directory, std::u16string_view name);

// What follows the last "\" or "/"; the whole path when there is none, empty when the path ends
// in a separator.
[[nodiscard]] std::u16string_view last_component(std::u16string_view path);

// The "\\?\" form of an absolute path (as GetFullPathNameW returns it), through which paths of
// kMaxPathUnits units and more reach the system: "C:\x" -> "\\?\C:\x", "\\server\share\x" ->
// "\\?\UNC\server\share\x". Paths already in a "\\?\" or "\\.\" form, and anything that is not
// absolute, come back unchanged.
[[nodiscard]] std::u16string long_path_form(std::u16string_view full_path);

// The text to hand CreateFileW or CreateProcessW for `given`, whose absolute form is
// `full_path`: `given` itself while the absolute form stays under kMaxPathUnits (or `given`
// already has a "\\?\" or "\\.\" prefix), else the long-path form of `full_path`. The length
// that matters is the absolute one: a short relative path in a deep current directory needs the
// long form too.
[[nodiscard]] std::u16string openable_path(std::u16string_view given,
                                           std::u16string_view full_path);

// The directory part of `path` (trailing separators dropped), or nullopt for a bare name or a
// root.
[[nodiscard]] std::optional<std::u16string> parent_dir(std::u16string_view path);

}  // namespace talvex
