// A windowless stand-in for a desktop application that updates itself with talvex-updater.
//
// Beside its executable it keeps two plain files:
//   update-pending.txt  written by whatever downloaded an update: the installer's path (UTF-8,
//                       first line; relative paths are taken against the application's
//                       directory). The application checks for it at start and then twice a
//                       second; when it finds it, it removes it, starts the updater and exits.
//   runs.txt            the application's journal, one line per event, for instance
//                       "started version=2.0.0 pid=212" (read by the demo script and the tests).
// The updater's log goes to logs\talvex-updater.log beside the executable.
//
// Without an update to hand over it keeps running until it is ended from outside.
#include <windows.h>

#include <string>

#include "start_updater.h"

#ifndef TALVEX_DEMO_VERSION
#error "define TALVEX_DEMO_VERSION (for example -DTALVEX_DEMO_VERSION=\"1.0.0\")"
#endif

namespace {

std::string narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// Appends one line; the file is opened for appending only, so concurrent runs never overwrite
// each other's lines.
void journal(const std::wstring& path, const std::string& line) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// The first line of the marker file, or nothing when there is no marker.
bool read_marker(const std::wstring& path, std::wstring* installer) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string data;
  char buffer[4096];
  DWORD got = 0;
  while (data.size() < 65536 && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    data.append(buffer, got);
  }
  CloseHandle(file);
  if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);  // written by Notepad
  const size_t line_end = data.find_first_of("\r\n");
  if (line_end != std::string::npos) data.resize(line_end);
  while (!data.empty() && (data.back() == ' ' || data.back() == '\t')) data.pop_back();
  *installer = widen(data);
  return true;
}

std::wstring absolute(const std::wstring& path, const std::wstring& base_dir) {
  const bool rooted =
      path.size() >= 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'));
  std::wstring joined = rooted ? path : base_dir + L"\\" + path;
  std::wstring full(32768, L'\0');
  const DWORD n =
      GetFullPathNameW(joined.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return joined;
  full.resize(n);
  return full;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring self = talvex_example::own_image_path();
  const std::wstring dir = talvex_example::directory_of(self);
  const std::wstring runs = dir + L"\\runs.txt";
  const std::wstring marker = dir + L"\\update-pending.txt";

  journal(runs, "started version=" TALVEX_DEMO_VERSION " pid=" +
                    std::to_string(GetCurrentProcessId()) + " exe=" + narrow(self));

  for (;;) {
    std::wstring installer;
    if (read_marker(marker, &installer)) {
      // Take the marker away first: the updater restarts us, and a marker still lying there
      // would hand over again and again.
      if (!DeleteFileW(marker.c_str())) {
        journal(runs, "update: cannot remove update-pending.txt (error " +
                          std::to_string(GetLastError()) + "), not updating");
      } else if (installer.empty()) {
        journal(runs, "update: update-pending.txt names no installer, ignored");
      } else {
        talvex_example::UpdateHandover handover;
        handover.installer = absolute(installer, dir);
        handover.log = dir + L"\\logs\\talvex-updater.log";
        std::wstring command_line;
        const DWORD error = talvex_example::start_updater(handover, &command_line);
        if (error == ERROR_SUCCESS) {
          journal(runs, "update: started " + narrow(command_line) +
                            "; exiting pid=" + std::to_string(GetCurrentProcessId()));
          // Exit at once: the updater gives us 30 seconds before the installer runs anyway.
          return 0;
        }
        journal(runs, "update: cannot start the updater (error " + std::to_string(error) +
                          "): " + narrow(command_line));
      }
    }
    Sleep(500);
  }
}
