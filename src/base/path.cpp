#include "base/path.h"

namespace talvex {
namespace {

bool is_drive_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "C:\" or "C:/" at the start.
bool is_drive_absolute(std::wstring_view path) {
  return path.size() >= 3 && is_drive_letter(path[0]) && path[1] == L':' &&
         is_path_separator(path[2]);
}

}  // namespace

bool is_path_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool has_verbatim_or_device_prefix(std::wstring_view path) {
  return path.starts_with(kVerbatimPrefix) || path.starts_with(L"\\\\.\\");
}

bool is_absolute_path(std::wstring_view path) {
  if (is_drive_absolute(path)) return true;
  return path.size() >= 2 && is_path_separator(path[0]) && is_path_separator(path[1]);
}

std::wstring join_path(std::wstring_view directory, std::wstring_view name) {
  std::wstring path(directory);
  if (!path.empty() && !is_path_separator(path.back())) path.push_back(L'\\');
  path.append(name);
  return path;
}

std::wstring_view last_component(std::wstring_view path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

std::wstring long_path_form(std::wstring_view full_path) {
  if (has_verbatim_or_device_prefix(full_path)) return std::wstring(full_path);
  if (is_drive_absolute(full_path) && full_path[2] == L'\\') {
    return std::wstring(kVerbatimPrefix) + std::wstring(full_path);
  }
  if (full_path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + std::wstring(full_path.substr(2));
  return std::wstring(full_path);
}

std::wstring system_path_form(std::wstring_view given, std::wstring_view full_path) {
  if (has_verbatim_or_device_prefix(given) || full_path.size() < kMaxPathUnits) {
    return std::wstring(given);
  }
  return long_path_form(full_path);
}

}  // namespace talvex
