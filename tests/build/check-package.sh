#!/bin/sh
# shellcheck disable=SC2034  # the checks eval their conditions, which use these variables
# Checks a release package and the npm package as a vendor receives them:
#   check-package.sh <package.zip> <expected version> <source dir> <built talvex-updater.exe>
#                    <scratch dir> <link map> <npm package.tgz> <CycloneDX library dir>
#                    <list of the files shipped as in the source tree (the build writes it)>
# The archive is normalised (sorted entries, one date, no extra fields), its checksums list
# verifies every other file, it holds the built executable and the kit, no build path leaks into
# it, the links between its documents resolve inside it, and find_package(TalvexUpdater) on it
# gives a handover library and executable that a vendor's project builds and installs with.
# Both packages carry the licence, notices that cover every outside library the link map names,
# and a bill of materials that the CycloneDX library accepts and whose hashes are those of the
# files shipped beside it.
set -u
zip=$(realpath "$1")
version=$2
src=$(realpath "$3")
exe=$(realpath "$4")
scratch=$(realpath -m "$5")
map=$(realpath "$6")
npm=$(realpath "$7")
validator=$8
shipped=$(realpath "$9")
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
check "the list of files shipped as in the source tree is read" '[ -s "$shipped" ]'
for f in $(cat "$shipped"); do
  check "$f as in the source tree" 'cmp -s "$root/$f" "$src/$f"'
done
# The bill lists every file shipped beside it but the checksums (which cover the bill), each
# with the hash of the file itself.
sbom_matches() { # <package root> <file also left out of the bill>
  python3 - "$1" "$2" <<PY
import hashlib, json, os, sys
root, extra = sys.argv[1], sys.argv[2]
bom = json.load(open(os.path.join(root, "talvex-updater.cdx.json")))
listed = {c["name"]: c["hashes"][0]["content"] for c in bom["components"] if c["type"] == "file"}
shipped = {}
for folder, _, names in os.walk(root):
    for name in names:
        path = os.path.relpath(os.path.join(folder, name), root)
        if path not in ("talvex-updater.cdx.json", extra):
            shipped[path] = hashlib.sha256(open(os.path.join(root, path), "rb").read()).hexdigest()
wrong = sorted(set(listed.items()) ^ set(shipped.items()))
wrong and print(*wrong, sep="\n")
sys.exit(1 if wrong or "bin/talvex-updater.exe" not in listed else 0)
PY
}
(cd "$scratch" && mkdir npm && tar -xzf "$npm" -C npm) || exit 1
for package in "$root" "$scratch/npm/package"; do
  name=${package#"$scratch"/}
  check "$name: LICENSE as in the source tree" 'cmp -s "$package/LICENSE" "$src/LICENSE"'
  check "$name: notices name every outside library the link map does" '
    covered=$(sed -n "s/^Linked from: //p" "$package/THIRD-PARTY-NOTICES.txt" | tr -d " " | tr , "\n")
    linked=$(awk "NF >= 4 && \$1 ~ /^[0-9a-f]+:[0-9a-f]+\$/ { print \$NF }" "$map" |
      sed -n "s/^\([^:<]*\):.*/\1.a/p; /^[^:<]*\.o\$/p" | grep -v "^libtalvex_" | sort -u)
    missing=$(echo "$linked" | grep -vxF "$covered")
    [ -n "$linked" ] && [ -z "$missing" ] || { echo "not in the notices:" $missing; false; }'
  check "$name: its bill of materials is valid CycloneDX" \
    'node "$src/tools/sbom-validator/validate.js" "$validator" "$package/talvex-updater.cdx.json"'
  check "$name: the bill hashes exactly the files shipped, the executable among them" \
    'sbom_matches "$package" SHA256SUMS'
done
check "npm package: npm pack --dry-run warns of nothing" '
  (cd "$scratch/npm/package" && npm pack --dry-run --ignore-scripts >/dev/null 2>"$scratch/pack.err") &&
  ! grep -i warn "$scratch/pack.err"'
# Notices are written whole or not at all: an archive nobody listed, or a library whose Debian
# package cannot be read, stops them with a message naming it.
gcc_dir=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix | sort -V | tail -n 1)
mkdir -p "$scratch/unknown" "$scratch/unowned"
: >"$scratch/unknown/libextra.a"
cp /usr/x86_64-w64-mingw32/lib/libpthread.a "$scratch/unowned/"
for row in "unknown libextra:extra.o libextra.a" "unowned libpthread:thread.o unowned/libpthread.a"; do
  set -- $row
  check "notices refuse a map naming $2 ($1)" '
    { cat "$map"; echo " 0001:00000000       extra   0000000140001000     $2"; } >"$scratch/$1.map"
    ! python3 "$src/cmake/third_party.py" --map "$scratch/$1.map" --table "$src/cmake/third-party.json" \
      --version "$version" --search-dir "$scratch/$1" --search-dir "$gcc_dir" \
      --search-dir /usr/x86_64-w64-mingw32/lib --own-dir "$(dirname "$map")/src" \
      --notices "$scratch/$1.txt" --components "$scratch/$1.json" 2>"$scratch/$1.err" &&
    grep -qF "$3" "$scratch/$1.err" && [ ! -e "$scratch/$1.txt" ] || cat "$scratch/$1.err"'
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
