#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need (run as root).
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  cmake ninja-build python3    # python3: every Windows build runs it (image checksum, package)
  g++-mingw-w64-x86-64-posix   # the cross compiler (POSIX thread model), and its libstdc++
  clang lld                    # the second compiler, which builds the shipped executable
  wine wine64                  # the Windows runtime the tests and the demo run under
  googletest                   # GoogleTest sources, cross-compiled by the build
  unicode-data                 # UnicodeData.txt & co., for the lower-case table generator
  nsis wixl                    # real installers for the end-to-end tests and the demo
  clang-format clang-tidy cppcheck
  osslsigncode openssl         # Authenticode signing of the shipped executable (scripts/sign.sh)
  # The native build of the core: the sanitizer and libFuzzer runtimes (only a recommended
  # package of clang, and recommends are skipped below).
  libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
