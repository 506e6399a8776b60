#!/usr/bin/env bash
# Line and branch coverage of src/, the real executable included, measured by the test suite
# under Wine. Run by hand (not a test); it takes about as long as the suite.
#
#   scripts/coverage.sh          build the coverage preset (build/coverage), run the suite,
#                                print the report
#   TALVEX_COVERAGE_REPORT_ONLY=1   print the report of the counters already on disk
#
# The report is one row per file of src/, then the lines no test ran, then how many lines the
# LCOV_EXCL markers exclude (only branches that can run on Windows alone, each with its
# reason), and last, as the final line of standard output, "lines N.N% branches N.N%".
# Only the product's code is instrumented (talvex_core and the executable, built without
# optimisation). Left out of the run: the static checks (lint.*, among them the slow clang-tidy)
# and the checks of the shipped executable (build.*): none of them runs the program's code, and
# the instrumented executable is not the shipped one. The figures are the Wine run's alone.
# Exit status: 0 when every test passed and the markers are well formed, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/coverage
gcov=x86_64-w64-mingw32-gcov-posix
status=0

if [ -z "${TALVEX_COVERAGE_REPORT_ONLY:-}" ]; then
  scripts/install-deps.sh >&2
  {
    cmake --preset coverage && cmake --build --preset coverage
  } >"$root/build/coverage-build.log" 2>&1 || {
    tail -n 40 "$root/build/coverage-build.log" >&2
    echo "coverage: build failed (whole output in build/coverage-build.log)" >&2
    exit 1
  }
  # Counters accumulate across runs: start from zero.
  find "$build" -name '*.gcda' -delete
  ctest --preset coverage -j "$(nproc)" -LE slow -E '^(build|lint)\.' >"$build/ctest.log" 2>&1 || {
    grep -E '^[[:space:]]*[0-9]+ - |tests passed' "$build/ctest.log" >&2 || true
    echo "coverage: some tests failed (build/coverage/ctest.log); the figures below still count" >&2
    status=1
  }
fi

echo "coverage: build and tests took $SECONDS s" >&2
python3 scripts/coverage_report.py "$root" "$build" "$gcov" || status=1
exit $status
