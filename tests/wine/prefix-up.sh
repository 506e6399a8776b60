#!/bin/sh
# Creates the build tree's private Wine prefix once, then starts its wineserver persistently so
# that every test of the run shares one warm server. All output goes to files or /dev/null:
# a Wine process that inherits a pipe holds it open, and whoever reads the pipe then waits.
#   prefix-up.sh <prefix-dir> <test-bin-dir>
# Every Windows has an icon utility in its system directory and Wine has none. With
# TALVEX_TEST_SYSTEM_ICON_TOOL=1 the prefix gets a failing stand-in there, so that a run shows
# the suite holds as it would on Windows; it stays for later looks, and a run without the
# variable removes it first.
set -u
. "$(dirname "$0")/wine-env.sh" "$1"
bin=$2
log="$WINEPREFIX.log"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >"$log" 2>&1 </dev/null || { cat "$log"; exit 1; }
fi
# The program supports Windows 10 and later; a new Wine 8 prefix reports Windows 7 (Wine 10's
# reports 10 already). Set every time, so that a prefix made by an older tree is brought along.
wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >>"$log" 2>&1 </dev/null || { cat "$log"; exit 1; }
system32="$WINEPREFIX/drive_c/windows/system32"
rm -f "$system32/ie4uinit.exe" "$system32/ie4uinit.stub"
if [ "${TALVEX_TEST_SYSTEM_ICON_TOOL:-0}" = 1 ]; then
  cp "$bin/stub.exe" "$system32/ie4uinit.exe" || exit 1
  printf 'exit 7\n' >"$system32/ie4uinit.stub" || exit 1
  echo "stand-in icon utility (exit code 7) in $system32"
fi
wineserver -p >/dev/null 2>&1 </dev/null
# One throwaway start warms the loader.
wine cmd /c exit 0 >/dev/null 2>&1 </dev/null
exit 0
