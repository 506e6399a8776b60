#include <windows.h>

#include "base/path.h"
#include "base/path_win.h"
#include "base/wide_win.h"
#include "process/program_search_win.h"

namespace talvex {
namespace {

std::vector<std::u16string> system_search_directories() {
  std::vector<std::u16string> directories;
  // Each lookup that fails only drops its own directory from the search.
  if (auto exe = own_executable_path()) {
    const std::u16string_view path = as_utf16(exe.value());
    const size_t slash = path.find_last_of(u'\\');
    // LCOV_EXCL_BR_START the path of a running program always holds a backslash
    if (slash != std::u16string_view::npos) directories.emplace_back(path.substr(0, slash));
    // LCOV_EXCL_BR_STOP
  }
  if (auto system = read_grown_text(
          [](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); })) {
    directories.emplace_back(as_utf16(system.value()));
  }
  if (auto windows = read_grown_text(
          [](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); })) {
    directories.emplace_back(as_utf16(windows.value()));
  }
  if (auto path = read_grown_text([](wchar_t* buffer, DWORD size) {
        return ::GetEnvironmentVariableW(L"PATH", buffer, size);
      })) {
    // A relative entry (".", "bin") would be looked up against the current directory, which is
    // exactly the place the search must never reach.
    for (std::u16string& entry : split_path_list(as_utf16(path.value()))) {
      if (is_absolute_path(entry)) directories.push_back(std::move(entry));
    }
  }
  return directories;
}

bool path_exists(const std::u16string& path) {
  return ::GetFileAttributesW(as_wide_cstr(path)) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

ProgramLookup system_program_lookup() {
  return ProgramLookup{&system_search_directories, &path_exists};
}

}  // namespace talvex
