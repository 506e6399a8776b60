#include <windows.h>

#include "base/error_text_win.h"
#include "base/scoped_handle_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/text.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using ::testing::AllOf;
using ::testing::Not;
using ::testing::StartsWith;

TEST(ErrorText, OsErrorsReadAsTheSystemMessageAndTheSignedCode) {
  for (DWORD code : {2u, 5u, 87u, 193u}) {
    EXPECT_THAT(error_text(Error::os(code)), test::is_os_error_text(code));
  }
  // No message anywhere: the fallback names the lookup's own error, the code signed as in the
  // suffix.
  EXPECT_THAT(error_text(Error::os(0xE0000001)),
              AllOf(test::is_os_error_text(-536870911),
                    StartsWith("OS Error -536870911 (FormatMessageW() returned error ")));
}

TEST(ErrorText, NtFacilityCodesAreLookedUpInNtdllWithTheBitCleared) {
  // STATUS_ACCESS_DENIED carried with the facility bit. Wine's NTDLL has no message table, so
  // there the fallback with the cleared code is what shows; Windows has the message.
  const std::string text = error_text(Error::os(0xD0000022));
  EXPECT_THAT(text, test::is_os_error_text(-805306334));
  if (test::running_under_wine()) {
    EXPECT_THAT(text, StartsWith("OS Error -1073741790 (FormatMessageW() returned error "));
  } else {
    EXPECT_THAT(text, Not(StartsWith("OS Error")));
  }
}

// Handle owners: closing must not disturb the error a failed call just left, which the texts
// above are made from.
TEST(ScopedHandle, ClosingKeepsTheThreadsLastError) {
  // A handle protected from closing makes CloseHandle fail and set an error of its own: the
  // owner must still leave the caller's error in place.
  const HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  ASSERT_TRUE(
      SetHandleInformation(raw, HANDLE_FLAG_PROTECT_FROM_CLOSE, HANDLE_FLAG_PROTECT_FROM_CLOSE));
  ScopedHandle event(raw);
  SetLastError(ERROR_FILE_NOT_FOUND);
  event.reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(SetHandleInformation(raw, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0));
  EXPECT_TRUE(CloseHandle(raw));
}

}  // namespace
}  // namespace talvex
