#!/usr/bin/env bash
# Builds everything and runs every test: the platform-free core natively under
# AddressSanitizer/UBSan (plus a short fuzz run), the Windows unit tests under
# Wine, and the end-to-end tests against the real exe on two screen sizes.
# Ends with one summary line; exits non-zero if anything failed.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench.sh"

bench_install_packages || { echo "could not install the bench's packages"; exit 1; }

BUILD="$ORVEL_ROOT/build"
NATIVE="$ORVEL_ROOT/build-native"
bench_log "building the Windows program and its tests"
# Built for the local test exam server that the bench runs on localhost.
bench_build "$BUILD" -DCMAKE_BUILD_TYPE=Release -DEXAM_SERVER_HOST=localhost || exit 1
bench_log "building the core natively with sanitizers"
CXX=clang++ cmake -S "$ORVEL_ROOT" -B "$NATIVE" -DCMAKE_BUILD_TYPE=Debug \
  -DORVEL_SANITIZE=ON -DORVEL_FUZZ=ON >/dev/null || exit 1
cmake --build "$NATIVE" -j"$(nproc)" || exit 1

passed=0
failed=0
# Runs ctest and adds its counts to the totals.
run_ctest() {
  local dir=$1; shift
  local log
  log=$(mktemp)
  (cd "$dir" && ctest --output-on-failure --timeout 300 "$@") 2>&1 | tee "$log"
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    bench_log "ctest $* reported no result"
    failed=$((failed + 1))
  else
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
  rm -f "$log"
}

export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
run_ctest "$NATIVE"

# The test exam server's own tests (it starts its own servers on free ports).
log=$(mktemp)
(cd "$ORVEL_ROOT" && python3 -m unittest discover -s tests/server -v) 2>&1 | tee "$log"
ran=$(sed -n -E 's/^Ran ([0-9]+) tests?.*/\1/p' "$log" | tail -1)
bad=$(grep -E '^(FAIL|ERROR):' "$log" | wc -l)
if [ -z "$ran" ]; then failed=$((failed + 1)); else passed=$((passed + ran - bad)); failed=$((failed + bad)); fi
rm -f "$log"

bench_init "$(mktemp -d /tmp/orvel-test.XXXXXX)"
bench_display 1366 768 || exit 1
bench_start_server || exit 1
run_ctest "$BUILD" -L unit
run_ctest "$BUILD" -L e2e
bench_display 1920 1080 || exit 1
bench_start_server || exit 1
run_ctest "$BUILD" -L e2e

echo
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
