// Handle owners: closing must not disturb the error a failed call just left.
#include "base/scoped_handle_win.h"

#include <gtest/gtest.h>

namespace talvex {
namespace {

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
