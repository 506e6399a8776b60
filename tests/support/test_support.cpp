#include "support/test_support.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "base/text.h"

namespace talvex::test {

std::wstring bin_dir() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  path.resize(path.find_last_of(L'\\'));
  return path;
}

std::wstring bin_file(std::wstring_view name) { return bin_dir() + L"\\" + std::wstring(name); }

std::wstring full_path(const std::wstring& path) {
  std::wstring out(32768, L'\0');
  out.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(out.size()), out.data(), nullptr));
  return out;
}

ULONGLONG system_time_units() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

bool running_under_wine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

size_t open_handle_count() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
  // The system gives out the lowest free handle value, so a handle opened since the last count
  // sits in a gap or a few values past the highest seen then (a run holds only a few at once).
  // The first count probes the table's first pages, where a small process's handles all sit;
  // later ones probe only up to a wide margin past the highest value seen.
  static ULONG_PTR highest = 0;
  static ULONG_PTR reach = 0x10000;
  constexpr ULONG_PTR kMargin = 64 * 4;
  size_t probed = 0;
  for (ULONG_PTR value = 4; value <= std::max(reach, highest + kMargin); value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++probed;
      highest = std::max(highest, value);
    }
  }
  reach = 0;
  return probed;
}

TestDir::TestDir(std::wstring_view suffix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "no-test";
  std::replace_if(
      name.begin(), name.end(), [](char c) { return c == '/' || c == '\\' || c == ':'; }, '_');
  path_ = full_path(wide(to_utf16(name)) + std::wstring(suffix));
  remove_tree(path_);
  EXPECT_TRUE(make_dirs(path_)) << name;
}

std::wstring TestDir::file(std::wstring_view relative) const {
  return path_ + L"\\" + std::wstring(relative);
}

bool make_dirs(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return true;
  if (error != ERROR_PATH_NOT_FOUND) return false;
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos || slash == 0) return false;
  return make_dirs(path.substr(0, slash)) && CreateDirectoryW(path.c_str(), nullptr);
}

void remove_tree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

std::optional<std::string> read_file(const std::wstring& path) {
  ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  if (!file) return std::nullopt;
  std::string data;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    data.append(buffer, got);
  return data;
}

bool write_file(const std::wstring& path, std::string_view bytes) {
  ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS, 0,
                                    nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool copy_file(const std::wstring& from, const std::wstring& to) {
  return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

bool file_exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

std::vector<std::string> log_messages(const std::wstring& log_path) {
  std::vector<std::string> messages;
  for (const std::string& line : split_lines(read_file(log_path).value_or(""))) {
    const size_t close = line.find("] ");
    const bool well_formed = line.size() > 3 && line[0] == '[' && close != std::string::npos &&
                             close > 1 && line.find_first_not_of("0123456789", 1) == close;
    EXPECT_TRUE(well_formed) << "malformed log line: " << line;
    messages.push_back(well_formed ? line.substr(close + 2) : line);
  }
  return messages;
}

// The script beside a stub copy: the copy's path with ".stub" in place of its extension, the
// name the stub looks for.
std::wstring stub_script(const std::wstring& exe_path) {
  return std::filesystem::path(exe_path).replace_extension(L".stub").wstring();
}

bool make_stub(const std::wstring& exe_path, std::string_view script) {
  return copy_file(bin_file(L"stub.exe"), exe_path) && write_file(stub_script(exe_path), script);
}

void remove_stand_in(const std::wstring& exe_path) {
  eventually(
      [&] {
        DeleteFileW(exe_path.c_str());
        return !file_exists(exe_path);
      },
      5000);
  DeleteFileW(stub_script(exe_path).c_str());
}

StandIn::StandIn(std::wstring_view name, std::string_view script) : exe_(bin_file(name)) {
  remove_stand_in(exe_);
  EXPECT_TRUE(make_stub(exe_, script));
}

namespace {

// The current environment block with `changes` applied, as a sorted-enough block for
// CreateProcessW (Windows wants it sorted only for the "=C:" drive entries, which we keep first).
std::wstring environment_with(
    const std::vector<std::pair<std::wstring, std::optional<std::wstring>>>& changes) {
  std::wstring block;
  if (wchar_t* current = GetEnvironmentStringsW()) {
    for (const wchar_t* p = current; *p != L'\0'; p += wcslen(p) + 1) {
      const std::wstring_view entry(p);
      const size_t eq = entry.find(L'=', 1);
      const bool changed = std::any_of(changes.begin(), changes.end(), [&](const auto& change) {
        return eq != std::wstring_view::npos &&
               ascii_iequals(as_utf16(entry.substr(0, eq)), as_utf16(change.first));
      });
      if (!changed) block.append(entry).push_back(L'\0');
    }
    FreeEnvironmentStringsW(current);
  }
  for (const auto& [name, value] : changes) {
    if (value) block += name + L"=" + *value + L'\0';
  }
  block += L'\0';
  return block;
}

ScopedFileHandle open_output(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  // Wine releases an exited child's handles a moment after it ends: a file the previous child
  // wrote can refuse to be re-created for that moment, so try for a little while.
  for (int attempt = 0;; ++attempt) {
    ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      &inherit, CREATE_ALWAYS, 0, nullptr));
    if (file || attempt == 100) {
      EXPECT_TRUE(file.valid()) << "cannot create " << to_utf8(path) << ": " << GetLastError();
      return file;
    }
    Sleep(20);
  }
}

}  // namespace

