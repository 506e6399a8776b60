#include "main/command_line.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace talvex {
namespace {

using Args = std::vector<std::wstring>;

std::optional<UpdaterOptions> parse(std::initializer_list<const wchar_t*> args) {
  Args list;
  for (const wchar_t* a : args) list.emplace_back(a);
  return parse_options(list);
}

TEST(SplitCommandLine, ProgramNameTogglesQuotesAndKeepsBackslashes) {
  EXPECT_EQ(split_command_line(L"\"C:\\Program Files\\u.exe\" a"),
            (Args{L"C:\\Program Files\\u.exe", L"a"}));
  EXPECT_EQ(split_command_line(L"C:\\a\"b c\"d\\ x"), (Args{L"C:\\ab cd\\", L"x"}));
  EXPECT_EQ(split_command_line(L"prog\\\"x y"), (Args{L"prog\\x y"}));
  EXPECT_EQ(split_command_line(L""), (Args{L""}));
  EXPECT_EQ(split_command_line(L" a"), (Args{L"", L"a"}));
  EXPECT_EQ(split_command_line(L"p\ta"), (Args{L"p", L"a"}));
}

TEST(SplitCommandLine, ArgumentsFollowTheRuntimeRules) {
  struct Case {
    const wchar_t* line;
    Args args;
  };
  const Case cases[] = {
      {L"p  a \t b\t", {L"p", L"a", L"b"}},
      {L"p \"a b\" c", {L"p", L"a b", L"c"}},
      {L"p a\"b c\"d", {L"p", L"ab cd"}},
      {L"p \"a\"\"b c\"", {L"p", L"a\"b c"}},  // "" inside quotes: a literal quote
      {L"p \"x\"\"\"", {L"p", L"x\""}},
      {L"p a\"\"b", {L"p", L"ab"}},  // "" outside quotes opens and closes a run
      {L"p \"\"", {L"p", L""}},
      {L"p \"\" \"\"", {L"p", L"", L""}},
      {L"p a\\b\\\\c", {L"p", L"a\\b\\\\c"}},  // backslashes not before a quote are literal
      {L"p \\\\\\\"q", {L"p", L"\\\"q"}},      // 3 backslashes + quote: 1 backslash, literal quote
      {L"p a\\\\\\\\\"b\"", {L"p", L"a\\\\b"}},  // 4 backslashes + quote: 2, quote opens
      {L"p \"a\\\\\" b", {L"p", L"a\\", L"b"}},
      {L"p \"a\\\" b\"", {L"p", L"a\" b"}},
      {L"p \"open end", {L"p", L"open end"}},
      {L"p a \"", {L"p", L"a", L""}},  // an open run at the end still ends an argument
      {L"p \"a\"\"", {L"p", L"a\""}},
      {L"p a\\", {L"p", L"a\\"}},
      {L"p \"\t\"", {L"p", L"\t"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split_command_line(c.line), c.args) << "line: " << c.line;
}

TEST(ParsePid, AcceptsPlusAndDigitsWithinRange) {
  EXPECT_EQ(parse_pid(L"42"), 42u);
  EXPECT_EQ(parse_pid(L"+42"), 42u);
  EXPECT_EQ(parse_pid(L"007"), 7u);
  EXPECT_EQ(parse_pid(L"0"), 0u);
  EXPECT_EQ(parse_pid(L"4294967295"), 4294967295u);
  for (const wchar_t* bad : {L"", L"+", L"-1", L"++1", L"4294967296", L"99999999999999999999",
                             L" 1", L"1 ", L"0x10", L"1e3", L"\uff11"}) {
    EXPECT_EQ(parse_pid(bad), std::nullopt) << bad;
  }
}

TEST(ParseOptions, ReadsTheFourOptions) {
  const auto options = parse(
      {L"--installer", L"C:\\s.exe", L"--app-exe", L"a.exe", L"--wait-pid", L"+7", L"--log", L"l"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->installer, L"C:\\s.exe");
  EXPECT_EQ(options->app_exe, L"a.exe");
  EXPECT_EQ(options->wait_pid, 7u);
  EXPECT_EQ(options->log, L"l");

  const auto minimal = parse({L"--app-exe", L"a", L"--installer", L"i"});
  ASSERT_TRUE(minimal);
  EXPECT_EQ(minimal->wait_pid, std::nullopt);
  EXPECT_EQ(minimal->log, std::nullopt);
}

TEST(ParseOptions, LaterOccurrencesReplaceEarlierOnes) {
  const auto twice = parse({L"--installer", L"one", L"--app-exe", L"a", L"--installer", L"two"});
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->installer, L"two");

  // A trailing option without a value clears what was set before.
  EXPECT_FALSE(parse({L"--installer", L"one", L"--app-exe", L"a", L"--installer"}));
  const auto cleared_log =
      parse({L"--installer", L"i", L"--app-exe", L"a", L"--log", L"x", L"--log"});
  ASSERT_TRUE(cleared_log);
  EXPECT_EQ(cleared_log->log, std::nullopt);
  const auto cleared_pid =
      parse({L"--installer", L"i", L"--app-exe", L"a", L"--wait-pid", L"5", L"--wait-pid"});
  ASSERT_TRUE(cleared_pid);
  EXPECT_EQ(cleared_pid->wait_pid, std::nullopt);
}

TEST(ParseOptions, TakesTheNextArgumentWhateverItLooksLike) {
  const auto options = parse({L"--installer", L"--app-exe", L"--app-exe", L"--log"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->installer, L"--app-exe");
  EXPECT_EQ(options->app_exe, L"--log");
  const auto empty = parse({L"--installer", L"", L"--app-exe", L"", L"--log", L""});
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->installer, L"");
  EXPECT_EQ(empty->log, L"");
}

TEST(ParseOptions, AnUnusablePidIsIgnoredNotAnError) {
  for (const wchar_t* bad : {L"-5", L"4294967296", L"abc", L""}) {
    const auto options = parse({L"--installer", L"i", L"--app-exe", L"a", L"--wait-pid", bad});
    ASSERT_TRUE(options) << bad;
    EXPECT_EQ(options->wait_pid, std::nullopt) << bad;
  }
  const auto replaced =
      parse({L"--wait-pid", L"5", L"--installer", L"i", L"--app-exe", L"a", L"--wait-pid", L"x"});
  ASSERT_TRUE(replaced);
  EXPECT_EQ(replaced->wait_pid, std::nullopt);
}

TEST(ParseOptions, RejectsEverythingElse) {
  EXPECT_FALSE(parse({}));
  EXPECT_FALSE(parse({L"--installer", L"i"}));
  EXPECT_FALSE(parse({L"--app-exe", L"a"}));
  for (const wchar_t* stray : {L"extra", L"--INSTALLER", L"--installer=x", L"--help", L"-h", L"/?",
                               L"--", L"", L"--wait_pid", L"--log "}) {
    EXPECT_FALSE(parse({L"--installer", L"i", L"--app-exe", L"a", stray})) << stray;
  }
}

TEST(ParseOptions, KeepsPathsWithUnpairedSurrogatesAsGiven) {
  const std::wstring odd = std::wstring(L"C:\\x") + static_cast<wchar_t>(0xD800) + L".exe";
  const Args args{L"--installer", odd, L"--app-exe", odd};
  const auto options = parse_options(args);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->installer, odd);
  // Option names compare exactly: a surrogate glued to a name makes it unknown.
  const Args glued{L"--installer" + std::wstring(1, static_cast<wchar_t>(0xDC00)), L"i",
                   L"--app-exe", L"a"};
  EXPECT_FALSE(parse_options(glued));
}

}  // namespace
}  // namespace talvex
