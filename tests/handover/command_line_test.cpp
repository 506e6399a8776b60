// The command line the handover code builds for the updater, read back by a real C runtime (the
// argv_echo helper) and by the updater's own splitter: every value an application hands over
// must arrive as exactly one argument with exactly its text.
#include <gtest/gtest.h>

#include <random>

#include "start_updater.h"

#include "base/text.h"
#include "main/command_line.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using test::TestDir;

// Paths as applications meet them, and the characters the quoting rules are about: runs of
// backslashes (before a quote, or at the end of a quoted value), quotes, blanks, non-ASCII text.
std::wstring random_value(std::mt19937& rng) {
  static const wchar_t* const kPieces[] = {L"C:\\Program Files\\",
                                           L"C:\\Users\\Ann\\",
                                           L"\\\\server\\share\\",
                                           L"setup.exe",
                                           L" ",
                                           L" ",
                                           L"\t",
                                           L"\"",
                                           L"\\",
                                           L"\\\\",
                                           L"\\\"",
                                           L"--log",
                                           L"\u00e9",
                                           L"\u4e2d",
                                           L"\U0001F600",
                                           L"a",
                                           L"%TEMP%",
                                           L"^&|<>"};
  std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<int> length(0, 7);
  std::wstring value;
  for (int n = length(rng); n > 0; --n) value += kPieces[piece(rng)];
  return value;
}

TEST(HandoverCommandLine, EveryValueRoundTripsThroughTheCRuntimeAndTheUpdater) {
  TestDir dir;
  const unsigned seed = std::random_device{}();
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::uniform_int_distribution<DWORD> pid;
  const std::wstring updater = L"C:\\Program Files\\Vendor App\\talvex-updater.exe";
  for (int i = 0; i < 100; ++i) {
    talvex_example::UpdateHandover handover;
    handover.installer = random_value(rng);
    handover.log = random_value(rng);  // empty: no --log at all
    const std::wstring app_exe = random_value(rng);
    const DWORD app_pid = pid(rng);
    const std::wstring line =
        talvex_example::updater_command_line(updater, handover, app_exe, app_pid);

    std::vector<std::wstring> expected = {
        updater, L"--installer", handover.installer,      L"--app-exe",
        app_exe, L"--wait-pid",  std::to_wstring(app_pid)};
    if (!handover.log.empty()) expected.insert(expected.end(), {L"--log", handover.log});
    const auto runtime = test::runtime_argv(dir, line);
    ASSERT_TRUE(runtime) << to_utf8(line);
    ASSERT_EQ(*runtime, expected) << "line: " << to_utf8(line);
    ASSERT_EQ(split_command_line(test::u16(line)), test::u16_all(expected))
        << "line: " << to_utf8(line);
  }
}

}  // namespace
}  // namespace talvex
