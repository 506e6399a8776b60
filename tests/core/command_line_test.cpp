#include "main/command_line.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "command_line_cases.h"

namespace talvex {
namespace {

using Args = std::vector<std::u16string>;

// Every field of the options, or "rejected" for the usage error.
std::string describe(const std::optional<UpdaterOptions>& o) {
  if (!o) return "rejected";
  return "installer=" + to_utf8(o->installer) + " app_exe=" + to_utf8(o->app_exe) +
         " log=" + (o->log ? "'" + to_utf8(*o->log) + "'" : "none") +
         " pid=" + (o->wait_pid ? decimal(*o->wait_pid) : "none");
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

TEST(ParseOptions, EveryRowGivesItsOptionsOrTheUsageError) {
  const std::string minimal = "installer=i app_exe=a log=none pid=none";
  struct Row {
    std::vector<const char16_t*> args;
    std::string options;
  };
  std::vector<Row> rows = {
      {{u"--installer", u"C:\\s.exe", u"--app-exe", u"a.exe", u"--wait-pid", u"+7", u"--log", u"l"},
       "installer=C:\\s.exe app_exe=a.exe log='l' pid=7"},
      {{u"--app-exe", u"a", u"--installer", u"i"}, minimal},
      // Later occurrences replace earlier ones; a trailing option without a value clears what
      // was set before.
      {{u"--installer", u"one", u"--app-exe", u"a", u"--installer", u"two"},
       "installer=two app_exe=a log=none pid=none"},
      {{u"--installer", u"one", u"--app-exe", u"a", u"--installer"}, "rejected"},
      {{u"--installer", u"i", u"--app-exe", u"a", u"--log", u"x", u"--log"}, minimal},
      {{u"--installer", u"i", u"--app-exe", u"a", u"--wait-pid", u"5", u"--wait-pid"}, minimal},
      // The next argument is the value, whatever it looks like.
      {{u"--installer", u"--app-exe", u"--app-exe", u"--log"},
       "installer=--app-exe app_exe=--log log=none pid=none"},
      {{u"--installer", u"", u"--app-exe", u"", u"--log", u""},
       "installer= app_exe= log='' pid=none"},
      // An unusable pid is ignored, not an error, and still replaces an earlier one.
      {{u"--wait-pid", u"5", u"--installer", u"i", u"--app-exe", u"a", u"--wait-pid", u"x"},
       minimal},
      {{}, "rejected"},
      {{u"--installer", u"i"}, "rejected"},
      {{u"--app-exe", u"a"}, "rejected"},
  };
  for (const char16_t* bad : {u"-5", u"4294967296", u"abc", u""}) {
    rows.push_back({{u"--installer", u"i", u"--app-exe", u"a", u"--wait-pid", bad}, minimal});
  }
  for (const char16_t* stray : {u"extra", u"--INSTALLER", u"--installer=x", u"--help", u"-h", u"/?",
                                u"--", u"", u"--wait_pid", u"--log "}) {
    rows.push_back({{u"--installer", u"i", u"--app-exe", u"a", stray}, "rejected"});
  }
  for (const Row& row : rows) {
    const Args args(row.args.begin(), row.args.end());
    std::string shown;
    for (const std::u16string& arg : args) shown += " [" + to_utf8(arg) + "]";
    EXPECT_EQ(describe(parse_options(args)), row.options) << "arguments:" << shown;
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