std::optional<Spawned> spawn(const std::wstring& application, const std::wstring& command_line,
                             const SpawnOptions& options) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  auto null_device = [&](DWORD access) {
    return ScopedFileHandle(CreateFileW(L"\\\\.\\NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherit, OPEN_EXISTING, 0, nullptr));
  };
  ScopedFileHandle null_in = null_device(GENERIC_READ);
  const bool own_output = options.output == nullptr;
  auto output_to = [&](const std::optional<std::wstring>& file) {
    if (!own_output) return ScopedFileHandle();
    return file ? open_output(*file) : null_device(GENERIC_WRITE);
  };
  ScopedFileHandle out = output_to(options.stdout_file);
  ScopedFileHandle err = output_to(options.stderr_file);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!options.no_std_handles) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_in.get();
    startup.hStdOutput = own_output ? out.get() : options.output;
    startup.hStdError = own_output ? err.get() : options.output;
  }
  std::wstring env;
  if (!options.env.empty()) env = environment_with(options.env);
  PROCESS_INFORMATION info{};
  BOOL created = FALSE;
  DWORD error = 0;
  // Wine 8 now and then fails a process creation with ERROR_INTERNAL_ERROR (about one start in
  // a thousand under load); that says nothing about the test, so such a start is tried again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::wstring line = command_line;  // CreateProcessW may write into it
    created = CreateProcessW(
        application.c_str(), line.data(), nullptr, nullptr, options.no_std_handles ? FALSE : TRUE,
        CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, env.empty() ? nullptr : env.data(),
        options.current_dir.empty() ? nullptr : options.current_dir.c_str(), &startup, &info);
    error = GetLastError();
    if (created || error != ERROR_INTERNAL_ERROR || !running_under_wine()) break;
  }
  if (!created) {
    ADD_FAILURE() << "CreateProcessW failed with " << error << " for " << to_utf8(application);
    return std::nullopt;
  }
  CloseHandle(info.hThread);
  return Spawned{ScopedHandle(info.hProcess), info.dwProcessId};
}

std::optional<DWORD> wait_exit(HANDLE process, DWORD timeout_ms) {
  if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return std::nullopt;
  return code;
}

std::wstring quote_arg(std::wstring_view arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring_view::npos)
    return std::wstring(arg);
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"')
      out.append(backslashes * 2 + 1, L'\\');
    else
      out.append(backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

std::vector<DWORD> pids_running(const std::wstring& image) {
  std::vector<DWORD> pids;
  ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return pids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32FirstW(snapshot.get(), &entry); ok;
       ok = Process32NextW(snapshot.get(), &entry)) {
    ScopedHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process) continue;
    wchar_t name[32768];
    DWORD size = 32768;
    if (QueryFullProcessImageNameW(process.get(), 0, name, &size) &&
        ascii_iequals(as_utf16(std::wstring_view(name, size)), as_utf16(image))) {
      pids.push_back(entry.th32ProcessID);
    }
  }
  return pids;
}

void kill_all(const std::wstring& image) {
  for (DWORD pid : pids_running(image)) {
    ScopedHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) continue;
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
  }
}

::testing::Matcher<const std::string&> is_os_error_text(std::int64_t code) {
  const std::string suffix = " (os error " + std::to_string(code) + ")";
  return ::testing::Truly([suffix](const std::string& text) {
    if (text.size() <= suffix.size() || !text.ends_with(suffix)) return false;
    // The message itself is there, trimmed (some system messages span lines inside).
    const char last = text[text.size() - suffix.size() - 1];
    return std::string_view(" \t\f\r\n").find(last) == std::string_view::npos;
  });
}

std::optional<std::vector<std::wstring>> decode_argv(const std::string& bytes) {
  size_t pos = 0;
  auto take_u32 = [&](std::uint32_t& value) {
    if (pos + 4 > bytes.size()) return false;
    std::memcpy(&value, bytes.data() + pos, 4);
    pos += 4;
    return true;
  };
  std::uint32_t count = 0;
  if (!take_u32(count)) return std::nullopt;
  std::vector<std::wstring> argv;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t length = 0;
    if (!take_u32(length) || pos + length * 2 > bytes.size()) return std::nullopt;
    std::wstring arg(length, L'\0');
    std::memcpy(arg.data(), bytes.data() + pos, length * 2);
    pos += length * 2;
    argv.push_back(std::move(arg));
  }
  return argv;
}

std::optional<std::vector<std::wstring>> runtime_argv(const TestDir& dir,
                                                      const std::wstring& command_line) {
  // A new file per child: Wine closes an exited child's handles a moment after it ends, so the
  // previous report may still be open.
  static int children = 0;
  const std::wstring out = dir.file(L"argv" + std::to_wstring(++children) + L".bin");
  SpawnOptions options;
  options.stdout_file = out;
  auto child = spawn(bin_file(L"argv_echo.exe"), command_line, options);
  if (!child) return std::nullopt;
  if (wait_exit(child->process.get(), 30000) != 0u) return std::nullopt;
  return decode_argv(read_file(out).value_or(""));  // no bytes are no report
}

}  // namespace talvex::test
