// The wait for the running application through the real executable: how soon its exit is seen,
// and the 30 seconds after which the updater gives up on it and installs anyway.
#include "update/update_fixture.h"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "base/clock_win.h"

namespace talvex::test {
namespace {

// The application is probed every 500 ms, so the installer starts within a poll interval (and
// the cost of one probe and one launch) of the application's exit. The application is ended at
// four moments a quarter of a second apart relative to the updater's start: the lags then spread
// over about 250 ms with a 500 ms poll, but over about 750 ms with a 1000 ms one, whatever the
// phase of the probes, so the spread tells the interval even when a busy machine delays every
// launch alike. In a fifth run the application never exits.
TEST_F(UpdateRun, TheInstallerStartsWithinAPollOfTheApplicationsExitOrAfterThirtySeconds) {
  prepare();
  const std::wstring installer_times = root_ + L"\\installer-times.txt";
  const std::wstring installer =
      make_installer(L"setup.exe", "times " + to_utf8(installer_times) + "\nexit 1\n");
  const std::wstring old_app = root_ + L"\\old-app.exe";
  ASSERT_TRUE(make_stub(old_app, "forever\n"));
  std::vector<long long> lags;
  for (int phase = 0; phase < 5; ++phase) {
    const bool never_exits = phase == 4;
    DeleteFileW(installer_times.c_str());
    DeleteFileW(log_.c_str());
    kill_all(full_path(app_));
    auto running = spawn(old_app, L"old-app.exe");
    ASSERT_TRUE(running);
    const MonotonicTime started = monotonic_now();
    std::vector<std::wstring> args = args_for(installer);
    args.insert(args.end(), {L"--wait-pid", std::to_wstring(running->pid)});
    auto updater = start_updater(args);
    ASSERT_TRUE(updater);
    if (!never_exits) {
      const auto left =
          std::chrono::milliseconds(1000 + 250 * phase) -
          std::chrono::duration_cast<std::chrono::milliseconds>(monotonic_now() - started);
      if (left.count() > 0) sleep_for(left);
      ASSERT_TRUE(TerminateProcess(running->process.get(), 0));
    }
    ASSERT_EQ(finish_updater(updater), 1u);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(monotonic_now() - started).count();
    const auto lines = messages();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2],
              "main process " + std::to_string(running->pid) +
                  (never_exits ? " still running after timeout, proceeding (installer kills it)"
                               : " exited"));
    EXPECT_EQ(lines[3], "running installer: " + to_utf8(installer) + " /UPDATE /S /R");
    if (never_exits) {
      TerminateProcess(running->process.get(), 0);
      EXPECT_GE(took, 29500);
      EXPECT_LT(took, 36000);
      continue;
    }
    const auto installer_ran = recorded_times(installer_times);
    ASSERT_EQ(installer_ran.size(), 1u);
    lags.push_back(ms_between(exit_time_of(running->process.get()), installer_ran[0].first));
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
