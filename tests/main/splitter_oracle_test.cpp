// The splitter against a real C runtime: a helper reports the argv its runtime parsed from
// generated command lines, and our splitter must agree. The helper is linked like every MinGW-w64
// program here, against the system's msvcrt.dll (not the Universal CRT): on Windows that is
// Microsoft's msvcrt.dll, under Wine Wine's own reimplementation of it. The run prints which.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "base/text.h"
#include "core/command_line_cases.h"
#include "main/command_line.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using test::TestDir;

// Command lines heavy in the characters the rules are about.
std::wstring random_command_line(std::mt19937& rng) {
  static const wchar_t* const kPieces[] = {
      L"a",      L"b",      L"x y",        L" ",         L" ",          L"\t",   L"\"",
      L"\"",     L"\"\"",   L"\\",         L"\\\\",      L"\\\\\\",     L"\\\"", L"\\\\\"",
      L"\u00e9", L"\u03a3", L"\U0001F600", L"C:\\dir\\", L"--installer"};
  constexpr size_t kCount = sizeof kPieces / sizeof kPieces[0];
  std::uniform_int_distribution<size_t> piece(0, kCount - 1);
  std::uniform_int_distribution<int> length(0, 14);

  // The program name part, always followed by a blank: kept to forms on which Wine's runtime
  // follows the rules (see kWineDepartures for those where it does not).
  static const wchar_t* const kPrograms[] = {L"echo.exe ", L"\"C:\\Program Files\\echo.exe\" ",
                                             L"C:\\a\"b c\"\\echo\t", L"echo\\ ", L"\"\" "};
  std::uniform_int_distribution<size_t> program(0, std::size(kPrograms) - 1);
  std::wstring line = kPrograms[program(rng)];
  for (int n = length(rng); n > 0; --n) line += kPieces[piece(rng)];
  return line;
}

// The C runtime the helper parses with: the same DLL this test program has loaded.
std::string c_runtime_oracle() {
  std::wstring path(MAX_PATH, L'\0');
  const HMODULE crt = GetModuleHandleW(L"msvcrt.dll");
  path.resize(crt ? GetModuleFileNameW(crt, path.data(), MAX_PATH) : 0);
  return "msvcrt.dll" + (path.empty() ? std::string() : " (" + to_utf8(path) + ")") +
         (test::running_under_wine() ? ", Wine's implementation" : ", Microsoft's");
}

// Wine's msvcrt applies the argument rules (backslashes before a quote, "" inside quotes) to the
// program name too; the Microsoft runtime does not, since a path holds no quotes: there quotes
// only toggle quoting. Our splitter follows Microsoft's rule. On Windows the runtime must agree
// with us; under Wine it gives the result listed here.
struct WineDeparture {
  const wchar_t* line;
  std::vector<std::wstring> rules;  // what the splitter must give
  std::vector<std::wstring> wine;   // what Wine's runtime gives
};
const WineDeparture kWineDepartures[] = {
    {L"p\\\"x y", {L"p\\x y"}, {L"p\"x", L"y"}},
    {L"\"a\"\"b\" c", {L"ab", L"c"}, {L"a\"b", L"c"}},
    {L"C:\\dir\\\" x", {L"C:\\dir\\ x"}, {L"C:\\dir\"", L"x"}},
};

// The splitter's own table, with the arguments it lists; the lines where Wine departs, with
// what the runtime at hand gives; and generated lines, with what the splitter gives for them.
TEST(SplitterOracle, AgreesWithTheCRuntimeOnItsTableOnWinesDeparturesAndOnGeneratedLines) {
  ::testing::Test::RecordProperty("c_runtime", c_runtime_oracle());
  std::printf("C runtime oracle: %s\n", c_runtime_oracle().c_str());
  std::vector<std::pair<std::wstring, std::vector<std::u16string>>> cases;
  for (const SplitCase& c : kSplitCases) cases.emplace_back(test::wide(c.line), c.args);
  for (const WineDeparture& c : kWineDepartures) {
    EXPECT_EQ(split_command_line(test::u16(c.line)), test::u16_all(c.rules)) << to_utf8(c.line);
    cases.emplace_back(c.line, test::u16_all(test::running_under_wine() ? c.wine : c.rules));
  }
  std::mt19937 rng(20261207);
  for (int i = 0; i < 300; ++i) {
    const std::wstring line = random_command_line(rng);
    cases.emplace_back(line, split_command_line(test::u16(line)));
  }
  TestDir dir;
  for (const auto& [line, args] : cases) {
    const auto runtime = test::runtime_argv(dir, line);
    ASSERT_TRUE(runtime) << to_utf8(line);
    EXPECT_EQ(test::u16_all(*runtime), args) << "line: [" << to_utf8(line) << "]";
  }
}

}  // namespace
}  // namespace talvex
