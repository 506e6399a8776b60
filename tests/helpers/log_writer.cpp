// Appends lines to a log through the product's log_line, for the concurrency tests:
//   log_writer <log path> <tag> <count>   writes "<tag> <i>" for i = 0 .. count-1
#include <windows.h>

#include <cwchar>
#include <string>

#include "base/wide_win.h"
#include "log/run_log_win.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const talvex::RunLog log{std::u16string(talvex::as_utf16(argv[1]))};
  const std::string tag = talvex::to_utf8(std::wstring_view(argv[2]));
  const long count = std::wcstol(argv[3], nullptr, 10);
  for (long i = 0; i < count; ++i) talvex::log_line(log, tag + " " + talvex::decimal(i));
  return 0;
}
