// Loads one library by bare name, as a delay-loaded system import would, and reports where it
// came from:  dll_probe <restricted|default> <name> <report file>
// "restricted" first limits the search to the system directory exactly as the updater does at
// start. Exit status 0 when the library loaded (its path is written to the report file),
// otherwise the loader's error code.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 1000;
  const std::wstring mode = argv[1];
  if (mode == L"restricted") {
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return 1001;
  } else if (mode != L"default") {
    return 1000;
  }
  HMODULE library = LoadLibraryW(argv[2]);
  if (library == nullptr) return static_cast<int>(GetLastError());
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(library, path, MAX_PATH);
  char text[4 * MAX_PATH];
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), text, sizeof text,
                                        nullptr, nullptr);
  HANDLE file =
      CreateFileW(argv[3], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(bytes > 0 ? bytes : 0), &written, nullptr);
    CloseHandle(file);
  }
  return 0;
}
