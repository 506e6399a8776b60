# Sourced by the Wine scripts: the private prefix of one build tree, and a quiet Wine.
# Usage: . wine-env.sh <prefix-dir>
export WINEPREFIX="$1"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Non-ASCII file names and FormatMessageW's language follow the Unix locale.
export LANG=C.UTF-8
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
