#!/bin/sh
# Ends every Wine process of the build tree's prefix (relaunched applications included).
. "$(dirname "$0")/wine-env.sh" "$1"
wineserver -k >/dev/null 2>&1 </dev/null
exit 0
