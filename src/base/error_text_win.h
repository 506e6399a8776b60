// Error texts that need the system's message table.
#pragma once

#include <cstdint>
#include <string>

#include "base/error_text.h"

namespace talvex {

// The system's message for `code`, trailing white space trimmed. Codes with the NT facility bit
// are looked up in NTDLL's message table. Falls back to "OS Error <code> (FormatMessageW()
// returned error <n>)" or "... returned invalid UTF-16)".
[[nodiscard]] std::string os_error_message(std::uint32_t code);

// describe_error with os_error_message(error.code).
[[nodiscard]] std::string error_text(const Error& error);

}  // namespace talvex
