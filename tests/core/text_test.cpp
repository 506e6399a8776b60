#include "base/text.h"

#include <gtest/gtest.h>

namespace talvex {
namespace {

TEST(ToUtf8, EncodesEveryLengthAndReplacesUnpairedSurrogates) {
  EXPECT_EQ(to_utf8(u""), "");
  EXPECT_EQ(to_utf8(u"a\u00e9\u20ac"), "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(to_utf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(to_utf8(u"x\xD83Dy"), "x\xEF\xBF\xBDy");
  EXPECT_EQ(to_utf8(u"x\xDE00"), "x\xEF\xBF\xBD");
  // A low surrogate before a high one is two unpaired surrogates, not a pair.
  EXPECT_EQ(to_utf8(u"\xDE00\xD83D"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(to_utf8(u"\xD83D\xD83D\xDE00"), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
  // The first and last units of both surrogate ranges pair up: U+10000 and U+10FFFF.
  EXPECT_EQ(to_utf8(u"\xD800\xDC00\xDBFF\xDFFF"), "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
}

TEST(ToUtf16, RoundTripsValidTextAndReplacesInvalidBytes) {
  const std::u16string sample = u"C:\\Pr\u00f6gram Files\\\u03a3\u1f00\\\U0001F600.exe";
  EXPECT_EQ(to_utf16(to_utf8(sample)), sample);
  EXPECT_EQ(to_utf16("\xC0\xAF"), u"\uFFFD\uFFFD");                  // overlong
  EXPECT_EQ(to_utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");        // encoded surrogate
  EXPECT_EQ(to_utf16("\xED\xBF\xBF"), u"\uFFFD\uFFFD\uFFFD");        // the last one
  EXPECT_EQ(to_utf16("\xED\x9F\xBF\xEE\x80\x80"), u"\uD7FF\uE000");  // either side
  EXPECT_EQ(to_utf16("\xC3\xC3\xE2\xFF\x82"),
            u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");        // no lead continues
  EXPECT_EQ(to_utf16("a\xE2\x82"), u"a\uFFFD\uFFFD");  // truncated
  EXPECT_EQ(to_utf16("\xC3(x"), u"\uFFFD(x");          // the next character kept
}

TEST(AsciiCase, FoldsOnlyAsciiLetters) {
  EXPECT_TRUE(ascii_iequals(u"SETUP.MSI", u"setup.msi"));
  EXPECT_FALSE(ascii_iequals(u"\u00c9", u"\u00e9"));
  EXPECT_TRUE(ascii_iends_with(u"C:\\x\\App.EXE", u".exe"));
  EXPECT_FALSE(ascii_iends_with(u"exe", u".exe"));
  EXPECT_TRUE(has_unpaired_surrogate(u"\xDC00"));
  EXPECT_FALSE(has_unpaired_surrogate(u"\U0001F600"));
}

TEST(Decimal, WritesWithoutLeadingZeros) {
  EXPECT_EQ(decimal(0), "0");
  EXPECT_EQ(decimal(4294967295ULL), "4294967295");
  EXPECT_EQ(decimal(18446744073709551615ULL), "18446744073709551615");
}

}  // namespace
}  // namespace talvex
