// Program resolution, script detection, command-line text and the children each operation
// describes, without starting processes.
#include <gtest/gtest.h>

#include <chrono>

#include "base/error_text.h"
#include "base/text.h"
#include "log/run_log.h"
#include "process/process.h"
#include "support/test_support.h"

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
  const ProgramLookup lookup{[] { return std::vector<std::wstring>{}; },
                             [&](const std::wstring& path) {
                               probed.push_back(path);
                               return path == L"C:\\d\\setup.exe" || path == L"rel\\tool.exe";
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

TEST(ResolveProgram, BareNamesGetExeOnlyWithoutAnyDot) {
  // Decoys: a "tool.v2.exe" earlier in the search must not stand in for "tool.v2".
  const ProgramLookup lookup{[] {
                               return std::vector<std::wstring>{L"C:\\a", L"C:\\b\\"};
                             },
                             [](const std::wstring& path) {
                               return path == L"C:\\a\\tool.v2.exe" || path == L"C:\\b\\tool.v2" ||
                                      path == L"C:\\b\\tool.exe" || path == L"C:\\a\\tool";
                             }};
  auto resolve = [&](std::wstring_view program) {
    Result<std::wstring> file = resolve_program(program, lookup);
    return file.ok() ? to_utf8(file.value()) : std::string("error");
  };
  EXPECT_EQ(resolve(L"tool.v2"), "C:\\b\\tool.v2");
  EXPECT_EQ(resolve(L"tool"), "C:\\b\\tool.exe");
  EXPECT_EQ(resolve(L"missing.v2"), "error");
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

// Every operation's child, as the operation describes it to the launcher. Under Wine a console
// child looks the same with or without CREATE_NO_WINDOW, so the flags are checked here, at the
// launch boundary.
std::vector<LaunchSpec> g_launched;

Result<ChildProcess> record_launch(const LaunchSpec& spec) {
  g_launched.push_back(spec);
  return Error::os(ERROR_ACCESS_DENIED);
}

TEST(LaunchSpecs, EachOperationStartsItsChildWithoutAConsoleAndWithItsOwnStreams) {
  using std::chrono::milliseconds;
  test::TestDir dir;
  const RunLog log(dir.file(L"run.log"));
  const std::wstring app = test::bin_file(L"argv_echo.exe");  // exists, so it is started
  g_launched.clear();
  EXPECT_FALSE(run_installer(L"C:\\u\\setup.exe", log, milliseconds(60'000), milliseconds(50),
                             &record_launch));
  EXPECT_FALSE(run_installer(L"C:\\u\\Setup.MSI", log, milliseconds(60'000), milliseconds(50),
                             &record_launch));
  relaunch_app(app, log, &record_launch);
  refresh_icon_cache(log, milliseconds(60'000), &record_launch);

  const struct {
    std::wstring program;
    std::vector<std::wstring> arguments;
    StdStream streams;
  } expected[] = {
      {L"C:\\u\\setup.exe", {L"/UPDATE", L"/S", L"/R"}, StdStream::kNull},
      {L"msiexec.exe", {L"/i", L"C:\\u\\Setup.MSI", L"/passive", L"/norestart"}, StdStream::kNull},
      {app, {}, StdStream::kNull},
      {L"ie4uinit.exe", {L"-ClearIconCache"}, StdStream::kInherit},
      {L"ie4uinit.exe", {L"-show"}, StdStream::kInherit},
  };
  ASSERT_EQ(g_launched.size(), std::size(expected));
  for (size_t i = 0; i < g_launched.size(); ++i) {
    const LaunchSpec& spec = g_launched[i];
    SCOPED_TRACE(to_utf8(spec.program));
    EXPECT_EQ(spec.program, expected[i].program);
    EXPECT_EQ(spec.arguments, expected[i].arguments);
    EXPECT_EQ(spec.creation_flags, static_cast<DWORD>(CREATE_NO_WINDOW));
    EXPECT_EQ(spec.std_in, expected[i].streams);
    EXPECT_EQ(spec.std_out, expected[i].streams);
    EXPECT_EQ(spec.std_err, expected[i].streams);
  }
  // A launcher's error is reported like any failed start; the icon utility's leaves no line.
  const std::string denied = error_text(Error::os(ERROR_ACCESS_DENIED));
  EXPECT_EQ(
      test::log_messages(*log.path()),
      (std::vector<std::string>{
          "running installer: C:\\u\\setup.exe /UPDATE /S /R",
          "ERROR: failed to spawn installer: " + denied,
          "running installer: msiexec.exe /i C:\\u\\Setup.MSI /passive /norestart",
          "ERROR: failed to spawn installer: " + denied, "ERROR: relaunch failed: " + denied}));
}

}  // namespace
}  // namespace talvex
