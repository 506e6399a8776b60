// talvex-updater for tests, with a fault armed: the product's own entry point, run with the
// short timings the in-process tests use, after arming the fault that TALVEX_FAULT names as
// "<function> <n> <error> [<times>]" (decimal; no variable: counting only). For the failures
// only a whole process shows: the usage exit, the log's set-up, a crash.
#include <windows.h>

#include <cstdlib>
#include <sstream>

#include "base/wide_win.h"
#include "faults/fault_injection_win.h"
#include "main/run_update_win.h"

namespace {

std::vector<talvex::test::Fault> faults_from_environment(std::string& function) {
  wchar_t text[256] = {};
  const DWORD n = GetEnvironmentVariableW(L"TALVEX_FAULT", text, 256);
  if (n == 0 || n >= 256) return {};
  std::istringstream in(talvex::to_utf8(std::wstring_view(text, n)));
  talvex::test::Fault fault;
  in >> function >> fault.nth >> fault.error;
  if (!(in >> fault.times)) fault.times = 1;
  fault.function = function;
  return {fault};
}

}  // namespace

int wmain() {
  talvex::test::FaultInjection injection;
  std::string function;
  injection.arm(faults_from_environment(function));
  talvex::updater_main({std::chrono::seconds(2), std::chrono::milliseconds(300),
                        std::chrono::milliseconds(50), std::chrono::milliseconds(200),
                        std::chrono::milliseconds(2000)});
}
