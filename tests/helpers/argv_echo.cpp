// Reports the argv that its C runtime parsed from its command line, as an oracle for the
// updater's splitter and quoting. Output, to standard output: the number of arguments, then each
// argument as its length in UTF-16 units and its raw units, all as little-endian binary, so that
// any text (unpaired surrogates included) survives.
#include <windows.h>

#include <cstdint>
#include <cwchar>

namespace {

void put(HANDLE out, const void* data, DWORD size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(out, bytes, size, &written, nullptr) || written == 0) ExitProcess(3);
    bytes += written;
    size -= written;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const auto count = static_cast<std::uint32_t>(argc);
  put(out, &count, sizeof count);
  for (int i = 0; i < argc; ++i) {
    const auto length = static_cast<std::uint32_t>(std::wcslen(argv[i]));
    put(out, &length, sizeof length);
    put(out, argv[i], length * sizeof(wchar_t));
  }
  return 0;
}
