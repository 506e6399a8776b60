// read_last_update against the table of log texts both kits share (last_update_cases.txt).
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "last_update.h"

#include "base/scoped_handle_win.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using talvex_example::LastUpdate;
using test::TestDir;

struct Case {
  std::string name;
  std::map<std::string, std::string> fields;
  std::optional<std::string> log;  // nullopt: no log file at all
};

std::vector<Case> read_cases() {
  const auto text = test::read_file(test::bin_file(L"last_update_cases.txt"));
  EXPECT_TRUE(text) << "last_update_cases.txt missing beside the test";
  std::vector<Case> cases;
  bool in_log = false;
  for (const std::string& line : test::split_lines(text.value_or(""))) {
    if (line.rfind("== ", 0) == 0) {
      cases.push_back({line.substr(3), {}, std::nullopt});
      in_log = false;
    } else if (cases.empty() || (!in_log && (line.empty() || line[0] == '#'))) {
      continue;
    } else if (in_log) {
      *cases.back().log += line + "\n";
    } else if (line == "log:") {
      cases.back().log = "";
      in_log = true;
    } else if (line != "log: none") {
      const size_t colon = line.find(':');
      const size_t value = line.find_first_not_of(' ', colon + 1);
      cases.back().fields[line.substr(0, colon)] =
          value == std::string::npos ? "" : line.substr(value);
    }
  }
  // The blank lines that separate cases are no part of a log.
  for (Case& c : cases) {
    while (c.log && c.log->size() >= 2 && c.log->compare(c.log->size() - 2, 2, "\n\n") == 0) {
      c.log->pop_back();
    }
    if (c.log == "\n") c.log = "";
  }
  return cases;
}

// The reader's outcome in the table's fields; "started: no" stands for no outcome at all.
std::map<std::string, std::string> fields_of(const LastUpdate& u) {
  if (!u.started) return {{"started", "no"}};
  const char* const relaunched[] = {"none", "updater", "installer"};
  return {{"started", "yes"},
          {"finished", u.finished ? "yes" : "no"},
          {"installed", u.installed ? "yes" : "no"},
          {"status", u.installer_status},
          {"error", u.error},
          {"relaunched", relaunched[static_cast<int>(u.relaunched_by)]}};
}

TEST(LastUpdate, EveryCaseOfTheTable) {
  TestDir dir;
  const std::vector<Case> cases = read_cases();
  ASSERT_GE(cases.size(), 10u);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::wstring log = dir.file(std::to_wstring(i) + L".log");
    if (cases[i].log) {
      ASSERT_TRUE(test::write_file(log, *cases[i].log));
    }
    std::map<std::string, std::string> expected = cases[i].fields;
    const std::wstring app_exe(as_wide(to_utf16(expected["app"])));
    expected.erase("app");
    EXPECT_EQ(fields_of(talvex_example::read_last_update(log, app_exe)), expected);
    // The application reads its outcome and must not keep its log open after: whoever trims,
    // replaces or deletes the log would otherwise fail for as long as it runs.
    if (cases[i].log) {
      const ScopedFileHandle alone(CreateFileW(log.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      EXPECT_TRUE(alone) << "the log is still open: error " << GetLastError();
    }
  }
}

// The updater appends through a handle of its own while the application may already read.
TEST(LastUpdate, ReadsWhileTheLogIsOpenForWriting) {
  TestDir dir;
  const std::wstring log = dir.file(L"talvex-updater.log");
  ASSERT_TRUE(test::write_file(log, "[1] === talvex-updater start ===\n"));
  ScopedFileHandle writer(CreateFileW(log.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer) << "error " << GetLastError();
  EXPECT_TRUE(talvex_example::read_last_update(log).started);
}

}  // namespace
}  // namespace talvex
