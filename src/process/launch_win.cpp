// Starting and supervising children.
#include <windows.h>

#include <algorithm>

#include "base/path_win.h"
#include "base/scoped_handle_win.h"
#include "process/process_win.h"
#include "process/program_search.h"
#include "process/quoting.h"

namespace talvex {
namespace {

// Handle inheritance is all-or-nothing in CreateProcessW: every inheritable handle open at that
// moment goes to the child. The standard handles prepared for one launch are inheritable, so
// the whole stretch from creating them to closing them again is serialised; otherwise a launch
// on another thread would hand them to its own child as well (and keep, say, the write end of
// someone's pipe open). Constant-initialised, so it needs no constructor to run.
SRWLOCK g_launch_lock = SRWLOCK_INIT;

class LaunchLockGuard {
 public:
  LaunchLockGuard() { ::AcquireSRWLockExclusive(&g_launch_lock); }
  ~LaunchLockGuard() { ::ReleaseSRWLockExclusive(&g_launch_lock); }
  LaunchLockGuard(const LaunchLockGuard&) = delete;
  LaunchLockGuard& operator=(const LaunchLockGuard&) = delete;
};

Result<ScopedFileHandle> open_null_device(bool for_reading) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  ScopedFileHandle device(::CreateFileW(L"\\\\.\\NUL", for_reading ? GENERIC_READ : GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!device) return Error::last_os_error();
  return device;
}

// An inheritable duplicate of the updater's own standard handle, or no handle when the updater
// has none: a GUI-subsystem program usually starts without any, and a stale value left behind
// by whoever started us counts as none as well.
Result<ScopedFileHandle> duplicate_own_std_handle(DWORD which) {
  const HANDLE own = ::GetStdHandle(which);
  if (own == nullptr || own == INVALID_HANDLE_VALUE) return ScopedFileHandle();
  HANDLE duplicate = nullptr;
  const HANDLE self = ::GetCurrentProcess();
  if (!::DuplicateHandle(self, own, self, &duplicate, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    const Error error = Error::last_os_error();
    if (error.code == ERROR_INVALID_HANDLE) return ScopedFileHandle();
    return error;
  }
  return ScopedFileHandle(duplicate);
}

Result<ScopedFileHandle> prepare_stream(StdStream stream, DWORD which) {
  if (stream == StdStream::kInherit) return duplicate_own_std_handle(which);
  return open_null_device(which == STD_INPUT_HANDLE);
}

// CreateProcessW accepts an application name of fewer than MAX_PATH units; longer ones need the
// verbatim "\\?\" form, which must be absolute and already normalised. The length that counts
// is the absolute one, as for the existence check that came before: a relative name that is
// short but lies in a deep current directory needs the long form as well.
// Wine 8 cannot start such image paths at all reliably (it fails, starts the previously
// launched image, or crashes), so the long form is exercised on Windows only.
Result<std::wstring> application_name_for(std::wstring_view resolved) {
  return system_path(resolved);
}

Result<DWORD> exit_code_of(HANDLE process) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return Error::last_os_error();
  return code;
}

}  // namespace

Result<ChildProcess> launch(const LaunchSpec& spec) {
  Result<std::wstring> resolved = resolve_program(spec.program, system_program_lookup());
  if (!resolved) return resolved.error();
  // CreateProcessW runs a ".bat" or ".cmd" file through "cmd.exe /c", which re-parses the whole
  // command line with rules of its own (%VAR%, ^, &, |, quotes): arguments quoted for the C
  // runtime become commands there. No launch of this program needs a script, so none is run.
  if (is_batch_script(resolved.value())) return Error::fixed(Error::Kind::kUnsafeScript);
  Result<std::wstring> command_line = build_command_line(spec.program, spec.arguments);
  if (!command_line) return command_line.error();
  Result<std::wstring> application = application_name_for(resolved.value());
  if (!application) return application.error();

  PROCESS_INFORMATION info{};
  {
    // Declared before the handles, so they are closed before the lock is released.
    const LaunchLockGuard lock;
    Result<ScopedFileHandle> std_in = prepare_stream(spec.std_in, STD_INPUT_HANDLE);
    if (!std_in) return std_in.error();
    Result<ScopedFileHandle> std_out = prepare_stream(spec.std_out, STD_OUTPUT_HANDLE);
    if (!std_out) return std_out.error();
    Result<ScopedFileHandle> std_err = prepare_stream(spec.std_err, STD_ERROR_HANDLE);
    if (!std_err) return std_err.error();

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (std_in->valid() || std_out->valid() || std_err->valid()) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = std_in->valid() ? std_in->get() : nullptr;
      startup.hStdOutput = std_out->valid() ? std_out->get() : nullptr;
      startup.hStdError = std_err->valid() ? std_err->get() : nullptr;
    }
    // The environment block and the current directory are the updater's; the block is UTF-16.
    if (!::CreateProcessW(application->c_str(), command_line->data(), nullptr, nullptr, TRUE,
                          spec.creation_flags | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr,
                          &startup, &info)) {
      return Error::last_os_error();
    }
  }
  return ChildProcess(ScopedHandle(info.hProcess), ScopedHandle(info.hThread), info.dwProcessId);
}

Result<std::optional<DWORD>> try_wait(const ChildProcess& child) {
  switch (::WaitForSingleObject(child.process_handle(), 0)) {
    case WAIT_OBJECT_0: {
      Result<DWORD> code = exit_code_of(child.process_handle());
      if (!code) return code.error();
      return std::optional<DWORD>(code.value());
    }
    case WAIT_TIMEOUT:
      return std::optional<DWORD>();
    default:
      return Error::last_os_error();
  }
}

Status kill(const ChildProcess& child) {
  if (::TerminateProcess(child.process_handle(), 1)) return Ok{};
  const Error error = Error::last_os_error();
  // Windows refuses to terminate a process that has already exited, or is still exiting after
  // an earlier TerminateProcess, with "access denied" even through a full-access handle. If the
  // handle still answers a wait, the child is gone or on its way out, which is what was asked.
  // (Wine terminates an exited process without complaint, so this branch does not run there.)
  if (error.code == ERROR_ACCESS_DENIED && try_wait(child).ok()) return Ok{};
  return error;
}

Result<DWORD> run_to_exit(const LaunchSpec& spec,
                          std::optional<std::chrono::milliseconds> time_limit) {
  Result<ChildProcess> child = launch(spec);
  if (!child) return child.error();
  // INFINITE is itself a DWORD value, so a finite limit is kept below it.
  const DWORD wait_ms =
      time_limit ? static_cast<DWORD>(std::clamp<long long>(time_limit->count(), 0, INFINITE - 1))
                 : INFINITE;
  switch (::WaitForSingleObject(child->process_handle(), wait_ms)) {
    case WAIT_OBJECT_0:
      return exit_code_of(child->process_handle());
    case WAIT_TIMEOUT:
      // Not waited for afterwards: termination is asynchronous and may never complete.
      static_cast<void>(kill(child.value()));
      return Error::os(WAIT_TIMEOUT);
    default:
      return Error::last_os_error();
  }
}

}  // namespace talvex
