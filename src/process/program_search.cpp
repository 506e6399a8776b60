#include "process/program_search.h"

#include "base/path.h"
#include "base/text.h"

namespace talvex {
namespace {

std::wstring_view without_trailing_dots_and_spaces(std::wstring_view name) {
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.remove_suffix(1);
  return name;
}

bool has_script_extension(std::wstring_view name) {
  name = without_trailing_dots_and_spaces(name);
  return ascii_iends_with(name, L".bat") || ascii_iends_with(name, L".cmd");
}

}  // namespace

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

Result<std::wstring> resolve_program(std::wstring_view program, const ProgramLookup& lookup) {
  if (program.empty()) return Error::fixed(Error::Kind::kNoFileName);
  // In the verbatim "\\?\" form "/" is an ordinary character, not a separator.
  const bool verbatim = program.starts_with(kVerbatimPrefix);
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
    std::wstring candidate = join_path(directory, name);
    if (lookup.exists(candidate)) return candidate;
  }
  return Error::fixed(Error::Kind::kProgramNotFound);
}

bool is_batch_script(std::wstring_view path) {
  const std::wstring_view name = last_component(path);
  if (has_script_extension(name)) return true;
  // "x.bat::$DATA" and "x.bat:stream" name x.bat's own data; refuse them rather than rely on
  // how a given Windows version classifies them.
  const size_t colon = name.find(L':');
  return colon != std::wstring_view::npos && has_script_extension(name.substr(0, colon));
}

}  // namespace talvex
