#!/bin/sh
# Two clean release builds of the executable must be byte-identical:
#   reproducible.sh <source dir> <scratch dir> [<toolchain file>]
set -eu
src=$1
scratch=$2
toolchain=${3:-$src/cmake/mingw-w64-x86_64.cmake}
rm -rf "$scratch"
mkdir -p "$scratch"
for n in 1 2; do
  cmake -S "$src" -B "$scratch/b$n" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DTALVEX_BUILD_TESTS=OFF >"$scratch/cfg$n.log" 2>&1
  cmake --build "$scratch/b$n" --target talvex-updater >"$scratch/build$n.log" 2>&1
done
if cmp "$scratch/b1/bin/talvex-updater.exe" "$scratch/b2/bin/talvex-updater.exe"; then
  echo "reproducible: $(sha256sum <"$scratch/b1/bin/talvex-updater.exe" | cut -c1-16)"
  rm -rf "$scratch"
else
  exit 1
fi
