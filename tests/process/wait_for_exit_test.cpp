#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "base/clock_win.h"
#include "base/scoped_handle_win.h"
#include "process/process_win.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using test::TestDir;

long long ms_between(MonotonicTime from, MonotonicTime to) {
  return std::chrono::duration_cast<milliseconds>(to - from).count();
}

TEST(WaitForExit, PidsThatCannotBeOpenedCountAsGoneWithoutAnySleep) {
  // A poll interval this long makes any sleep before the answer obvious.
  for (DWORD pid : {DWORD{0x7FFFFFF0}, DWORD{0}}) {
    SCOPED_TRACE(pid);
    const MonotonicTime start = monotonic_now();
    EXPECT_TRUE(wait_for_exit(pid, seconds(30), milliseconds(10'000)));
    EXPECT_LT(ms_between(start, monotonic_now()), 2000);
  }
}

TEST(WaitForExit, GivesUpOnceTheLimitHasPassedAndNotBefore) {
  TestDir dir;
  const std::wstring exe = dir.file(L"app.exe");
  ASSERT_TRUE(test::make_stub(exe, "forever"));
  // Started independently of the product's launch code.
  const std::optional<test::Spawned> app = test::spawn(exe, test::quote_arg(exe));
  ASSERT_TRUE(app);
  const test::AtEnd stop([&] { test::kill_all(exe); });

  const MonotonicTime start = monotonic_now();
  EXPECT_FALSE(wait_for_exit(app->pid, seconds(2), milliseconds(500)));
  const long long took = ms_between(start, monotonic_now());
  EXPECT_GE(took, 2000);
  EXPECT_LT(took, 2900);  // a limit of 3 whole seconds would end at 3000
  // Waiting never touches the process.
  EXPECT_EQ(WaitForSingleObject(app->process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

}  // namespace
}  // namespace talvex
