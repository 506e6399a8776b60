// An application that never exits: the updater gives up after 30 seconds and installs anyway.
#include "update/update_fixture.h"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "base/clock_win.h"
#include "main/run_update.h"

namespace talvex::test {
namespace {

TEST_F(UpdateRun, AnApplicationThatNeverExitsIsWaitedForThirtySeconds) {
  prepare();
  const std::wstring stubborn = root_ + L"\\stubborn.exe";
  ASSERT_TRUE(make_stub(stubborn, "forever\n"));
  auto running = spawn(stubborn, L"stubborn.exe");
  ASSERT_TRUE(running);
  const std::wstring installer = make_installer(L"setup.exe", "exit 1\n");
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(run({L"--installer", installer, L"--app-exe", app_, L"--wait-pid",
                 std::to_wstring(running->pid), L"--log", log_}),
            1u);
  const ULONGLONG took = GetTickCount64() - start;
  TerminateProcess(running->process.get(), 0);
  const auto lines = messages();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2], "main process " + std::to_string(running->pid) +
                          " still running after timeout, proceeding (installer kills it)");
  EXPECT_EQ(lines[3], "running installer: " + to_utf8(installer) + " /UPDATE /S /R");
  EXPECT_GE(took, 29500u);
  EXPECT_LT(took, 36000u);
}

// The application is probed every 500 ms, so the installer starts within a poll interval (and
// the cost of one probe and one launch) of the application's exit. The application is ended at
// four moments a quarter of a second apart relative to the updater's start: the lags then spread
// over about 250 ms with a 500 ms poll, but over about 750 ms with a 1000 ms one, whatever the
// phase of the probes, so the spread tells the interval even when a busy machine delays every
// launch alike.
TEST_F(UpdateRun, TheInstallerStartsWithinAPollOfTheApplicationsExit) {
  prepare();
  const std::wstring installer_times = root_ + L"\\installer-times.txt";
  const std::wstring installer =
      make_installer(L"setup.exe", "times " + to_utf8(installer_times) + "\nexit 1\n");
  const std::wstring old_app = root_ + L"\\old-app.exe";
  ASSERT_TRUE(make_stub(old_app, "forever\n"));
  std::vector<long long> lags;
  for (int phase = 0; phase < 4; ++phase) {
    DeleteFileW(installer_times.c_str());
    kill_all(full_path(app_));
    auto running = spawn(old_app, L"old-app.exe");
    ASSERT_TRUE(running);
    SpawnOptions options;
    options.current_dir = root_;
    const MonotonicTime started = monotonic_now();
    auto updater = spawn(updater_,
                         L"talvex-updater.exe --installer " + quote_arg(installer) +
                             L" --app-exe " + quote_arg(app_) + L" --wait-pid " +
                             std::to_wstring(running->pid) + L" --log " + quote_arg(log_),
                         options);
    ASSERT_TRUE(updater);
    const auto left =
        std::chrono::milliseconds(1000 + 250 * phase) -
        std::chrono::duration_cast<std::chrono::milliseconds>(monotonic_now() - started);
    if (left.count() > 0) sleep_for(left);
    ASSERT_TRUE(TerminateProcess(running->process.get(), 0));
    ASSERT_EQ(wait_exit(updater->process.get(), 60000), 1u);
    FILETIME created, exited, kernel, user;
    ASSERT_TRUE(GetProcessTimes(running->process.get(), &created, &exited, &kernel, &user));
    const auto installer_ran = recorded_times(installer_times);
    ASSERT_EQ(installer_ran.size(), 1u);
    const ULONGLONG exit_units = (ULONGLONG{exited.dwHighDateTime} << 32) | exited.dwLowDateTime;
    lags.push_back(
        (static_cast<long long>(installer_ran[0].first) - static_cast<long long>(exit_units)) /
        10000);
  }
  const auto [fastest, slowest] = std::minmax_element(lags.begin(), lags.end());
  std::cout << "application exit to installer start:";
  for (const long long lag : lags) std::cout << ' ' << lag << " ms";
  std::cout << '\n';
  EXPECT_GE(*fastest, 0);
  EXPECT_LT(*slowest, 500 + 1500) << "the installer started long after the application's exit";
  EXPECT_LT(*slowest - *fastest, 500) << "the application is probed less often than every 500 ms";
}

}  // namespace
}  // namespace talvex::test
