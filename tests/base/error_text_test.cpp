#include <windows.h>

#include "base/error_text.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "support/test_support.h"

namespace talvex {
namespace {

// What FormatMessageW says for `code` from `module` (nullptr: the system table), or the
// fallback naming its error; computed here independently of the product's code.
std::string expected_message(DWORD flags, HMODULE module, DWORD code, const std::string& shown) {
  wchar_t buffer[2048];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | flags,
                                 module, code, 0, buffer, 2048, nullptr);
  if (n == 0) {
    return "OS Error " + shown + " (FormatMessageW() returned error " +
           std::to_string(GetLastError()) + ")";
  }
  std::wstring text(buffer, n);
  while (!text.empty() && std::wstring(L" \t\f\r\n").find(text.back()) != std::wstring::npos) {
    text.pop_back();
  }
  return to_utf8(text);
}

TEST(ErrorText, OsErrorsReadAsTheSystemMessageAndTheSignedCode) {
  for (DWORD code : {2u, 5u, 87u, 193u}) {
    EXPECT_FALSE(test::system_message(code).empty());
    EXPECT_EQ(error_text(Error::os(code)),
              test::system_message(code) + " (os error " + std::to_string(code) + ")");
  }
  // No message anywhere: the fallback, with the code signed as in the suffix.
  EXPECT_EQ(error_text(Error::os(0xE0000001)),
            expected_message(0, nullptr, 0xE0000001, "-536870911") + " (os error -536870911)");
}

TEST(ErrorText, NtFacilityCodesAreLookedUpInNtdllWithTheBitCleared) {
  // STATUS_ACCESS_DENIED carried with the facility bit. Wine's NTDLL has no message table, so
  // there the fallback with the cleared code is what shows.
  const HMODULE ntdll = GetModuleHandleW(L"NTDLL.DLL");
  ASSERT_NE(ntdll, nullptr);
  EXPECT_EQ(error_text(Error::os(0xD0000022)),
            expected_message(FORMAT_MESSAGE_FROM_HMODULE, ntdll, 0xC0000022, "-1073741790") +
                " (os error -805306334)");
}

}  // namespace
}  // namespace talvex
