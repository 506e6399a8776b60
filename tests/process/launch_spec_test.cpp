// The children each operation describes to the launcher, without starting processes.
#include <gtest/gtest.h>

#include <chrono>

#include "base/error_text.h"
#include "base/text.h"
#include "log/run_log.h"
#include "process/process_win.h"
#include "support/test_support.h"

namespace talvex {
namespace {

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
