#include <windows.h>

#include "log/run_log_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <set>

#include "base/clock_win.h"
#include "base/scoped_handle_win.h"
#include "base/text.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using test::TestDir;

TEST(LogPath, DefaultsToTheSystemTemporaryDirectory) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(default_log_path(), test::u16(std::wstring(temp, n) + L"talvex-updater.log"));
  EXPECT_EQ(prepare_log(std::nullopt).path(), default_log_path());
}

TEST(LogLine, AppendsOneTimestampedLinePerCall) {
  TestDir dir;
  const RunLog log(test::u16(dir.file(L"run.log")));
  const std::uint64_t before = unix_seconds_now();
  log_line(log, "first");
  log_line(log, "caf\xC3\xA9 \xF0\x9F\x98\x80 C:\\path with spaces\\x");
  const std::uint64_t after = unix_seconds_now();

  const auto text = test::read_file(dir.file(L"run.log"));
  ASSERT_TRUE(text);
  const auto lines = test::split_lines(*text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(text->back(), '\n');
  EXPECT_EQ(text->find('\r'), std::string::npos);
  const std::uint64_t stamp = std::stoull(lines[0].substr(1));
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(lines[0] + "\n", format_log_line(stamp, "first"));
  EXPECT_EQ(test::log_messages(dir.file(L"run.log"))[1],
            "caf\xC3\xA9 \xF0\x9F\x98\x80 C:\\path with spaces\\x");
}

TEST(PrepareLog, CreatesEveryMissingParentDirectory) {
  TestDir dir;
  const std::wstring path = dir.file(L"one\\two\\run.log");
  const RunLog log = prepare_log(test::u16(path));
  EXPECT_EQ(log.path(), test::u16(path));
  EXPECT_TRUE(test::file_exists(dir.file(L"one\\two")));
  EXPECT_FALSE(test::file_exists(path));  // the file itself comes with the first line
  log_line(log, "hello");
  EXPECT_EQ(test::log_messages(path), std::vector<std::string>{"hello"});

  // Mixed separators and an existing directory are fine too.
  const std::wstring mixed = dir.file(L"one/three//run.log");
  log_line(prepare_log(test::u16(mixed)), "mixed");
  EXPECT_EQ(test::log_messages(dir.file(L"one\\three\\run.log")),
            std::vector<std::string>{"mixed"});
}

// The names in `dir`, "." and ".." left out, sorted.
std::vector<std::wstring> entries_of(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// A lost line goes nowhere: no file appears beside the blocker or in the current directory.
TEST(PrepareLog, FailuresOnlyLoseLines) {
  TestDir dir;
  const std::vector<std::wstring> here = entries_of(L".");
  // The parent "directory" is a file: it cannot be created, and the lines are dropped quietly.
  ASSERT_TRUE(test::write_file(dir.file(L"blocker"), "x"));
  const RunLog blocked = prepare_log(test::u16(dir.file(L"blocker\\sub\\run.log")));
  log_line(blocked, "lost");
  EXPECT_EQ(test::read_file(dir.file(L"blocker")), "x");

  // An empty path: nothing is created and every line is lost.
  const RunLog empty = prepare_log(std::u16string());
  EXPECT_EQ(empty.path(), std::u16string());
  log_line(empty, "lost");

  // No path at all (no temporary directory could be found).
  log_line(RunLog(), "lost");
  EXPECT_EQ(entries_of(dir.path()), std::vector<std::wstring>{L"blocker"});
  EXPECT_EQ(entries_of(L"."), here);
}

TEST(LogLine, AppendsWhileAnotherProcessReadsOrDeletesTheFile) {
  TestDir dir;
  const std::wstring path = dir.file(L"run.log");
  const RunLog log(test::u16(path));
  log_line(log, "before");
  // The reader asks for delete access too, as a program that removes the log when it has read
  // it may: the log must share deletion for the next line to get in. It writes its pid once it
  // holds the file.
  const std::wstring holding = dir.file(L"holding.txt");
  ASSERT_TRUE(test::write_file(dir.file(L"reader.stub"),
                               to_utf8(L"hold " + path + L"\npid " + holding + L"\nforever\n")));
  ASSERT_TRUE(test::copy_file(test::bin_file(L"stub.exe"), dir.file(L"reader.exe")));
  auto reader = test::spawn(dir.file(L"reader.exe"), L"reader");
  ASSERT_TRUE(reader);
  ASSERT_TRUE(test::eventually([&] { return test::file_exists(holding); }, 30000));
  // An open that does not share deletion fails only while the reader has delete access.
  ScopedFileHandle probe(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_FALSE(probe.valid()) << "the reader does not hold the file with delete access";
  log_line(log, "while held");
  TerminateProcess(reader->process.get(), 0);
  WaitForSingleObject(reader->process.get(), 5000);
  EXPECT_EQ(test::log_messages(path), (std::vector<std::string>{"before", "while held"}));

  // Deleted between two lines: the next line creates the file again.
  ASSERT_TRUE(DeleteFileW(path.c_str()));
  log_line(log, "after delete");
  EXPECT_EQ(test::log_messages(path), std::vector<std::string>{"after delete"});
}

// Counts the well-formed "<tag> <i>" lines per tag; a torn or spliced line (what concurrent
// appends under Wine can leave) is counted as such, never parsed as a number.
struct TaggedLines {
  std::map<std::string, std::set<int>> seen;
  size_t torn = 0;
};

TaggedLines lines_by_tag(const std::wstring& path) {
  TaggedLines result;
  const std::regex tagged(R"(\[[0-9]+\] ([a-z]+) ([0-9]{1,6}))");
  for (const std::string& line : test::split_lines(test::read_file(path).value_or(""))) {
    std::smatch m;
    if (std::regex_match(line, m, tagged)) {
      result.seen[m[1]].insert(std::stoi(m[2]));
    } else {
      ++result.torn;
    }
  }
  return result;
}

// A writer that appends to an earlier run's log keeps it and loses nothing of its own.
TEST(LogLine, ALoneWriterKeepsOlderLinesAndLosesNothing) {
  TestDir dir;
  const std::wstring path = dir.file(L"run.log");
  ASSERT_TRUE(test::write_file(path, "[1] earlier run\n"));
  auto writer = test::spawn(test::bin_file(L"log_writer.exe"),
                            L"log_writer " + test::quote_arg(path) + L" solo 2000");
  ASSERT_TRUE(writer);
  ASSERT_EQ(test::wait_exit(writer->process.get(), 60000), 0u);
  std::vector<std::string> expected = {"earlier run"};
  for (int i = 0; i < 2000; ++i) expected.push_back("solo " + std::to_string(i));
  EXPECT_EQ(test::log_messages(path), expected);
}

TEST(LogLine, TwoConcurrentWriters) {
  TestDir dir;
  const std::wstring path = dir.file(L"run.log");
  auto a = test::spawn(test::bin_file(L"log_writer.exe"),
                       L"log_writer " + test::quote_arg(path) + L" a 1000");
  auto b = test::spawn(test::bin_file(L"log_writer.exe"),
                       L"log_writer " + test::quote_arg(path) + L" b 1000");
  ASSERT_TRUE(a && b);
  ASSERT_EQ(test::wait_exit(a->process.get(), 60000), 0u);
  ASSERT_EQ(test::wait_exit(b->process.get(), 60000), 0u);
  TaggedLines lines = lines_by_tag(path);
  const size_t kept = lines.seen["a"].size() + lines.seen["b"].size();
  std::printf("concurrent appends: %zu of 2000 lines intact, %zu torn (%.2f %% lost or torn)\n",
              kept, lines.torn, 100.0 * static_cast<double>(2000 - kept) / 2000.0);
  RecordProperty("intact_lines", static_cast<int>(kept));
  if (test::running_under_wine()) {
    // Wine does not make FILE_APPEND_DATA writes from two processes atomic: Wine 8 loses or
    // splices up to about half a percent of such lines, Wine 10 was seen at 3.5 %; 10 % is
    // allowed, which still fails a writer that loses whole batches. Windows loses none.
    EXPECT_GE(kept, 1800u);
  } else {
    EXPECT_EQ(kept, 2000u);
  }
}

}  // namespace
}  // namespace talvex
