// How an application hands itself over to talvex-updater: start the updater that was installed
// beside the application, detached, with the installer to run, the application's own image path
// and process id, and then exit promptly so that the installer can replace the application.
//
// This file is the vendor's side of the contract and deliberately shares no code with the
// updater: copy it into your application, or link the CMake library TalvexUpdater::handover
// (CMakeLists.txt beside this file).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace talvex_example {

// Quotes one argument so that the child's C runtime (and the updater, which follows the same
// rules) reads it back as exactly one argument with exactly this text.
std::wstring quote_argument(std::wstring_view argument);

// The running process's own image path, in the form the system reports for running processes.
// Empty on failure.
std::wstring own_image_path();

// The directory part of `path` (without the trailing backslash).
std::wstring directory_of(std::wstring_view path);

struct UpdateHandover {
  std::wstring installer;  // absolute path of the downloaded installer (.exe or .msi)
  std::wstring log;        // absolute path of the log file; empty: the updater's default
};

// The whole command line that starts the updater at `updater` for the application `app_exe`
// (process `pid`): the updater's path in plain quotes, then "--installer", "--app-exe",
// "--wait-pid" and, when `handover.log` is set, "--log", each with its value quoted by
// quote_argument. The C runtime of the updater reads every value back exactly.
std::wstring updater_command_line(std::wstring_view updater, const UpdateHandover& handover,
                                  std::wstring_view app_exe, DWORD pid);

// Starts "<own directory>\talvex-updater.exe --installer ... --app-exe <own image path>
// --wait-pid <own pid> [--log ...]" detached. Returns ERROR_SUCCESS or the Windows error code.
// `command_line` receives the command line that was (or would have been) used.
DWORD start_updater(const UpdateHandover& handover, std::wstring* command_line = nullptr);

}  // namespace talvex_example
