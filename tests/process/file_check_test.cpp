// The existence check that decides whether the application can be relaunched.
#include "base/file_check_win.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using test::TestDir;

TEST(IsFile, TellsFilesFromEverythingElseAndSoDoTheFallbacks) {
  TestDir dir;
  const std::wstring file = dir.file(L"App.exe");
  ASSERT_TRUE(test::write_file(file, "x"));
  ASSERT_TRUE(test::make_dirs(dir.file(L"Folder.exe")));
  ASSERT_TRUE(test::make_dirs(dir.file(L"sub")));
  // Windows opens paths of MAX_PATH units and more only in the "\\?\" form (Wine opens them
  // either way), relative ones included.
  std::wstring deep = dir.path();
  while (deep.size() < 300) deep += L"\\" + std::wstring(60, L'd');
  ASSERT_TRUE(test::make_dirs(L"\\\\?\\" + deep));
  const std::wstring deep_file = deep + L"\\App.exe";
  ASSERT_TRUE(test::write_file(L"\\\\?\\" + deep_file, "x"));
  ASSERT_GT(deep_file.size(), static_cast<size_t>(MAX_PATH));
  // A file that is being deleted stays in its directory until its last handle closes. Windows
  // refuses to open it (access denied), so the directory listing decides; Wine still opens it.
  const std::wstring deleted = dir.file(L"Deleted.exe");
  ASSERT_TRUE(test::write_file(deleted, "x"));
  ScopedFileHandle held(CreateFileW(deleted.c_str(), DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  FILE_DISPOSITION_INFO dispose{TRUE};
  ASSERT_TRUE(
      SetFileInformationByHandle(held.get(), FileDispositionInfo, &dispose, sizeof dispose));
  // Relative paths are taken against the current directory.
  const auto in = test::in_directory(dir.path());

  const std::vector<std::pair<std::wstring, bool>> rows = {
      {file, true},
      {L"\\\\?\\" + file, true},
      {dir.path() + L"/App.exe", true},
      {L"App.exe", true},
      {L".\\sub\\..\\App.exe", true},
      {deep_file, true},
      {L"\\\\?\\" + deep_file, true},
      {deep_file.substr(dir.path().size() + 1), true},
      {deleted, true},
      {dir.file(L"Folder.exe"), false},
      {dir.file(L"Folder.exe\\"), false},
      {dir.path(), false},
      {L"sub", false},
      {deep, false},
      {dir.file(L"Missing.exe"), false},
      {deep + L"\\Missing.exe", false},
      {dir.file(L"No folder\\App.exe"), false},
      {L"sub\\App.exe", false},
      {L"", false},
      // The NUL would cut the path down to an existing file for every Win32 call.
      {file + std::wstring(1, L'\0') + L"junk", false},
      // Wildcards must never match some other entry.
      {dir.file(L"*.exe"), false},
      {dir.file(L"App.ex?"), false},
      {dir.file(L"App<"), false},
      // A name with an unpaired surrogate is a valid Windows name; here it names nothing.
      {dir.file(std::wstring(L"App") + static_cast<wchar_t>(0xD800) + L".exe"), false},
  };
  for (const auto& [path, expected] : rows) {
    EXPECT_EQ(is_file(path), expected) << to_utf8(path);
  }

  // The two fallbacks, called directly: Wine (as root) never refuses an open without access
  // rights and never reports ERROR_CANT_ACCESS_FILE, so is_file does not reach them here.
  EXPECT_TRUE(is_file_by_directory_entry(file));
  EXPECT_TRUE(is_file_by_directory_entry(L"\\\\?\\" + file));
  EXPECT_TRUE(is_file_not_following(file));
  for (const std::wstring& other : {dir.file(L"Folder.exe"), dir.file(L"Missing.exe")}) {
    EXPECT_FALSE(is_file_by_directory_entry(other)) << to_utf8(other);
    EXPECT_FALSE(is_file_not_following(other)) << to_utf8(other);
  }
  for (const wchar_t* pattern : {L"*", L"App.ex?", L"App<", L"App.exe>", L"App\"*"}) {
    EXPECT_FALSE(is_file_by_directory_entry(dir.file(pattern))) << to_utf8(pattern);
  }
}

}  // namespace
}  // namespace talvex
