// Small pieces of file handling that several Win32 callers share.
#pragma once

#include <windows.h>

#include <string_view>

namespace talvex {

// Every sharing right: the updater never keeps others from reading, writing, renaming or
// deleting a file it has open (its log, the null device, an entry it only inspects).
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Writes all of `bytes` to `file`, in as many WriteFile calls as the system needs (one call
// takes at most 4 GiB and may write less than asked). False as soon as a call fails or makes no
// progress.
[[nodiscard]] inline bool write_all(HANDLE file, std::string_view bytes) {
  constexpr std::size_t kLargestChunk = 0x40000000;
  while (!bytes.empty()) {
    DWORD written = 0;
    // LCOV_EXCL_BR_START a text over 1 GiB, and a write that succeeds with no byte written (which
    // would otherwise loop for ever), are beyond what the tests can make the system do
    const auto chunk =
        static_cast<DWORD>(bytes.size() < kLargestChunk ? bytes.size() : kLargestChunk);
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    // LCOV_EXCL_BR_STOP
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace talvex
