// Program resolution, script detection and command-line text, without starting processes.
#include <gtest/gtest.h>

#include "base/path.h"
#include "base/text.h"

#include "process/program_search.h"
#include "process/quoting.h"

namespace talvex {
namespace {

std::wstring command_line(std::vector<std::wstring> arguments) {
  Result<std::wstring> line = build_command_line(L"C:\\My App\\p.exe", arguments);
  return line.ok() ? line.value() : L"<error>";
}

TEST(BuildCommandLine, QuotesWhatTheRuntimeWouldSplitEscapesQuotesAndRefusesNul) {
  const std::wstring program = L"\"C:\\My App\\p.exe\"";
  EXPECT_EQ(command_line({L"/i", L"C:\\Program Files\\App\\setup.msi"}),
            program + L" /i \"C:\\Program Files\\App\\setup.msi\"");
  // A trailing backslash before the closing quote is doubled; unquoted, it stays single.
  EXPECT_EQ(command_line({L"C:\\Program Files\\App\\", L"C:\\dir\\"}),
            program + L" \"C:\\Program Files\\App\\\\\" C:\\dir\\");
  // Two backslashes before a quote become five, inside and outside quotes alike.
  EXPECT_EQ(command_line({L"a\\\\\"b", L"x \\\\\"y"}),
            program + L" a\\\\\\\\\\\"b \"x \\\\\\\\\\\"y\"");
  EXPECT_EQ(command_line({L"", L"\t", L"a\\\\b", L"\""}), program + L" \"\" \"\t\" a\\\\b \\\"");
  // The count starts again after each quote: a quote or the closing quote right after an escaped
  // one has no backslashes of its own to double.
  EXPECT_EQ(command_line({L"\\\"\"", L"x \\\""}), program + L" \\\\\\\"\\\" \"x \\\\\\\"\"");
  const std::wstring with_nul(L"a\0b", 3);
  EXPECT_EQ(command_line({L"ok", with_nul}), L"<error>");
  EXPECT_EQ(build_command_line(with_nul, {}).error().kind, Error::Kind::kNulByte);
}

TEST(SplitPathList, QuotedRunsKeepSemicolonsAndEmptyEntriesVanish) {
  EXPECT_EQ(split_path_list(L"C:\\a;;\"C:\\b;c\";C:\\\"d\"e;\"\";\"D:\\open;end"),
            (std::vector<std::wstring>{L"C:\\a", L"C:\\b;c", L"C:\\de", L"D:\\open;end"}));
  EXPECT_TRUE(is_absolute_path(L"C:\\bin") && is_absolute_path(L"d:/bin") &&
              is_absolute_path(L"\\\\srv\\share"));
  EXPECT_FALSE(is_absolute_path(L".") || is_absolute_path(L"bin") || is_absolute_path(L"\\bin") ||
               is_absolute_path(L"C:bin"));
}

TEST(ResolveProgram, PathRulesNamelessAndNulPrograms) {
  std::vector<std::wstring> probed;
  const ProgramLookup lookup{[] { return std::vector<std::wstring>{L"C:\\d"}; },
                             [&](const std::wstring& path) {
                               probed.push_back(path);
                               return path == L"C:\\d\\setup.exe" || path == L"rel\\tool.exe" ||
                                      path == L"C:\\d\\tool.v2";
                             }};
  auto resolve = [&](std::wstring_view program) {
    Result<std::wstring> file = resolve_program(program, lookup);
    return file.ok() ? to_utf8(file.value()) : "error " + std::to_string(int(file.error().kind));
  };
  // An ".exe" path is left to process creation, without a probe.
  EXPECT_EQ(resolve(L"C:\\d\\Missing.EXE"), "C:\\d\\Missing.EXE");
  EXPECT_TRUE(probed.empty());
  EXPECT_EQ(resolve(L"C:\\d\\setup"), "C:\\d\\setup.exe");
  EXPECT_EQ(resolve(L"rel\\tool"), "rel\\tool.exe");
  EXPECT_EQ(resolve(L"C:/d/app.msi"), "C:/d/app.msi");
  EXPECT_EQ(probed.back(), L"C:/d/app.msi.exe");
  // A bare name is searched for with ".exe" added only when it has no dot of its own.
  EXPECT_EQ(resolve(L"setup"), "C:\\d\\setup.exe");
  EXPECT_EQ(resolve(L"tool.v2"), "C:\\d\\tool.v2");
  // In the verbatim form "/" is part of the name.
  EXPECT_EQ(resolve(L"\\\\?\\C:\\x/"), "\\\\?\\C:\\x/");
  const std::string no_name = "error " + std::to_string(int(Error::Kind::kNoFileName));
  for (const wchar_t* program : {L"", L"C:\\dir\\", L"dir/", L"\\\\?\\C:\\dir\\"}) {
    EXPECT_EQ(resolve(program), no_name) << to_utf8(program);
  }
  const std::string nul = "error " + std::to_string(int(Error::Kind::kNulByte));
  EXPECT_EQ(resolve(std::wstring(L"tool\0.exe", 9)), nul);
  EXPECT_EQ(resolve(std::wstring(L"C:\\a.exe\0.txt", 13)), nul);  // would start C:\a.exe
}

TEST(IsBatchScript, SeesThroughTheNamesWindowsStillRunsAsScripts) {
  for (const wchar_t* path : {L"x.bat", L"X.CMD", L"C:\\d\\x.bat. .", L"x.cmd  ", L"d/x.Bat.",
                              L".bat", L"x.bat::$DATA", L"C:\\d\\x.cmd:s", L"\\\\?\\C:\\x.bat"}) {
    EXPECT_TRUE(is_batch_script(path)) << path;
  }
  for (const wchar_t* path : {L"x.bat.exe", L"x.batx", L"C:\\x.bat\\y.exe", L"bat", L"x.bat_"}) {
    EXPECT_FALSE(is_batch_script(path)) << path;
  }
}

TEST(LongPathForm, PrefixesDrivesAndUncPathsOnly) {
  EXPECT_EQ(long_path_form(L"C:\\a\\b.exe"), L"\\\\?\\C:\\a\\b.exe");
  EXPECT_EQ(long_path_form(L"\\\\srv\\share\\b.exe"), L"\\\\?\\UNC\\srv\\share\\b.exe");
  EXPECT_EQ(long_path_form(L"\\\\?\\C:\\b.exe"), L"\\\\?\\C:\\b.exe");
  EXPECT_EQ(long_path_form(L"\\\\.\\pipe\\p"), L"\\\\.\\pipe\\p");
  // Neither drive-absolute nor UNC: "\\?\" would make it name something else, so it stays.
  EXPECT_EQ(long_path_form(L"\\a\\b.exe"), L"\\a\\b.exe");
  EXPECT_EQ(long_path_form(L"a\\b.exe"), L"a\\b.exe");
}

// The existence check and process creation both take this decision, so a path that passes the
// one is also startable by the other.
TEST(SystemPathForm, TheAbsoluteLengthDecidesEvenForAShortRelativePath) {
  const std::wstring deep = L"C:\\" + std::wstring(245, L'd') + L"\\";  // 249 units
  // An absolute form of 259 units: under the limit, the text goes as given.
  EXPECT_EQ(system_path_form(L"a.exe", deep + L"a.exe\\abcd"), L"a.exe");
  // 260 units: a relative "app.exe" of 7 units must still take the long form.
  EXPECT_EQ(system_path_form(L"app.exe", deep + L"app.exe\\abc"),
            L"\\\\?\\" + deep + L"app.exe\\abc");
  const std::wstring unc_tail = std::wstring(300, L'x');
  EXPECT_EQ(system_path_form(L"x", L"\\\\srv\\s\\" + unc_tail), L"\\\\?\\UNC\\srv\\s\\" + unc_tail);
  // Already verbatim or a device: passed on untouched, however long.
  const std::wstring verbatim = L"\\\\?\\C:\\" + std::wstring(300, L'v');
  EXPECT_EQ(system_path_form(verbatim, L"C:\\ignored"), verbatim);
  EXPECT_EQ(system_path_form(L"\\\\.\\NUL", L"\\\\.\\NUL"), L"\\\\.\\NUL");
}

}  // namespace
}  // namespace talvex
