#!/usr/bin/env bash
# Start-up and paint benchmark of the start screen under Wine on a 1920 x 1080
# virtual screen (the 453 x 840 window): builds the program, the minimal window
# that serves as the floor and the bench tool, then prints each figure as the
# median of RUNS measurements (default 15) beside its floor. Then the exam's
# start and end latency against the local test server and the stand-in
# browser (tools/bench/exam_latency.cpp), again beside floors, what the
# lockdown's key and mouse rules cost per event, and the round trip of one key
# or mouse event to another program's window under Wine with no exam and
# during one (the soak's floods).
#
#   bash tools/bench-startup.sh [RUNS]
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench.sh"

RUNS=${1:-15}
bench_install_packages || { echo "could not install the bench's packages"; exit 1; }

BUILD="$ORVEL_ROOT/build-bench"
bench_log "building (Release) in $BUILD"
bench_build "$BUILD" -DCMAKE_BUILD_TYPE=Release -DEXAM_SERVER_HOST=localhost -DORVEL_BUILD_BENCH=ON >/dev/null || { echo "build failed"; exit 1; }

bench_init "$(mktemp -d /tmp/orvel-bench.XXXXXX)"
bench_display 1920 1080 || exit 1

timeout 300 wine "$BUILD/tools/bench/key-rules-bench.exe" </dev/null
timeout 900 wine "$BUILD/tools/bench/startup-bench.exe" \
  "Z:$BUILD/orvel-cbt.exe" "Z:$BUILD/tools/bench/minimal-window.exe" "$RUNS" </dev/null

bench_start_server >/dev/null || exit 1
edge="$WINEPREFIX/drive_c/Program Files/Microsoft/Edge/Application"
mkdir -p "$edge"
cp "$BUILD/tests/standin/browser-standin.exe" "$edge/msedge.exe"
timeout 900 wine "$BUILD/tools/bench/exam-latency.exe" \
  "Z:$BUILD/orvel-cbt.exe" "Z:$BUILD/tests/standin/browser-standin.exe" "$RUNS" </dev/null

# One event's round trip under Wine, with the hooks of an exam and without.
ORVEL_BUILD_DIR="Z:$BUILD" timeout 600 wine "$BUILD/tests/e2e/orvel-soak-test.exe" --gtest_filter='*Keys*:*Mouse*' \
  </dev/null | grep -E 'flood|PASSED|FAILED'
