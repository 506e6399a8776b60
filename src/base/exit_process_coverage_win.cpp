// Compiled into coverage builds only (the coverage preset), without instrumentation. The guard
// keeps the linters, which see every file of src/ as a product build, from meeting it.
#ifdef TALVEX_COVERAGE

#include "base/exit_process_win.h"

extern "C" void __gcov_dump(void);

namespace talvex {

void exit_process(unsigned status) {
  __gcov_dump();
  ::ExitProcess(status);
}

}  // namespace talvex

#endif
