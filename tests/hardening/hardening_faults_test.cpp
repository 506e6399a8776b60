// Whole updates that meet a hostile environment: an unusable log, an installer that crashes or
// starts the application twice, and a temporary directory named in CJK and emoji.
#include <iostream>

#include "hardening/hardening_fixture.h"

namespace talvex::test {
namespace {

using Lines = std::vector<std::string>;

class LogFaults : public HardeningRun {};

// Another program holds the log open without sharing: every line is lost, nothing else changes.
TEST_F(LogFaults, ALogLockedByAnotherProcessLosesItsLinesButNotTheRun) {
  prepare();
  const std::wstring locker = root_ + L"\\locker.exe";
  ASSERT_TRUE(make_dirs(root_ + L"\\logs"));
  ASSERT_TRUE(make_stub(locker, "lock " + to_utf8(log_) + "\nforever\n"));
  auto held = spawn(locker, L"locker.exe");
  ASSERT_TRUE(held);
  ASSERT_TRUE(eventually([&] { return file_exists(log_); }, 10000));

  for (const auto& [script, status] : {std::pair{"exit 0\n", 0u}, std::pair{"exit 1\n", 1u}}) {
    kill_all(full_path(app_));
    DeleteFileW(record_.c_str());
    const std::wstring installer = make_installer(L"setup.exe", script);
    EXPECT_EQ(run_update_of(installer), status) << script;
    EXPECT_TRUE(file_exists(record_)) << script;  // the installer did run
    EXPECT_TRUE(app_runs_eventually()) << script;
  }
  TerminateProcess(held->process.get(), 0);
  ASSERT_TRUE(wait_exit(held->process.get(), 5000));
  EXPECT_EQ(read_file(log_), "");

  // Unlocked, the same failing update writes its lines and ends the same way.
  kill_all(full_path(app_));
  EXPECT_EQ(run_update_of(make_installer(L"setup.exe", "exit 1\n")), 1u);
  EXPECT_EQ(messages().size(), 9u);
}

// The log's directory cannot exist because its parent is a file; a path beyond the classic
// 260-unit limit may or may not be usable. Neither changes the run.
TEST_F(LogFaults, AnUnusableLogPathLeavesTheRunAndItsStatusAlone) {
  prepare();
  const std::wstring blocker = root_ + L"\\blocker";
  ASSERT_TRUE(write_file(blocker, "a file, not a directory"));
  std::wstring long_log = root_;
  while (long_log.size() <= 300) long_log += L"\\" + std::wstring(60, L'd');
  long_log += L"\\update.log";

  const std::wstring succeeds = make_installer(L"setup.exe", "exit 0\n");
  const std::wstring fails = make_installer(L"failing-setup.exe", "exit 1\n");
  kill_all(full_path(app_));
  EXPECT_EQ(run(update_args(succeeds, blocker + L"\\logs\\update.log")), 0u);
  EXPECT_TRUE(app_runs_eventually());
  EXPECT_EQ(read_file(blocker), "a file, not a directory");

  kill_all(full_path(app_));
  EXPECT_EQ(run(update_args(fails, long_log)), 1u);
  EXPECT_TRUE(app_runs_eventually());
  // Lines may be lost here (Windows without long-path support), but those written are whole.
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
    const Lines lines = log_messages(long_log);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[1], options_line(fails));
    EXPECT_EQ(lines[8], "=== talvex-updater done");
  }
}

class InstallerFaults : public HardeningRun {};

// A real access violation, not a process that reports one. Wine starts its debugger for the
// unhandled fault (it ignores SEM_NOGPFAULTERRORBOX); without a display that only prints a
// notice and the process ends with the exception code, so the run must still end promptly.
TEST_F(InstallerFaults, AnInstallerThatCrashesIsAFailedInstall) {
  prepare();
  const std::wstring installer = make_installer(L"setup.exe", "crash\nexit 0\n");
  const ULONGLONG begin = GetTickCount64();
  EXPECT_EQ(run_update_of(installer), 1u);
  EXPECT_LT(GetTickCount64() - begin, 15000u);
  EXPECT_EQ(messages(),
            (Lines{"=== talvex-updater start ===", options_line(installer),
                   "running installer: " + to_utf8(installer) + " /UPDATE /S /R",
                   "installer exited: exit code: 0xc0000005", icon_lines()[0], icon_lines()[1],
                   "install failed; best-effort relaunch of existing app",
                   "relaunched " + to_utf8(app_), "=== talvex-updater done"}));
  EXPECT_TRUE(app_runs_eventually());
}

TEST_F(InstallerFaults, AnInstallerThatStartsTheApplicationTwiceGetsNoThirdInstance) {
  prepare();
  const std::string app = to_utf8(app_);
  const std::wstring installer =
      make_installer(L"setup.exe", "start " + app + "\nstart " + app + "\nexit 0\n");
  EXPECT_EQ(run_update_of(installer), 0u);
  EXPECT_EQ(messages(), (Lines{"=== talvex-updater start ===", options_line(installer),
                               "running installer: " + to_utf8(installer) + " /UPDATE /S /R",
                               "installer exited: exit code: 0", icon_lines()[0], icon_lines()[1],
                               "app already running (installer /R relaunched), skip",
                               "=== talvex-updater done"}));
  Sleep(500);  // a relaunch would have been started before the updater exited
  EXPECT_EQ(app_instances(), 2u);
}

class TemporaryDirectory : public HardeningRun {};

// Wine takes TMP and TEMP from the Windows environment block only, so the updater is started
// from this (Windows) process with both set.
TEST_F(TemporaryDirectory, TheDefaultLogLandsInACjkAndEmojiTemporaryDirectoryInUtf8) {
  prepare();
  const std::wstring temp = root_ + L"\\\u4e34\u65f6 \u30c6\u30b9\u30c8 \U0001F4E6";
  ASSERT_TRUE(make_dirs(temp));
  const std::wstring installer = temp + L"\\setup.exe";
  ASSERT_TRUE(make_stub(installer, "exit 1\n"));
  SpawnOptions options;
  options.env = {{L"TMP", temp}, {L"TEMP", temp}};
  EXPECT_EQ(run_with(updater_, {L"--installer", installer, L"--app-exe", app_}, options), 1u);
  const std::wstring log = temp + L"\\talvex-updater.log";
  const Lines lines = log_messages(log);
  ASSERT_EQ(lines.size(), 9u);
  // The directory's UTF-8 bytes spelt out, independently of the product's own conversion.
  const std::string utf8_temp = to_utf8(root_) +
                                "\\\xe4\xb8\xb4\xe6\x97\xb6 \xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88 "
                                "\xf0\x9f\x93\xa6";
  EXPECT_EQ(lines[1],
            "installer=" + utf8_temp + "\\setup.exe app_exe=" + to_utf8(app_) + " wait_pid=None");
  EXPECT_EQ(lines[2], "running installer: " + utf8_temp + "\\setup.exe /UPDATE /S /R");
  EXPECT_TRUE(app_runs_eventually());
}

}  // namespace
}  // namespace talvex::test
