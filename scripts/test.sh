#!/usr/bin/env bash
# Builds talvex-updater and its tests and runs every test under Wine, then builds the
# platform-free core natively and runs its sanitized unit tests and its fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
ctest --preset release
cmake --preset host
cmake --build --preset host
ctest --preset host
