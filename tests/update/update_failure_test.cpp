// Whole updates through the real executable, where the installer is missing or fails.
#include "update/update_fixture.h"

namespace talvex::test {
namespace {

using Lines = std::vector<std::string>;

TEST_F(UpdateRun, AFailedInstallRefreshesIconsAndRelaunchesAtOnce) {
  prepare();
  struct Case {
    const char* exit_code;
    const char* logged;
  };
  const Case cases[] = {{"1", "exit code: 1"},
                        {"3010", "exit code: 3010"},  // "restart required" is not success
                        {"0xC0000005", "exit code: 0xc0000005"}};
  for (const Case& c : cases) {
    DeleteFileW(log_.c_str());
    kill_all(full_path(app_));
    const std::wstring installer =
        make_installer(L"setup.exe", std::string("exit ") + c.exit_code + "\n");
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(run_update_of(installer), 1u) << c.exit_code;
    // No pause after a failure.
    EXPECT_LT(GetTickCount64() - start, 4500u) << c.exit_code;
    EXPECT_EQ(messages(),
              (Lines{"=== talvex-updater start ===", options_line(installer),
                     "running installer: " + to_utf8(installer) + " /UPDATE /S /R",
                     std::string("installer exited: ") + c.logged,
                     "ie4uinit -ClearIconCache -> exit code: 0", "ie4uinit -show -> exit code: 0",
                     "install failed; best-effort relaunch of existing app",
                     "relaunched " + to_utf8(app_), "=== talvex-updater done"}))
        << c.exit_code;
    EXPECT_TRUE(app_runs_eventually()) << c.exit_code;
  }
}

TEST_F(UpdateRun, AMissingInstallerRelaunchesWithoutWaitingAndEndsAtOnce) {
  prepare();
  // The application still runs: the missing-installer path does not wait for it, and starts
  // another instance anyway.
  auto running = spawn(app_, L"app.exe");
  ASSERT_TRUE(running);
  const std::wstring installer = root_ + L"\\no such setup.exe";
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(run({L"--installer", installer, L"--app-exe", app_, L"--wait-pid",
                 std::to_wstring(running->pid), L"--log", log_}),
            1u);
  EXPECT_LT(GetTickCount64() - start, 4500u);
  EXPECT_EQ(messages(),
            (Lines{"=== talvex-updater start ===",
                   options_line(installer, "Some(" + std::to_string(running->pid) + ")"),
                   "ERROR: installer file missing", "relaunched " + to_utf8(app_)}));
  EXPECT_TRUE(eventually([&] { return app_instances() == 2; }, 5000));
}

TEST_F(UpdateRun, AnInstallerThatCannotBeStartedIsAFailedInstall) {
  prepare();
  // A directory passes no existence check; a file that is not a program passes it but cannot
  // be started.
  const std::wstring not_a_program = root_ + L"\\setup.exe";
  ASSERT_TRUE(write_file(not_a_program, "MZ but not really a program"));
  EXPECT_EQ(run_update_of(not_a_program), 1u);
  const auto lines = messages();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[3].rfind("ERROR: failed to spawn installer: ", 0), 0u) << lines[3];
  EXPECT_NE(lines[3].find(" (os error "), std::string::npos) << lines[3];
  EXPECT_EQ(Lines(lines.begin() + 4, lines.begin() + 6), icon_lines());
  EXPECT_EQ(lines[6], "install failed; best-effort relaunch of existing app");
  EXPECT_EQ(lines[7], "relaunched " + to_utf8(app_));

  DeleteFileW(log_.c_str());
  EXPECT_EQ(run_update_of(root_), 1u);
  EXPECT_EQ(messages()[2], "ERROR: installer file missing");
}

TEST_F(UpdateRun, AMissingApplicationIsReportedAndTheStatusKept) {
  prepare();
  const std::wstring installer = make_installer(L"setup.exe", "exit 0\n");
  const std::wstring missing_app = root_ + L"\\gone.exe";
  EXPECT_EQ(run({L"--installer", installer, L"--app-exe", missing_app, L"--log", log_}), 0u);
  const auto lines = messages();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(Lines(lines.begin() + 4, lines.begin() + 6), icon_lines());
  EXPECT_EQ(lines[6], "ERROR: app exe missing, cannot relaunch");
  EXPECT_EQ(lines[7], "=== talvex-updater done");
}

}  // namespace
}  // namespace talvex::test
