#include "start_updater.h"

#include <vector>

namespace talvex_example {

std::wstring quote_argument(std::wstring_view argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
    return std::wstring(argument);
  }
  // Backslashes are literal except in front of a double quote, where 2n backslashes mean n and
  // an odd count escapes the quote. So a run of backslashes is doubled when a quote follows it,
  // including the closing quote we add ourselves ("C:\Dir\" would otherwise swallow it).
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

std::wstring own_image_path() {
  // Not GetModuleFileNameW: that returns the path the process was started with, which may be a
  // short (8.3) or otherwise different spelling. The updater recognises the restarted
  // application by comparing the image paths the system reports for running processes, so hand
  // it exactly that form.
  std::vector<wchar_t> buffer(1024);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (QueryFullProcessImageNameW(GetCurrentProcess(), 0, buffer.data(), &size)) {
      return std::wstring(buffer.data(), size);
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring directory_of(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, slash));
}

std::wstring updater_command_line(std::wstring_view updater, const UpdateHandover& handover,
                                  std::wstring_view app_exe, DWORD pid) {
  // The program name is parsed by different rules (quotes only toggle, no escapes), and a
  // Windows path cannot contain a double quote, so plain quotes are right for it.
  std::wstring line = L"\"";
  line += updater;
  line += L"\"";
  const auto add = [&line](std::wstring_view argument) {
    line += L' ';
    line += quote_argument(argument);
  };
  add(L"--installer");
  add(handover.installer);
  add(L"--app-exe");
  add(app_exe);
  add(L"--wait-pid");
  add(std::to_wstring(pid));
  if (!handover.log.empty()) {
    add(L"--log");
    add(handover.log);
  }
  return line;
}

DWORD start_updater(const UpdateHandover& handover, std::wstring* command_line) {
  const std::wstring app_exe = own_image_path();
  if (app_exe.empty()) return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_GEN_FAILURE;
  // The updater must come from the application's own directory, never from a download or
  // temporary folder: it looks up the programs it starts there first.
  const std::wstring updater = directory_of(app_exe) + L"\\talvex-updater.exe";
  const std::wstring line = updater_command_line(updater, handover, app_exe, GetCurrentProcessId());
  if (command_line) *command_line = line;
  if (line.size() >= 32767) return ERROR_FILENAME_EXCED_RANGE;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // bInheritHandles FALSE: the updater must not keep any of our files, pipes or sockets open
  // while the installer replaces them. DETACHED_PROCESS keeps it off our console, if we have
  // one. CREATE_BREAKAWAY_FROM_JOB: when we run inside a job that kills its processes once the
  // last handle closes (some launchers do this), the updater would die with us mid-install. A
  // job that forbids breaking away makes CreateProcessW fail with access denied; then start it
  // inside the job, which is still better than not updating.
  DWORD flags = DETACHED_PROCESS | CREATE_BREAKAWAY_FROM_JOB;
  std::wstring mutable_line = line;  // CreateProcessW may write into the command line buffer
  BOOL ok = CreateProcessW(updater.c_str(), mutable_line.data(), nullptr, nullptr, FALSE, flags,
                           nullptr, nullptr, &startup, &info);
  if (!ok && GetLastError() == ERROR_ACCESS_DENIED) {
    flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
    mutable_line = line;
    ok = CreateProcessW(updater.c_str(), mutable_line.data(), nullptr, nullptr, FALSE, flags,
                        nullptr, nullptr, &startup, &info);
  }
  if (!ok) return GetLastError();
  // Let it go: the updater waits for us, not the other way round.
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return ERROR_SUCCESS;
}

}  // namespace talvex_example
