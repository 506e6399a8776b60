// Lower-casing of text that is not valid UTF-8.
#include "base/unicode_lower.h"

#include <gtest/gtest.h>

namespace talvex {
namespace {

// Input that is not valid UTF-8 cannot come from to_utf8, but must still never be misread.
TEST(UnicodeLower, CopiesInvalidBytesAndNeverReadsPastTheEnd) {
  EXPECT_EQ(unicode_to_lower("A\x80Z"), "a\x80z");
  EXPECT_EQ(unicode_to_lower("\xC3"), "\xC3");                          // truncated 2-byte sequence
  EXPECT_EQ(unicode_to_lower("Z\xF0\x90\x90"), "z\xF0\x90\x90");        // truncated Deseret capital
  EXPECT_EQ(unicode_to_lower("\xC0\x81"), "\xC0\x81");                  // overlong
  EXPECT_EQ(unicode_to_lower("\xED\xA0\x80"), "\xED\xA0\x80");          // encoded surrogate
  EXPECT_EQ(unicode_to_lower("\xF4\x90\x80\x80"), "\xF4\x90\x80\x80");  // beyond U+10FFFF
  // An invalid byte after a capital sigma is not a letter, so the sigma ends its word.
  EXPECT_EQ(unicode_to_lower("\xCE\x91\xCE\xA3\xCE"), "\xCE\xB1\xCF\x82\xCE");
  EXPECT_EQ(unicode_to_lower(std::string("A\0B", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace talvex
