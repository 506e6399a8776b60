#include "base/text.h"

#include <gtest/gtest.h>

namespace talvex {
namespace {

// U+1F600 as its UTF-16 surrogate pair: wchar_t is 32 bits wide on some hosts, where an L""
// literal would hold the code point itself rather than the two units Windows has.
constexpr wchar_t kGrinning[] = L"\xD83D\xDE00";

TEST(ToUtf8, EncodesEveryLengthAndReplacesUnpairedSurrogates) {
  EXPECT_EQ(to_utf8(L""), "");
  EXPECT_EQ(to_utf8(L"a\u00e9\u20ac"), "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(to_utf8(kGrinning), "\xF0\x9F\x98\x80");
  const wchar_t lone_high[] = {L'x', static_cast<wchar_t>(0xD83D), L'y', 0};
  EXPECT_EQ(to_utf8(lone_high), "x\xEF\xBF\xBDy");
  const wchar_t lone_low_at_end[] = {L'x', static_cast<wchar_t>(0xDE00), 0};
  EXPECT_EQ(to_utf8(lone_low_at_end), "x\xEF\xBF\xBD");
  // A low surrogate before a high one is two unpaired surrogates, not a pair.
  const wchar_t reversed[] = {static_cast<wchar_t>(0xDE00), static_cast<wchar_t>(0xD83D), 0};
  EXPECT_EQ(to_utf8(reversed), "\xEF\xBF\xBD\xEF\xBF\xBD");
  const wchar_t two_highs_then_low[] = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xD83D),
                                        static_cast<wchar_t>(0xDE00), 0};
  EXPECT_EQ(to_utf8(two_highs_then_low), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
  // The first and last units of both surrogate ranges pair up: U+10000 and U+10FFFF.
  const wchar_t range_ends[] = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0xDC00),
                                static_cast<wchar_t>(0xDBFF), static_cast<wchar_t>(0xDFFF), 0};
  EXPECT_EQ(to_utf8(range_ends), "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
}

TEST(ToWide, RoundTripsValidTextAndReplacesInvalidBytes) {
  const std::wstring sample =
      std::wstring(L"C:\\Pr\u00f6gram Files\\\u03a3\u1f00\\") + kGrinning + L".exe";
  EXPECT_EQ(to_wide(to_utf8(sample)), sample);
  EXPECT_EQ(to_wide("\xC0\xAF"), L"\uFFFD\uFFFD");            // overlong
  EXPECT_EQ(to_wide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(to_wide("a\xE2\x82"), L"a\uFFFD\uFFFD");          // truncated
}

TEST(AsciiCase, FoldsOnlyAsciiLetters) {
  EXPECT_TRUE(ascii_iequals(L"SETUP.MSI", L"setup.msi"));
  EXPECT_FALSE(ascii_iequals(L"\u00c9", L"\u00e9"));
  EXPECT_TRUE(ascii_iends_with(L"C:\\x\\App.EXE", L".exe"));
  EXPECT_FALSE(ascii_iends_with(L"exe", L".exe"));
  EXPECT_TRUE(has_unpaired_surrogate(std::wstring(1, static_cast<wchar_t>(0xDC00))));
  EXPECT_FALSE(has_unpaired_surrogate(kGrinning));
}

TEST(Decimal, WritesWithoutLeadingZeros) {
  EXPECT_EQ(decimal(0), "0");
  EXPECT_EQ(decimal(4294967295ULL), "4294967295");
  EXPECT_EQ(decimal(18446744073709551615ULL), "18446744073709551615");
}

}  // namespace
}  // namespace talvex
