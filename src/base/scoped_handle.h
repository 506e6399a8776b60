// Move-only owners for Win32 handles.
//
// Windows has two conventions for "no handle": process, thread and timer handles are NULL when
// invalid, while CreateFileW and CreateToolhelp32Snapshot return INVALID_HANDLE_VALUE. Mixing
// them up either leaks a handle or closes the pseudo-handle -1 (the current process), so each
// convention gets its own type and they do not convert into each other.
#pragma once

#include <windows.h>

#include <utility>

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

  void reset(HANDLE handle = Traits::invalid()) {
    HANDLE old = std::exchange(handle_, handle);
    if (Traits::is_valid(old)) ::CloseHandle(old);
  }

 private:
  HANDLE handle_ = Traits::invalid();
};

struct NullInvalidTraits {
  static HANDLE invalid() { return nullptr; }
  static bool is_valid(HANDLE h) { return h != nullptr; }
};

struct MinusOneInvalidTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  // A few APIs of this family never return NULL, but treating it as "none" costs nothing and
  // keeps a zero-initialised owner from closing handle 0.
  static bool is_valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
};

// Process, thread and waitable-timer handles (NULL when absent).
using ScopedHandle = GenericScopedHandle<NullInvalidTraits>;
// Handles from CreateFileW and CreateToolhelp32Snapshot (INVALID_HANDLE_VALUE when absent).
using ScopedFileHandle = GenericScopedHandle<MinusOneInvalidTraits>;

}  // namespace talvex
