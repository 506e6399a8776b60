#include <windows.h>

#include "main/command_line_win.h"

#include "base/exit_process_win.h"
#include "base/file_win.h"

namespace talvex {

void usage_exit() {
  // A GUI-subsystem program usually has no standard error; then there is nowhere to write and
  // the exit status alone tells the caller.
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  // LCOV_EXCL_BR_START whether a GUI program started without standard handles sees one is up
  // to the system's console host
  if (err != nullptr && err != INVALID_HANDLE_VALUE) static_cast<void>(write_all(err, kUsageText));
  // LCOV_EXCL_BR_STOP
  exit_process(kExitUsage);
}

UpdaterOptions parse_args(std::span<const std::u16string> args) {
  std::optional<UpdaterOptions> options = parse_options(args);
  if (!options) usage_exit();
  return std::move(*options);
}

}  // namespace talvex
