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
// banner on. With `app_exe`, the last run for that application: the one whose options line names
// it, compared as the updater compares application paths ("C:\App\app.exe", "c:\app\APP.EXE"
// and "\\?\C:\App\app.exe" are one application). Several applications that share a log (the
// default one in %TEMP%) each read their own outcome so. The line a second updater writes when
// the application is already being updated belongs to no run and is passed over.
//
// The comparison lower-cases by the system's invariant mapping, which may lag behind the
// updater's Unicode tables for characters that are new; paths that differ only in such a
// character may then be taken for two applications.
[[nodiscard]] LastUpdate parse_last_update(std::string_view log, std::wstring_view app_exe = {});

// The last run in the log file at `log_path`, or the last for `app_exe` as parse_last_update
// takes it. A missing or unreadable file gives a LastUpdate whose `started` is false. The file
// may be written by a running update meanwhile.
[[nodiscard]] LastUpdate read_last_update(const std::wstring& log_path,
                                          std::wstring_view app_exe = {});

}  // namespace talvex_example
