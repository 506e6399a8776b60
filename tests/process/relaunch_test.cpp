// Starting the application again after the update, as the log shows it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "log/run_log.h"
#include "process/process_win.h"
#include "process/recorded_command.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using test::TestDir;
using ::testing::MatchesRegex;
using Lines = std::vector<std::string>;

constexpr char kMissing[] = "ERROR: app exe missing, cannot relaunch";

TEST(RelaunchApp, StartsTheAppDetachedWithoutArgumentsAndLogsThePathAsGiven) {
  TestDir dir;
  const std::wstring record = dir.file(L"record.txt");
  const std::wstring app = dir.file(L"Ünïcode Ω\\App.exe");
  ASSERT_TRUE(test::make_dirs(dir.file(L"Ünïcode Ω")));
  ASSERT_TRUE(test::make_stub(app, "record " + to_utf8(record) + "\nforever\n"));
  // Forward slashes and another letter case: logged as written, started as written.
  const std::wstring given = dir.path() + L"/ünïcode Ω/APP.exe";
  const RunLog log(test::u16(dir.file(L"run.log")));
  // The image path as the process list shows it: the absolute form of the path it was started by.
  const std::wstring image = test::full_path(given);
  const test::AtEnd stop([&] { test::kill_all(image); });

  const ULONGLONG before = GetTickCount64();
  relaunch_app(given, log);
  // The application never ends by itself, so returning at all shows it was not waited for.
  EXPECT_LT(GetTickCount64() - before, 10000u);

  EXPECT_EQ(test::log_messages(dir.file(L"run.log")), Lines{"relaunched " + to_utf8(given)});
  ASSERT_TRUE(test::eventually([&] { return !test::recorded_runs(record).empty(); }, 10000));
  EXPECT_EQ(test::recorded_runs(record), std::vector<std::vector<std::wstring>>{{given}});
  Sleep(300);
  EXPECT_EQ(test::pids_running(image).size(), 1u) << "the application should still be running";
}

// A path of 260 units or more reaches process creation in its "\\?\" form, without which
// Windows cannot start it. Wine cannot start such a program at all (it fails, starts an earlier
// one, or crashes), so under Wine the launch tests check the name process creation receives.
TEST(RelaunchApp, StartsAnAppAtAPathOfMoreThan260Units) {
  if (test::running_under_wine()) GTEST_SKIP() << "Wine cannot start programs at long paths";
  TestDir dir;
  std::wstring deep = dir.path();
  while (deep.size() < MAX_PATH) deep += L"\\" + std::wstring(60, L'd');
  const std::wstring app = deep + L"\\App.exe";
  // The test's own calls need the verbatim form at this length.
  const std::wstring verbatim_top = L"\\\\?\\" + dir.file(std::wstring(60, L'd'));
  const test::AtEnd remove([&] {
    // The stub has no script, so it exits at once; its file can be deleted once it has.
    test::eventually(
        [&] {
          test::remove_tree(verbatim_top);
          return !test::file_exists(verbatim_top);
        },
        5000);
  });
  ASSERT_TRUE(test::make_dirs(L"\\\\?\\" + deep));
  ASSERT_TRUE(test::copy_file(test::bin_file(L"stub.exe"), L"\\\\?\\" + app));
  const RunLog log(test::u16(dir.file(L"run.log")));
  relaunch_app(app, log);
  EXPECT_EQ(test::log_messages(dir.file(L"run.log")), Lines{"relaunched " + to_utf8(app)});
}

// Nothing that fails the existence check is started, not even a bare name the program search
// would find beside the updater; and a bare name that passes it, because it lies in the current
// directory, is still not found, since the search never looks there.
TEST(RelaunchApp, StartsNothingThatFailsTheExistenceCheckOrTheSearch) {
  TestDir dir;
  ASSERT_TRUE(test::make_dirs(dir.file(L"Folder.exe")));
  std::wstring too_long = dir.path();
  while (too_long.size() <= MAX_PATH) too_long += L"\\" + std::wstring(50, L'x');
  const std::wstring record = dir.file(L"record.txt");
  const std::string records = "record " + to_utf8(record) + "\n";
  const test::StandIn beside(L"talvex-relaunch-searched.exe", records);
  ASSERT_TRUE(test::make_stub(dir.file(L"talvex-relaunch-bare.exe"), records));
  const std::vector<std::wstring> paths = {
      L"",
      dir.file(L"Missing.exe"),
      dir.file(L"Folder.exe"),
      too_long + L"\\App.exe",
      dir.file(std::wstring(L"App") + static_cast<wchar_t>(0xD800) + L".exe"),
      dir.file(L"App.exe") + std::wstring(1, L'\0') + L"x",
      L"talvex-relaunch-searched.exe",  // only beside the updater
      L"talvex-relaunch-bare.exe",      // only in the current directory
  };
  const RunLog log(test::u16(dir.file(L"run.log")));
  {
    const auto in = test::in_directory(dir.path());
    for (const std::wstring& path : paths) relaunch_app(path, log);
  }
  Lines expected(paths.size() - 1, kMissing);
  expected.push_back("ERROR: relaunch failed: program not found");
  EXPECT_EQ(test::log_messages(dir.file(L"run.log")), expected);
  Sleep(500);
  EXPECT_FALSE(test::file_exists(record)) << "a stub was started";
}

TEST(RelaunchApp, ReportsTheSystemErrorWhenTheFileCannotBeStarted) {
  TestDir dir;
  // Not a program (and without the Unix execute bit, which would make Wine run it anyway).
  const std::wstring app = dir.file(L"Broken.exe");
  ASSERT_TRUE(test::write_file(app, "this is not a program\r\n"));
  const RunLog log(test::u16(dir.file(L"run.log")));
  relaunch_app(app, log);
  const std::vector<std::string> messages = test::log_messages(dir.file(L"run.log"));
  ASSERT_EQ(messages.size(), 1u);
  ASSERT_THAT(messages[0], MatchesRegex("ERROR: relaunch failed: .+ \\(os error \\d+\\)"));
  // The text is the system's own message for the code it names.
  const DWORD code = std::strtoul(messages[0].c_str() + messages[0].rfind('(') + 10, nullptr, 10);
  EXPECT_NE(code, 0u);
  EXPECT_THAT(messages[0].substr(std::string_view("ERROR: relaunch failed: ").size()),
              test::is_os_error_text(code));
}

}  // namespace
}  // namespace talvex
