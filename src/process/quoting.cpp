#include "process/quoting.h"

namespace talvex {
namespace {

bool contains_nul(std::u16string_view text) {
  return text.find(u'\0') != std::u16string_view::npos;
}

}  // namespace

void append_quoted_argument(std::u16string& command_line, std::u16string_view argument) {
  const bool quoted =
      argument.empty() || argument.find_first_of(u" \t") != std::u16string_view::npos;
  if (quoted) command_line.push_back(u'"');
  // Backslashes are literal unless a run of them precedes a double quote (the argument's own, or
  // the closing one): then the parser halves the run, and an odd count escapes the quote.
  size_t backslashes = 0;
  for (const char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
    } else if (c == u'"') {
      // The run is already written once: add as many again, plus one to escape the quote.
      command_line.append(backslashes + 1, u'\\');
      backslashes = 0;
    } else {
      backslashes = 0;
    }
    command_line.push_back(c);
  }
  if (quoted) {
    command_line.append(backslashes, u'\\');  // doubles the trailing run
    command_line.push_back(u'"');
  }
}

Result<std::u16string> build_command_line(std::u16string_view program,
                                          std::span<const std::u16string> arguments) {
  if (contains_nul(program)) return Error::fixed(Error::Kind::kNulByte);
  std::u16string line;
  line.reserve(program.size() + 3 + arguments.size() * 16);
  // argv[0] is parsed by a rule of its own (everything up to the next quote, no escapes), so the
  // program text goes in verbatim: a file name cannot contain a double quote.
  line.push_back(u'"');
  line.append(program);
  line.push_back(u'"');
  for (const std::u16string& argument : arguments) {
    if (contains_nul(argument)) return Error::fixed(Error::Kind::kNulByte);
    line.push_back(u' ');
    append_quoted_argument(line, argument);
  }
  return line;
}

}  // namespace talvex
