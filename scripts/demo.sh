#!/usr/bin/env bash
# The main job, end to end under Wine: a demo application updates itself with talvex-updater.
#
# Builds the updater, the demo application (1.0.0 and 2.0.0) and its NSIS installers, installs
# 1.0.0 into a private Wine prefix under the build tree, puts the 2.0.0 installer in its way and
# starts it. The application starts talvex-updater beside it and exits; the updater waits for
# it, runs the installer silently (which starts 2.0.0 again itself), and logs every step. The
# script prints the log and shows which version runs now, then stops the prefix.
# Exit status: 0 when 2.0.0 runs afterwards (exactly once), 1 otherwise.
# TALVEX_BUILD_DIR chooses another build tree than build/release (same preset).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${TALVEX_BUILD_DIR:-$root/build/release}")
demo=$build/demo
mkdir -p "$demo"

say() { printf '\n== %s\n' "$*"; }
. scripts/lib.sh

# Every wait below is bounded: a Wine program that hangs must not hang the demo.
# Wine programs write to files, never to a pipe: every Wine process (the detached updater and
# the restarted application too) would hold the pipe open and keep its reader waiting.
run_wine() {  # run_wine <seconds> <output file> <program> [args...]
  local seconds=$1 out=$2
  shift 2
  timeout --kill-after=5 "$seconds" wine "$@" >"$out" 2>&1 </dev/null
}

say "Packages and build"
scripts/install-deps.sh
build_quietly "$demo/build.log" release "$build" talvex-updater talvex-demo-app-v1 \
  talvex-demo-app-v2 talvex-demo-setup-v1 talvex-demo-setup-v2
echo "built $build/bin/talvex-updater.exe and $build/installers/demo-setup-v{1,2}.exe"

# A prefix of our own, set up as the tests' is; a persistent server keeps it warm between the
# steps.
use_wine_prefix "$demo/wineprefix" "$build/bin"

# Process ids (Unix side) of the Wine processes of *this* prefix whose command line starts with
# the given Windows image path; other developers' Wine processes are left out.
prefix_pids() {
  local image=$1 pid cmd
  local name=${image##*\\}
  for pid in $(pgrep -f -- "${name//./\\.}" || true); do
    # A process may end between the listing and the reading: its files are gone then, and the
    # shell's own complaint about the redirection is silenced with it (hence 2> first).
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    cmd=$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline") || continue
    case "$cmd" in "$image"* | "\"$image\""*) echo "$pid" ;; esac
  done
}

say "A command line the updater cannot use is rejected"
run_wine 30 "$demo/usage.err" "$build/bin/talvex-updater.exe" --installer && status=0 || status=$?
echo "\$ talvex-updater.exe --installer"
cat "$demo/usage.err"
echo "exit status $status"
[ "$status" -eq 2 ] || fail "expected exit status 2 for an unusable command line"

say "Installing Talvex Demo 1.0.0 (silently, per user)"
# A clean install each run: drop what an earlier run left.
run_wine 60 "$demo/uninstall.out" reg delete 'HKCU\Software\Talvex Demo' /f || true
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/"Talvex Demo"
run_wine 60 "$demo/install-v1.out" "$build/installers/demo-setup-v1.exe" /S ||
  fail "the 1.0.0 installer failed (exit status $?)"
run_wine 30 "$demo/installdir.out" reg query 'HKCU\Software\Talvex Demo' /v InstallDir ||
  fail "the installer recorded no install directory"
install_win=$(sed -n 's/^ *InstallDir *REG_SZ *//p' "$demo/installdir.out" | tr -d '\r')
run_wine 30 "$demo/winepath.out" winepath -u "$install_win" || fail "winepath failed"
install_dir=$(realpath -e "$(tr -d '\r' <"$demo/winepath.out" | head -n 1)") ||
  fail "the install directory $install_win is not there"
app_win="$install_win\\Talvex Demo.exe"
log="$install_dir/logs/talvex-updater.log"
echo "installed into $install_win:"
ls "$install_dir"

say "Starting 1.0.0 with the 2.0.0 installer waiting for it"
mkdir -p "$install_dir/updates"
cp "$build/installers/demo-setup-v2.exe" "$install_dir/updates/Talvex Demo Setup 2.0.0.exe"
# What a download step would leave: the installer's path, relative to the application.
printf 'updates\\Talvex Demo Setup 2.0.0.exe\r\n' >"$install_dir/update-pending.txt"
start=$(date +%s)
# 1.0.0 finds the update, starts the updater detached and exits at once; `wine` returns then.
run_wine 30 "$demo/app-v1.out" "$app_win" || fail "1.0.0 did not exit (status $?)"
echo "1.0.0 handed over and exited after $(($(date +%s) - start)) s"

say "Waiting for the update (at most 90 s)"
deadline=$((start + 90))
gone_since=
while :; do
  if [ -f "$log" ] && grep -q '\] === talvex-updater done$' "$log"; then
    echo "the updater wrote its closing banner after $(($(date +%s) - start)) s"
    break
  fi
  now=$(date +%s)
  # An updater that ended without the banner (its missing-installer path) is not waited for:
  # give its last line a moment, then stop looking.
  if [ -z "$(prefix_pids "$install_win\\talvex-updater.exe")" ]; then
    gone_since=${gone_since:-$now}
    if [ $((now - gone_since)) -ge 2 ]; then
      echo "the updater has ended without a closing banner"
      break
    fi
  else
    gone_since=
  fi
  [ "$now" -lt "$deadline" ] || {
    echo "gave up waiting after 90 s"
    break
  }
  sleep 0.5
done

say "The updater's log ($install_win\\logs\\talvex-updater.log)"
[ -f "$log" ] && cat "$log" || echo "(no log was written)"

say "The application's journal (runs.txt)"
cat "$install_dir/runs.txt"

say "What runs now"
# The restarted application writes its journal line as it starts: give it up to 5 s.
for _ in $(seq 10); do
  grep -q '^started version=2\.0\.0 ' "$install_dir/runs.txt" && break
  sleep 0.5
done
last=$(grep '^started ' "$install_dir/runs.txt" | tail -n 1)
version=$(sed -n 's/^started version=\([^ ]*\) .*/\1/p' <<<"$last")
win_pid=$(sed -n 's/.* pid=\([0-9]*\) .*/\1/p' <<<"$last")
mapfile -t running < <(prefix_pids "$app_win")
echo "last start recorded: version $version, Windows pid $win_pid"
echo "processes running $app_win: ${#running[@]}${running[*]:+ (Unix pid ${running[*]})}"
if [ "$version" = 2.0.0 ] && [ "${#running[@]}" -eq 1 ] && grep -q '^update: started ' "$install_dir/runs.txt"; then
  say "Updated: Talvex Demo 2.0.0 is running (once)"
  exit 0
fi
fail "the update did not leave Talvex Demo 2.0.0 running exactly once"
