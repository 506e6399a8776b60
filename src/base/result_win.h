// Errors as values, at the Win32 boundary.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/result.h"

namespace talvex {

// The core carries a Windows error as std::uint32_t, DWORD's definition.
static_assert(sizeof(DWORD) == sizeof(std::uint32_t));

// Captures GetLastError() at once: call this before any cleanup that could overwrite it.
[[nodiscard]] inline Error last_os_error() { return Error::os(::GetLastError()); }

}  // namespace talvex
