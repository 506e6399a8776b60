// Quoting then splitting gives back exactly the program text and the arguments. The input is
// cut at NUL units into the program text and the arguments; double quotes are dropped from the
// program text, which no file name can hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "main/command_line.h"
#include "process/quoting.h"

using talvex::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string units = talvex::fuzz::utf16_units(data, size);
  std::vector<std::u16string> pieces(1);
  for (const char16_t unit : units) {
    if (unit == u'\0') {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(unit);
    }
  }
  std::u16string program = std::move(pieces.front());
  std::erase(program, u'"');
  const std::vector<std::u16string> arguments(pieces.begin() + 1, pieces.end());

  const talvex::Result<std::u16string> line = talvex::build_command_line(program, arguments);
  require(line.ok());
  const std::vector<std::u16string> split = talvex::split_command_line(line.value());
  require(split.size() == arguments.size() + 1);
  require(split.front() == program);
  require(std::equal(arguments.begin(), arguments.end(), split.begin() + 1));
  return 0;
}
