// Log lines and the log path, as text.
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "base/clock.h"
#include "base/path.h"
#include "base/text.h"
#include "log/run_log.h"

namespace talvex {
namespace {

TEST(LogFormat, IsBracketedSecondsSpaceMessageLineFeed) {
  EXPECT_EQ(format_log_line(0, "x"), "[0] x\n");
  EXPECT_EQ(format_log_line(1796635554, "=== talvex-updater start ==="),
            "[1796635554] === talvex-updater start ===\n");
  EXPECT_EQ(format_log_line(18446744073709551615ULL, ""), "[18446744073709551615] \n");
}

TEST(LogFormat, ControlCharactersStayVisibleOnTheOneLine) {
  // A system message with CR LF inside, and a forged line after a line feed.
  EXPECT_EQ(format_log_line(5, "ERROR: relaunch failed: Bad.\r\nMore. (os error 193)"),
            "[5] ERROR: relaunch failed: Bad.<U+000D><U+000A>More. (os error 193)\n");
  EXPECT_EQ(format_log_line(5, "x\n[1000000000] installer exited: exit code: 0"),
            "[5] x<U+000A>[1000000000] installer exited: exit code: 0\n");
  EXPECT_EQ(format_log_line(5, std::string_view("\0\t\x1b\x1f\x7f", 5)),
            "[5] <U+0000><U+0009><U+001B><U+001F><U+007F>\n");
  // Every other byte is copied as it is: UTF-8 sequences never contain a control byte.
  std::string rest;
  for (int byte = 0x20; byte <= 0xFF; ++byte) {
    if (byte != 0x7F) rest += static_cast<char>(byte);
  }
  EXPECT_EQ(format_log_line(5, rest), "[5] " + rest + "\n");
}

TEST(LogFormat, ClockBeforeTheEpochReadsZero) {
  EXPECT_EQ(unix_seconds_from_filetime(0), 0u);
  EXPECT_EQ(unix_seconds_from_filetime(116444736000000000ULL - 1), 0u);
  EXPECT_EQ(unix_seconds_from_filetime(116444736000000000ULL), 0u);
  EXPECT_EQ(unix_seconds_from_filetime(116444736000000000ULL + 10000000ULL * 42 + 9999999), 42u);
}

TEST(LogPath, JoinsTheTemporaryDirectoryWithTheFileName) {
  EXPECT_EQ(log_path_in(std::u16string(u"C:\\T\\")), u"C:\\T\\talvex-updater.log");
  EXPECT_EQ(log_path_in(std::u16string(u"C:\\T")), u"C:\\T\\talvex-updater.log");
  EXPECT_EQ(log_path_in(std::u16string(u"C:/T/")), u"C:/T/talvex-updater.log");
  EXPECT_EQ(log_path_in(std::nullopt), std::nullopt);
}

// The directory the log's folders are made in: never a drive's root or a bare drive, which
// exist already (or cannot be made).
TEST(LogPath, ItsDirectoryStopsAboveTheRoot) {
  const std::pair<std::u16string, std::optional<std::u16string>> cases[] = {
      {u"C:\\a\\b.log", u"C:\\a"}, {u"C:\\a\\\\b.log", u"C:\\a"}, {u"C:/a/b/", u"C:/a"},
      {u"ab\\c.log", u"ab"},       {u"C:\\b.log", std::nullopt},  {u"\\b.log", std::nullopt},
      {u"b.log", std::nullopt},    {u"\\\\", std::nullopt},       {u"", std::nullopt},
  };
  for (const auto& [path, parent] : cases) {
    EXPECT_EQ(parent_dir(path), parent) << to_utf8(path);
  }
}

}  // namespace
}  // namespace talvex
