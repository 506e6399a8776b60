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

class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::wstring& path) : saved_(test::full_path(L".")) {
    EXPECT_TRUE(SetCurrentDirectoryW(path.c_str()));
  }
  ~CurrentDirectory() { SetCurrentDirectoryW(saved_.c_str()); }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  std::wstring saved_;
};

// Runs `cleanup` when the test ends, however it ends.
template <typename F>
class AtEnd {
 public:
  explicit AtEnd(F cleanup) : cleanup_(cleanup) {}
  ~AtEnd() { cleanup_(); }
  AtEnd(const AtEnd&) = delete;
  AtEnd& operator=(const AtEnd&) = delete;

 private:
  F cleanup_;
};

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
  const AtEnd stop([&] { test::kill_all(image); });

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
  std::vector<std::wstring> levels;  // in their verbatim form, which the test's own calls need
  while (deep.size() < MAX_PATH) {
    deep += L"\\" + std::wstring(60, L'd');
    levels.push_back(L"\\\\?\\" + deep);
    ASSERT_TRUE(CreateDirectoryW(levels.back().c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
  }
  const std::wstring app = deep + L"\\App.exe";
  const std::wstring verbatim_app = L"\\\\?\\" + app;
  const AtEnd remove([&] {
    // The stub has no script, so it exits at once; its file can be deleted once it has.
    test::eventually(
        [&] { return DeleteFileW(verbatim_app.c_str()) || !test::file_exists(verbatim_app); },
        5000);
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
      RemoveDirectoryW(level->c_str());
    }
  });
  ASSERT_TRUE(test::copy_file(test::bin_file(L"stub.exe"), verbatim_app));
  const RunLog log(test::u16(dir.file(L"run.log")));
  relaunch_app(app, log);
  EXPECT_EQ(test::log_messages(dir.file(L"run.log")), Lines{"relaunched " + to_utf8(app)});
}

// Nothing that fails the existence check is started; the next test shows that a bare name
// would otherwise have been found by the program search.
TEST(RelaunchApp, ReportsUnusablePathsAsMissing) {
  TestDir dir;
  ASSERT_TRUE(test::make_dirs(dir.file(L"Folder.exe")));
  std::wstring too_long = dir.path();
  while (too_long.size() <= MAX_PATH) too_long += L"\\" + std::wstring(50, L'x');
  const std::vector<std::wstring> paths = {
      L"",
      dir.file(L"Missing.exe"),
      dir.file(L"Folder.exe"),
      too_long + L"\\App.exe",
      dir.file(std::wstring(L"App") + static_cast<wchar_t>(0xD800) + L".exe"),
      dir.file(L"App.exe") + std::wstring(1, L'\0') + L"x",
  };
  const RunLog log(test::u16(dir.file(L"run.log")));
  for (const std::wstring& path : paths) relaunch_app(path, log);
  EXPECT_EQ(test::log_messages(dir.file(L"run.log")), Lines(paths.size(), kMissing));
}

TEST(RelaunchApp, ChecksExistenceAgainstTheCurrentDirectoryNotTheProgramSearch) {
  TestDir dir;
  TestDir cwd(L".cwd");
  // Present beside the updater (the first place the program search looks), absent from the
  // current directory.
  const std::wstring name = L"talvex-relaunch-searched.exe";
  const std::wstring beside = test::bin_file(name);
  const std::wstring record = dir.file(L"record.txt");
  const AtEnd remove([&] {
    DeleteFileW(beside.c_str());
    DeleteFileW((beside.substr(0, beside.size() - 4) + L".stub").c_str());
  });
  ASSERT_TRUE(test::make_stub(beside, "record " + to_utf8(record) + "\n"));
  const RunLog log(test::u16(dir.file(L"run.log")));
  {
    CurrentDirectory in(cwd.path());
    relaunch_app(name, log);
  }
  Sleep(500);
  EXPECT_FALSE(test::file_exists(record)) << "started although the existence check failed";
  EXPECT_EQ(test::log_messages(dir.file(L"run.log")), Lines{kMissing});
}

TEST(RelaunchApp, BareNameOnlyInTheCurrentDirectoryIsNotFound) {
  TestDir dir;
  const std::wstring name = L"talvex-relaunch-bare.exe";
  const std::wstring record = dir.file(L"record.txt");
  ASSERT_TRUE(test::make_stub(dir.file(name), "record " + to_utf8(record) + "\n"));
  const RunLog log(test::u16(dir.file(L"run.log")));
  {
    CurrentDirectory in(dir.path());
    relaunch_app(name, log);
  }
  EXPECT_EQ(test::log_messages(dir.file(L"run.log")),
            Lines{"ERROR: relaunch failed: program not found"});
  Sleep(300);
  EXPECT_FALSE(test::file_exists(record));
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
