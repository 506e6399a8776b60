// Finding a running instance of the application by its image path, on real processes.
#include <gtest/gtest.h>

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
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - 32);
    } else if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c + 32);
    }
  }
  return path;
}

// A stub copy that runs until killed, in a directory with mixed-case and Greek names.
class RunningApp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::make_dirs(app_dir_));
    ASSERT_TRUE(test::make_stub(app_, "forever\n"));
  }
  void TearDown() override { test::kill_all(app_); }

  void start() {
    auto spawned = test::spawn(app_, test::quote_arg(app_));
    ASSERT_TRUE(spawned);
    const DWORD pid = spawned->pid;
    ASSERT_TRUE(test::eventually(
        [&] {
          for (DWORD running : test::pids_running(app_)) {
            if (running == pid) return true;
          }
          return false;
        },
        10000));
  }

  TestDir dir_;
  const std::wstring app_dir_ = dir_.file(L"MiXeD Case\\Ωμέγα ΣΟΦΟΣ");
  const std::wstring app_ = app_dir_ + L"\\App.exe";
  // The same path in the other letter case throughout: "σοφοΣ" ends in a capital sigma, whose
  // final form matches what "ΣΟΦΟΣ" lower-cases to.
  const std::wstring app_other_case_ =
      swap_ascii_case(dir_.path()) + L"\\mIxEd cASE\\ΩΜΈΓΑ σοφοΣ\\aPP.eXe";
};

TEST_F(RunningApp, MatchesTheAbsolutePathInAnyLetterCaseAndWithTheVerbatimPrefix) {
  start();
  EXPECT_TRUE(is_app_running(app_));
  EXPECT_TRUE(is_app_running(app_other_case_));
  EXPECT_TRUE(is_app_running(L"\\\\?\\" + app_other_case_));
}

TEST_F(RunningApp, NeverMatchesARelativePathOrAnotherFile) {
  start();
  EXPECT_FALSE(is_app_running(L"App.exe"));
  EXPECT_FALSE(is_app_running(L"MiXeD Case\\Ωμέγα ΣΟΦΟΣ\\App.exe"));
  // The "\\?\" form is not normalised any further.
  EXPECT_FALSE(is_app_running(L"\\\\?\\" + dir_.path() + L"\\MiXeD Case\\.\\Ωμέγα ΣΟΦΟΣ\\App.exe"));
  EXPECT_FALSE(is_app_running(app_dir_ + L"\\App2.exe"));
  EXPECT_FALSE(is_app_running(app_dir_));
  EXPECT_FALSE(is_app_running(L""));
  // A path that differs only by a medial where the image has a final sigma names another file.
  EXPECT_FALSE(is_app_running(dir_.file(L"MiXeD Case\\Ωμέγα ΣΟΦΟσ\\App.exe")));
}

TEST_F(RunningApp, FindsEitherOfTwoInstances) {
  start();
  start();
  ASSERT_EQ(test::pids_running(app_).size(), 2u);
  EXPECT_TRUE(is_app_running(app_other_case_));
}

TEST_F(RunningApp, FindsNothingWhenTheAppDoesNotRunOrHasEnded) {
  EXPECT_FALSE(is_app_running(app_));
  start();
  ASSERT_TRUE(is_app_running(app_));
  test::kill_all(app_);
  // An ended process can linger in the list for a moment (Wine keeps its pid openable briefly).
  EXPECT_TRUE(test::eventually([&] { return !is_app_running(app_); }, 5000));
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
