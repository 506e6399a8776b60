// Coverage builds only: the counters of an instrumented build are written to disk by the C
// runtime's exit handlers, and ExitProcess, the updater's way out, never runs them. Calling
// flush_coverage_data() just before ExitProcess writes them first. In every other build it is
// empty and leaves no trace in the executable.
#pragma once

#ifdef TALVEX_COVERAGE
extern "C" void __gcov_dump(void);
#endif

namespace talvex {

inline void flush_coverage_data() {
#ifdef TALVEX_COVERAGE
  __gcov_dump();
#endif
}

}  // namespace talvex
