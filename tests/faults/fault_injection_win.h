// Failing any kernel32 call on purpose, in the manner of the fault injection of Application
// Verifier: the running executable's import address table is patched, one slot per function, so
// that every call the code of this program (the product's code linked in, statically) makes
// through it passes a counter first. The product is not changed at all.
//
// While a FaultInjection exists, every call of a listed function is counted. A Fault makes the
// n-th counted call (of one function, or of all) return that function's failure value with the
// given error as the thread's last error, without calling the system.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace talvex::test {

struct Fault {
  std::string_view function;  // empty: the n-th call of any listed function
  unsigned nth = 1;           // 1 for the first call counted
  DWORD error = 0;            // 0: the function's usual error (see the list in the .cpp)
  unsigned times = 1;         // how many calls from the n-th on fail
};
// As `times`: the failure stays once it has started, as a full disk or a used-up handle table
// does.
inline constexpr unsigned kPersistent = 0xFFFFFFFF;

// One per program: a second one would take the first one's hooks for the system's functions.
class FaultInjection {
 public:
  FaultInjection();   // patches every listed function
  ~FaultInjection();  // puts the system's functions back
  FaultInjection(const FaultInjection&) = delete;
  FaultInjection& operator=(const FaultInjection&) = delete;

  // Starts counting from zero and arms the faults (none: counting only). disarm() stops both.
  void arm(std::vector<Fault> faults = {});
  void arm(const Fault& fault) { arm(std::vector<Fault>{fault}); }
  void disarm();

  // Calls counted since arm().
  [[nodiscard]] unsigned calls() const;
  // Each call counted, in order: the function and the address it was called from.
  struct Call {
    std::string_view function;
    const void* site;
  };
  [[nodiscard]] const std::vector<Call>& trace() const;
  // The functions of the calls that were failed, in order.
  [[nodiscard]] const std::vector<std::string_view>& failed() const;
  // Whether `function` was found in the import table (a function never imported is not).
  [[nodiscard]] bool hooked(std::string_view function) const;
  // The functions that can be failed.
  [[nodiscard]] static std::vector<std::string_view> functions();
};

// Points the running executable's kernel32 import slots of `function` at `replacement` while
// the object lives: for tests that watch what reaches the system rather than fail it.
class ImportReplacement {
 public:
  ImportReplacement(const char* function, void* replacement);
  ~ImportReplacement();
  ImportReplacement(const ImportReplacement&) = delete;
  ImportReplacement& operator=(const ImportReplacement&) = delete;

  // Whether the executable imports `function` at all (nothing was replaced otherwise).
  [[nodiscard]] bool found() const { return !slots_.empty(); }
  // The system's function, for the replacement to call on.
  template <typename Function>
  [[nodiscard]] Function original() const {
    return reinterpret_cast<Function>(original_);
  }

 private:
  std::vector<void**> slots_;
  void* original_ = nullptr;
};

}  // namespace talvex::test
