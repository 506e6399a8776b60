// The command line through the real executable: statuses, the usage text, and no log file
// before the command line was accepted.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "main/command_line.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using test::TestDir;

struct UpdaterRun {
  DWORD status = 0xFFFFFFFF;
  std::string err;
};

UpdaterRun run_updater(const TestDir& dir, const std::wstring& args, bool with_std_handles = true) {
  const std::wstring exe = dir.file(L"talvex-updater.exe");
  if (!test::file_exists(exe)) {
    EXPECT_TRUE(test::copy_file(test::bin_file(L"talvex-updater.exe"), exe));
    // None of these runs reaches the icon refresh; should one, it meets this stand-in rather
    // than the machine's own utility, and the log shows it.
    EXPECT_TRUE(test::make_stub(dir.file(L"ie4uinit.exe"), "exit 0\n"));
  }
  test::SpawnOptions options;
  options.current_dir = dir.path();
  options.stderr_file = dir.file(L"stderr.txt");
  options.no_std_handles = !with_std_handles;
  UpdaterRun run;
  auto child = test::spawn(exe, L"talvex-updater.exe" + args, options);
  if (!child) return run;
  run.status = test::wait_exit(child->process.get(), 60000).value_or(0xFFFFFFFF);
  run.err = test::read_file(dir.file(L"stderr.txt")).value_or("");
  return run;
}

TEST(UpdaterExe, UnusableCommandLinesGetTheUsageTextIfTheyCanAndStatusTwo) {
  TestDir dir;
  const std::wstring log = L" --log " + test::quote_arg(dir.file(L"logs\\deep\\run.log"));
  // Which lines the parser rejects is its own table's business; these tie the executable to
  // it: nothing at all, an option missing, a stray word after a very long argument, and an
  // unknown option with no standard handles at all, which leaves the usage text nowhere to go.
  const std::pair<std::wstring, bool> lines[] = {
      {L"", true},
      {L" --installer i", true},
      {L" --installer " + std::wstring(6000, L'x') + L" --app-exe a stray", true},
      {L" --bogus", false},
  };
  for (const auto& [line, with_std_handles] : lines) {
    const UpdaterRun run = run_updater(dir, line + log, with_std_handles);
    EXPECT_EQ(run.status, kExitUsage) << to_utf8(line);
    EXPECT_EQ(run.err, with_std_handles ? kUsageText : "") << to_utf8(line);
    EXPECT_FALSE(test::file_exists(dir.file(L"logs"))) << to_utf8(line);
  }
}

// The run's own directory is its current one: a log written anywhere for the empty path (the
// directory itself, a file without a name) would show up there.
TEST(UpdaterExe, AnEmptyLogPathLosesTheLinesButNotTheStatus) {
  TestDir dir;
  const UpdaterRun run = run_updater(
      dir, L" --installer " + test::quote_arg(dir.file(L"missing.exe")) + L" --app-exe " +
               test::quote_arg(dir.file(L"missing-app.exe")) + L" --log \"\"");
  EXPECT_EQ(run.status, kExitFailure);
  EXPECT_EQ(run.err, "");
  std::vector<std::string> entries;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(dir.file(L"*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    entries.push_back(to_utf8(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{".", "..", "ie4uinit.exe", "ie4uinit.stub",
                                               "stderr.txt", "talvex-updater.exe"}));
}

}  // namespace
}  // namespace talvex
