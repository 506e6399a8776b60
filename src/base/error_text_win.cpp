#include <windows.h>

#include "base/error_text_win.h"
#include "base/wide_win.h"

namespace talvex {
namespace {

// Set in an NTSTATUS that has been carried in a Win32 error code; the message is NTDLL's.
constexpr DWORD kNtFacilityBit = 0x10000000;
constexpr DWORD kMessageBufferUnits = 2048;

}  // namespace

std::string os_error_message(std::uint32_t code) {
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
  if (units == 0) return message_lookup_failure_text(looked_up, ::GetLastError());
  return system_message_text(as_utf16(std::wstring_view(buffer, units)), looked_up);
}

std::string error_text(const Error& error) {
  return describe_error(error, error.kind == Error::Kind::kOs ? os_error_message(error.code) : "");
}

}  // namespace talvex
