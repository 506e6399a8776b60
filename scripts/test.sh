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
  trap '[ -z "$prepare_pid" ] || kill -- "-$prepare_pid" 2>/dev/null || true' EXIT
fi

for preset in release gcc-release host; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  if [ "$preset" = gcc-release ] && [ "${TALVEX_SECOND_COMPILER_SUITE:-1}" = 0 ]; then
    echo "(built; its tests are left to the run on Debian 12)"
    continue
  fi
  ctest --preset "$preset" -j "$(nproc)"
done

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
