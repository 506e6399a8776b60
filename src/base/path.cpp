#include "base/path.h"

namespace talvex {
namespace {

bool is_drive_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// "C:\" or "C:/" at the start.
bool is_drive_absolute(std::u16string_view path) {
  return path.size() >= 3 && is_drive_letter(path[0]) && path[1] == u':' &&
         is_path_separator(path[2]);
}

}  // namespace

bool is_path_separator(char16_t c) { return c == u'\\' || c == u'/'; }

bool has_verbatim_or_device_prefix(std::u16string_view path) {
  return path.starts_with(kVerbatimPrefix) || path.starts_with(u"\\\\.\\");
}

bool is_absolute_path(std::u16string_view path) {
  if (is_drive_absolute(path)) return true;
  return path.size() >= 2 && is_path_separator(path[0]) && is_path_separator(path[1]);
}

std::u16string join_path(std::u16string_view directory, std::u16string_view name) {
  std::u16string path(directory);
  if (!path.empty() && !is_path_separator(path.back())) path.push_back(u'\\');
  path.append(name);
  return path;
}

std::u16string_view last_component(std::u16string_view path) {
  const size_t separator = path.find_last_of(u"\\/");
  return separator == std::u16string_view::npos ? path : path.substr(separator + 1);
}

std::u16string long_path_form(std::u16string_view full_path) {
  if (has_verbatim_or_device_prefix(full_path)) return std::u16string(full_path);
  if (is_drive_absolute(full_path) && full_path[2] == u'\\') {
    return std::u16string(kVerbatimPrefix) + std::u16string(full_path);
  }
  if (full_path.starts_with(u"\\\\")) return u"\\\\?\\UNC\\" + std::u16string(full_path.substr(2));
  return std::u16string(full_path);
}

std::u16string openable_path(std::u16string_view given, std::u16string_view full_path) {
  if (has_verbatim_or_device_prefix(given) || full_path.size() < kMaxPathUnits) {
    return std::u16string(given);
  }
  return long_path_form(full_path);
}

std::optional<std::u16string> parent_dir(std::u16string_view path) {
  while (!path.empty() && is_path_separator(path.back())) path.remove_suffix(1);
  const size_t slash = path.find_last_of(u"\\/");
  if (slash == std::u16string_view::npos) return std::nullopt;
  std::u16string_view parent = path.substr(0, slash);
  while (!parent.empty() && is_path_separator(parent.back())) parent.remove_suffix(1);
  if (parent.empty() || (parent.size() == 2 && parent[1] == u':')) return std::nullopt;
  return std::u16string(parent);
}

}  // namespace talvex
