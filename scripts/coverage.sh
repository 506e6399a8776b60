#!/usr/bin/env bash
# Line and branch coverage of src/, the real executable included, measured by the test suite
# under Wine. Run by hand (not a test); it takes about as long as the suite.
#
#   scripts/coverage.sh          build the coverage preset (build/coverage), run the suite,
#                                print the report
#   TALVEX_COVERAGE_REPORT_ONLY=1   print the report of the counters already on disk
#
# The report (gcovr's) is one row per file of src/ for lines, with the lines no test ran, then
# one row per file for branches (those only an exception would take left out), then how many
# exclusion markers there are, and last, as the final line of standard output,
# "lines N.N% branches N.N%" (rounded down). Exclusion markers (LCOV_EXCL_LINE, LCOV_EXCL_START
# ... LCOV_EXCL_STOP, LCOV_EXCL_BR_LINE, LCOV_EXCL_BR_START ... LCOV_EXCL_BR_STOP) are for code
# no test here can reach (an error Wine never returns, a value no system call gives), and each
# carries its reason on the marker's line: one without a reason fails the run.
# Only the product's code is instrumented (its libraries and the executable, built without
# optimisation). Left out of the run: the static checks (lint.*, among them the slow clang-tidy)
# and the checks of the shipped executable (build.*): none of them runs the program's code, and
# the instrumented executable is not the shipped one. The figures are the Wine run's alone.
# Exit status: 0 when every test passed and the markers are well formed, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
root=$PWD
build=$root/build/coverage
gcov=x86_64-w64-mingw32-gcov-posix
status=0

if [ -z "${TALVEX_COVERAGE_REPORT_ONLY:-}" ]; then
  scripts/install-deps.sh >&2
  build_quietly "$root/build/coverage-build.log" coverage "$build"
  # Counters accumulate across runs: start from zero.
  find "$build" -name '*.gcda' -delete
  ctest --preset coverage -j "$(nproc)" -E '^(build|lint)\.' >"$build/ctest.log" 2>&1 || {
    grep -E '^[[:space:]]*[0-9]+ - |tests passed' "$build/ctest.log" >&2 || true
    echo "coverage: some tests failed (build/coverage/ctest.log); the figures below still count" >&2
    status=1
  }
fi

echo "coverage: build and tests took $SECONDS s" >&2

# A marker must say why the code cannot run here (STOP markers close a START and need none).
marker='(LCOV|GCOVR)_EXCL_(LINE|START|BR_LINE|BR_START)'
if grep -rn -E "$marker([[:space:]:-]*)\$" src; then
  echo "coverage: the exclusion markers above give no reason" >&2
  status=1
fi

# gcov runs once, on the objects of src/ alone. gcovr is not left to search the build tree: the
# tests' Wine prefix lies in it, and its drive Z: links to the whole file system, so the search
# would also gather the counters of every other build tree on the machine (other checkouts, other
# versions of these sources) and merge them into ours.
tracefile=$build/coverage.json
summary=$build/coverage-summary.json
gcovr --root "$root" --filter "$root/src/" --gcov-executable "$gcov" --exclude-throw-branches \
  --json "$tracefile" "$build/src" 2>"$build/gcovr.log" || {
  cat "$build/gcovr.log" >&2
  echo "coverage: gcovr failed" >&2
  exit 1
}
report() { gcovr --root "$root" --add-tracefile "$tracefile" "$@"; }
report --txt "$build/coverage-lines.txt" --json-summary "$summary"
report --txt "$build/coverage-branches.txt" --branches
cat "$build/coverage-lines.txt" "$build/coverage-branches.txt"
excluded=$(grep -rh -o -E "$marker|(LCOV|GCOVR)_EXCL_STOP" src | wc -l)
echo "exclusion markers in src/ (code no test here reaches, each with its reason): $excluded"
python3 - "$summary" <<'PY'
import json, math, sys
s = json.load(open(sys.argv[1]))
def percent(hit, total):
    return "n/a" if total == 0 else f"{math.floor(1000 * hit / total) / 10:.1f}"
print(f"lines {percent(s['line_covered'], s['line_total'])}% "
      f"branches {percent(s['branch_covered'], s['branch_total'])}%")
PY
exit $status
