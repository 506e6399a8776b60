// Exit-status and error texts that need no system message.
#include "base/error_text.h"

#include <gtest/gtest.h>

namespace talvex {
namespace {

TEST(ExitStatusText, DecimalUntilTheTopBitThenLowerCaseHex) {
  EXPECT_EQ(exit_status_text(0), "exit code: 0");
  EXPECT_EQ(exit_status_text(259), "exit code: 259");
  EXPECT_EQ(exit_status_text(0x7FFFFFFF), "exit code: 2147483647");
  EXPECT_EQ(exit_status_text(0x80000000), "exit code: 0x80000000");
  EXPECT_EQ(exit_status_text(0xC0000005), "exit code: 0xc0000005");
  EXPECT_EQ(exit_status_text(0xFFFFFFFF), "exit code: 0xffffffff");
}

TEST(ErrorText, FixedTextsAndTrimming) {
  EXPECT_EQ(describe_error(Error::fixed(Error::Kind::kProgramNotFound), ""), "program not found");
  EXPECT_EQ(describe_error(Error::fixed(Error::Kind::kNoFileName), ""),
            "program path has no file name");
  EXPECT_EQ(describe_error(Error::fixed(Error::Kind::kNulByte), ""),
            "nul byte found in provided data");
  EXPECT_EQ(describe_error(Error::fixed(Error::Kind::kUnsafeScript), ""),
            "batch script (.bat or .cmd) not started: cmd.exe would re-parse its arguments");
  // The code is shown signed, as NTSTATUS and HRESULT values are documented.
  EXPECT_EQ(describe_error(Error::os(0xE0000001), "Msg."), "Msg. (os error -536870911)");
  EXPECT_EQ(message_lookup_failure_text(0xC0000022, 1813),
            "OS Error -1073741790 (FormatMessageW() returned error 1813)");
  EXPECT_EQ(system_message_text(u" \u00c9chec\t\U0001F600.\r\n \t\f", 5),
            " \xC3\x89"
            "chec\t\xF0\x9F\x98\x80.");
  for (const std::u16string lone : {u"bad \xD800 text", u"cut short \xD800"}) {
    EXPECT_EQ(system_message_text(lone, 0xC0000022),
              "OS Error -1073741790 (FormatMessageW() returned invalid UTF-16)");
  }
}

}  // namespace
}  // namespace talvex
