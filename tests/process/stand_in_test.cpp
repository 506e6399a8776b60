// Tests that put a stand-in for a system program ("ie4uinit.exe", "msiexec.exe") beside the test
// program, the first place the launch layer's search looks. That directory is shared by every
// test program of the build tree, hence the system_dir lock on this test.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/text.h"
#include "log/run_log.h"
#include "process/process_win.h"
#include "process/recorded_command.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using test::remove_stand_in;
using test::StandIn;
using test::TestDir;

using Runs = std::vector<std::vector<std::wstring>>;

class StandInTest : public ::testing::Test {
 protected:
  std::vector<std::string> messages() const { return test::log_messages(dir_.file(L"run.log")); }
  std::string record_verb() const { return "record " + to_utf8(dir_.file(L"record.txt")); }
  // The arguments of each recorded run, the program name left out.
  Runs arguments() const {
    Runs all;
    for (auto& run : test::recorded_runs(dir_.file(L"record.txt"))) {
      all.emplace_back(run.empty() ? run.end() : run.begin() + 1, run.end());
    }
    return all;
  }

  TestDir dir_;
  RunLog log_{test::u16(dir_.file(L"run.log"))};
};

// A failing first step does not stop the second; two records per run: overlapping runs would
// interleave them.
TEST_F(StandInTest, IconRefreshRunsClearThenShowOneAfterTheOtherAndLogsEachOutcome) {
  StandIn utility(L"ie4uinit.exe",
                  record_verb() + "\nsleep 200\n" + record_verb() + "\nexit 0x80070005");
  refresh_icon_cache(log_);
  EXPECT_EQ(arguments(),
            (Runs{{L"-ClearIconCache"}, {L"-ClearIconCache"}, {L"-show"}, {L"-show"}}));
  EXPECT_EQ(messages(),
            (std::vector<std::string>{"ie4uinit -ClearIconCache -> exit code: 0x80070005",
                                      "ie4uinit -show -> exit code: 0x80070005"}));
}

TEST_F(StandInTest, IconRefreshWritesNothingWithoutTheUtility) {
  remove_stand_in(test::bin_file(L"ie4uinit.exe"));
  wchar_t system_dir[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system_dir, MAX_PATH);
  const std::wstring system_utility = std::wstring(system_dir, n) + L"\\ie4uinit.exe";
  if (n > 0 && test::file_exists(system_utility)) {
    // Every Windows has one (and a test prefix may be given one); running it would clear this
    // machine's icon cache, and the case needs it absent.
    GTEST_SKIP() << "needs no icon utility, but the system has " << to_utf8(system_utility);
  }
  // One in the current directory must not be picked up either.
  const std::wstring planted = dir_.file(L"planted.txt");
  ASSERT_TRUE(test::make_stub(L"ie4uinit.exe", "record " + to_utf8(planted)));

  refresh_icon_cache(log_);

  remove_stand_in(test::full_path(L"ie4uinit.exe"));
  EXPECT_FALSE(test::file_exists(planted)) << "the current directory was searched";
  EXPECT_FALSE(test::file_exists(dir_.file(L"run.log")));
}

TEST_F(StandInTest, UpperCaseMsiPackageGoesToMsiexecAsOneArgument) {
  StandIn msiexec(L"msiexec.exe", record_verb() + "\nexit 0");
  const std::wstring package = dir_.file(L"Talvex Setup 2.0.MSI");

  EXPECT_TRUE(run_installer(package, log_, std::chrono::milliseconds(60'000),
                            std::chrono::milliseconds(50)));

  EXPECT_EQ(arguments(), (Runs{{L"/i", package, L"/passive", L"/norestart"}}));
  EXPECT_EQ(messages(), (std::vector<std::string>{"running installer: msiexec.exe /i " +
                                                      to_utf8(package) + " /passive /norestart",
                                                  "installer exited: exit code: 0"}));
}

TEST_F(StandInTest, AHangingIconUtilityIsStoppedAndLeavesNoLine) {
  const std::wstring utility = test::bin_file(L"ie4uinit.exe");
  StandIn hanging(L"ie4uinit.exe", "forever");
  const ULONGLONG start = GetTickCount64();
  refresh_icon_cache(log_, std::chrono::milliseconds(1000));
  const ULONGLONG took = GetTickCount64() - start;
  // Two runs, each given up after the limit.
  EXPECT_GE(took, 2000u);
  EXPECT_LT(took, 6000u);
  EXPECT_EQ(messages(), std::vector<std::string>{});
  EXPECT_TRUE(test::eventually([&] { return test::pids_running(utility).empty(); }, 5000));
}

}  // namespace
}  // namespace talvex
