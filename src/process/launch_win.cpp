// Starting and supervising children.
#include <windows.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "base/file_win.h"
#include "base/path_win.h"
#include "base/scoped_handle_win.h"
#include "process/process_win.h"
#include "base/wide_win.h"
#include "process/program_search_win.h"
#include "process/quoting.h"

namespace talvex {
namespace {

// CreateProcessW with inheritance on hands the child every inheritable handle of this process
// unless a handle list restricts it; each launch passes one naming only the standard handles
// prepared for that child. Those prepared handles are inheritable while they exist, so the
// stretch from creating them to closing them again is still serialised: a process started
// meanwhile by other code, without such a list, would get them as well (and keep, say, the write
// end of someone's pipe open). Constant-initialised, so it needs no constructor to run.
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
                                        kShareAll, &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!device) return last_os_error();
  return device;
}

// Whether `handle` names something a child can use as a standard stream. A value the updater was
// started with may be left over from a parent that never passed a handle, and by now name an
// unrelated object of ours (an event, a key, a section); duplicating that would hand it to the
// child. GetFileType answers FILE_TYPE_UNKNOWN for such objects and for invalid values alike.
bool is_stream_handle(HANDLE handle) {
  switch (::GetFileType(handle)) {
    case FILE_TYPE_DISK:
    case FILE_TYPE_CHAR:
    case FILE_TYPE_PIPE:
      return true;
    default:
      return false;
  }
}

// An inheritable duplicate of the updater's own standard handle, or no handle when the updater
// has none: a GUI-subsystem program usually starts without any, and a stale value left behind
// by whoever started us counts as none as well.
Result<ScopedFileHandle> duplicate_own_std_handle(DWORD which) {
  const HANDLE own = ::GetStdHandle(which);
  if (own == nullptr || own == INVALID_HANDLE_VALUE || !is_stream_handle(own)) {
    return ScopedFileHandle();
  }
  HANDLE duplicate = nullptr;
  const HANDLE self = ::GetCurrentProcess();
  if (!::DuplicateHandle(self, own, self, &duplicate, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    const Error error = last_os_error();
    if (error.code == ERROR_INVALID_HANDLE) return ScopedFileHandle();
    return error;
  }
  return ScopedFileHandle(duplicate);
}

Result<ScopedFileHandle> prepare_stream(StdStream stream, DWORD which) {
  if (stream == StdStream::kInherit) return duplicate_own_std_handle(which);
  return open_null_device(which == STD_INPUT_HANDLE);
}

// The distinct handles among `prepared`, in order; null and INVALID_HANDLE_VALUE left out. The
// system rejects a handle list that names a handle twice (stdout and stderr may share one).
std::vector<HANDLE> distinct_handles(std::initializer_list<HANDLE> prepared) {
  std::vector<HANDLE> handles;
  for (const HANDLE handle : prepared) {
    // LCOV_EXCL_BR_START each stream is prepared as a handle of its own (a duplicate or its own
    // open of NUL), never NULL: the checks keep a later caller from making a list the system
    // rejects
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) continue;
    if (std::find(handles.begin(), handles.end(), handle) == handles.end()) {
      // LCOV_EXCL_BR_STOP
      handles.push_back(handle);
    }
  }
  return handles;
}

// A process-thread attribute list holding PROC_THREAD_ATTRIBUTE_HANDLE_LIST: the child inherits
// exactly these handles, whatever else of ours is inheritable (handles our own caller passed to
// us, for instance). The list points into `handles_`, so the object stays where it was built.
class InheritedHandleList {
 public:
  InheritedHandleList() = default;
  InheritedHandleList(const InheritedHandleList&) = delete;
  InheritedHandleList& operator=(const InheritedHandleList&) = delete;
  ~InheritedHandleList() {
    if (initialized_) ::DeleteProcThreadAttributeList(get());
  }

