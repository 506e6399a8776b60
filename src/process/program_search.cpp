#include "process/program_search.h"

#include <windows.h>

#include <optional>

#include "base/text.h"

namespace talvex {
namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_drive_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool has_verbatim_prefix(std::wstring_view path) {
  return path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\");
}

std::wstring join(std::wstring_view directory, std::wstring_view name) {
  std::wstring path(directory);
  if (!path.empty() && !is_separator(path.back())) path.push_back(L'\\');
  path.append(name);
  return path;
}

// For the functions that return the length without the NUL on success and the size needed
// (with the NUL) when the buffer is too small: GetSystemDirectoryW, GetWindowsDirectoryW,
// GetEnvironmentVariableW. nullopt when the call fails.
template <typename Call>
std::optional<std::wstring> read_system_text(Call call) {
  std::wstring buffer(MAX_PATH, L'\0');
  // A value can grow between the two calls (another thread setting PATH): retry a few times.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(n);
  }
  return std::nullopt;
}

// GetModuleFileNameW truncates instead of reporting the size it needs, so the buffer grows until
// the name fits (the longest path Windows has is 32767 units).
std::optional<std::wstring> own_executable_path() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    // LCOV_EXCL_START Windows only: Wine cannot start a program whose path reaches MAX_PATH
    if (buffer.size() > 32768) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  // LCOV_EXCL_STOP
}

std::vector<std::wstring> system_search_directories() {
  std::vector<std::wstring> directories;
  // Each lookup that fails only drops its own directory from the search.
  if (auto exe = own_executable_path()) {
    const size_t slash = exe->find_last_of(L'\\');
    if (slash != std::wstring::npos) directories.push_back(exe->substr(0, slash));
  }
  if (auto system = read_system_text(
          [](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); })) {
    directories.push_back(std::move(*system));
  }
  if (auto windows = read_system_text(
          [](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); })) {
    directories.push_back(std::move(*windows));
  }
  if (auto path = read_system_text([](wchar_t* buffer, DWORD size) {
        return ::GetEnvironmentVariableW(L"PATH", buffer, size);
      })) {
    // A relative entry (".", "bin") would be looked up against the current directory, which is
    // exactly the place the search must never reach.
    for (std::wstring& entry : split_path_list(*path)) {
      if (is_absolute_path(entry)) directories.push_back(std::move(entry));
    }
  }
  return directories;
}

bool path_exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring_view without_trailing_dots_and_spaces(std::wstring_view name) {
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.remove_suffix(1);
  return name;
}

bool has_script_extension(std::wstring_view name) {
  name = without_trailing_dots_and_spaces(name);
  return ascii_iends_with(name, L".bat") || ascii_iends_with(name, L".cmd");
}

}  // namespace

ProgramLookup system_program_lookup() {
  return ProgramLookup{&system_search_directories, &path_exists};
}

std::vector<std::wstring> split_path_list(std::wstring_view path_variable) {
  std::vector<std::wstring> entries;
  std::wstring entry;
  bool in_quotes = false;
  for (const wchar_t c : path_variable) {
    if (c == L'"') {
      in_quotes = !in_quotes;
    } else if (c == L';' && !in_quotes) {
      if (!entry.empty()) entries.push_back(std::move(entry));
      entry.clear();
    } else {
      entry.push_back(c);
    }
  }
  if (!entry.empty()) entries.push_back(std::move(entry));
  return entries;
}

bool is_absolute_path(std::wstring_view path) {
  if (path.size() >= 3 && is_drive_letter(path[0]) && path[1] == L':' && is_separator(path[2])) {
    return true;
  }
  return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

Result<std::wstring> resolve_program(std::wstring_view program, const ProgramLookup& lookup) {
  if (program.empty()) return Error::fixed(Error::Kind::kNoFileName);
  // In the verbatim "\\?\" form "/" is an ordinary character, not a separator.
  const bool verbatim = program.starts_with(L"\\\\?\\");
  if (program.back() == L'\\' || (!verbatim && program.back() == L'/')) {
    return Error::fixed(Error::Kind::kNoFileName);
  }
  // Checked for paths too: the system reads the name only up to a NUL, so "a.exe<NUL>b" would
  // start a.exe.
  if (program.find(L'\0') != std::wstring_view::npos) return Error::fixed(Error::Kind::kNulByte);

  if (program.find_first_of(L"\\/") != std::wstring_view::npos) {
    if (ascii_iends_with(program, L".exe")) return std::wstring(program);
    std::wstring with_exe = std::wstring(program) + L".exe";
    if (lookup.exists(with_exe)) return with_exe;
    return std::wstring(program);
  }

  std::wstring name(program);
  if (name.find(L'.') == std::wstring::npos) name += L".exe";
  for (const std::wstring& directory : lookup.search_directories()) {
    std::wstring candidate = join(directory, name);
    if (lookup.exists(candidate)) return candidate;
  }
  return Error::fixed(Error::Kind::kProgramNotFound);
}

bool is_batch_script(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  const std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
  if (has_script_extension(name)) return true;
  // "x.bat::$DATA" and "x.bat:stream" name x.bat's own data; refuse them rather than rely on
  // how a given Windows version classifies them.
  const size_t colon = name.find(L':');
  return colon != std::wstring_view::npos && has_script_extension(name.substr(0, colon));
}

std::wstring long_path_form(std::wstring_view full_path) {
  if (has_verbatim_prefix(full_path)) return std::wstring(full_path);
  if (full_path.size() >= 3 && is_drive_letter(full_path[0]) && full_path[1] == L':' &&
      full_path[2] == L'\\') {
    return L"\\\\?\\" + std::wstring(full_path);
  }
  if (full_path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + std::wstring(full_path.substr(2));
  return std::wstring(full_path);
}

}  // namespace talvex
