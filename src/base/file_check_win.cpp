#include "base/file_check_win.h"

#include <windows.h>

#include <string>

#include "base/file_win.h"
#include "base/path.h"
#include "base/path_win.h"
#include "base/scoped_handle_win.h"
#include "base/wide_win.h"

namespace talvex {
namespace {

// No access rights: only the attributes are read, and an open without rights passes where
// another process holds the file without sharing. Backup semantics lets directories open too.
ScopedFileHandle open_entry(const std::wstring& path, DWORD extra_flags) {
  return ScopedFileHandle(CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | extra_flags, nullptr));
}

bool is_symbolic_link(DWORD attributes, DWORD reparse_tag) {
  // LCOV_EXCL_BR_START needs a symbolic link, which only an administrator or developer mode may
  // make
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && reparse_tag == IO_REPARSE_TAG_SYMLINK;
  // LCOV_EXCL_BR_STOP
}

// FindFirstFileExW takes its last component as a pattern, with "*", "?" and the DOS wildcards
// "<", ">" and '"'. Such a name cannot be a file name, so it must not be matched against others.
bool last_component_has_wildcard(std::wstring_view path) {
  return last_component(as_utf16(path)).find_first_of(u"*?<>\"") != std::u16string_view::npos;
}

}  // namespace

// For entries that exist but cannot be opened even without access rights (files locked by the
// system such as the paging file, or folders the user may not open): the parent directory's
// listing still describes them. The listing shows a link itself, not what it points to, so a
// symbolic link cannot be judged and gives false.
bool is_file_by_directory_entry(const std::wstring& path) {
  if (last_component_has_wildcard(path)) return false;
  WIN32_FIND_DATAW entry{};
  const ScopedFindHandle find(
      FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
  if (!find) return false;
  // dwReserved0 carries the reparse tag when the entry is a reparse point.
  // LCOV_EXCL_BR_START needs a symbolic link, which only an administrator or developer mode may
  // make
  if (is_symbolic_link(entry.dwFileAttributes, entry.dwReserved0)) return false;
  // LCOV_EXCL_BR_STOP
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// ERROR_CANT_ACCESS_FILE comes from following a reparse point the system cannot resolve, the
// usual case being an app execution alias (a "WindowsApps" stub that can be started but not
// opened). Opened without following, the entry itself decides; a symbolic link gives false
// because its target was what could not be reached.
bool is_file_not_following(const std::wstring& path) {
  ScopedFileHandle entry = open_entry(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!entry) return false;
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &info, sizeof info)) {
    return false;
  }
  // LCOV_EXCL_BR_START needs a symbolic link, which only an administrator or developer mode may
  // make
  if (is_symbolic_link(info.FileAttributes, info.ReparseTag)) return false;
  // LCOV_EXCL_BR_STOP
  return (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool is_file(std::wstring_view path) {
  // An embedded NUL would silently cut the path short for every Win32 call.
  if (path.empty() || path.find(L'\0') != std::wstring_view::npos) return false;
  // CreateFileW rejects a path whose absolute form reaches MAX_PATH unless the process opted into
  // long paths (a manifest this program does not carry), so such paths are opened in the "\\?\"
  // form. GetFullPathNameW does the same normalisation ("." and "..", "/" to "\", the current
  // directory for relative paths) that CreateFileW would have done; "\\?\" then only switches
  // off the length limit. A path whose absolute form cannot be had is passed as given: CreateFileW
  // then reports what is wrong with it.
  Result<std::wstring> long_enough = openable_path(path);
  const std::wstring openable = long_enough ? std::move(long_enough).value() : std::wstring(path);
  ScopedFileHandle entry = open_entry(openable, 0);
  if (entry) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(entry.get(), &info)) return false;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return is_file_by_directory_entry(openable);
    case ERROR_CANT_ACCESS_FILE:
      return is_file_not_following(openable);
    default:
      return false;
  }
}

}  // namespace talvex
