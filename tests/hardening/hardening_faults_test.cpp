// Whole updates that meet an unusable log: one another program holds without sharing, one whose
// directory cannot exist because its parent is a file, one beyond the classic 260-unit limit.
// None of them changes the run or its status.
#include <iostream>

#include "update/update_fixture.h"

namespace talvex::test {
namespace {

TEST_F(UpdateRun, AnUnusableLogLosesItsLinesButNotTheRun) {
  prepare();
  const std::wstring locker = root_ + L"\\locker.exe";
  ASSERT_TRUE(make_dirs(root_ + L"\\logs"));
  ASSERT_TRUE(make_stub(locker, "lock " + to_utf8(log_) + "\nforever\n"));
  auto held = spawn(locker, L"locker.exe");
  ASSERT_TRUE(held);
  ASSERT_TRUE(eventually([&] { return file_exists(log_); }, 10000));
  const std::wstring blocker = root_ + L"\\blocker";
  ASSERT_TRUE(write_file(blocker, "a file, not a directory"));
  std::wstring long_log = root_;
  while (long_log.size() <= 300) long_log += L"\\" + std::wstring(60, L'd');
  long_log += L"\\update.log";

  const std::pair<std::wstring, DWORD> cases[] = {
      {log_, 0}, {log_, 1}, {blocker + L"\\logs\\update.log", 0}, {long_log, 1}};
  for (const auto& [log, status] : cases) {
    SCOPED_TRACE(to_utf8(log) + " " + std::to_string(status));
    kill_all(full_path(app_));
    DeleteFileW(record_.c_str());
    const std::wstring installer =
        make_installer(L"setup.exe", "exit " + std::to_string(status) + "\n");
    EXPECT_EQ(run(args_for(installer, log)), status);
    EXPECT_TRUE(file_exists(record_));  // the installer did run
    EXPECT_TRUE(app_runs_eventually());
  }
  TerminateProcess(held->process.get(), 0);
  ASSERT_TRUE(wait_exit(held->process.get(), 5000));
  EXPECT_EQ(read_file(log_), "");
  EXPECT_EQ(read_file(blocker), "a file, not a directory");

  // Lines may be lost at the long path (Windows without long-path support), but those written
  // are whole.
  const std::optional<std::string> text = read_file(long_log);
  std::cout << "log path of " << long_log.size() << " units: "
            << (text ? std::to_string(log_messages(long_log).size()) + " lines written"
                     : std::string("no file"))
            << "\n";
  // Wine has no path-length limit, so there every line must be there.
  if (running_under_wine()) {
    ASSERT_TRUE(text) << "no log at a path of " << long_log.size();
  }
  if (text) {
    const std::vector<std::string> lines = log_messages(long_log);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[1], options_line(root_ + L"\\setup.exe"));
    EXPECT_EQ(lines[8], "=== talvex-updater done");
  }
}

}  // namespace
}  // namespace talvex::test
