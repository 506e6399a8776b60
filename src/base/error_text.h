// The texts the log shows for children: exit statuses and errors.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "base/result.h"

namespace talvex {

// "exit code: " + the code in decimal, or "0x" + lower-case hexadecimal when the top bit is set
// (NTSTATUS-style crash codes such as 0xc0000005 read better that way).
[[nodiscard]] std::string exit_status_text(DWORD exit_code);

// The system's message for `code`, trailing white space trimmed. Codes with the NT facility bit
// are looked up in NTDLL's message table. Falls back to "OS Error <code> (FormatMessageW()
// returned error <n>)" or "... returned invalid UTF-16)".
[[nodiscard]] std::string os_error_message(DWORD code);

// The part of os_error_message after FormatMessageW has written `message` for `looked_up_code`:
// the message in UTF-8 with trailing spaces, tabs, form feeds, CRs and LFs trimmed, or the
// "returned invalid UTF-16" fallback when it holds an unpaired surrogate.
[[nodiscard]] std::string system_message_text(std::wstring_view message, DWORD looked_up_code);

// The log's text for an error: os_error_message(code) + " (os error <code>)", or the fixed text
// of an error found before the system was asked.
[[nodiscard]] std::string error_text(const Error& error);

}  // namespace talvex
