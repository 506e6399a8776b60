// The existence check that decides whether the application can be relaunched.
#include "base/file_check_win.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "support/test_support.h"

namespace talvex {
namespace {

using test::TestDir;

// Restores the current directory when a test changed it.
class CurrentDirectory {
 public:
  CurrentDirectory() : saved_(test::full_path(L".")) {}
  ~CurrentDirectory() { SetCurrentDirectoryW(saved_.c_str()); }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  std::wstring saved_;
};

TEST(IsFile, TellsFilesFromDirectoriesAndMissingEntries) {
  TestDir dir;
  const std::wstring file = dir.file(L"App.exe");
  ASSERT_TRUE(test::write_file(file, "x"));
  ASSERT_TRUE(test::make_dirs(dir.file(L"Folder.exe")));

  EXPECT_TRUE(is_file(file));
  EXPECT_TRUE(is_file(L"\\\\?\\" + file));
  EXPECT_TRUE(is_file(dir.path() + L"/App.exe"));
  EXPECT_FALSE(is_file(dir.file(L"Folder.exe")));
  EXPECT_FALSE(is_file(dir.file(L"Folder.exe\\")));
  EXPECT_FALSE(is_file(dir.path()));
  EXPECT_FALSE(is_file(dir.file(L"Missing.exe")));
  EXPECT_FALSE(is_file(dir.file(L"No folder\\App.exe")));
  EXPECT_FALSE(is_file(L""));
}

TEST(IsFile, RejectsTextThatCannotNameAFile) {
  TestDir dir;
  const std::wstring file = dir.file(L"App.exe");
  ASSERT_TRUE(test::write_file(file, "x"));

  // The NUL would cut the path down to an existing file for every Win32 call.
  EXPECT_FALSE(is_file(file + std::wstring(1, L'\0') + L"junk"));
  // Wildcards must never match some other entry.
  EXPECT_FALSE(is_file(dir.file(L"*.exe")));
  EXPECT_FALSE(is_file(dir.file(L"App.ex?")));
  EXPECT_FALSE(is_file(dir.file(L"App<")));
  // A name with an unpaired surrogate is a valid Windows name; here it names nothing.
  EXPECT_FALSE(is_file(dir.file(std::wstring(L"App") + static_cast<wchar_t>(0xD800) + L".exe")));
}

TEST(IsFile, TakesRelativePathsAgainstTheCurrentDirectory) {
  TestDir dir;
  ASSERT_TRUE(test::make_dirs(dir.file(L"sub")));
  ASSERT_TRUE(test::write_file(dir.file(L"App.exe"), "x"));
  CurrentDirectory restore;
  ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));

  EXPECT_TRUE(is_file(L"App.exe"));
  EXPECT_TRUE(is_file(L".\\sub\\..\\App.exe"));
  EXPECT_FALSE(is_file(L"sub"));
  EXPECT_FALSE(is_file(L"sub\\App.exe"));
}

// Windows opens paths of MAX_PATH units and more only in the "\\?\" form (Wine opens them
// either way), relative ones included.
TEST(IsFile, FindsFilesBeyondTheClassicPathLimit) {
  TestDir dir;
  std::wstring deep = dir.path();
  while (deep.size() < 300) deep += L"\\" + std::wstring(60, L'd');
  ASSERT_TRUE(test::make_dirs(L"\\\\?\\" + deep));
  const std::wstring file = deep + L"\\App.exe";
  ASSERT_TRUE(test::write_file(L"\\\\?\\" + file, "x"));
  ASSERT_GT(file.size(), static_cast<size_t>(MAX_PATH));

  EXPECT_TRUE(is_file(file));
  EXPECT_TRUE(is_file(L"\\\\?\\" + file));
  EXPECT_FALSE(is_file(deep));
  EXPECT_FALSE(is_file(deep + L"\\Missing.exe"));

  CurrentDirectory restore;
  ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
  EXPECT_TRUE(is_file(file.substr(dir.path().size() + 1)));
}

// A file that is being deleted stays in its directory until its last handle closes. Windows
// refuses to open it (access denied), so the directory listing decides; Wine still opens it.
TEST(IsFile, CountsAFileBeingDeletedWhileItIsStillListed) {
  TestDir dir;
  const std::wstring file = dir.file(L"Deleted.exe");
  ASSERT_TRUE(test::write_file(file, "x"));
  ScopedFileHandle held(CreateFileW(file.c_str(), DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  FILE_DISPOSITION_INFO dispose{TRUE};
  ASSERT_TRUE(
      SetFileInformationByHandle(held.get(), FileDispositionInfo, &dispose, sizeof dispose));
  EXPECT_TRUE(is_file(file));
}

// The two fallbacks, called directly: Wine (as root) never refuses an open without access
// rights and never reports ERROR_CANT_ACCESS_FILE, so is_file does not reach them here.
TEST(IsFileFallbacks, DirectoryListingTellsFilesFromFoldersAndIgnoresWildcards) {
  TestDir dir;
  ASSERT_TRUE(test::write_file(dir.file(L"App.exe"), "x"));
  ASSERT_TRUE(test::make_dirs(dir.file(L"Folder")));

  EXPECT_TRUE(is_file_by_directory_entry(dir.file(L"App.exe")));
  EXPECT_TRUE(is_file_by_directory_entry(L"\\\\?\\" + dir.file(L"App.exe")));
  EXPECT_FALSE(is_file_by_directory_entry(dir.file(L"Folder")));
  EXPECT_FALSE(is_file_by_directory_entry(dir.file(L"Missing.exe")));
  for (const wchar_t* pattern : {L"*", L"App.ex?", L"App<", L"App.exe>", L"App\"*"}) {
    EXPECT_FALSE(is_file_by_directory_entry(dir.file(pattern))) << to_utf8(pattern);
  }
}

TEST(IsFileFallbacks, EntryOpenedWithoutFollowingDecidesByItsOwnAttributes) {
  TestDir dir;
  ASSERT_TRUE(test::write_file(dir.file(L"App.exe"), "x"));
  ASSERT_TRUE(test::make_dirs(dir.file(L"Folder")));

  EXPECT_TRUE(is_file_not_following(dir.file(L"App.exe")));
  EXPECT_FALSE(is_file_not_following(dir.file(L"Folder")));
  EXPECT_FALSE(is_file_not_following(dir.file(L"Missing.exe")));
}

}  // namespace
}  // namespace talvex
