#include <string>

#include "base/clock.h"
#include "base/error_text.h"
#include "base/text.h"
#include "log/run_log.h"
#include "process/process.h"

namespace talvex {
namespace {

// What follows the last "\" or "/"; empty when the path ends in a separator.
std::wstring_view last_component(std::wstring_view path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

// The command as the log shows it: program and arguments joined by single spaces, unquoted, so
// that a reader sees the paths as they are rather than as the child's C runtime wants them.
std::string command_text(const InstallerCommand& command) {
  std::string text = to_utf8(command.program);
  for (const std::wstring& argument : command.arguments) {
    text += ' ';
    text += to_utf8(argument);
  }
  return text;
}

}  // namespace

bool is_windows_installer_package(std::wstring_view installer) {
  const std::wstring_view name = last_component(installer);
  const size_t dot = name.find_last_of(L'.');
  // A leading dot marks a hidden-style name (".msi"), not an extension.
  if (dot == std::wstring_view::npos || dot == 0) return false;
  return ascii_iequals(name.substr(dot + 1), L"msi");
}

InstallerCommand installer_command(std::wstring_view installer) {
  // The package is handed on in its text form, the same text the log shows: an unpaired
  // surrogate (possible in a Windows file name) becomes U+FFFD. The path is not made absolute;
  // the child inherits the updater's current directory.
  std::wstring package = to_wide(to_utf8(installer));
  if (is_windows_installer_package(installer)) {
    return {L"msiexec.exe", {L"/i", std::move(package), L"/passive", L"/norestart"}};
  }
  return {std::move(package), {L"/UPDATE", L"/S", L"/R"}};
}

bool run_installer(std::wstring_view installer, const RunLog& log,
                   std::chrono::milliseconds time_limit, std::chrono::milliseconds poll_interval,
                   Launcher launcher) {
  const InstallerCommand command = installer_command(installer);
  log_line(log, "running installer: " + command_text(command));

  LaunchSpec spec;
  spec.program = command.program;
  spec.arguments = command.arguments;
  // An unattended installer has nobody to talk to; giving it the updater's handles would
  // also let it hold the caller's pipes open for as long as it runs.
  spec.std_in = StdStream::kNull;
  spec.std_out = StdStream::kNull;
  spec.std_err = StdStream::kNull;
  spec.creation_flags = CREATE_NO_WINDOW;
  Result<ChildProcess> child = launcher(spec);
  if (!child) {
    log_line(log, "ERROR: failed to spawn installer: " + error_text(child.error()));
    return false;
  }

  // Polled rather than waited on, so the time limit holds even if a wait would not return.
  // The first query comes at once: a quick installer costs no poll interval.
  const MonotonicTime start = monotonic_now();
  for (;;) {
    const Result<std::optional<DWORD>> status = try_wait(child.value());
    if (!status) {
      log_line(log, "ERROR: waiting installer: " + error_text(status.error()));
      return false;
    }
    if (const std::optional<DWORD>& exit_code = status.value()) {
      log_line(log, "installer exited: " + exit_status_text(*exit_code));
      return *exit_code == 0;
    }
    if (monotonic_now() - start > time_limit) {
      // Termination is asynchronous on Windows and a process stuck in a driver may never
      // finish it, so the updater neither waits for the child afterwards nor lets a failed
      // kill change the outcome: the run has already failed.
      static_cast<void>(kill(child.value()));
      log_line(log, "ERROR: installer timed out, killed");
      return false;
    }
    sleep_for(poll_interval);
  }
}

}  // namespace talvex
