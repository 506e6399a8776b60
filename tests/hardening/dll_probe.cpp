// Loads libraries by bare name, as delay-loaded system imports would, and reports where each
// came from:  dll_probe <restricted|default> <report file> <name>...
// "restricted" first limits the search to the system directory exactly as the updater does at
// start. The report has a line per name, in order: "0 <path>" when the library loaded,
// otherwise the loader's error code. Exit status 0 once the report is written.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 1000;
  const std::wstring mode = argv[1];
  if (mode == L"restricted") {
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return 1001;
  } else if (mode != L"default") {
    return 1000;
  }
  std::string report;
  for (int i = 3; i < argc; ++i) {
    HMODULE library = LoadLibraryW(argv[i]);
    if (library == nullptr) {
      report += std::to_string(GetLastError()) + "\n";
      continue;
    }
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(library, path, MAX_PATH);
    char text[4 * MAX_PATH];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), text, sizeof text,
                                          nullptr, nullptr);
    report += "0 " + std::string(text, bytes > 0 ? bytes : 0) + "\n";
  }
  HANDLE file =
      CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1002;
  DWORD written = 0;
  const BOOL wrote =
      WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  CloseHandle(file);
  return wrote ? 0 : 1003;
}
