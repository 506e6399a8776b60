// The texts the log shows for children: exit statuses and errors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace talvex {

// "exit code: " + the code in decimal, or "0x" + lower-case hexadecimal when the top bit is set
// (NTSTATUS-style crash codes such as 0xc0000005 read better that way).
[[nodiscard]] std::string exit_status_text(std::uint32_t exit_code);

// The part of os_error_message after FormatMessageW has written `message` for `looked_up_code`:
// the message in UTF-8 with trailing spaces, tabs, form feeds, CRs and LFs trimmed, or the
// "returned invalid UTF-16" fallback when it holds an unpaired surrogate.
[[nodiscard]] std::string system_message_text(std::u16string_view message,
                                              std::uint32_t looked_up_code);

// The fallback of os_error_message when FormatMessageW itself failed with `format_error`.
[[nodiscard]] std::string message_lookup_failure_text(std::uint32_t looked_up_code,
                                                      std::uint32_t format_error);

// The log's text for an error, given the system's message for its code (used for kOs only):
// os_message + " (os error <signed code>)", or the fixed text of an error found before the
// system was asked.
[[nodiscard]] std::string describe_error(const Error& error, std::string_view os_message);

}  // namespace talvex
