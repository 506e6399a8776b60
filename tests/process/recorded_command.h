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

// Every recorded run, in order, as its argument vector (argv[0] included).
inline std::vector<std::vector<std::wstring>> recorded_runs(const std::wstring& record_file) {
  std::vector<std::vector<std::wstring>> runs;
  for (const std::string& line : split_lines(read_file(record_file).value_or(""))) {
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(wide(to_utf16(line)).c_str(), &count);
    runs.emplace_back(argv, argv == nullptr ? argv : argv + count);
    ::LocalFree(argv);
  }
  return runs;
}

}  // namespace talvex::test
