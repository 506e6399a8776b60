// Errors as values: a Win32 error code, or one of the few failures the program detects before
// it asks the system. Builds on any host: the code is carried as the fixed-width value Windows
// defines it to be.
#pragma once

#include <cstdint>
#include <utility>
#include <variant>

namespace talvex {

struct Error {
  enum class Kind : std::uint8_t {
    kOs,               // `code` is a Win32 (or NT-facility) error code
    kProgramNotFound,  // "program not found"
    kNoFileName,       // "program path has no file name"
    kNulByte,          // "nul byte found in provided data"
    kUnsafeScript,     // a batch-script launch that cannot be quoted safely
  };

  Kind kind = Kind::kOs;
  std::uint32_t code = 0;

  [[nodiscard]] static Error os(std::uint32_t code) { return Error{Kind::kOs, code}; }
  [[nodiscard]] static Error fixed(Kind kind) { return Error{kind, 0}; }

  friend bool operator==(const Error&, const Error&) = default;
};

// A value of type T, or an Error.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  Result(Error error) : state_(std::in_place_index<1>, error) {}         // NOLINT: implicit

  [[nodiscard]] bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  [[nodiscard]] T& value() & { return std::get<0>(state_); }
  [[nodiscard]] const T& value() const& { return std::get<0>(state_); }
  [[nodiscard]] T&& value() && { return std::get<0>(std::move(state_)); }
  [[nodiscard]] const Error& error() const { return std::get<1>(state_); }

  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::variant<T, Error> state_;
};

// Success with no value, or an Error.
struct Ok {};
using Status = Result<Ok>;

}  // namespace talvex
