#include "process/program_search.h"

#include "base/path.h"
#include "base/text.h"

namespace talvex {
namespace {

std::u16string_view without_trailing_dots_and_spaces(std::u16string_view name) {
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.remove_suffix(1);
  return name;
}

bool has_script_extension(std::u16string_view name) {
  name = without_trailing_dots_and_spaces(name);
  return ascii_iends_with(name, u".bat") || ascii_iends_with(name, u".cmd");
}

}  // namespace

std::vector<std::u16string> split_path_list(std::u16string_view path_variable) {
  std::vector<std::u16string> entries;
  std::u16string entry;
  bool in_quotes = false;
  for (const char16_t c : path_variable) {
    if (c == u'"') {
      in_quotes = !in_quotes;
    } else if (c == u';' && !in_quotes) {
      if (!entry.empty()) entries.push_back(std::move(entry));
      entry.clear();
    } else {
      entry.push_back(c);
    }
  }
  if (!entry.empty()) entries.push_back(std::move(entry));
  return entries;
}

Result<std::u16string> resolve_program(std::u16string_view program, const ProgramLookup& lookup) {
  if (program.empty()) return Error::fixed(Error::Kind::kNoFileName);
  // In the verbatim "\\?\" form "/" is an ordinary character, not a separator.
  const bool verbatim = program.starts_with(kVerbatimPrefix);
  if (program.back() == u'\\' || (!verbatim && program.back() == u'/')) {
    return Error::fixed(Error::Kind::kNoFileName);
  }
  // Checked for paths too: the system reads the name only up to a NUL, so "a.exe<NUL>b" would
  // start a.exe.
  if (program.find(u'\0') != std::u16string_view::npos) return Error::fixed(Error::Kind::kNulByte);

  if (program.find_first_of(u"\\/") != std::u16string_view::npos) {
    if (ascii_iends_with(program, u".exe")) return std::u16string(program);
    std::u16string with_exe = std::u16string(program) + u".exe";
    if (lookup.exists(with_exe)) return with_exe;
    return std::u16string(program);
  }

  std::u16string name(program);
  if (name.find(u'.') == std::u16string::npos) name += u".exe";
  for (const std::u16string& directory : lookup.search_directories()) {
    std::u16string candidate = join_path(directory, name);
    if (lookup.exists(candidate)) return candidate;
  }
  return Error::fixed(Error::Kind::kProgramNotFound);
}

bool is_batch_script(std::u16string_view path) {
  const std::u16string_view name = last_component(path);
  if (has_script_extension(name)) return true;
  // "x.bat::$DATA" and "x.bat:stream" name x.bat's own data; refuse them rather than rely on
  // how a given Windows version classifies them.
  const size_t colon = name.find(u':');
  return colon != std::u16string_view::npos && has_script_extension(name.substr(0, colon));
}

}  // namespace talvex
