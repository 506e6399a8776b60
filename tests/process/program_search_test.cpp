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

// Deletes a stub and its script when the test ends, whatever happened.
struct PlacedStub {
  std::wstring exe;
  explicit PlacedStub(std::wstring path, int exit_code) : exe(std::move(path)) {
    EXPECT_TRUE(test::make_stub(exe, "exit " + std::to_string(exit_code) + "\n"));
  }
  ~PlacedStub() { remove(); }
  void remove() {
    DeleteFileW(exe.c_str());
    DeleteFileW((exe.substr(0, exe.size() - 4) + L".stub").c_str());
  }
};

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
  std::vector<std::unique_ptr<PlacedStub>> stubs;
  for (const auto& [directory, code] : places) {
    stubs.push_back(std::make_unique<PlacedStub>(directory + L"\\" + exe, code));
  }
  PlacedStub in_current_dir(dir.file(exe), 16);

  wchar_t saved_dir[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved_dir);
  std::wstring saved_path(32768, L'\0');
  saved_path.resize(GetEnvironmentVariableW(L"PATH", saved_path.data(), 32768));
  ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
  // "." names the current directory and must be skipped like any relative entry.
  const std::wstring path = L".;\"" + quoted_dir + L"\";;" + path_dir + L"\\";
  SetEnvironmentVariableW(L"PATH", path.c_str());

  for (size_t i = 0; i < places.size(); ++i) {
    const int expected = places[i].second;
    Result<DWORD> code = run_to_exit(spec(name));
    EXPECT_TRUE(code.ok() && code.value() == static_cast<DWORD>(expected)) << expected;
    stubs[i]->remove();
  }
  Result<DWORD> only_in_current_dir = run_to_exit(spec(exe));
  EXPECT_EQ(only_in_current_dir.ok() ? Error{} : only_in_current_dir.error(),
            Error::fixed(Error::Kind::kProgramNotFound));
  // Spelled as a relative path it is the caller's explicit choice and does run.
  EXPECT_EQ(run_to_exit(spec(L".\\" + name)).value(), 16u);

  SetEnvironmentVariableW(L"PATH", saved_path.c_str());
  SetCurrentDirectoryW(saved_dir);
}

}  // namespace
}  // namespace talvex
