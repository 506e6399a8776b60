// Ending the process with a status.
#pragma once

#include <windows.h>

namespace talvex {

#ifdef TALVEX_COVERAGE
// Coverage builds: the counters are written by the C runtime's exit handlers, which
// ExitProcess skips, so this writes them first. Defined in exit_process_coverage_win.cpp, which
// is not instrumented itself: every instrumented line up to and including the call is counted.
[[noreturn]] void exit_process(unsigned status);
#else
[[noreturn]] inline void exit_process(unsigned status) { ::ExitProcess(status); }
#endif

}  // namespace talvex
