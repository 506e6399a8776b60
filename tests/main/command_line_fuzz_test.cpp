// Randomised command lines: every one must end in options or in the usage error, never a crash
// or a hang, in-process and through the real executable alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "base/text.h"
#include "main/command_line.h"
#include "process/quoting.h"
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

TEST(CommandLineFuzz, EveryLineEndsInOptionsOrUsageAndQuotingRoundTrips) {
  std::mt19937 rng(7);
  int accepted = 0;
  for (int i = 0; i < 10000; ++i) {
    const std::wstring line = random_line(rng, true, true);
    const std::vector<std::wstring> args = split_command_line(line);
    ASSERT_FALSE(args.empty());
    const std::span<const std::wstring> rest = std::span(args).subspan(1);
    const std::optional<UpdaterOptions> options = parse_options(rest);
    if (options) {
      ++accepted;
      // Whatever was accepted came from the arguments, unchanged.
      EXPECT_NE(std::find(rest.begin(), rest.end(), options->installer), rest.end());
      EXPECT_NE(std::find(rest.begin(), rest.end(), options->app_exe), rest.end());
    }
    // Quoting the split arguments and splitting again gives them back.
    const Result<std::wstring> rebuilt = build_command_line(L"talvex-updater.exe", rest);
    ASSERT_TRUE(rebuilt.ok());
    const std::vector<std::wstring> again = split_command_line(rebuilt.value());
    ASSERT_EQ(std::vector<std::wstring>(again.begin() + 1, again.end()),
              std::vector<std::wstring>(rest.begin(), rest.end()))
        << to_utf8(line);
    ASSERT_EQ(parse_options(std::span(args).subspan(1)).has_value(), options.has_value());
  }
  // The generator must exercise both outcomes to mean anything.
  EXPECT_GT(accepted, 100);
  EXPECT_LT(accepted, 9900);
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
    const std::vector<std::wstring> args = split_command_line(line);
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
