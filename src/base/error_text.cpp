#include "base/error_text.h"

#include "base/text.h"

namespace talvex {
namespace {

// Win32 codes are DWORDs, but HRESULT- and NTSTATUS-style values read as the negative numbers
// their documentation and search engines know them by.
std::string signed_decimal(std::uint32_t code) {
  const auto value = static_cast<std::int32_t>(code);
  if (value >= 0) return decimal(static_cast<unsigned long long>(value));
  std::string text = "-";
  text += decimal(static_cast<unsigned long long>(-static_cast<std::int64_t>(value)));
  return text;
}

std::string hexadecimal(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return out;
}

bool is_trailing_space(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\f' || c == u'\r' || c == u'\n';
}

}  // namespace

std::string exit_status_text(std::uint32_t exit_code) {
  if (exit_code & 0x80000000u) return "exit code: 0x" + hexadecimal(exit_code);
  return "exit code: " + decimal(exit_code);
}

std::string system_message_text(std::u16string_view message, std::uint32_t looked_up_code) {
  while (!message.empty() && is_trailing_space(message.back())) message.remove_suffix(1);
  if (has_unpaired_surrogate(message)) {
    return "OS Error " + signed_decimal(looked_up_code) +
           " (FormatMessageW() returned invalid UTF-16)";
  }
  return to_utf8(message);
}

std::string message_lookup_failure_text(std::uint32_t looked_up_code, std::uint32_t format_error) {
  return "OS Error " + signed_decimal(looked_up_code) + " (FormatMessageW() returned error " +
         decimal(format_error) + ")";
}

std::string describe_error(const Error& error, std::string_view os_message) {
  switch (error.kind) {  // LCOV_EXCL_BR_LINE every Error holds one of the kinds below
    case Error::Kind::kOs:
      return std::string(os_message) + " (os error " + signed_decimal(error.code) + ")";
    case Error::Kind::kProgramNotFound:
      return "program not found";
    case Error::Kind::kNoFileName:
      return "program path has no file name";
    case Error::Kind::kNulByte:
      return "nul byte found in provided data";
    case Error::Kind::kUnsafeScript:
      return "batch script (.bat or .cmd) not started: cmd.exe would re-parse its arguments";
  }
  return "unknown error";  // LCOV_EXCL_LINE every Error holds one of the kinds above
}

}  // namespace talvex
