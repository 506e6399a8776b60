// The search for bare program names, on real directories: the updater's own, the system and
// Windows directories, then PATH; never the current directory.
#include <gtest/gtest.h>

#include "process/process_win.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using test::TestDir;

LaunchSpec spec(std::wstring program) {
  LaunchSpec result;
  result.program = test::u16(program);
  return result;
}

std::wstring system_text(UINT (*get)(LPWSTR, UINT)) {
  wchar_t buffer[MAX_PATH];
  return std::wstring(buffer, get(buffer, MAX_PATH));
}

TEST(ProgramSearch, BareNameTakesTheFirstSearchedDirectoryAndNeverTheCurrentOne) {
  TestDir dir;
  const std::wstring quoted_dir = dir.file(L"a;b");  // needs PATH's quote rule
  const std::wstring path_dir = dir.file(L"c");
  ASSERT_TRUE(test::make_dirs(quoted_dir) && test::make_dirs(path_dir));
  const std::wstring name = L"talvex-search-probe";
  const std::wstring exe = name + L".exe";
  // The system and Windows directories take part only in the Wine prefix's copies: a test
  // never writes into a real system's.
  std::vector<std::pair<std::wstring, int>> places{{test::bin_dir(), 11}};
  if (test::running_under_wine()) {
    places.emplace_back(system_text(GetSystemDirectoryW), 12);
    places.emplace_back(system_text(GetWindowsDirectoryW), 13);
  }
  places.emplace_back(quoted_dir, 14);
  places.emplace_back(path_dir, 15);
  places.emplace_back(dir.path(), 16);  // the current directory
  std::vector<std::wstring> stubs;
  const test::AtEnd remove([&] {
    for (const std::wstring& stub : stubs) test::remove_stand_in(stub);
  });
  for (const auto& [directory, code] : places) {
    stubs.push_back(directory + L"\\" + exe);
    ASSERT_TRUE(test::make_stub(stubs.back(), "exit " + std::to_string(code) + "\n"));
  }

  std::wstring saved_path(32768, L'\0');
  saved_path.resize(GetEnvironmentVariableW(L"PATH", saved_path.data(), 32768));
  const test::AtEnd restore([&] { SetEnvironmentVariableW(L"PATH", saved_path.c_str()); });
  const auto in = test::in_directory(dir.path());
  // "." names the current directory and must be skipped like any relative entry.
  const std::wstring path = L".;\"" + quoted_dir + L"\";;" + path_dir + L"\\";
  SetEnvironmentVariableW(L"PATH", path.c_str());

  for (size_t i = 0; i + 1 < places.size(); ++i) {  // all but the current directory
    const int expected = places[i].second;
    Result<DWORD> code = run_to_exit(spec(name));
    EXPECT_TRUE(code.ok() && code.value() == static_cast<DWORD>(expected)) << expected;
    test::remove_stand_in(stubs[i]);
  }
  Result<DWORD> only_in_current_dir = run_to_exit(spec(exe));
  EXPECT_EQ(only_in_current_dir.ok() ? Error{} : only_in_current_dir.error(),
            Error::fixed(Error::Kind::kProgramNotFound));
  // Spelled as a relative path it is the caller's explicit choice and does run.
  EXPECT_EQ(run_to_exit(spec(L".\\" + name)).value(), 16u);
}

}  // namespace
}  // namespace talvex
