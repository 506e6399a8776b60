// talvex-updater: installs an update of the application that started it.
#include <windows.h>

#include <span>

#include "base/wide_win.h"
#include "log/run_log_win.h"
#include "main/command_line_win.h"
#include "main/run_update_win.h"

int wmain() {
  // Libraries are loaded from the system directory only: a DLL planted beside the updater or
  // in the current directory must never be picked up by a delay-loaded system import.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // The command line is split by our own rules rather than taken from the C runtime's argv.
  const std::vector<std::u16string> args =
      talvex::split_command_line(talvex::as_utf16(::GetCommandLineW()));
  const talvex::UpdaterOptions options =
      talvex::parse_args(std::span<const std::u16string>(args).subspan(1));
  const talvex::RunLog log = talvex::prepare_log(options.log);
  talvex::run_update(options, log);
}
