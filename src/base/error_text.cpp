#include "base/error_text.h"

#include <cstdint>

#include "base/text.h"

namespace talvex {
namespace {

// Win32 codes are DWORDs, but HRESULT- and NTSTATUS-style values read as the negative numbers
// their documentation and search engines know them by.
std::string signed_decimal(DWORD code) {
  const auto value = static_cast<std::int32_t>(code);
  if (value >= 0) return decimal(static_cast<unsigned long long>(value));
  std::string text = "-";
  text += decimal(static_cast<unsigned long long>(-static_cast<std::int64_t>(value)));
  return text;
}

std::string hexadecimal(DWORD value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return out;
}

bool is_trailing_space(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\f' || c == L'\r' || c == L'\n';
}

// Set in an NTSTATUS that has been carried in a Win32 error code; the message is NTDLL's.
constexpr DWORD kNtFacilityBit = 0x10000000;
constexpr DWORD kMessageBufferUnits = 2048;

}  // namespace

std::string exit_status_text(DWORD exit_code) {
  if (exit_code & 0x80000000u) return "exit code: 0x" + hexadecimal(exit_code);
  return "exit code: " + decimal(exit_code);
}

std::string system_message_text(std::wstring_view message, DWORD looked_up_code) {
  while (!message.empty() && is_trailing_space(message.back())) message.remove_suffix(1);
  if (has_unpaired_surrogate(message)) {
    return "OS Error " + signed_decimal(looked_up_code) +
           " (FormatMessageW() returned invalid UTF-16)";
  }
  return to_utf8(message);
}

std::string os_error_message(DWORD code) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE source = nullptr;
  DWORD looked_up = code;
  if (code & kNtFacilityBit) {
    if (const HMODULE ntdll = ::GetModuleHandleW(L"NTDLL.DLL")) {
      source = ntdll;
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
      looked_up = code & ~kNtFacilityBit;
    }
  }
  wchar_t buffer[kMessageBufferUnits];
  // Language 0: the user's default language, falling back the way the system does.
  const DWORD units =
      ::FormatMessageW(flags, source, looked_up, 0, buffer, kMessageBufferUnits, nullptr);
  if (units == 0) {
    const DWORD format_error = ::GetLastError();
    return "OS Error " + signed_decimal(looked_up) + " (FormatMessageW() returned error " +
           decimal(format_error) + ")";
  }
  return system_message_text(std::wstring_view(buffer, units), looked_up);
}

std::string error_text(const Error& error) {
  switch (error.kind) {
    case Error::Kind::kOs:
      return os_error_message(error.code) + " (os error " + signed_decimal(error.code) + ")";
    case Error::Kind::kProgramNotFound:
      return "program not found";
    case Error::Kind::kNoFileName:
      return "program path has no file name";
    case Error::Kind::kNulByte:
      return "nul byte found in provided data";
    case Error::Kind::kUnsafeScript:
      return "batch script (.bat or .cmd) not started: cmd.exe would re-parse its arguments";
  }
  return "unknown error";
}

}  // namespace talvex
