#!/usr/bin/env bash
# Builds the program and runs it under Wine in a throw-away prefix.
# With a display ($DISPLAY reachable) it opens in a window there; without one
# it runs on a virtual screen and writes screenshots to out/.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench.sh"

bench_install_packages || exit 1
BUILD="$ORVEL_ROOT/build"
bench_build "$BUILD" -DCMAKE_BUILD_TYPE=Release || exit 1

OUT="$ORVEL_ROOT/out"
mkdir -p "$OUT"
bench_init "$(mktemp -d /tmp/orvel-run.XXXXXX)"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  bench_log "running on your display $DISPLAY; close the window to end"
  [ -f "$WINEPREFIX/system.reg" ] || bench_make_prefix
  (wineserver -p </dev/null >/dev/null 2>&1 &)
  wine "$BUILD/orvel-cbt.exe"
  exit $?
fi

bench_display 1366 768 || exit 1
wine "$BUILD/orvel-cbt.exe" </dev/null >/dev/null 2>&1 &
app=$!
for _ in $(seq 1 150); do
  xdotool search --name '^ORVEL SELVARO$' >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 0.5  # let the first paint reach the screen before the picture is taken
bench_shot "$OUT/start-screen.png"
bench_log "screenshot: $OUT/start-screen.png"
timeout 20 wineserver -k >/dev/null 2>&1
wait "$app" 2>/dev/null
