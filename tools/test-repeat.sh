#!/usr/bin/env bash
# Runs chosen tests of the Windows build again and again on the bench of
# tools/test.sh (a throw-away prefix, a 1366 x 768 display, the test server,
# a network of its own), to count how often a rare failure shows:
#
#   bash tools/test-repeat.sh [--under-load] RUNS CTEST_REGEX
#
# e.g. bash tools/test-repeat.sh --under-load 20 '^ExamRoads\.'
# Builds first (build/, as the test command does). --under-load keeps one
# core busy with the same plain loop as `tools/test.sh --under-load`. Each
# run's ctest log and JUnit file stay in build/test-logs/repeat/; the end is
# each failed test with its count, then "failed runs: F of RUNS".
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench.sh"

BUILD="$ORVEL_ROOT/build"
LOGS="$BUILD/test-logs/repeat"

# Re-entered inside the network namespace: the runs themselves.
if [ "${1:-}" = --runs ]; then
  runs=$2 regex=$3
  bench_join "$4"
  export BENCH_DESKTOP_KEEPER="$BUILD/tests/desktop-keeper.exe"
  bench_display 1366 768 || exit 1
  bench_start_server || exit 1
  bad=0
  for i in $(seq 1 "$runs"); do
    (cd "$BUILD" && ctest --output-on-failure --timeout 300 --output-junit "$LOGS/run-$i.xml" \
      --output-log "$LOGS/run-$i.log" -R "$regex") > "$LOGS/run-$i.out" 2>&1
    tally=$(python3 "$ORVEL_ROOT/tools/ctest_tally.py" "$LOGS/run-$i.xml" "$LOGS/run-$i.log")
    read -r p f _ <<<"$(head -1 <<<"$tally")"
    if [ "$p" -eq 0 ] || [ "$f" -gt 0 ]; then
      bad=$((bad + 1))
      tail -n +2 <<<"$tally" >> "$LOGS/failed"
      [ "$p" -eq 0 ] && [ "$f" -eq 0 ] && echo "failed no test selected" >> "$LOGS/failed"
    fi
    bench_log "run $i of $runs: $p passed, $f failed"
  done
  echo "$bad" > "$LOGS/bad"
  exit 0
fi

under_load=""
[ "${1:-}" = --under-load ] && { under_load=1; shift; }
if [ $# -ne 2 ] || ! [[ $1 =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: bash tools/test-repeat.sh [--under-load] RUNS CTEST_REGEX" >&2
  exit 2
fi
runs=$1 regex=$2

bench_install_packages || { echo "could not install the bench's packages"; exit 1; }
bench_build "$BUILD" -DCMAKE_BUILD_TYPE=Release -DEXAM_SERVER_HOST=localhost || { echo "the Windows build failed"; exit 1; }
rm -rf "$LOGS"
mkdir -p "$LOGS"
: > "$LOGS/failed"

bench_init "$(mktemp -d /tmp/orvel-repeat.XXXXXX)"
load_pid=""
trap '[ -n "$load_pid" ] && kill "$load_pid" 2>/dev/null; bench_cleanup' EXIT
trap 'exit 130' INT TERM HUP
bench_make_prefix > "$BENCH_RUN/prefix.log" 2>&1
if [ -n "$under_load" ]; then
  (while :; do :; done) &
  load_pid=$!
  bench_log "under load: one core kept busy (process $load_pid)"
fi
bench_isolated bash "${BASH_SOURCE[0]}" --runs "$runs" "$regex" "$BENCH_RUN"

[ -f "$LOGS/bad" ] || { echo "the runs did not finish"; exit 1; }
sort "$LOGS/failed" | uniq -c | sort -rn
bad=$(cat "$LOGS/bad")
echo "failed runs: $bad of $runs${under_load:+ (under load)}"
[ "$bad" -eq 0 ]
