#!/bin/sh
# Runs one Windows test program under the build tree's prefix: wine-run.sh <prefix> <exe> [args]
# The program's output goes to a file, which is copied to our stdout once it exits; Wine
# processes that outlive it (a relaunched application) then hold only that file.
set -u
. "$(dirname "$0")/wine-env.sh" "$1"
shift
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
