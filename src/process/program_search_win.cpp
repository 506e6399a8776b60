#include <windows.h>

#include "base/path.h"
#include "base/path_win.h"
#include "process/program_search.h"

namespace talvex {
namespace {

std::vector<std::wstring> system_search_directories() {
  std::vector<std::wstring> directories;
  // Each lookup that fails only drops its own directory from the search.
  if (auto exe = own_executable_path()) {
    const size_t slash = exe->find_last_of(L'\\');
    if (slash != std::wstring::npos) directories.push_back(exe->substr(0, slash));
  }
  if (auto system = read_grown_text(
          [](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); })) {
    directories.push_back(std::move(system).value());
  }
  if (auto windows = read_grown_text(
          [](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); })) {
    directories.push_back(std::move(windows).value());
  }
  if (auto path = read_grown_text([](wchar_t* buffer, DWORD size) {
        return ::GetEnvironmentVariableW(L"PATH", buffer, size);
      })) {
    // A relative entry (".", "bin") would be looked up against the current directory, which is
    // exactly the place the search must never reach.
    for (std::wstring& entry : split_path_list(path.value())) {
      if (is_absolute_path(entry)) directories.push_back(std::move(entry));
    }
  }
  return directories;
}

bool path_exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

ProgramLookup system_program_lookup() {
  return ProgramLookup{&system_search_directories, &path_exists};
}

}  // namespace talvex
