#include "process/quoting.h"

namespace talvex {
namespace {

bool contains_nul(std::wstring_view text) { return text.find(L'\0') != std::wstring_view::npos; }

}  // namespace

void append_quoted_argument(std::wstring& command_line, std::wstring_view argument) {
  const bool quoted = argument.empty() || argument.find_first_of(L" \t") != std::wstring_view::npos;
  if (quoted) command_line.push_back(L'"');
  // Backslashes are literal unless a run of them precedes a double quote (the argument's own, or
  // the closing one): then the parser halves the run, and an odd count escapes the quote.
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
    } else if (c == L'"') {
      // The run is already written once: add as many again, plus one to escape the quote.
      command_line.append(backslashes + 1, L'\\');
      backslashes = 0;
    } else {
      backslashes = 0;
    }
    command_line.push_back(c);
  }
  if (quoted) {
    command_line.append(backslashes, L'\\');  // doubles the trailing run
    command_line.push_back(L'"');
  }
}

Result<std::wstring> build_command_line(std::wstring_view program,
                                        std::span<const std::wstring> arguments) {
  if (contains_nul(program)) return Error::fixed(Error::Kind::kNulByte);
  std::wstring line;
  line.reserve(program.size() + 3 + arguments.size() * 16);
  // argv[0] is parsed by a rule of its own (everything up to the next quote, no escapes), so the
  // program text goes in verbatim: a file name cannot contain a double quote.
  line.push_back(L'"');
  line.append(program);
  line.push_back(L'"');
  for (const std::wstring& argument : arguments) {
    if (contains_nul(argument)) return Error::fixed(Error::Kind::kNulByte);
    line.push_back(L' ');
    append_quoted_argument(line, argument);
  }
  return line;
}

}  // namespace talvex
