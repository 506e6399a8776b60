#!/usr/bin/env bash
# Builds talvex-updater and its tests with both compilers and runs every test under Wine: the
# shipped build (clang and lld) and the same sources through MinGW-w64 g++. Then builds the
# platform-free core natively and runs its sanitized unit tests and its fuzz targets. On Debian 12,
# it then runs all of that again inside a Debian 13 root (scripts/test-debian13.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in release gcc-release host; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done
# On Debian 12, the same suite once more in a Debian 13 root (Wine 10, clang 19, g++ 14); the run
# inside it is on Debian 13 and so does not come here again.
if [ "$(. /etc/os-release && echo "$ID ${VERSION_ID:-}")" = "debian 12" ]; then
  echo "== debian13"
  scripts/test-debian13.sh
fi
