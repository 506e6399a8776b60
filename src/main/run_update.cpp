#include <windows.h>

#include "main/run_update.h"

#include "base/text.h"
#include "main/command_line.h"

namespace talvex {

std::string options_line(const UpdaterOptions& options) {
  std::string line = "installer=";
  line += to_utf8(options.installer);
  line += " app_exe=";
  line += to_utf8(options.app_exe);
  line += " wait_pid=";
  if (options.wait_pid) {
    line += "Some(";
    line += decimal(*options.wait_pid);
    line += ')';
  } else {
    line += "None";
  }
  return line;
}

void run_update(const UpdaterOptions& options, const RunLog& log) {
  log_line(log, "=== talvex-updater start ===");
  log_line(log, options_line(options));
  ::ExitProcess(kExitSuccess);
}

}  // namespace talvex
