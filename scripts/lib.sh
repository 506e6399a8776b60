# Sourced by the scripts: what several of them do alike. The caller has set -euo pipefail and is
# in the project's root.

# fail <message>: says it, prefixed with the script's name, and ends the script with status 1.
fail() {
  printf '%s: %s\n' "$(basename "$0" .sh)" "$*" >&2
  exit 1
}

# build_quietly <log> <preset> <build-dir> [targets...]: configures the preset into the build
# tree and builds the targets (all of them when none is named), with all the output in <log>;
# only on failure it shows the end of it and fails.
build_quietly() {
  local log=$1 preset=$2 dir=$3 targets=()
  shift 3
  [ $# -eq 0 ] || targets=(--target "$@")
  mkdir -p "$(dirname "$log")"
  { cmake --preset "$preset" -B "$dir" && cmake --build "$dir" "${targets[@]}"; } >"$log" 2>&1 || {
    tail -n 40 "$log" >&2
    fail "build failed (whole output in $log)"
  }
}

# use_wine_prefix <prefix-dir> <test-bin-dir>: a private prefix, set up exactly as the tests'
# (tests/wine/prefix-up.sh: created once, Windows 10, a persistent warm wineserver), whose server
# is stopped again when the script exits. Never the user's ~/.wine.
use_wine_prefix() {
  . tests/wine/wine-env.sh "$1"
  trap 'timeout 30 wineserver -k >/dev/null 2>&1 </dev/null || true' EXIT
  timeout 30 wineserver -k >/dev/null 2>&1 </dev/null || true  # anything left from an earlier run
  [ -f "$WINEPREFIX/system.reg" ] || echo "(creating the Wine prefix $WINEPREFIX once)"
  timeout 240 tests/wine/prefix-up.sh "$1" "$2" >/dev/null ||
    fail "setting up the Wine prefix failed (see $1.log)"
}
