// An application that never exits: the updater gives up after 30 seconds and installs anyway.
#include "update/update_fixture.h"

namespace talvex::test {
namespace {

TEST_F(UpdateRun, AnApplicationThatNeverExitsIsWaitedForThirtySeconds) {
  prepare();
  const std::wstring stubborn = root_ + L"\\stubborn.exe";
  ASSERT_TRUE(make_stub(stubborn, "forever\n"));
  auto running = spawn(stubborn, L"stubborn.exe");
  ASSERT_TRUE(running);
  const std::wstring installer = make_installer(L"setup.exe", "exit 1\n");
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(run({L"--installer", installer, L"--app-exe", app_, L"--wait-pid",
                 std::to_wstring(running->pid), L"--log", log_}),
            1u);
  const ULONGLONG took = GetTickCount64() - start;
  TerminateProcess(running->process.get(), 0);
  const auto lines = messages();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2], "main process " + std::to_string(running->pid) +
                          " still running after timeout, proceeding (installer kills it)");
  EXPECT_EQ(lines[3], "running installer: " + to_utf8(installer) + " /UPDATE /S /R");
  EXPECT_GE(took, 29500u);
  EXPECT_LT(took, 36000u);
}

}  // namespace
}  // namespace talvex::test
