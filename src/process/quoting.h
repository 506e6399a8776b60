// Building a child's command line so that its C runtime splits it back into exactly the
// arguments the updater meant.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/result.h"

namespace talvex {

// Appends one argument as the Microsoft C runtime's parser undoes it: quoted when empty or when
// it holds a space or a tab; a double quote after n backslashes written as 2n+1 backslashes and
// the quote; in a quoted argument, a trailing run of backslashes doubled before the closing
// quote. Other backslashes are copied unchanged. The argument must not contain a NUL.
void append_quoted_argument(std::u16string& command_line, std::u16string_view argument);

// The command line for `program` (written in double quotes exactly as the caller gave it, so the
// child's argv[0] is that text) followed by each argument, space-separated. The result's c_str()
// is the NUL-terminated, writable buffer CreateProcessW wants. Fails with kNulByte when the
// program or any argument contains a NUL: the system would cut the line short there.
[[nodiscard]] Result<std::u16string> build_command_line(std::u16string_view program,
                                                        std::span<const std::u16string> arguments);

}  // namespace talvex
