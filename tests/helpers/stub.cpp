// A scriptable stand-in for an installer, an application or a system utility.
//
// Copy stub.exe to any name and put a script beside the copy, named like it with ".stub" in
// place of ".exe" (setup.exe -> setup.stub). The script's lines run in order:
//   exit <code>        end with <code> (decimal, or 0x... hexadecimal)
//   sleep <ms>         sleep that long
//   forever            sleep until killed
//   record <path>      append this process's command line (UTF-8) and a line feed to <path>
//   pid <path>         append this process's id and a line feed to <path>
//   start <path>       start <path> detached, without arguments, and do not wait for it
//   hold <path>        open <path> for reading and deleting, sharing read, write and delete, and
//                      keep it open
//   lock <path>        open (or create) <path> without sharing it, and keep it open
//   times <path>       append this process's creation time and the current time (both FILETIME
//                      100 ns units, decimal, space-separated) and a line feed to <path>; as the
//                      last line before "exit" it records the stub's own lifetime
//   streams <path>     append what this process's standard input, output and error are, as
//                      three space-separated words (none, disk, char, pipe, or other for a
//                      handle that is no stream at all) and a line feed, to <path>
//   crash              die of an unhandled access violation (a real one: no handler ends the
//                      process); the system's fault dialog is suppressed so nothing waits for a
//                      user
// Paths in the script are UTF-8. Without a script the stub exits 0 at once.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>

#include "base/wide_win.h"

namespace {

std::string read_file(const std::wstring& path) {
  std::string data;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return data;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
  CloseHandle(file);
  return data;
}

void append_file(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

void start_detached(const std::wstring& program) {
  std::wstring command_line = L"\"" + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                     CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
}

const char* stream_kind(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return "none";
  // Indexed by FILE_TYPE_UNKNOWN (0), FILE_TYPE_DISK, FILE_TYPE_CHAR and FILE_TYPE_PIPE (3).
  static const char* const kKinds[] = {"other", "disk", "char", "pipe"};
  const DWORD type = GetFileType(handle);
  return type < std::size(kKinds) ? kKinds[type] : "other";
}

std::wstring script_path() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  const size_t dot = path.find_last_of(L'.');
  const size_t slash = path.find_last_of(L"\\/");
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) path.resize(dot);
  return path + L".stub";
}

// Files opened by "hold" and "lock" stay open until the stub exits.
void open_and_keep(const std::wstring& path, DWORD share) {
  CreateFileW(path.c_str(), share == 0 ? GENERIC_READ : GENERIC_READ | DELETE, share, nullptr,
              share == 0 ? OPEN_ALWAYS : OPEN_EXISTING, 0, nullptr);
}

}  // namespace

int wmain() {
  std::istringstream script(read_file(script_path()));
  for (std::string line; std::getline(script, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
    const std::wstring path(talvex::as_wide(talvex::to_utf16(arg)));
    if (verb == "exit") {
      ExitProcess(static_cast<UINT>(std::strtoul(arg.c_str(), nullptr, 0)));
    } else if (verb == "sleep") {
      Sleep(static_cast<DWORD>(std::strtoul(arg.c_str(), nullptr, 10)));
    } else if (verb == "forever") {
      for (;;) Sleep(INFINITE);
    } else if (verb == "record") {
      append_file(path, talvex::to_utf8(std::wstring_view(GetCommandLineW())) + "\n");
    } else if (verb == "pid") {
      append_file(path, std::to_string(GetCurrentProcessId()) + "\n");
    } else if (verb == "start") {
      start_detached(path);
    } else if (verb == "hold") {
      open_and_keep(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    } else if (verb == "lock") {
      open_and_keep(path, 0);
    } else if (verb == "times") {
      FILETIME created{}, exited{}, kernel{}, user{}, now{};
      GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
      GetSystemTimePreciseAsFileTime(&now);
      const auto units = [](const FILETIME& t) {
        return std::to_string((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                              t.dwLowDateTime);
      };
      append_file(path, units(created) + " " + units(now) + "\n");
    } else if (verb == "streams") {
      append_file(path, std::string(stream_kind(STD_INPUT_HANDLE)) + " " +
                            stream_kind(STD_OUTPUT_HANDLE) + " " + stream_kind(STD_ERROR_HANDLE) +
                            "\n");
    } else if (verb == "crash") {
      SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
      // Store through a volatile pointer so the compiler cannot turn the fault into a trap.
      int* volatile nowhere = nullptr;
      *nowhere = 0;
    }
  }
  return 0;
}
