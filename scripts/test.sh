#!/usr/bin/env bash
# Builds talvex-updater and its tests with both compilers and runs every test under Wine: the
# shipped build (clang and lld) and the same sources through MinGW-w64 g++. Then builds the
# platform-free core natively and runs its sanitized unit tests and its fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in release gcc-release host; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done
