#include "main/updater_options.h"

#include "base/text.h"

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

}  // namespace talvex
