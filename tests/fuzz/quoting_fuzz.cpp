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
  const std::wstring units = talvex::fuzz::utf16_units(data, size);
  std::vector<std::wstring> pieces(1);
  for (const wchar_t unit : units) {
    if (unit == L'\0') {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(unit);
    }
  }
  std::wstring program = std::move(pieces.front());
  std::erase(program, L'"');
  const std::vector<std::wstring> arguments(pieces.begin() + 1, pieces.end());

  const talvex::Result<std::wstring> line = talvex::build_command_line(program, arguments);
  require(line.ok());
  const std::vector<std::wstring> split = talvex::split_command_line(line.value());
  require(split.size() == arguments.size() + 1);
  require(split.front() == program);
  require(std::equal(arguments.begin(), arguments.end(), split.begin() + 1));
  return 0;
}
