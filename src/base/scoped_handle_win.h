// Move-only owners for Win32 handles.
//
// Windows has two conventions for "no handle": process, thread and timer handles are NULL when
// invalid, while CreateFileW and CreateToolhelp32Snapshot return INVALID_HANDLE_VALUE. Mixing
// them up either leaks a handle or closes the pseudo-handle -1 (the current process), so each
// convention gets its own type and they do not convert into each other.
#pragma once

#include <windows.h>

#include <utility>

// The platform-free code treats each wchar_t as one UTF-16 code unit; that holds only where
// wchar_t is 16 bits wide, as on every Windows compiler.
static_assert(sizeof(wchar_t) == 2, "wide text must be UTF-16 code units");

namespace talvex {

template <typename Traits>
class GenericScopedHandle {
 public:
  GenericScopedHandle() = default;
  explicit GenericScopedHandle(HANDLE handle) : handle_(handle) {}
  ~GenericScopedHandle() { reset(); }

  GenericScopedHandle(const GenericScopedHandle&) = delete;
  GenericScopedHandle& operator=(const GenericScopedHandle&) = delete;

  GenericScopedHandle(GenericScopedHandle&& other) noexcept : handle_(other.release()) {}
  GenericScopedHandle& operator=(GenericScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  [[nodiscard]] bool valid() const { return Traits::is_valid(handle_); }
  explicit operator bool() const { return valid(); }
  [[nodiscard]] HANDLE get() const { return handle_; }

  // Gives up ownership without closing.
  [[nodiscard]] HANDLE release() { return std::exchange(handle_, Traits::invalid()); }

  // Closing does not disturb the thread's last error, so an owner may go out of scope (or be
  // reset) between a failed call and the GetLastError() that explains it.
  void reset(HANDLE handle = Traits::invalid()) {
    HANDLE old = std::exchange(handle_, handle);
    if (Traits::is_valid(old)) {
      const DWORD last_error = ::GetLastError();
      Traits::close(old);
      ::SetLastError(last_error);
    }
  }

 private:
  HANDLE handle_ = Traits::invalid();
};

struct NullInvalidTraits {
  static HANDLE invalid() { return nullptr; }
  static bool is_valid(HANDLE h) { return h != nullptr; }
  static void close(HANDLE h) { ::CloseHandle(h); }
};

struct MinusOneInvalidTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  // A few APIs of this family never return NULL, but treating it as "none" costs nothing and
  // keeps a zero-initialised owner from closing handle 0.
  // LCOV_EXCL_BR_START no call of this family returns NULL
  static bool is_valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  // LCOV_EXCL_BR_STOP
  static void close(HANDLE h) { ::CloseHandle(h); }
};

// FindFirstFileExW's search handle is not a kernel handle: only FindClose may release it.
struct FindHandleTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  // LCOV_EXCL_BR_START no call of this family returns NULL
  static bool is_valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  // LCOV_EXCL_BR_STOP
  static void close(HANDLE h) { ::FindClose(h); }
};

// Process, thread and waitable-timer handles (NULL when absent).
using ScopedHandle = GenericScopedHandle<NullInvalidTraits>;
// Handles from CreateFileW and CreateToolhelp32Snapshot (INVALID_HANDLE_VALUE when absent).
using ScopedFileHandle = GenericScopedHandle<MinusOneInvalidTraits>;
// Directory searches from FindFirstFileExW.
using ScopedFindHandle = GenericScopedHandle<FindHandleTraits>;

}  // namespace talvex
