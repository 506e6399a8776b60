// talvex-updater: installs an update of the application that started it.
#include <windows.h>

#include <span>

#include "log/run_log.h"
#include "main/command_line.h"
#include "main/run_update.h"

int wmain() {
  // Libraries are loaded from the system directory only: a DLL planted beside the updater or
  // in the current directory must never be picked up by a delay-loaded system import.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  // The command line is split by our own rules rather than taken from the C runtime's argv.
  const std::vector<std::wstring> args = talvex::split_command_line(::GetCommandLineW());
  const talvex::UpdaterOptions options =
      talvex::parse_args(std::span<const std::wstring>(args).subspan(1));
  const talvex::RunLog log = talvex::prepare_log(options);
  talvex::run_update(options, log);
}
