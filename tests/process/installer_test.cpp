#include <gmock/gmock.h>
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

using std::chrono::milliseconds;
using test::log_messages;
using test::TestDir;
using ::testing::MatchesRegex;

class RunInstallerTest : public ::testing::Test {
 protected:
  std::vector<std::string> messages() const { return log_messages(dir_.file(L"run.log")); }

  TestDir dir_;
  RunLog log_{test::u16(dir_.file(L"run.log"))};
};

// Each stub exits at once, so most often before the first query; either way there is no line
// between the command and the outcome.
TEST_F(RunInstallerTest, ReportsTheExitCodeAndSucceedsOnlyOnZero) {
  const struct {
    const char* code;
    const char* status;
    bool success;
  } cases[] = {
      {"0", "exit code: 0", true},
      {"1", "exit code: 1", false},
      {"3010", "exit code: 3010", false},  // "restart required" is still not success
      {"259", "exit code: 259", false},    // STILL_ACTIVE, yet the installer has exited
      {"0xC0000005", "exit code: 0xc0000005", false},
  };
  const std::wstring folder = dir_.file(L"Program Files\\Talvex App");
  ASSERT_TRUE(test::make_dirs(folder));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const std::wstring setup = folder + L"\\setup " + test::wide(to_utf16(c.code)) + L".exe";
    const std::wstring record = setup + L".txt";
    const RunLog log(test::u16(setup + L".log"));
    ASSERT_TRUE(test::make_stub(setup, "record " + to_utf8(record) + "\nexit " + c.code));

    EXPECT_EQ(run_installer(setup, log, milliseconds(60'000), milliseconds(50)), c.success);

    // The path with spaces is one argument to the child and shows unquoted in the log.
    EXPECT_EQ(test::recorded_runs(record),
              (std::vector<std::vector<std::wstring>>{{setup, L"/UPDATE", L"/S", L"/R"}}));
    EXPECT_EQ(log_messages(test::wide(*log.path())),
              (std::vector<std::string>{"running installer: " + to_utf8(setup) + " /UPDATE /S /R",
                                        std::string("installer exited: ") + c.status}));
  }
}

TEST_F(RunInstallerTest, KillsAnInstallerAtTheFirstPollPastTheLimitWithoutWaitingForIt) {
  const std::wstring setup = dir_.file(L"hangs.exe");
  const std::wstring times_file = dir_.file(L"times.txt");
  ASSERT_TRUE(test::make_stub(setup, "times " + to_utf8(times_file) + "\nforever"));

  EXPECT_FALSE(run_installer(setup, log_, milliseconds(2500), milliseconds(200)));
  const ULONGLONG returned = test::system_time_units();
  // Counted from the installer's creation, so that a slow start on a busy machine does not
  // count: not before the limit, and at the first poll after it (polls at 0, 200, ..., 2600),
  // with room for a late wake-up.
  const auto times = test::read_file(times_file);
  ASSERT_TRUE(times.has_value()) << "the stub never ran";
  const long long took = static_cast<long long>(returned - std::stoull(*times)) / 10000;
  EXPECT_GE(took, 2500);
  EXPECT_LT(took, 2600 + 900);
  EXPECT_EQ(messages(),
            (std::vector<std::string>{"running installer: " + to_utf8(setup) + " /UPDATE /S /R",
                                      "ERROR: installer timed out, killed"}));

  // The child is really gone (Windows terminates asynchronously, so allow it a moment).
  EXPECT_TRUE(test::eventually([&] { return test::pids_running(setup).empty(); }, 5000));
  test::kill_all(setup);
}

TEST_F(RunInstallerTest, UnstartablePackagesEndInASpawnErrorAtOnce) {
  ASSERT_TRUE(test::make_dirs(dir_.file(L"package")));
  ASSERT_TRUE(test::make_dirs(dir_.file(L"folder.exe")));
  ASSERT_TRUE(test::write_file(dir_.file(L"notes.exe"), "plain text, not a program\r\n"));
  // Lies only in the current directory, which the launch never searches.
  ASSERT_TRUE(test::make_stub(L"cwd-only-setup.exe", "exit 0"));
  const test::AtEnd remove([] { test::remove_stand_in(L"cwd-only-setup.exe"); });

  const struct {
    std::wstring path;
    std::string error;  // empty: an operating-system error
  } cases[] = {
      {dir_.file(L"missing\\setup.exe"), ""},
      {dir_.file(L"package"), ""},
      {dir_.file(L"folder.exe"), ""},
      {dir_.file(L"notes.exe"), ""},
      {dir_.path() + L"\\", "ERROR: failed to spawn installer: program path has no file name"},
      {L"", "ERROR: failed to spawn installer: program path has no file name"},
      {L"cwd-only-setup.exe", "ERROR: failed to spawn installer: program not found"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(to_utf8(c.path));
    const RunLog log(test::u16(dir_.file(L"bad" + std::to_wstring(n++) + L".log")));
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(run_installer(c.path, log, milliseconds(60'000), milliseconds(50)));
    EXPECT_LT(GetTickCount64() - start, 5000u);
    const auto lines = log_messages(test::wide(*log.path()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "running installer: " + to_utf8(c.path) + " /UPDATE /S /R");
    if (c.error.empty()) {
      EXPECT_THAT(lines[1],
                  MatchesRegex("ERROR: failed to spawn installer: .+ \\(os error -?\\d+\\)"));
    } else {
      EXPECT_EQ(lines[1], c.error);
    }
  }
}

}  // namespace
}  // namespace talvex
