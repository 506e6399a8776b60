#!/bin/sh
# Creates the build tree's private Wine prefix once, then starts its wineserver persistently so
# that every test of the run shares one warm server. All output goes to files or /dev/null:
# a Wine process that inherits a pipe holds it open, and whoever reads the pipe then waits.
set -u
. "$(dirname "$0")/wine-env.sh" "$1"
log="$WINEPREFIX.log"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >"$log" 2>&1 </dev/null || { cat "$log"; exit 1; }
fi
wineserver -p >/dev/null 2>&1 </dev/null
# One throwaway start warms the loader.
wine cmd /c exit 0 >/dev/null 2>&1 </dev/null
exit 0
