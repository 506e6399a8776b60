#!/usr/bin/env bash
# Builds talvex-updater and its tests with both compilers and runs every test under Wine: the
# shipped build (clang and lld) and the same sources through MinGW-w64 g++. Then builds the
# platform-free core natively and runs its sanitized unit tests and its fuzz targets. On Debian 12,
# it then runs all of that again inside a Debian 13 root (scripts/test-debian13.sh).
#
# TALVEX_SECOND_COMPILER_SUITE=0 builds the g++ tree without running its tests (the Debian 13 run
# does so: the g++ build's Wine suite has run on Debian 12).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# On Debian 12, the same suite once more in a Debian 13 root (Wine 10, clang 19, g++ 14); the run
# inside it is on Debian 13 and so does not come here again. Making the root and installing its
# packages is mostly downloading and unpacking, so it goes on in the background, at the lowest
# priority, while this machine's suite runs; its own session, so that it can be stopped whole.
prepare_pid=
if [ "$(. /etc/os-release && echo "$ID ${VERSION_ID:-}")" = "debian 12" ]; then
  mkdir -p build/debian13
  setsid nice -n 19 scripts/test-debian13.sh --prepare >build/debian13/prepare.log 2>&1 &
  prepare_pid=$!
fi

# A Wine suite spends much of its time waiting on Wine's processes: measured here, the two cores
# sat idle a fifth of the time. The next trees build meanwhile, at a lower priority, so that the
# tests still see no more than the load they were written for. A suite in the background writes into its
# tree's ctest.log, which is shown once it ends. Each runs in a session of its own, so that a
# failure elsewhere stops it whole.
tests_pid=
tests_preset=
stop_all() {
  for pid in "$prepare_pid" "$tests_pid"; do
    [ -z "$pid" ] || kill -- "-$pid" 2>/dev/null || true
  done
}
trap stop_all EXIT
build() {
  echo "== $1: build"
  cmake --preset "$1" >"build/$1.configure.log" 2>&1 || { cat "build/$1.configure.log" >&2; return 1; }
  cmake --build --preset "$1"
}
start_tests() {
  echo "== $1: tests (in the background, into build/$1/ctest.log)"
  setsid ctest --preset "$1" -j "$(nproc)" >"build/$1/ctest.log" 2>&1 &
  tests_pid=$!
  tests_preset=$1
}
finish_tests() {
  local status=0
  wait "$tests_pid" || status=$?
  tests_pid=
  echo "== $tests_preset: tests"
  cat "build/$tests_preset/ctest.log"
  [ "$status" -eq 0 ] || { echo "test.sh: the $tests_preset tests failed" >&2; exit 1; }
}

mkdir -p build
build release
start_tests release
nice -n 10 bash -c "$(declare -f build); build gcc-release && build host"
finish_tests
if [ "${TALVEX_SECOND_COMPILER_SUITE:-1}" = 0 ]; then
  echo "== gcc-release: built; its tests are left to the run on Debian 12"
else
  start_tests gcc-release
fi
echo "== host: tests"
ctest --preset host -j "$(nproc)"
[ -z "$tests_pid" ] || finish_tests

if [ -n "$prepare_pid" ]; then
  echo "== debian13"
  status=0
  wait "$prepare_pid" || status=$?
  prepare_pid=
  if [ "$status" -ne 0 ]; then
    tail -n 30 build/debian13/prepare.log >&2
    echo "test.sh: preparing the Debian 13 root failed (build/debian13/prepare.log)" >&2
    exit 1
  fi
  scripts/test-debian13.sh
fi
