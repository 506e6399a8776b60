// Process control: launching children, and everything the updater does to other processes.
//
// Every child the updater starts goes through `launch`, which resolves the program without ever
// searching the current directory, quotes each argument so that the child's C runtime gets it
// back intact, and hands the child only the standard handles meant for it.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result_win.h"
#include "base/scoped_handle_win.h"
#include "process/app_claim.h"
#include "process/limits.h"

namespace talvex {

class RunLog;

// ---------------------------------------------------------------------------------------------
// Launching

// Where a child's standard stream goes.
enum class StdStream : std::uint8_t {
  kNull,     // the null device
  kInherit,  // the updater's own standard handle (none when the updater has none)
};

// What to start. The child always inherits the updater's environment and current directory.
struct LaunchSpec {
  std::u16string program;                 // a bare file name or a path, as the caller wrote it
  std::vector<std::u16string> arguments;  // each arrives in the child as one argv element
  StdStream std_in = StdStream::kNull;
  StdStream std_out = StdStream::kNull;
  StdStream std_err = StdStream::kNull;
  DWORD creation_flags = CREATE_NO_WINDOW;
};

// A started child: owns its process and primary-thread handles. Destroying it only closes the
// handles; it never waits for the child and never terminates it.
class ChildProcess {
 public:
  ChildProcess(ScopedHandle process, ScopedHandle thread, DWORD pid)
      : process_(std::move(process)), thread_(std::move(thread)), pid_(pid) {}
  ChildProcess(ChildProcess&&) noexcept = default;
  ChildProcess& operator=(ChildProcess&&) noexcept = default;

  [[nodiscard]] HANDLE process_handle() const { return process_.get(); }
  [[nodiscard]] DWORD pid() const { return pid_; }

 private:
  ScopedHandle process_;
  ScopedHandle thread_;
  DWORD pid_ = 0;
};

// Starts the child described by `spec`. It inherits only the standard handles prepared for it.
[[nodiscard]] Result<ChildProcess> launch(const LaunchSpec& spec);

// How an operation starts its children: `launch`, unless a test passes a stand-in to see the
// LaunchSpec the operation builds.
struct Launcher {
  std::function<Result<ChildProcess>(const LaunchSpec& spec)> start = &talvex::launch;
};

// Without blocking: the exit code when the child has exited, nullopt while it runs.
[[nodiscard]] Result<std::optional<DWORD>> try_wait(const ChildProcess& child);

// Terminates the child with exit code 1. Succeeds too when the child had already exited.
[[nodiscard]] Status kill(const ChildProcess& child);

// Launches, waits for the child to end, releases it and returns its exit code. With a
// `time_limit`, a child still running then is terminated and the call fails with WAIT_TIMEOUT;
// without one it waits as long as the child runs.
[[nodiscard]] Result<DWORD> run_to_exit(
    const LaunchSpec& spec, std::optional<std::chrono::milliseconds> time_limit = std::nullopt,
    const Launcher& launcher = {});

// ---------------------------------------------------------------------------------------------
// Installer runner

// Runs the installer hidden, polling it every `poll_interval`; terminates it at the first poll
// after more than `time_limit`. True only when it exited by itself with code 0.
[[nodiscard]] bool run_installer(std::wstring_view installer, const RunLog& log,
                                 std::chrono::milliseconds time_limit = kInstallerTimeLimit,
                                 std::chrono::milliseconds poll_interval = kPollInterval,
                                 const Launcher& launcher = {});

// ---------------------------------------------------------------------------------------------
// Waiting for the application to exit

// True when the process `pid` is gone (no such process, or it cannot be waited on); false when
// it was still running once `limit` whole seconds had passed. A process the updater may not
// open still exists and is waited for. Writes nothing.
[[nodiscard]] bool wait_for_exit(DWORD pid, std::chrono::seconds limit = kAppExitTimeLimit,
                                 std::chrono::milliseconds poll_interval = kPollInterval);

// ---------------------------------------------------------------------------------------------
// Running-instance check and relaunch

// True when some process on the machine runs `app_exe` (or the process list cannot be read).
[[nodiscard]] bool is_app_running(std::wstring_view app_exe);

// Starts the application detached, without arguments, and logs the outcome.
void relaunch_app(std::wstring_view app_exe, const RunLog& log, const Launcher& launcher = {});

// ---------------------------------------------------------------------------------------------
// One update of an application at a time

// A claim on the application, held for as long as this value (or the process) lives.
struct ClaimedApp {
  AppClaim outcome = AppClaim::kUnavailable;
  ScopedHandle held;  // the named object, owned only when the claim was made
};

// Claims `app_exe` for this process's update, as the running-instance check names it, for the
// processes of the same user in the same logon session.
[[nodiscard]] ClaimedApp claim_app(std::wstring_view app_exe);

// ---------------------------------------------------------------------------------------------
// Shell icon refresh

// Runs "ie4uinit.exe -ClearIconCache" and then "ie4uinit.exe -show", logging each exit status.
// A run that cannot be started, or is still going after `time_limit` (it is then terminated),
// leaves no line.
void refresh_icon_cache(const RunLog& log,
                        std::chrono::milliseconds time_limit = kIconRefreshTimeLimit,
                        const Launcher& launcher = {});

}  // namespace talvex
