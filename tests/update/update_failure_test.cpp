// Whole updates through the real executable, where the installer is missing or fails.
#include <gmock/gmock.h>

#include "update/update_fixture.h"

namespace talvex::test {
namespace {

using ::testing::MatchesRegex;
using Lines = std::vector<std::string>;

TEST_F(UpdateRun, AFailedInstallRefreshesIconsAndRelaunchesAtOnce) {
  prepare();
  const std::wstring installer_times = root_ + L"\\installer-times.txt";
  const std::wstring app_times = root_ + L"\\app-times.txt";
  ASSERT_TRUE(make_stub(app_, "times " + to_utf8(app_times) + "\nforever\n"));
  struct Case {
    const char* exit_code;
    const char* logged;
  };
  const Case cases[] = {{"1", "exit code: 1"},
                        {"3010", "exit code: 3010"},  // "restart required" is not success
                        {"0xC0000005", "exit code: 0xc0000005"}};
  for (const Case& c : cases) {
    DeleteFileW(log_.c_str());
    DeleteFileW(installer_times.c_str());
    DeleteFileW(app_times.c_str());
    kill_all(full_path(app_));
    const std::wstring installer = make_installer(
        L"setup.exe", "times " + to_utf8(installer_times) + "\nexit " + c.exit_code + "\n");
    EXPECT_EQ(run_update_of(installer), 1u) << c.exit_code;
    EXPECT_EQ(messages(),
              (Lines{"=== talvex-updater start ===", options_line(installer),
                     "running installer: " + to_utf8(installer) + " /UPDATE /S /R",
                     std::string("installer exited: ") + c.logged,
                     "ie4uinit -ClearIconCache -> exit code: 0", "ie4uinit -show -> exit code: 0",
                     "install failed; best-effort relaunch of existing app",
                     "relaunched " + to_utf8(app_), "=== talvex-updater done"}))
        << c.exit_code;
    EXPECT_TRUE(app_runs_eventually()) << c.exit_code;
    // No pause after a failure: from the installer's end to the application's start there are
    // only a poll, the two icon runs and the relaunch, well under the 5-second pause even on a
    // busy machine.
    ASSERT_TRUE(eventually([&] { return !recorded_times(app_times).empty(); }, 5000));
    const auto installer_ran = recorded_times(installer_times);
    ASSERT_EQ(installer_ran.size(), 1u);
    const ULONGLONG app_started = recorded_times(app_times).back().first;
    EXPECT_LT(static_cast<long long>(app_started - installer_ran[0].second) / 10000, 4500)
        << c.exit_code;
  }
}

TEST_F(UpdateRun, AMissingInstallerRelaunchesWithoutWaitingAndEndsAtOnce) {
  prepare();
  const std::wstring app_times = root_ + L"\\app-times.txt";
  ASSERT_TRUE(make_stub(app_, "times " + to_utf8(app_times) + "\nforever\n"));
  // The application still runs: the missing-installer path does not wait for it, and starts
  // another instance anyway.
  auto running = spawn(app_, L"app.exe");
  ASSERT_TRUE(running);
  const std::wstring installer = root_ + L"\\no such setup.exe";
  const ULONGLONG start = system_time_units();
  EXPECT_EQ(run({L"--installer", installer, L"--app-exe", app_, L"--wait-pid",
                 std::to_wstring(running->pid), L"--log", log_}),
            1u);
  EXPECT_EQ(messages(),
            (Lines{"=== talvex-updater start ===",
                   options_line(installer, "Some(" + std::to_string(running->pid) + ")"),
                   "ERROR: installer file missing", "relaunched " + to_utf8(app_)}));
  EXPECT_TRUE(eventually([&] { return app_instances() == 2; }, 5000));
  // Started without the 30-second wait for the running one and without the 5-second pause:
  // the time is that of starting the updater and the application.
  ASSERT_TRUE(eventually([&] { return recorded_times(app_times).size() == 2; }, 5000));
  EXPECT_LT(static_cast<long long>(recorded_times(app_times).back().first - start) / 10000, 4500);
}

// A control character in a path cannot add a line to the log: a line feed followed by a forged
// line shows on the options line, visibly, and the run writes exactly the lines of any run
// whose installer is missing.
TEST_F(UpdateRun, AnArgumentCannotForgeALogLine) {
  prepare();
  const std::wstring installer =
      root_ + L"\\setup.exe\n[1000000000] installer exited: exit code: 0";
  EXPECT_EQ(run({L"--installer", installer, L"--app-exe", app_, L"--log", log_}), 1u);
  const std::string text = read_file(log_).value_or("");
  EXPECT_EQ(split_lines(text).size(), 4u) << text;
  EXPECT_EQ(messages(),
            (Lines{"=== talvex-updater start ===",
                   "installer=" + to_utf8(root_) +
                       "\\setup.exe<U+000A>[1000000000] installer exited: exit code: 0 app_exe=" +
                       to_utf8(app_) + " wait_pid=None",
                   "ERROR: installer file missing", "relaunched " + to_utf8(app_)}));
}

// A caller that reads the updater's output to its end (a script, a test runner, a parent
// program) sees the end once the updater exits, although the application it started again
// keeps running: no child holds the caller's pipe beyond the standard streams meant for it.
TEST_F(UpdateRun, ACallersPipeReachesItsEndWhenTheUpdaterExits) {
  prepare();
  const std::wstring streams = root_ + L"\\streams.txt";
  const std::string record_streams = "streams " + to_utf8(streams) + "\n";
  make_icon_utility(record_streams + "exit 0\n");
  ASSERT_TRUE(make_stub(app_, record_streams + "forever\n"));
  const std::wstring installer = make_installer(L"setup.exe", record_streams + "exit 1\n");

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read_raw = nullptr;
  HANDLE write_raw = nullptr;
  ASSERT_TRUE(CreatePipe(&read_raw, &write_raw, &inheritable, 0));
  ScopedHandle read_end(read_raw);
  ScopedHandle write_end(write_raw);
  ASSERT_TRUE(SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0));
  SpawnOptions options;
  options.current_dir = root_;
  options.output = write_end.get();
  auto updater = spawn(updater_,
                       L"talvex-updater.exe --installer " + quote_arg(installer) + L" --app-exe " +
                           quote_arg(app_) + L" --log " + quote_arg(log_),
                       options);
  ASSERT_TRUE(updater);
  write_end.reset();
  EXPECT_EQ(wait_exit(updater->process.get(), 120000), 1u);

