#include <bits/functexcept.h>

#include <cstdlib>

// The C++ runtime's default terminate handler prints the type of an uncaught exception and so
// links in the whole demangler (about a third of the executable). The program throws nothing;
// the only way here is an allocation failure inside the standard library, where aborting is all
// that can be done anyway.
namespace __gnu_cxx {
// The runtime's own name, reserved because it is the runtime's: replacing it is the point.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The standard library's containers report a misuse or a failed allocation through these
// functions, which throw. Nothing here catches, so each throw ends in the handler above; aborting
// at once does the same without the runtime's exception classes, which bring in its old-ABI
// strings, std::random_device and, since GCC 14, std::system_error (about 10 KiB). All of them
// are replaced, so that the runtime's own definitions are never linked beside these.
// NOLINTBEGIN(bugprone-reserved-identifier)
namespace std {
void __throw_bad_exception() { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_cast() { std::abort(); }
void __throw_bad_typeid() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_domain_error(const char*) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_runtime_error(const char*) { std::abort(); }
void __throw_range_error(const char*) { std::abort(); }
void __throw_overflow_error(const char*) { std::abort(); }
void __throw_underflow_error(const char*) { std::abort(); }
}  // namespace std
// NOLINTEND(bugprone-reserved-identifier)
