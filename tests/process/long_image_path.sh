#!/bin/sh
# Runs the LongImagePath test of process_instance_test while an application whose image path is
# longer than 1024 units is running. Wine's CreateProcessW cannot start such a program, but the
# Unix-side loader can, so it is started from here.
#   long_image_path.sh <wine-prefix> <bin-dir> <work-dir>
set -u
here=$(dirname "$0")
. "$here/../wine/wine-env.sh" "$1"
bin=$2
work=$3

root="$work/long-image"
rm -rf "$root"
deep="$root"
component=$(printf '%0200d' 0 | tr 0 l)
while [ ${#deep} -lt 1100 ]; do deep="$deep/$component"; done
mkdir -p "$deep" || exit 1
cp "$bin/stub.exe" "$deep/App.exe" || exit 1
printf 'forever\n' >"$deep/App.stub"

wine "$deep/App.exe" >/dev/null 2>&1 </dev/null &
app=$!

# Wine maps the Unix root to drive Z:.
TALVEX_LONG_IMAGE="Z:$(printf '%s' "$deep/App.exe" | tr / '\\')"
export TALVEX_LONG_IMAGE
out="$root.out"
"$here/../wine/wine-run.sh" "$1" "$bin/process_instance_test.exe" \
  --gtest_filter='LongImagePath.*' >"$out" 2>&1
rc=$?
cat "$out"
# A skipped test would pass without checking anything.
grep -q '^\[  PASSED  \] 1 test' "$out" && ! grep -q 'SKIPPED' "$out" || rc=1
rm -f "$out"

kill "$app" 2>/dev/null
wait "$app" 2>/dev/null
rm -rf "$root"
exit $rc