  // Read to the end of the pipe; Wine closes an exited process's handles a moment later.
  std::string output;
  const bool ended = eventually(
      [&] {
        DWORD available = 0;
        if (!PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr)) {
          return GetLastError() == ERROR_BROKEN_PIPE;
        }
        std::string chunk(available, '\0');
        DWORD got = 0;
        if (available > 0 && ReadFile(read_end.get(), chunk.data(), available, &got, nullptr)) {
          output.append(chunk, 0, got);
        }
        return false;
      },
      10000);
  EXPECT_TRUE(ended) << "a child of the updater still holds the caller's pipe";
  EXPECT_EQ(output, "");
  EXPECT_EQ(app_instances(), 1u) << "the application should still be running";

  // The streams each child gets: the null device for the installer and the application, the
  // updater's own for the icon utility (its standard input is the null device here).
  ASSERT_TRUE(
      eventually([&] { return split_lines(read_file(streams).value_or("")).size() == 4; }, 5000));
  EXPECT_EQ(split_lines(read_file(streams).value_or("")),
            (Lines{"char char char", "char pipe pipe", "char pipe pipe", "char char char"}));
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
  EXPECT_THAT(lines[3], MatchesRegex("ERROR: failed to spawn installer: .+ \\(os error -?\\d+\\)"));
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
