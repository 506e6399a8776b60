#!/bin/sh
# Two clean release builds, configured as a vendor would (tests off), must give byte-identical
# executables and byte-identical release packages, and the package must pass check-package.sh:
#   reproducible.sh <source dir> <scratch dir> <version> <CycloneDX library dir> [<toolchain file>]
set -eu
src=$1
scratch=$2
version=$3
validator=$4
toolchain=${5:-$src/cmake/clang-mingw-w64-x86_64.cmake}
rm -rf "$scratch"
mkdir -p "$scratch"
for n in 1 2; do
  cmake -S "$src" -B "$scratch/b$n" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DTALVEX_BUILD_TESTS=OFF >"$scratch/cfg$n.log" 2>&1
  cmake --build "$scratch/b$n" >"$scratch/build$n.log" 2>&1
  (cd "$scratch/b$n" && cpack) >"$scratch/package$n.log" 2>&1 || {
    tail -n 20 "$scratch/package$n.log"
    exit 1
  }
done
exe=bin/talvex-updater.exe
zip=talvex-updater-$version-win64.zip
npm=talvex-updater-$version.tgz
crate=talvex-updater-$version.crate
gozip=talvex-updater-go-$version.zip
for file in "$exe" "$zip" "$npm" "$crate" "$gozip"; do
  cmp "$scratch/b1/$file" "$scratch/b2/$file"
  echo "reproducible: $(sha256sum <"$scratch/b1/$file" | cut -c1-16) $file"
done
# Only the package's own files, the executable the same as the zip's.
[ "$(tar -tzf "$scratch/b1/$npm" | sort | tr '\n' ' ')" = \
  "package/LICENSE package/README.md package/THIRD-PARTY-NOTICES.txt package/bin/talvex-updater.exe package/index.d.ts package/index.js package/package.json package/talvex-updater.cdx.json " ]
tar -xOzf "$scratch/b1/$npm" package/bin/talvex-updater.exe | cmp - "$scratch/b1/$exe"
# The Rust crate and the Go module: the library and its licence, nothing of the tests.
# (Newer cargo also records the commit it packed and adds the empty Cargo.lock of a library.)
[ "$(tar -tzf "$scratch/b1/$crate" | sed "s|^talvex-updater-$version/||" |
  grep -vx -e .cargo_vcs_info.json -e Cargo.lock | sort | tr '\n' ' ')" = \
  "Cargo.toml Cargo.toml.orig LICENSE src/last_update.rs src/lib.rs src/windows.rs " ]
[ "$(python3 -c 'import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist(), sep="\n")' \
  "$scratch/b1/$gozip" | sed "s|^talvex.dev/updater@v$version/||" | sort | tr '\n' ' ')" = \
  "LICENSE go.mod last_update.go start_other.go start_windows.go updater.go " ]
"$(dirname "$0")/check-package.sh" "$scratch/b1/$zip" "$version" "$src" "$scratch/b1/$exe" \
  "$scratch/check" "$scratch/b1/talvex-updater.map" "$scratch/b1/$npm" "$validator" \
  "$scratch/b1/shipped-sources.txt"
rm -rf "$scratch"
