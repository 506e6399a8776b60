#include <windows.h>

#include "base/result.h"

namespace talvex {

// The core carries a Windows error as std::uint32_t, DWORD's definition.
static_assert(sizeof(DWORD) == sizeof(std::uint32_t));

Error Error::last_os_error() { return Error{Kind::kOs, ::GetLastError()}; }

}  // namespace talvex
