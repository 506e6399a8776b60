// Shared test helpers: per-test directories, files, and starting programs independently of the
// product's own launching code (so that tests of that code do not rely on it).
#pragma once

#include <windows.h>

#include <gmock/gmock.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/scoped_handle_win.h"
#include "base/wide_win.h"

namespace talvex::test {

// A copy of Windows text as the platform-free code holds it.
[[nodiscard]] inline std::u16string u16(std::wstring_view text) {
  return std::u16string(as_utf16(text));
}
// A copy of platform-free text for the Win32 calls and the helpers here.
[[nodiscard]] inline std::wstring wide(std::u16string_view text) {
  return std::wstring(as_wide(text));
}
[[nodiscard]] inline std::vector<std::u16string> u16_all(const std::vector<std::wstring>& texts) {
  std::vector<std::u16string> copies;
  for (const std::wstring& text : texts) copies.push_back(u16(text));
  return copies;
}

// The directory holding the test programs, the helpers and talvex-updater.exe (no trailing
// backslash).
[[nodiscard]] std::wstring bin_dir();
// bin_dir() + "\" + name.
[[nodiscard]] std::wstring bin_file(std::wstring_view name);

// A fresh, empty directory for the running test: <current dir>\<Suite>.<Test>[suffix].
class TestDir {
 public:
  explicit TestDir(std::wstring_view suffix = L"");
  [[nodiscard]] const std::wstring& path() const { return path_; }
  // path() + "\" + relative.
  [[nodiscard]] std::wstring file(std::wstring_view relative) const;

 private:
  std::wstring path_;
};

[[nodiscard]] bool make_dirs(const std::wstring& path);
void remove_tree(const std::wstring& path);
[[nodiscard]] std::optional<std::string> read_file(const std::wstring& path);
[[nodiscard]] bool write_file(const std::wstring& path, std::string_view bytes);
[[nodiscard]] bool copy_file(const std::wstring& from, const std::wstring& to);
[[nodiscard]] bool file_exists(const std::wstring& path);

// Splits at line feeds; a final line feed does not open another line.
[[nodiscard]] std::vector<std::string> split_lines(std::string_view text);
// A log's lines with the "[<seconds>] " prefix removed; fails the test when a line lacks it.
[[nodiscard]] std::vector<std::string> log_messages(const std::wstring& log_path);

// Puts a copy of the stub helper at `exe_path` with the given script beside it
// (see tests/helpers/stub.cpp for the script language).
[[nodiscard]] bool make_stub(const std::wstring& exe_path, std::string_view script);

// Deletes a stub copy and its script; a stub that just exited can stay locked for a moment.
void remove_stand_in(const std::wstring& exe_path);

// A stub named `name` in the test programs' directory (the first place the updater's search
// for a system program looks), removed again however the test ends. Every test program of the
// build tree shares that directory: a test using this holds the "system_dir" lock.
class StandIn {
 public:
  StandIn(std::wstring_view name, std::string_view script);
  ~StandIn() { remove_stand_in(exe_); }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;
  [[nodiscard]] const std::wstring& path() const { return exe_; }

 private:
  std::wstring exe_;
};

struct SpawnOptions {
  std::wstring current_dir;                 // empty: inherit
  std::optional<std::wstring> stdout_file;  // redirect standard output to this file
  std::optional<std::wstring> stderr_file;  // redirect standard error to this file
  bool no_std_handles = false;              // start with no standard handles at all
  // When set, standard output and error both go to this (inheritable) handle, say a pipe.
  HANDLE output = nullptr;
  // Variables to set (or, with nullopt, remove) in the child's environment block.
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> env;
};

struct Spawned {
  ScopedHandle process;
  DWORD pid = 0;
};

// Starts `application` with the exact `command_line` (no quoting is added).
[[nodiscard]] std::optional<Spawned> spawn(const std::wstring& application,
                                           const std::wstring& command_line,
                                           const SpawnOptions& options = {});
// Waits up to `timeout_ms` for the process to end; its exit code, or nullopt on timeout.
[[nodiscard]] std::optional<DWORD> wait_exit(HANDLE process, DWORD timeout_ms);

// Decodes argv_echo's report: a count, then each argument as a length and its UTF-16 units;
// nullopt when the bytes are not such a report.
[[nodiscard]] std::optional<std::vector<std::wstring>> decode_argv(const std::string& bytes);

// Starts the argv_echo helper with the exact `command_line` and returns the argv its C runtime
// parsed (the program name first), or nullopt when it could not run. Its report goes to a new
// file in `dir`.
[[nodiscard]] std::optional<std::vector<std::wstring>> runtime_argv(
    const TestDir& dir, const std::wstring& command_line);

// Quotes one argument for a command line by the C runtime's rules (an independent, obviously
// correct version used to build test command lines).
[[nodiscard]] std::wstring quote_arg(std::wstring_view arg);

// Process ids of running processes whose image path equals `image` (ASCII case-insensitive).
[[nodiscard]] std::vector<DWORD> pids_running(const std::wstring& image);
// Terminates every process running `image`.
void kill_all(const std::wstring& image);
// Polls until `pred` holds or `timeout_ms` passes.
template <typename Pred>
bool eventually(Pred pred, DWORD timeout_ms) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  for (;;) {
    if (pred()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

// Runs `cleanup` when the scope ends, however it ends.
template <typename F>
class AtEnd {
 public:
  explicit AtEnd(F cleanup) : cleanup_(std::move(cleanup)) {}
  ~AtEnd() { cleanup_(); }
  AtEnd(const AtEnd&) = delete;
  AtEnd& operator=(const AtEnd&) = delete;

 private:
  F cleanup_;
};

// The system clock now, in FILETIME units (100 ns since 1601), the clock of process times.
[[nodiscard]] ULONGLONG system_time_units();

// True under Wine (its ntdll exports wine_get_version), where a few system behaviours differ.
[[nodiscard]] bool running_under_wine();

// How many handles this process holds: the system's count, or where that reads 0 (Wine), the
// handle values that answer a harmless query. Cheap enough to take around every run.
[[nodiscard]] size_t open_handle_count();

// The absolute form of a path.
[[nodiscard]] std::wstring full_path(const std::wstring& path);

// Makes `path` the current directory until the returned object goes.
[[nodiscard]] inline auto in_directory(const std::wstring& path) {
  std::wstring saved = full_path(L".");
  EXPECT_TRUE(SetCurrentDirectoryW(path.c_str())) << GetLastError();
  return AtEnd([saved = std::move(saved)] { SetCurrentDirectoryW(saved.c_str()); });
}

// The structure of the log's text for a system error: the system's message (trimmed; its wording
// differs between Windows versions and Wine) followed by " (os error <code>)".
[[nodiscard]] ::testing::Matcher<const std::string&> is_os_error_text(std::int64_t code);

}  // namespace talvex::test
