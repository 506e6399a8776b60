// Log lines and the log path, as text.
#include <gtest/gtest.h>

#include "base/clock.h"
#include "log/run_log.h"

namespace talvex {
namespace {

TEST(LogFormat, IsBracketedSecondsSpaceMessageLineFeed) {
  EXPECT_EQ(format_log_line(0, "x"), "[0] x\n");
  EXPECT_EQ(format_log_line(1796635554, "=== talvex-updater start ==="),
            "[1796635554] === talvex-updater start ===\n");
  EXPECT_EQ(format_log_line(18446744073709551615ULL, ""), "[18446744073709551615] \n");
}

TEST(LogFormat, ClockBeforeTheEpochReadsZero) {
  EXPECT_EQ(unix_seconds_from_filetime(0), 0u);
  EXPECT_EQ(unix_seconds_from_filetime(116444736000000000ULL - 1), 0u);
  EXPECT_EQ(unix_seconds_from_filetime(116444736000000000ULL), 0u);
  EXPECT_EQ(unix_seconds_from_filetime(116444736000000000ULL + 10000000ULL * 42 + 9999999), 42u);
}

TEST(LogPath, JoinsTheTemporaryDirectoryWithTheFileName) {
  EXPECT_EQ(log_path_in(std::wstring(L"C:\\T\\")), L"C:\\T\\talvex-updater.log");
  EXPECT_EQ(log_path_in(std::wstring(L"C:\\T")), L"C:\\T\\talvex-updater.log");
  EXPECT_EQ(log_path_in(std::wstring(L"C:/T/")), L"C:/T/talvex-updater.log");
  EXPECT_EQ(log_path_in(std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace talvex
