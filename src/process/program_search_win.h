// Program resolution against the real file system.
#pragma once

#include "process/program_search.h"

namespace talvex {

// The lookup on the real system: the directory of the updater's own executable, the system
// directory, the Windows directory and the absolute entries of PATH; existence by
// GetFileAttributesW.
[[nodiscard]] ProgramLookup system_program_lookup();

}  // namespace talvex
