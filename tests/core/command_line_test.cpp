#include "main/command_line.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "base/text.h"
#include "command_line_cases.h"

namespace talvex {
namespace {

using Args = std::vector<std::u16string>;

std::optional<UpdaterOptions> parse(std::initializer_list<const char16_t*> args) {
  Args list;
  for (const char16_t* a : args) list.emplace_back(a);
  return parse_options(list);
}

TEST(SplitCommandLine, ProgramNameTogglesQuotesAndKeepsBackslashes) {
  EXPECT_EQ(split_command_line(u"\"C:\\Program Files\\u.exe\" a"),
            (Args{u"C:\\Program Files\\u.exe", u"a"}));
  EXPECT_EQ(split_command_line(u"C:\\a\"b c\"d\\ x"), (Args{u"C:\\ab cd\\", u"x"}));
  EXPECT_EQ(split_command_line(u"prog\\\"x y"), (Args{u"prog\\x y"}));
  EXPECT_EQ(split_command_line(u""), (Args{u""}));
  EXPECT_EQ(split_command_line(u" a"), (Args{u"", u"a"}));
  EXPECT_EQ(split_command_line(u"p\ta"), (Args{u"p", u"a"}));
}

TEST(SplitCommandLine, ArgumentsFollowTheRuntimeRules) {
  for (const SplitCase& c : kSplitCases)
    EXPECT_EQ(split_command_line(c.line), c.args) << "line: " << to_utf8(c.line);
}

TEST(ParsePid, AcceptsPlusAndDigitsWithinRange) {
  EXPECT_EQ(parse_pid(u"42"), 42u);
  EXPECT_EQ(parse_pid(u"+42"), 42u);
  EXPECT_EQ(parse_pid(u"007"), 7u);
  EXPECT_EQ(parse_pid(u"0"), 0u);
  EXPECT_EQ(parse_pid(u"4294967295"), 4294967295u);
  for (const char16_t* bad : {u"", u"+", u"-1", u"++1", u"4294967296", u"99999999999999999999",
                              u" 1", u"1 ", u"0x10", u"1e3", u"\uff11"}) {
    EXPECT_EQ(parse_pid(bad), std::nullopt) << to_utf8(bad);
  }
}

TEST(ParseOptions, ReadsTheFourOptions) {
  const auto options = parse(
      {u"--installer", u"C:\\s.exe", u"--app-exe", u"a.exe", u"--wait-pid", u"+7", u"--log", u"l"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->installer, u"C:\\s.exe");
  EXPECT_EQ(options->app_exe, u"a.exe");
  EXPECT_EQ(options->wait_pid, 7u);
  EXPECT_EQ(options->log, u"l");

  const auto minimal = parse({u"--app-exe", u"a", u"--installer", u"i"});
  ASSERT_TRUE(minimal);
  EXPECT_EQ(minimal->wait_pid, std::nullopt);
  EXPECT_EQ(minimal->log, std::nullopt);
}

TEST(ParseOptions, LaterOccurrencesReplaceEarlierOnes) {
  const auto twice = parse({u"--installer", u"one", u"--app-exe", u"a", u"--installer", u"two"});
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->installer, u"two");

  // A trailing option without a value clears what was set before.
  EXPECT_FALSE(parse({u"--installer", u"one", u"--app-exe", u"a", u"--installer"}));
  const auto cleared_log =
      parse({u"--installer", u"i", u"--app-exe", u"a", u"--log", u"x", u"--log"});
  ASSERT_TRUE(cleared_log);
  EXPECT_EQ(cleared_log->log, std::nullopt);
  const auto cleared_pid =
      parse({u"--installer", u"i", u"--app-exe", u"a", u"--wait-pid", u"5", u"--wait-pid"});
  ASSERT_TRUE(cleared_pid);
  EXPECT_EQ(cleared_pid->wait_pid, std::nullopt);
}

TEST(ParseOptions, TakesTheNextArgumentWhateverItLooksLike) {
  const auto options = parse({u"--installer", u"--app-exe", u"--app-exe", u"--log"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->installer, u"--app-exe");
  EXPECT_EQ(options->app_exe, u"--log");
  const auto empty = parse({u"--installer", u"", u"--app-exe", u"", u"--log", u""});
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->installer, u"");
  EXPECT_EQ(empty->log, u"");
}

TEST(ParseOptions, AnUnusablePidIsIgnoredNotAnError) {
  for (const char16_t* bad : {u"-5", u"4294967296", u"abc", u""}) {
    const auto options = parse({u"--installer", u"i", u"--app-exe", u"a", u"--wait-pid", bad});
    ASSERT_TRUE(options) << to_utf8(bad);
    EXPECT_EQ(options->wait_pid, std::nullopt) << to_utf8(bad);
  }
  const auto replaced =
      parse({u"--wait-pid", u"5", u"--installer", u"i", u"--app-exe", u"a", u"--wait-pid", u"x"});
  ASSERT_TRUE(replaced);
  EXPECT_EQ(replaced->wait_pid, std::nullopt);
}

TEST(ParseOptions, RejectsEverythingElse) {
  EXPECT_FALSE(parse({}));
  EXPECT_FALSE(parse({u"--installer", u"i"}));
  EXPECT_FALSE(parse({u"--app-exe", u"a"}));
  for (const char16_t* stray : {u"extra", u"--INSTALLER", u"--installer=x", u"--help", u"-h", u"/?",
                                u"--", u"", u"--wait_pid", u"--log "}) {
    EXPECT_FALSE(parse({u"--installer", u"i", u"--app-exe", u"a", stray})) << to_utf8(stray);
  }
}

TEST(ParseOptions, KeepsPathsWithUnpairedSurrogatesAsGiven) {
  const std::u16string odd = u"C:\\x\xD800.exe";
  const Args args{u"--installer", odd, u"--app-exe", odd};
  const auto options = parse_options(args);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->installer, odd);
  // Option names compare exactly: a surrogate glued to a name makes it unknown.
  const Args glued{u"--installer\xDC00", u"i", u"--app-exe", u"a"};
  EXPECT_FALSE(parse_options(glued));
}

}  // namespace
}  // namespace talvex
