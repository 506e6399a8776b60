// The children each operation describes to the launcher, without starting processes.
#include <gtest/gtest.h>

#include <chrono>

#include "base/error_text_win.h"
#include "base/text.h"
#include "log/run_log.h"
#include "process/process_win.h"
#include "support/test_support.h"

namespace talvex {
namespace {

TEST(LaunchSpecs, EachOperationStartsItsChildWithoutAConsoleAndWithItsOwnStreams) {
  using std::chrono::milliseconds;
  test::TestDir dir;
  const RunLog log(test::u16(dir.file(L"run.log")));
  const std::wstring app = test::bin_file(L"argv_echo.exe");  // exists, so it is started
  // Every operation's child, as the operation describes it to the launcher. Under Wine a
  // console child looks the same with or without CREATE_NO_WINDOW, so the flags are checked
  // here, at the launch boundary.
  std::vector<LaunchSpec> launched;
  const Launcher record_launch{.start = [&](const LaunchSpec& spec) -> Result<ChildProcess> {
    launched.push_back(spec);
    return Error::os(ERROR_ACCESS_DENIED);
  }};
  EXPECT_FALSE(run_installer(L"C:\\u\\setup.exe", log, milliseconds(60'000), milliseconds(50),
                             record_launch));
  EXPECT_FALSE(run_installer(L"C:\\u\\Setup.MSI", log, milliseconds(60'000), milliseconds(50),
                             record_launch));
  relaunch_app(app, log, record_launch);
  refresh_icon_cache(log, milliseconds(60'000), record_launch);

  const struct {
    std::u16string program;
    std::vector<std::u16string> arguments;
    StdStream streams;
  } expected[] = {
      {u"C:\\u\\setup.exe", {u"/UPDATE", u"/S", u"/R"}, StdStream::kNull},
      {u"msiexec.exe", {u"/i", u"C:\\u\\Setup.MSI", u"/passive", u"/norestart"}, StdStream::kNull},
      {test::u16(app), {}, StdStream::kNull},
      {u"ie4uinit.exe", {u"-ClearIconCache"}, StdStream::kInherit},
      {u"ie4uinit.exe", {u"-show"}, StdStream::kInherit},
  };
  ASSERT_EQ(launched.size(), std::size(expected));
  for (size_t i = 0; i < launched.size(); ++i) {
    const LaunchSpec& spec = launched[i];
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
      test::log_messages(test::wide(*log.path())),
      (std::vector<std::string>{
          "running installer: C:\\u\\setup.exe /UPDATE /S /R",
          "ERROR: failed to spawn installer: " + denied,
          "running installer: msiexec.exe /i C:\\u\\Setup.MSI /passive /norestart",
          "ERROR: failed to spawn installer: " + denied, "ERROR: relaunch failed: " + denied}));
}

}  // namespace
}  // namespace talvex