  // `handles` must be distinct, inheritable and at least one.
  [[nodiscard]] Status build(std::vector<HANDLE> handles) {
    handles_ = std::move(handles);
    SIZE_T size = 0;
    // The first call only reports the size (and "fails" with ERROR_INSUFFICIENT_BUFFER).
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    if (size == 0) return last_os_error();
    buffer_.resize(size);
    if (!::InitializeProcThreadAttributeList(get(), 1, 0, &size)) return last_os_error();
    initialized_ = true;
    // The attribute's value is the array itself (a HANDLE*), passed as the untyped PVOID.
    if (!::UpdateProcThreadAttribute(get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                     static_cast<void*>(handles_.data()),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      return last_os_error();
    }
    return Ok{};
  }

  [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST get() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
  }

 private:
  std::vector<char> buffer_;
  std::vector<HANDLE> handles_;
  bool initialized_ = false;
};

Result<DWORD> exit_code_of(HANDLE process) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return last_os_error();
  return code;
}

}  // namespace

Result<ChildProcess> launch(const LaunchSpec& spec) {
  Result<std::u16string> resolved = resolve_program(spec.program, system_program_lookup());
  if (!resolved) return resolved.error();
  // CreateProcessW runs a ".bat" or ".cmd" file through "cmd.exe /c", which re-parses the whole
  // command line with rules of its own (%VAR%, ^, &, |, quotes): arguments quoted for the C
  // runtime become commands there. No launch of this program needs a script, so none is run.
  if (is_batch_script(resolved.value())) return Error::fixed(Error::Kind::kUnsafeScript);
  Result<std::u16string> command_line = build_command_line(spec.program, spec.arguments);
  if (!command_line) return command_line.error();
  // CreateProcessW accepts an application name of fewer than MAX_PATH units; longer ones need
  // the verbatim "\\?\" form, which must be absolute and already normalised. The length that
  // counts is the absolute one, as for the existence check that came before: a relative name
  // that is short but lies in a deep current directory needs the long form as well.
  Result<std::wstring> application = openable_path(as_wide(resolved.value()));
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

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    const std::vector<HANDLE> inherited =
        distinct_handles({std_in->get(), std_out->get(), std_err->get()});
    InheritedHandleList handle_list;
    DWORD flags = spec.creation_flags | CREATE_UNICODE_ENVIRONMENT;
    if (!inherited.empty()) {
      STARTUPINFOW& info_block = startup.StartupInfo;
      info_block.dwFlags = STARTF_USESTDHANDLES;
      info_block.hStdInput = std_in->valid() ? std_in->get() : nullptr;
      info_block.hStdOutput = std_out->valid() ? std_out->get() : nullptr;
      info_block.hStdError = std_err->valid() ? std_err->get() : nullptr;
      const Status listed = handle_list.build(inherited);
      if (!listed) return listed.error();
      info_block.cb = sizeof startup;
      startup.lpAttributeList = handle_list.get();
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    // Inheritance is on only together with a list naming the prepared handles; with no handle
    // to pass the child inherits nothing at all. The environment block and the current
    // directory are the updater's; the block is UTF-16.
    if (!::CreateProcessW(application->c_str(), as_writable_wide(command_line->data()), nullptr,
                          nullptr, inherited.empty() ? FALSE : TRUE, flags, nullptr, nullptr,
                          &startup.StartupInfo, &info)) {
      return last_os_error();
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
      return last_os_error();
  }
}

Status kill(const ChildProcess& child) {
  if (::TerminateProcess(child.process_handle(), 1)) return Ok{};
  const Error error = last_os_error();
  // Windows refuses to terminate a process that has already exited, or is still exiting after
  // an earlier TerminateProcess, with "access denied" even through a full-access handle. If the
  // handle still answers a wait, the child is gone or on its way out, which is what was asked.
  if (error.code == ERROR_ACCESS_DENIED && try_wait(child).ok()) return Ok{};
  return error;
}

Result<DWORD> run_to_exit(const LaunchSpec& spec,
                          std::optional<std::chrono::milliseconds> time_limit,
                          const Launcher& launcher) {
  Result<ChildProcess> child = launcher.start(spec);
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
      return last_os_error();
  }
}

}  // namespace talvex
