// Whole updates through the real executable, where the installer succeeds.
#include "update/update_fixture.h"

namespace talvex::test {
namespace {

using Lines = std::vector<std::string>;

TEST_F(UpdateRun, ASuccessfulInstallRelaunchesTheApplicationWhenTheInstallerDidNot) {
  prepare();
  const std::wstring installer = make_installer(L"setup.exe", "exit 0\n");
  EXPECT_EQ(run_update_of(installer), 0u);
  const std::string inst = to_utf8(installer);
  EXPECT_EQ(
      messages(),
      (Lines{"=== talvex-updater start ===", options_line(installer),
             "running installer: " + inst + " /UPDATE /S /R", "installer exited: exit code: 0",
             "ie4uinit -ClearIconCache -> exit code: 0", "ie4uinit -show -> exit code: 0",
             "relaunched " + to_utf8(app_), "=== talvex-updater done"}));
  // The installer got its three switches, its own path in quotes.
  EXPECT_EQ(read_file(record_), "\"" + inst + "\" /UPDATE /S /R\n");
  EXPECT_TRUE(app_runs_eventually());
  EXPECT_EQ(app_instances(), 1u);
}

// An installer's "/R" may restart the application through a launcher of its own, which starts it
// a moment after the installer has exited: the check for a running instance comes after the
// pause that allows for this, so it finds the one instance and starts no second.
TEST_F(UpdateRun, AnInstallerThatRestartsTheApplicationIsNotSecondGuessed) {
  prepare();
  const std::wstring launcher = root_ + L"\\launcher.exe";
  ASSERT_TRUE(make_stub(launcher, "sleep 2000\nstart " + to_utf8(app_) + "\n"));
  const std::wstring installer =
      make_installer(L"setup.exe", "start " + to_utf8(launcher) + "\nexit 0\n");
  EXPECT_EQ(run_update_of(installer), 0u);
  EXPECT_EQ(messages(), (Lines{"=== talvex-updater start ===", options_line(installer),
                               "running installer: " + to_utf8(installer) + " /UPDATE /S /R",
                               "installer exited: exit code: 0", icon_lines()[0], icon_lines()[1],
                               "app already running (installer /R relaunched), skip",
                               "=== talvex-updater done"}));
  EXPECT_EQ(app_instances(), 1u);
}

TEST_F(UpdateRun, PathsWithSpacesAndNonAsciiTextReachTheLogAsUtf8) {
  prepare(L"Programme \u0394\u03bf\u03ba\u03b9\u03bc\u03ae \u65e5\u672c \U0001F680");
  make_icon_utility("exit 3\n");
  const std::wstring installer = make_installer(L"Setup \u00c9t\u00e9 v2.exe", "exit 0\n");
  EXPECT_EQ(run_update_of(installer), 0u);
  const auto lines = messages();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[1], options_line(installer));
  EXPECT_EQ(lines[2], "running installer: " + to_utf8(installer) + " /UPDATE /S /R");
  // A failing icon utility is logged and changes nothing.
  EXPECT_EQ(lines[4], "ie4uinit -ClearIconCache -> exit code: 3");
  EXPECT_EQ(lines[5], "ie4uinit -show -> exit code: 3");
  EXPECT_EQ(lines[6], "relaunched " + to_utf8(app_));
  EXPECT_TRUE(app_runs_eventually());
}

TEST_F(UpdateRun, TheApplicationIsWaitedForBeforeTheInstallerRuns) {
  prepare();
  // The running application exits about three seconds after the updater starts.
  const std::wstring old_app = root_ + L"\\old-app.exe";
  ASSERT_TRUE(make_stub(old_app, "sleep 3000\nexit 0\n"));
  auto running = spawn(old_app, L"old-app.exe");
  ASSERT_TRUE(running);
  const std::wstring installer = make_installer(L"setup.exe", "exit 0\n");
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(run({L"--installer", installer, L"--app-exe", app_, L"--wait-pid",
                 std::to_wstring(running->pid), L"--log", log_}),
            0u);
  const ULONGLONG took = GetTickCount64() - start;
  const auto lines = messages();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[1], options_line(installer, "Some(" + std::to_string(running->pid) + ")"));
  EXPECT_EQ(lines[2], "main process " + std::to_string(running->pid) + " exited");
  EXPECT_EQ(lines[3], "running installer: " + to_utf8(installer) + " /UPDATE /S /R");
  // About 3 s of waiting and the 5 s pause; far from the 30 s bound.
  EXPECT_GE(took, 7500u);
  EXPECT_LT(took, 20000u);
}

}  // namespace
}  // namespace talvex::test
