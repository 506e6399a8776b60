// Reading back what the stub's "record" verb wrote: one command line per line, split the way a
// child's C runtime splits it, so tests check arguments rather than one quoting style.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "support/test_support.h"

namespace talvex::test {

inline std::vector<std::wstring> split_command_line(const std::string& utf8_line) {
  std::vector<std::wstring> arguments;
  const std::wstring line = wide(to_utf16(utf8_line));
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(line.c_str(), &count);
  if (argv == nullptr) return arguments;
  for (int i = 0; i < count; ++i) arguments.emplace_back(argv[i]);
  ::LocalFree(argv);
  return arguments;
}

// Every recorded run, in order, as its argument vector (argv[0] included).
inline std::vector<std::vector<std::wstring>> recorded_runs(const std::wstring& record_file) {
  std::vector<std::vector<std::wstring>> runs;
  const auto text = read_file(record_file);
  if (!text) return runs;
  for (const std::string& line : split_lines(*text)) runs.push_back(split_command_line(line));
  return runs;
}

}  // namespace talvex::test
