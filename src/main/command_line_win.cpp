#include <windows.h>

#include "main/command_line.h"

#include "base/exit_process_win.h"

namespace talvex {

void usage_exit() {
  // A GUI-subsystem program usually has no standard error; then there is nowhere to write and
  // the exit status alone tells the caller.
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE) {
    const char* data = kUsageText.data();
    DWORD left = static_cast<DWORD>(kUsageText.size());
    while (left > 0) {
      DWORD written = 0;
      if (!::WriteFile(err, data, left, &written, nullptr) || written == 0) break;
      data += written;
      left -= written;
    }
  }
  exit_process(kExitUsage);
}

UpdaterOptions parse_args(std::span<const std::wstring> args) {
  std::optional<UpdaterOptions> options = parse_options(args);
  if (!options) usage_exit();
  return std::move(*options);
}

}  // namespace talvex
