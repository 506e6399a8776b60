// What the application that starts after an update can learn about it: the outcome of the last
// run in talvex-updater's log. That application is started without arguments, so the log is all
// it has. Like start_updater.h, this file shares no code with the updater: copy it, or link
// TalvexUpdater::handover.
#pragma once

#include <string>
#include <string_view>

namespace talvex_example {

struct LastUpdate {
  enum class Relauncher { nobody, updater, installer };

  bool started = false;          // the log holds a run; everything below describes its last one
  bool finished = false;         // the run ended; false while it still runs, or if it was killed
  bool installed = false;        // the installer ended with exit code 0
  std::string installer_status;  // "exit code: 0", "exit code: 0xc0000005"; empty when the
                                 // installer did not end by itself (or has not yet)
  std::string error;             // the run's first "ERROR: ..." line; empty when none
  Relauncher relaunched_by = Relauncher::nobody;  // who started the application again
};

// The last run in the log text `log` (UTF-8, as the updater writes it), from its last start
// banner on.
[[nodiscard]] LastUpdate parse_last_update(std::string_view log);

// The last run in the log file at `log_path`. A missing or unreadable file gives a LastUpdate
// whose `started` is false. The file may be written by a running update meanwhile.
[[nodiscard]] LastUpdate read_last_update(const std::wstring& log_path);

}  // namespace talvex_example
