#include <windows.h>

#include "log/run_log.h"

#include <vector>

#include "base/clock.h"
#include "base/scoped_handle.h"
#include "base/text.h"

namespace talvex {
namespace {

constexpr std::wstring_view kLogFileName = L"talvex-updater.log";

// FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE: the
// generic write rights without FILE_WRITE_DATA. With append-only access the system puts every
// write at the current end of file atomically, so two writers (or a reader that truncates and a
// writer) cannot overwrite each other's lines.
constexpr DWORD kAppendAccess = 0x120114;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, LPWSTR);

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The temporary directory as the system reports it, with its trailing separator.
std::optional<std::wstring> system_temp_dir() {
  // GetTempPath2W (Windows 11, and updates of 10) gives SYSTEM processes a private directory;
  // it is looked up by name because the import would stop the program loading elsewhere.
  auto get_temp_path = &::GetTempPathW;
  if (HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll")) {
    if (FARPROC proc = ::GetProcAddress(kernel32, "GetTempPath2W")) {
      // LCOV_EXCL_START Windows only: Wine's kernel32 has no GetTempPath2W
      get_temp_path = reinterpret_cast<GetTempPath2WFn>(reinterpret_cast<void*>(proc));
      // LCOV_EXCL_STOP
    }
  }
  std::wstring buffer(MAX_PATH + 1, L'\0');
  for (;;) {
    const DWORD n = get_temp_path(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    // Too small: n is the size needed, terminator included.
    buffer.assign(n, L'\0');
  }
}

// The directory part of `path`, or nullopt for a bare name or a root.
std::optional<std::wstring> parent_dir(std::wstring_view path) {
  while (!path.empty() && is_separator(path.back())) path.remove_suffix(1);
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring_view::npos) return std::nullopt;
  std::wstring_view parent = path.substr(0, slash);
  while (!parent.empty() && is_separator(parent.back())) parent.remove_suffix(1);
  if (parent.empty() || (parent.size() == 2 && parent[1] == L':')) return std::nullopt;
  return std::wstring(parent);
}

// Creates `dir` and every missing ancestor; failures are left for the log's opens to meet.
void create_dir_all(const std::wstring& dir) {
  std::vector<std::wstring> missing;
  std::optional<std::wstring> next = dir;
  while (next) {
    if (::CreateDirectoryW(next->c_str(), nullptr)) break;
    const DWORD error = ::GetLastError();
    if (error != ERROR_PATH_NOT_FOUND) break;  // exists already, or cannot be made
    missing.push_back(std::move(*next));
    next = parent_dir(missing.back());
  }
  // Deepest first was tried; now create the ancestors that were missing, outermost first.
  while (!missing.empty()) {
    if (!::CreateDirectoryW(missing.back().c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return;
    }
    missing.pop_back();
  }
}

// A control character in a message would let it break the one-line-per-step format: a line feed
// or carriage return from a path on the command line or a system message would start what reads
// as a line of its own (even a forged "[seconds] ..." one). Each one is written as "<U+XXXX>",
// a form no Windows path can contain ('<' and '>' are not allowed in file names) and that still
// shows what was there. Every other byte is copied: the bytes of multi-byte UTF-8 sequences are
// all 0x80 or above, so they never look like control characters.
void append_with_visible_controls(std::string& line, std::string_view message) {
  constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      line += c;
      continue;
    }
    line += "<U+00";
    line += kHex[byte >> 4];
    line += kHex[byte & 0xF];
    line += '>';
  }
}

}  // namespace

std::optional<std::wstring> log_path_in(const std::optional<std::wstring>& temp_dir) {
  if (!temp_dir) return std::nullopt;
  std::wstring path = *temp_dir;
  if (!path.empty() && !is_separator(path.back())) path.push_back(L'\\');
  path += kLogFileName;
  return path;
}

std::optional<std::wstring> default_log_path() { return log_path_in(system_temp_dir()); }

RunLog prepare_log(const UpdaterOptions& options) {
  std::optional<std::wstring> path = options.log ? options.log : default_log_path();
  if (!path) return RunLog();
  if (std::optional<std::wstring> dir = parent_dir(*path)) create_dir_all(*dir);
  return RunLog(std::move(*path));
}

std::string format_log_line(std::uint64_t unix_seconds, std::string_view message) {
  std::string line;
  line.reserve(message.size() + 24);
  line += '[';
  line += decimal(unix_seconds);
  line += "] ";
  append_with_visible_controls(line, message);
  line += '\n';
  return line;
}

void log_line(const RunLog& log, std::string_view message) {
  if (!log.path()) return;
  // The whole line is composed first and written with as few calls as possible, so that a
  // concurrent reader or writer never sees half of it.
  const std::string line = format_log_line(unix_seconds_now(), message);
  // The file is opened and closed for every line: each line is on disk once we return, even if
  // we are killed next, and nobody is locked out of the file between lines. The handle is not
  // inheritable, so children never hold the log open.
  ScopedFileHandle file(::CreateFileW(log.path()->c_str(), kAppendAccess, kShareAll, nullptr,
                                      OPEN_ALWAYS, 0, nullptr));
  if (!file) return;
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    if (!::WriteFile(file.get(), data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    left -= written;
  }
}

}  // namespace talvex
