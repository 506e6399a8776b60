// Finding a running instance of the application by its image path, on real processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "process/process_win.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using test::TestDir;

// ASCII letters of `path` in the opposite case (the test's own directory part is ASCII).
std::wstring swap_ascii_case(std::wstring path) {
  for (wchar_t& c : path) {
    if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')) c ^= 0x20;
  }
  return path;
}

// A stub copy that runs until killed, in a directory with mixed-case and Greek names, seen
// through the process list before it starts, while one and then two instances run, and after.
TEST(RunningApp, MatchesTheAbsolutePathInAnyLetterCaseAndNothingElse) {
  TestDir dir;
  const std::wstring app_dir = dir.file(L"MiXeD Case\\Ωμέγα ΣΟΦΟΣ");
  const std::wstring app = app_dir + L"\\App.exe";
  // The same path in the other letter case throughout: "σοφοΣ" ends in a capital sigma, whose
  // final form matches what "ΣΟΦΟΣ" lower-cases to.
  const std::wstring other_case =
      swap_ascii_case(dir.path()) + L"\\mIxEd cASE\\ΩΜΈΓΑ σοφοΣ\\aPP.eXe";
  ASSERT_TRUE(test::make_dirs(app_dir));
  ASSERT_TRUE(test::make_stub(app, "forever\n"));
  const test::AtEnd stop([&] { test::kill_all(app); });
  auto start = [&] {
    auto spawned = test::spawn(app, test::quote_arg(app));
    ASSERT_TRUE(spawned);
    const DWORD pid = spawned->pid;
    ASSERT_TRUE(test::eventually(
        [&] { return std::ranges::count(test::pids_running(app), pid) > 0; }, 10000));
  };
  EXPECT_FALSE(is_app_running(app));

  start();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(is_app_running(app));
  EXPECT_TRUE(is_app_running(other_case));
  EXPECT_TRUE(is_app_running(L"\\\\?\\" + other_case));
  EXPECT_FALSE(is_app_running(L"App.exe"));
  EXPECT_FALSE(is_app_running(L"MiXeD Case\\Ωμέγα ΣΟΦΟΣ\\App.exe"));
  // The "\\?\" form is not normalised any further.
  EXPECT_FALSE(is_app_running(L"\\\\?\\" + dir.path() + L"\\MiXeD Case\\.\\Ωμέγα ΣΟΦΟΣ\\App.exe"));
  EXPECT_FALSE(is_app_running(app_dir + L"\\App2.exe"));
  EXPECT_FALSE(is_app_running(app_dir));
  EXPECT_FALSE(is_app_running(L""));
  // A path that differs only by a medial where the image has a final sigma names another file.
  EXPECT_FALSE(is_app_running(dir.file(L"MiXeD Case\\Ωμέγα ΣΟΦΟσ\\App.exe")));

  start();
  ASSERT_EQ(test::pids_running(app).size(), 2u);
  EXPECT_TRUE(is_app_running(other_case));

  test::kill_all(app);
  // An ended process can linger in the list for a moment (Wine keeps its pid openable briefly).
  EXPECT_TRUE(test::eventually([&] { return !is_app_running(app); }, 5000));
}

// Started by long_image_path.sh, which runs an application from a directory so deep that its
// image path does not fit the 1024-unit buffer (Wine cannot create such a process itself) and
// passes its path in TALVEX_LONG_IMAGE.
TEST(LongImagePath, ProcessWhoseImagePathDoesNotFitIsSkipped) {
  const wchar_t* image = _wgetenv(L"TALVEX_LONG_IMAGE");
  if (image == nullptr) GTEST_SKIP() << "runs under long_image_path.sh";
  const std::wstring app = image;
  ASSERT_GE(app.size(), 1024u);
  ASSERT_TRUE(test::eventually([&] { return !test::pids_running(app).empty(); }, 20000))
      << "the long-path application did not start";
  EXPECT_FALSE(is_app_running(app));
  EXPECT_FALSE(is_app_running(L"\\\\?\\" + app));
  test::kill_all(app);
}

}  // namespace
}  // namespace talvex
