#!/usr/bin/env bash
# Start-up and paint benchmark of the start screen under Wine on a 1920 x 1080
# virtual screen (the 453 x 840 window): builds the program, the minimal window
# that serves as the floor and the bench tool, then prints each figure as the
# median of RUNS measurements (default 15) beside its floor.
#
#   bash tools/bench-startup.sh [RUNS]
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench.sh"

RUNS=${1:-15}
bench_install_packages || { echo "could not install the bench's packages"; exit 1; }

BUILD="$ORVEL_ROOT/build-bench"
bench_log "building (Release) in $BUILD"
bench_build "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null || { echo "build failed"; exit 1; }

bench_init "$(mktemp -d /tmp/orvel-bench.XXXXXX)"
bench_display 1920 1080 || exit 1

timeout 900 wine "$BUILD/tools/bench/startup-bench.exe" \
  "Z:$BUILD/orvel-cbt.exe" "Z:$BUILD/tools/bench/minimal-window.exe" "$RUNS" </dev/null
