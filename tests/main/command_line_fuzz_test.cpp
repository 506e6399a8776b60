// Randomised command lines through the real executable: every one must end in the status the
// parser predicts (options or the usage error), never a crash or a hang. The parser itself is
// fuzzed natively; this checks that the shipped program agrees with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "base/text.h"
#include "main/command_line.h"
#include "support/test_support.h"

namespace talvex {
namespace {

const wchar_t kLoneHigh[] = {0xD800, 0};
const wchar_t kLoneLow[] = {0xDFFF, 0};

// Random text from pieces that matter to the splitter and the parser.
std::wstring random_line(std::mt19937& rng, bool allow_wait_pid, bool allow_long) {
  static const std::wstring kPieces[] = {
      L"--installer", L"--app-exe",  L"--log",  L"--installer", L"--app-exe",   L" ",
      L" ",           L"\t",         L"\"",     L"\"",          L"\\",          L"\\\\",
      L"\\\"",        L"a",          L"b c",    L"setup.exe",   L"--INSTALLER", L"=",
      L"\u03a3",      L"\U0001F600", kLoneHigh, kLoneLow,       L"--log=x",     L"-"};
  std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<int> length(0, 24);
  std::uniform_int_distribution<int> percent(0, 99);
  std::wstring line = L"talvex-updater.exe ";
  // Half the lines start out usable, so that what follows decides the outcome.
  if (percent(rng) < 50) line += L"--installer \"s e.exe\" --app-exe app.exe ";
  // Short tails keep a fair share of lines usable.
  const int pieces = percent(rng) < 30 ? length(rng) % 3 : length(rng);
  for (int n = pieces; n > 0; --n) {
    line += kPieces[piece(rng)];
    if (percent(rng) < 40) line += L' ';
    if (allow_wait_pid && percent(rng) < 5) line += L" --wait-pid 4294967295 ";
    if (allow_wait_pid && percent(rng) < 5) line += L" --wait-pid -7 ";
    if (allow_long && percent(rng) < 2) line += std::wstring(4000 + percent(rng) * 40, L'x');
  }
  return line;
}

TEST(CommandLineFuzz, TheRealExecutableAgreesAndNeverHangs) {
  test::TestDir dir;
  const std::wstring exe = dir.file(L"talvex-updater.exe");
  ASSERT_TRUE(test::copy_file(test::bin_file(L"talvex-updater.exe"), exe));
  std::mt19937 rng(11);
  int usage = 0;
  for (int i = 0; i < 120; ++i) {
    // Only relative paths, so an accepted run writes its log inside the test directory; no
    // --wait-pid that could name a live process.
    const std::wstring line = random_line(rng, true, i % 10 == 0);
    const std::vector<std::u16string> args = split_command_line(test::u16(line));
    const bool accepted = parse_options(std::span(args).subspan(1)).has_value();
    test::SpawnOptions options;
    options.current_dir = dir.path();
    options.stderr_file = dir.file(L"stderr.txt");
    auto child = test::spawn(exe, line, options);
    ASSERT_TRUE(child);
    const std::optional<DWORD> status = test::wait_exit(child->process.get(), 60000);
    if (!status) TerminateProcess(child->process.get(), 99);
    ASSERT_TRUE(status) << "hung on: " << to_utf8(line);
    const std::string err = test::read_file(dir.file(L"stderr.txt")).value_or("?");
    if (accepted) {
      EXPECT_TRUE(*status == kExitSuccess || *status == kExitFailure)
          << *status << " " << to_utf8(line);
      EXPECT_EQ(err, "") << to_utf8(line);
    } else {
      ++usage;
      EXPECT_EQ(*status, kExitUsage) << to_utf8(line);
      EXPECT_EQ(err, kUsageText) << to_utf8(line);
    }
  }
  EXPECT_GT(usage, 10);
  EXPECT_LT(usage, 110);
}

}  // namespace
}  // namespace talvex
