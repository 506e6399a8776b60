// Program resolution, script detection and command-line text, without starting processes.
#include <gtest/gtest.h>

#include "base/path.h"
#include "base/text.h"

#include "process/program_search.h"
#include "process/quoting.h"

namespace talvex {
namespace {

std::u16string command_line(std::vector<std::u16string> arguments) {
  Result<std::u16string> line = build_command_line(u"C:\\My App\\p.exe", arguments);
  return line.ok() ? line.value() : u"<error>";
}

TEST(BuildCommandLine, QuotesWhatTheRuntimeWouldSplitEscapesQuotesAndRefusesNul) {
  const std::u16string program = u"\"C:\\My App\\p.exe\"";
  EXPECT_EQ(command_line({u"/i", u"C:\\Program Files\\App\\setup.msi"}),
            program + u" /i \"C:\\Program Files\\App\\setup.msi\"");
  // A trailing backslash before the closing quote is doubled; unquoted, it stays single.
  EXPECT_EQ(command_line({u"C:\\Program Files\\App\\", u"C:\\dir\\"}),
            program + u" \"C:\\Program Files\\App\\\\\" C:\\dir\\");
  // Two backslashes before a quote become five, inside and outside quotes alike.
  EXPECT_EQ(command_line({u"a\\\\\"b", u"x \\\\\"y"}),
            program + u" a\\\\\\\\\\\"b \"x \\\\\\\\\\\"y\"");
  EXPECT_EQ(command_line({u"", u"\t", u"a\\\\b", u"\""}), program + u" \"\" \"\t\" a\\\\b \\\"");
  // The count starts again after each quote: a quote or the closing quote right after an escaped
  // one has no backslashes of its own to double.
  EXPECT_EQ(command_line({u"\\\"\"", u"x \\\""}), program + u" \\\\\\\"\\\" \"x \\\\\\\"\"");
  const std::u16string with_nul(u"a\0b", 3);
  EXPECT_EQ(command_line({u"ok", with_nul}), u"<error>");
  EXPECT_EQ(build_command_line(with_nul, {}).error().kind, Error::Kind::kNulByte);
}

TEST(SplitPathList, QuotedRunsKeepSemicolonsAndEmptyEntriesVanish) {
  EXPECT_EQ(split_path_list(u"C:\\a;;\"C:\\b;c\";C:\\\"d\"e;\"\";\"D:\\open;end"),
            (std::vector<std::u16string>{u"C:\\a", u"C:\\b;c", u"C:\\de", u"D:\\open;end"}));
  EXPECT_EQ(split_path_list(u"C:\\a;"), std::vector<std::u16string>{u"C:\\a"});
  EXPECT_TRUE(is_absolute_path(u"C:\\bin") && is_absolute_path(u"d:/bin") &&
              is_absolute_path(u"\\\\srv\\share"));
  EXPECT_FALSE(is_absolute_path(u".") || is_absolute_path(u"bin") || is_absolute_path(u"\\bin") ||
               is_absolute_path(u"C:bin"));
}

TEST(ResolveProgram, PathRulesNamelessAndNulPrograms) {
  std::vector<std::u16string> probed;
  const ProgramLookup lookup{[] { return std::vector<std::u16string>{u"C:\\d"}; },
                             [&](const std::u16string& path) {
                               probed.push_back(path);
                               return path == u"C:\\d\\setup.exe" || path == u"rel\\tool.exe" ||
                                      path == u"C:\\d\\tool.v2";
                             }};
  auto resolve = [&](std::u16string_view program) {
    Result<std::u16string> file = resolve_program(program, lookup);
    return file.ok() ? to_utf8(file.value()) : "error " + std::to_string(int(file.error().kind));
  };
  // An ".exe" path is left to process creation, without a probe.
  EXPECT_EQ(resolve(u"C:\\d\\Missing.EXE"), "C:\\d\\Missing.EXE");
  EXPECT_TRUE(probed.empty());
  EXPECT_EQ(resolve(u"C:\\d\\setup"), "C:\\d\\setup.exe");
  EXPECT_EQ(resolve(u"rel\\tool"), "rel\\tool.exe");
  EXPECT_EQ(resolve(u"C:/d/app.msi"), "C:/d/app.msi");
  EXPECT_EQ(probed.back(), u"C:/d/app.msi.exe");
  // A bare name is searched for with ".exe" added only when it has no dot of its own.
  EXPECT_EQ(resolve(u"setup"), "C:\\d\\setup.exe");
  EXPECT_EQ(resolve(u"tool.v2"), "C:\\d\\tool.v2");
  // In the verbatim form "/" is part of the name.
  EXPECT_EQ(resolve(u"\\\\?\\C:\\x/"), "\\\\?\\C:\\x/");
  const std::string no_name = "error " + std::to_string(int(Error::Kind::kNoFileName));
  for (const char16_t* program : {u"", u"C:\\dir\\", u"dir/", u"\\\\?\\C:\\dir\\"}) {
    EXPECT_EQ(resolve(program), no_name) << to_utf8(program);
  }
  const std::string nul = "error " + std::to_string(int(Error::Kind::kNulByte));
  EXPECT_EQ(resolve(std::u16string(u"tool\0.exe", 9)), nul);
  EXPECT_EQ(resolve(std::u16string(u"C:\\a.exe\0.txt", 13)), nul);  // would start C:\a.exe
}

TEST(IsBatchScript, SeesThroughTheNamesWindowsStillRunsAsScripts) {
  for (const char16_t* path : {u"x.bat", u"X.CMD", u"C:\\d\\x.bat. .", u"x.cmd  ", u"d/x.Bat.",
                               u".bat", u"x.bat::$DATA", u"C:\\d\\x.cmd:s", u"\\\\?\\C:\\x.bat"}) {
    EXPECT_TRUE(is_batch_script(path)) << to_utf8(path);
  }
  for (const char16_t* path :
       {u"x.bat.exe", u"x.batx", u"C:\\x.bat\\y.exe", u"bat", u"x.bat_", u"x.exe:stream", u"..."}) {
    EXPECT_FALSE(is_batch_script(path)) << to_utf8(path);
  }
}

TEST(LongPathForm, PrefixesDrivesAndUncPathsOnly) {
  EXPECT_EQ(long_path_form(u"C:\\a\\b.exe"), u"\\\\?\\C:\\a\\b.exe");
  EXPECT_EQ(long_path_form(u"\\\\srv\\share\\b.exe"), u"\\\\?\\UNC\\srv\\share\\b.exe");
  EXPECT_EQ(long_path_form(u"\\\\?\\C:\\b.exe"), u"\\\\?\\C:\\b.exe");
  EXPECT_EQ(long_path_form(u"\\\\.\\pipe\\p"), u"\\\\.\\pipe\\p");
  // Neither drive-absolute nor UNC: "\\?\" would make it name something else, so it stays.
  EXPECT_EQ(long_path_form(u"\\a\\b.exe"), u"\\a\\b.exe");
  EXPECT_EQ(long_path_form(u"a\\b.exe"), u"a\\b.exe");
  EXPECT_EQ(long_path_form(u"1:\\b.exe"), u"1:\\b.exe");
  // "\\?\" turns off the "/" to "\" conversion, so a path not yet normalised stays as it is.
  EXPECT_EQ(long_path_form(u"C:/a/b.exe"), u"C:/a/b.exe");
  EXPECT_EQ(long_path_form(u"\u00e9:\\b.exe"), u"\u00e9:\\b.exe");
}

// The existence check and process creation both take this decision, so a path that passes the
// one is also startable by the other.
TEST(SystemPathForm, TheAbsoluteLengthDecidesEvenForAShortRelativePath) {
  const std::u16string deep = u"C:\\" + std::u16string(245, u'd') + u"\\";  // 249 units
  // An absolute form of 259 units: under the limit, the text goes as given.
  EXPECT_EQ(openable_path(u"a.exe", deep + u"a.exe\\abcd"), u"a.exe");
  // 260 units: a relative "app.exe" of 7 units must still take the long form.
  EXPECT_EQ(openable_path(u"app.exe", deep + u"app.exe\\abc"), u"\\\\?\\" + deep + u"app.exe\\abc");
  const std::u16string unc_tail = std::u16string(300, u'x');
  EXPECT_EQ(openable_path(u"x", u"\\\\srv\\s\\" + unc_tail), u"\\\\?\\UNC\\srv\\s\\" + unc_tail);
  // Already verbatim or a device: passed on untouched, however long.
  const std::u16string verbatim = u"\\\\?\\C:\\" + std::u16string(300, u'v');
  EXPECT_EQ(openable_path(verbatim, u"C:\\ignored"), verbatim);
  EXPECT_EQ(openable_path(u"\\\\.\\NUL", u"\\\\.\\NUL"), u"\\\\.\\NUL");
}

}  // namespace
}  // namespace talvex
