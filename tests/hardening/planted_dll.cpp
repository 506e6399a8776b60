// A library that gives itself away: when any process loads it, it appends that process's image
// path and a line feed to "<its own path>.loaded". Copied under the names of system libraries,
// it shows whether a program picks up a library planted beside it or in its current directory.
#include <windows.h>

namespace {

void report_load(HMODULE self) {
  wchar_t marker[MAX_PATH + 16];
  const DWORD n = GetModuleFileNameW(self, marker, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  lstrcpyW(marker + n, L".loaded");
  wchar_t loader[MAX_PATH];
  const DWORD m = GetModuleFileNameW(nullptr, loader, MAX_PATH);
  char text[4 * MAX_PATH + 2];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, loader, static_cast<int>(m), text, 4 * MAX_PATH,
                                  nullptr, nullptr);
  if (bytes < 0) bytes = 0;
  text[bytes++] = '\n';
  HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) report_load(self);
  return TRUE;
}
