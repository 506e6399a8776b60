#!/bin/sh
# shellcheck disable=SC2034  # the checks eval their conditions, which use these variables
# Checks a release package as a vendor receives it:
#   check-package.sh <package.zip> <expected version> <source dir> <built talvex-updater.exe> <scratch dir>
# The archive is normalised (sorted entries, one date, no extra fields), its checksums list
# verifies every other file, it holds the built executable and the kit, no build path leaks into
# it, the links between its documents resolve inside it, and find_package(TalvexUpdater) on it
# gives a handover library and executable that a vendor's project builds and installs with.
set -u
zip=$(realpath "$1")
version=$2
src=$(realpath "$3")
exe=$(realpath "$4")
scratch=$(realpath -m "$5")
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }
top=talvex-updater-$version-win64
rm -rf "$scratch" && mkdir -p "$scratch" || exit 1

check "named talvex-updater-$version-win64.zip" '[ "$(basename "$zip")" = "$top.zip" ]'
check "entries sorted, one fixed date, no extra fields, all under $top/" \
  'python3 - "$zip" "$top" <<PY
import sys, zipfile
archive, top = sys.argv[1], sys.argv[2]
infos = zipfile.ZipFile(archive).infolist()
names = [i.filename for i in infos]
problems = [n for n in names if not n.startswith(top + "/")]
problems += [i.filename for i in infos if i.date_time != (1980, 2, 1, 0, 0, 0) or i.extra or i.comment]
problems += ["order"] if names != sorted(names) else []
problems and print(*problems, sep="\n")
sys.exit(1 if problems or not names else 0)
PY'
(cd "$scratch" && cmake -E tar xf "$zip") || exit 1
root=$scratch/$top
files=$(cd "$root" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
listed=$(sed 's/^[0-9a-f]\{64\}  //' "$root/SHA256SUMS")
check "SHA256SUMS lists every other file" '[ "$files" = "$listed" ]'
check "sha256sum -c SHA256SUMS passes" '(cd "$root" && sha256sum --quiet --strict -c SHA256SUMS)'
check "the executable is the one built" 'cmp -s "$root/bin/talvex-updater.exe" "$exe"'
for f in docs/integrating.md docs/electron.md docs/rust.md docs/go.md docs/command-line.md docs/log.md \
  examples/handover/start_updater.h examples/handover/start_updater.cpp \
  examples/handover/last_update.h examples/handover/last_update.cpp \
  examples/handover/handover.cmake \
  examples/installer/demo-app.nsi examples/installer/demo-app.wxs; do
  check "$f as in the source tree" 'cmp -s "$root/$f" "$src/$f"'
done
check "no build or source path inside" '! grep -rlF -e "$src" -e "$(dirname "$zip")" "$root"'
check "links between documents resolve" 'python3 - "$root" <<PY
import os, re, sys
root, broken = sys.argv[1], []
for folder, _, names in os.walk(root):
    for name in names:
        if not name.endswith(".md"):
            continue
        text = open(os.path.join(folder, name), encoding="utf-8").read()
        for target in re.findall(r"\]\(([^)#]+)(?:#[^)]*)?\)", text):
            if "://" in target or target.startswith("mailto:"):
                continue
            if not os.path.exists(os.path.join(folder, target)):
                broken.append(os.path.relpath(os.path.join(folder, name), root) + " -> " + target)
broken and print(*broken, sep="\n")
sys.exit(1 if broken else 0)
PY'

# A vendor's project through find_package, cross-compiled like the updater.
consumer=$scratch/consumer
check "find_package(TalvexUpdater): a vendor project builds and installs" '
  cmake -G Ninja -S "$src/tests/build/consumer" -B "$consumer" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$root" \
    -DEXPECTED_VERSION="$version" >"$scratch/consumer.log" 2>&1 &&
  cmake --build "$consumer" >>"$scratch/consumer.log" 2>&1 &&
  cmake --install "$consumer" --prefix "$scratch/app" >>"$scratch/consumer.log" 2>&1 &&
  cmp -s "$scratch/app/talvex-updater.exe" "$exe" && [ -f "$scratch/app/consumer.exe" ] ||
  { tail -n 20 "$scratch/consumer.log"; false; }'
[ $fail -eq 0 ] && rm -rf "$scratch"
exit $fail
