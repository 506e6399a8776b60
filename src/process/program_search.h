// Turning the program text of a LaunchSpec into the file to start.
//
// Windows' own search (CreateProcessW with no application name, or SearchPathW) looks in the
// current directory, which for an updater is wherever the application happened to be started
// from: a planted "msiexec.exe" there would run instead of the system's. The updater therefore
// searches a fixed list of directories itself and passes the result as the application name.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace talvex {

// The file-system questions program resolution asks, injectable so that its order and its
// ".exe" rules can be checked without real files.
struct ProgramLookup {
  // The directories searched for a bare file name, in order. Asked only for bare names.
  std::function<std::vector<std::u16string>()> search_directories;
  // Whether something exists at `path`.
  std::function<bool(const std::u16string& path)> exists;
};

// The entries of a PATH value: split at ';' except inside double-quoted runs, quotes dropped,
// empty entries skipped.
[[nodiscard]] std::vector<std::u16string> split_path_list(std::u16string_view path_variable);

// The file to start for `program`:
// - empty, or ending in a separator: kNoFileName; containing a NUL: kNulByte;
// - a path (it has a "\" or "/"): used as written when it ends in ".exe", otherwise with ".exe"
//   appended when that exists, else as written; no existence check beyond that, so that a
//   missing file is reported by process creation with the system's error;
// - a bare name: the first existing candidate in lookup.search_directories(), ".exe" added when
//   the name has no dot; kProgramNotFound when there is none.
[[nodiscard]] Result<std::u16string> resolve_program(std::u16string_view program,
                                                     const ProgramLookup& lookup);

// True when CreateProcessW would hand `path` to cmd.exe: its file name ends in ".bat" or ".cmd"
// (ASCII case-insensitive) once Windows has stripped trailing dots and spaces, or once a
// ":stream" suffix is taken off.
[[nodiscard]] bool is_batch_script(std::u16string_view path);

}  // namespace talvex
