// A private directory holding a copy of the updater, a stub installer and a stub application,
// and a way to run a whole update through the real executable.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "support/test_support.h"

namespace talvex::test {

class UpdateRun : public ::testing::Test {
 protected:
  // `subdir` lets a test put everything below a path with spaces or non-ASCII characters.
  void prepare(const std::wstring& subdir = L"") {
    root_ = subdir.empty() ? dir_.path() : dir_.file(subdir);
    ASSERT_TRUE(make_dirs(root_));
    updater_ = root_ + L"\\talvex-updater.exe";
    app_ = root_ + L"\\app.exe";
    log_ = root_ + L"\\logs\\update.log";
    record_ = root_ + L"\\installer-command.txt";
    ASSERT_TRUE(copy_file(bin_file(L"talvex-updater.exe"), updater_));
    ASSERT_TRUE(make_stub(app_, "forever\n"));
    // Every Windows has the shell's icon utility in its system directory, and Wine has none: a
    // stand-in beside the updater, which its search tries first, makes each run call the same
    // program on both (and never the machine's own, which would clear its icon cache).
    make_icon_utility();
  }
  void TearDown() override {
    if (!app_.empty()) kill_all(full_path(app_));
  }

  // An installer stub at `name` (below root) running `script`; returns its path.
  std::wstring make_installer(const std::wstring& name, const std::string& script) {
    const std::wstring path = root_ + L"\\" + name;
    EXPECT_TRUE(make_stub(path, "record " + to_utf8(record_) + "\n" + script));
    return path;
  }
  // The stand-in for the shell's icon utility beside the updater, with another script.
  void make_icon_utility(const std::string& script = "exit 0\n") {
    ASSERT_TRUE(make_stub(root_ + L"\\ie4uinit.exe", script));
  }
  // The two lines a run writes for the stand-in icon utility exiting with `code`.
  static std::vector<std::string> icon_lines(const std::string& code = "0") {
    return {"ie4uinit -ClearIconCache -> exit code: " + code,
            "ie4uinit -show -> exit code: " + code};
  }

  // Starts the updater with the given arguments (each quoted), in root unless `options` names
  // another current directory; its standard error goes to `stderr_name` below root unless
  // `options` sends its output elsewhere.
  std::optional<Spawned> start_updater(const std::vector<std::wstring>& args,
                                       const std::wstring& stderr_name = L"stderr.txt",
                                       SpawnOptions options = {}) {
    std::wstring line = L"talvex-updater.exe";
    for (const std::wstring& arg : args) line += L" " + quote_arg(arg);
    if (options.current_dir.empty()) options.current_dir = root_;
    if (!options.output) options.stderr_file = root_ + L"\\" + stderr_name;
    auto child = spawn(updater_, line, options);
    EXPECT_TRUE(child) << "cannot start the updater";
    return child;
  }
  // Waits for a started updater; its exit status. It must have written nothing to `stderr_name`.
  DWORD finish_updater(std::optional<Spawned>& child,
                       const std::wstring& stderr_name = L"stderr.txt") {
    if (!child) return 0xFFFFFFFF;
    const auto status = wait_exit(child->process.get(), 120000);
    if (!status) TerminateProcess(child->process.get(), 99);
    EXPECT_EQ(read_file(root_ + L"\\" + stderr_name).value_or(""), "");
    return status.value_or(0xFFFFFFFF);
  }
  DWORD run(const std::vector<std::wstring>& args, SpawnOptions options = {}) {
    auto child = start_updater(args, L"stderr.txt", std::move(options));
    return finish_updater(child);
  }
  // The arguments of a run of `installer` logging to `log`, the fixture's log when empty.
  std::vector<std::wstring> args_for(const std::wstring& installer,
                                     const std::wstring& log = L"") const {
    return {L"--installer", installer, L"--app-exe", app_, L"--log", log.empty() ? log_ : log};
  }

  std::vector<std::string> messages() const { return log_messages(log_); }
  std::string options_line(const std::wstring& installer, const std::string& pid = "None") const {
    return "installer=" + to_utf8(installer) + " app_exe=" + to_utf8(app_) + " wait_pid=" + pid;
  }
  size_t app_instances() const { return pids_running(full_path(app_)).size(); }
  // The app is started detached; give it a moment to show up in the process list.
  bool app_runs_eventually() const {
    return eventually([&] { return app_instances() > 0; }, 5000);
  }

  // The "<creation> <now>" pairs a stub's "times" verb appended to `path` (system-clock FILETIME
  // units), in order.
  static std::vector<std::pair<ULONGLONG, ULONGLONG>> recorded_times(const std::wstring& path) {
    std::vector<std::pair<ULONGLONG, ULONGLONG>> times;
    for (const std::string& line : split_lines(read_file(path).value_or(""))) {
      char* end = nullptr;
      const ULONGLONG created = std::strtoull(line.c_str(), &end, 10);
      times.emplace_back(created, std::strtoull(end, nullptr, 10));
    }
    return times;
  }

  // When `process` exited, in the same units.
  static ULONGLONG exit_time_of(HANDLE process) {
    FILETIME created, exited, kernel, user;
    EXPECT_TRUE(GetProcessTimes(process, &created, &exited, &kernel, &user));
    return (ULONGLONG{exited.dwHighDateTime} << 32) | exited.dwLowDateTime;
  }
  static long long ms_between(ULONGLONG from, ULONGLONG to) {
    return (static_cast<long long>(to) - static_cast<long long>(from)) / 10000;
  }

  TestDir dir_;
  std::wstring root_, updater_, app_, log_, record_;
};

}  // namespace talvex::test
