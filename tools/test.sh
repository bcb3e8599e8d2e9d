#!/usr/bin/env bash
# Builds everything and runs every test, in stages: the platform-free core
# natively under AddressSanitizer/UBSan (plus short fuzz runs), the test
# server's own tests, the Windows unit tests under Wine, the end-to-end tests
# against the real exe at 1366 x 768, the soak (forty exams, a key flood), at
# 1920 x 1080 again the tests whose outcome depends on the screen size, and on
# two screens the tests of the PC itself (screens, the end of the session).
#
# Stages that only wait or only compute run beside others on the two cores:
# the Python suites and the exam server's load beside the Windows build, the
# native build and tests, at the lowest priority, beside the stages under Wine,
# and those in two lanes at once, each with a prefix, display, test server
# and network of its own.
#
# A test that fails once fails the run. The one exception: a test program under
# Wine that printed GoogleTest's "[  PASSED  ]" and then did not end runs once
# more, and is named on the line before the total. Each stage's ctest log and
# JUnit file stay in build/test-logs/. Ends with a table of the stages and
# their seconds and the line "total: N passed, M failed, S skipped"; exits
# non-zero if anything failed.
#
#   bash tools/test.sh --under-load
# runs the same tests with one core kept busy by a plain busy loop from the
# end of the Windows build on, so that their timing is what a slower PC gives.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench.sh"

BUILD="$ORVEL_ROOT/build"
NATIVE="$ORVEL_ROOT/build-native"
LOGS="$BUILD/test-logs"

# Every stage and count goes into one results file, which the stages run in
# the network namespace append to as well:
#   stage NAME SECONDS | count PASSED FAILED SKIPPED | failed NAME | retried NAME
#   | wine-done
record() { echo "$*" >> "$RESULTS"; }

# A failure outside the tests (the bench itself) counts as one failed test.
bench_failed() {
  record failed "bench: $1"
  record count 0 1 0
}

# timed NAME CMD...: runs CMD and records how long it took.
timed() {
  local name=$1; shift
  local begin=$SECONDS rc
  "$@"
  rc=$?
  record stage "$name" $((SECONDS - begin))
  return $rc
}

# stage_failed TEXT: a failure of a stage as a whole, on a line of its own.
stage_failed() {
  record failed "$1"
  record count 0 1 0
}

# ctest_list DIR [CTEST ARGS...]: ctest -N in DIR, its output on stdout, and
# what went wrong on stderr when it fails. The first listing after a build
# runs each Windows test program under Wine for its tests and writes the
# lists into the build dir, which both lanes share: one lane lists at a time,
# so that the other reads finished lists instead of one being written.
ctest_list() {
  local dir=$1 out rc; shift
  out=$(cd "$dir" && flock .ctest-list.lock ctest -N "$@" 2>&1)
  rc=$?
  [ "$rc" -eq 0 ] || bench_log "ctest -N in $dir failed ($rc): $(grep -A 12 'CMake Error' <<<"$out" || tail -n 12 <<<"$out")"
  printf '%s\n' "$out"
  return "$rc"
}

# check_listing LOGNAME DIR: every test program of the build dir gave its list
# of tests (a program that was not built leaves a "_NOT_BUILT" placeholder,
# which no label selects; one whose listing failed leaves its tests out).
check_listing() {
  local name=$1 dir=$2 listing placeholder
  listing=$(ctest_list "$dir") || { stage_failed "$name: ctest could not list the tests"; return; }
  grep -qE 'CMake Error|Error running test executable' <<<"$listing" &&
    stage_failed "$name: a test program could not list its tests"
  while read -r placeholder; do
    [ -n "$placeholder" ] && stage_failed "$name: $placeholder (its test program was not built)"
  done < <(grep -oE '[A-Za-z0-9_.-]+_NOT_BUILT' <<<"$listing" | sort -u)
}

# run_ctest LOGNAME DIR [CTEST ARGS...]: one ctest run, counted. A test whose
# program hung after passing is run once more on its own. The stage fails as
# a whole when it selects no test, when fewer tests than it selects gave a
# result, or when its count cannot be taken.
run_ctest() {
  local name=$1 dir=$2; shift 2
  local junit="$LOGS/$name.xml" log="$LOGS/$name.log" kind test selected listing
  listing=$(ctest_list "$dir" "$@") || stage_failed "$name: ctest could not list the tests"
  selected=$(sed -n -E 's/^Total Tests: ([0-9]+)$/\1/p' <<<"$listing")
  if [ -z "$selected" ] || [ "$selected" -eq 0 ]; then
    stage_failed "$name: no test selected"
    return
  fi
  (cd "$dir" && ctest --output-on-failure --timeout 300 --output-junit "$junit" --output-log "$log" "$@") 2>&1
  local tally p f s
  if ! tally=$(python3 "$ORVEL_ROOT/tools/ctest_tally.py" "$junit" "$log") ||
     ! read -r p f s <<<"$(head -1 <<<"$tally")" || ! [[ "$p $f $s" =~ ^[0-9]+\ [0-9]+\ [0-9]+$ ]]; then
    stage_failed "$name: its results could not be counted"
    return
  fi
  if [ $((p + f + s)) -lt "$selected" ]; then
    stage_failed "$name: $((p + f + s)) results of $selected tests selected"
  fi
  while read -r kind test; do
    case $kind in
      failed) record failed "$test" ;;
      hung)
        bench_log "$test passed and then hung on exit: running it once more"
        # Test names hold letters, digits, '_', '-' and '.': only the dots
        # need escaping in the name's regular expression.
        local again="$name-again-${test//[^A-Za-z0-9]/_}"
        (cd "$dir" && ctest --output-on-failure --timeout 300 --output-junit "$LOGS/$again.xml" \
          --output-log "$LOGS/$again.log" -R "^${test//./\\.}\$") 2>&1
        read -r ap af _ <<<"$(python3 "$ORVEL_ROOT/tools/ctest_tally.py" "$LOGS/$again.xml" "$LOGS/$again.log" | head -1)"
        if [ "$ap" = 1 ] && [ "$af" = 0 ]; then
          p=$((p + 1)); f=$((f - 1))
          record retried "$test"
        else
          record failed "$test"
        fi
        ;;
    esac
  done < <(tail -n +2 <<<"$tally")
  record count "$p" "$f" "$s"
}

# The stages under Wine, in two lanes that run at once, each in a network of
# its own (bench_isolated) with its own prefix, display and test server, so
# that port 443 and the displays cannot collide with each other or with
# anything else on the machine, another clone's tests included. Most of their
# time is spent waiting for the program under test, so two lanes on two
# cores take little more than the longer of them.
wine_stage() {
  bench_join "$1"
  export BENCH_DESKTOP_KEEPER="$BUILD/tests/desktop-keeper.exe"
  bench_display 1366 768 || { bench_failed display; return 1; }
  bench_start_server || { bench_failed "exam server"; return 1; }
  check_listing "Windows tests" "$BUILD"
  timed "Wine unit tests" run_ctest wine-unit "$BUILD" -L unit
  timed "end-to-end at 1366 x 768" run_ctest e2e-1366x768 "$BUILD" -L '^(e2e|screen)$'
  record wine-done
}

# The other lane: the tests that mostly wait, the soak, the other screen
# size, the school's exam server, and the PC itself.
wine_beside_stage() {
  bench_join "$1"
  export BENCH_DESKTOP_KEEPER="$BUILD/tests/desktop-keeper.exe"
  bench_display 1366 768 || { bench_failed display; return 1; }
  bench_start_server || { bench_failed "exam server"; return 1; }
  timed "end-to-end that mostly waits, 1366 x 768" run_ctest apart "$BUILD" -L '^apart$'
  timed "soak" run_ctest soak "$BUILD" -L soak -V  # -V: the soak and the flood print their figures
  bench_display 1920 1080 || { bench_failed display; return 1; }
  bench_start_server || { bench_failed "exam server"; return 1; }
  timed "end-to-end at 1920 x 1080 (screen size)" run_ctest e2e-1920x1080 "$BUILD" -L '^screen$'
  timed "the program against the school's exam server" refserver_stage
  # Last: the end of the Windows session ends every program of the wineserver.
  bench_display 1366 768 two || { bench_failed display; return 1; }
  bench_start_server || { bench_failed "exam server"; return 1; }
  timed "two screens, end of the Windows session" run_ctest pc "$BUILD" -L '^pc$'
  record wine-beside-done
}

# The real program through a whole exam against the school's exam server
# (server/) in the place of the test server: the same host, port and
# certificate, a throw-away database and a password the test reads. A
# working exam silent for 5 s is "Hilang" there, so the program's 15 s
# heartbeats show on the roster within one exam.
refserver_stage() {
  bench_stop_server
  local config="$BENCH_RUN/refserver.toml"
  ORVEL_REFSERVER_PASSWORD=$(python3 -c 'import secrets; print(secrets.token_urlsafe(12))')
  export ORVEL_REFSERVER_PASSWORD
  bench_exam_server_config "$config" ORVEL_REFSERVER_PASSWORD REF123 'https://localhost/ujian-ref?nama={studentName}' 5
  bench_start_exam_server "$config" || { bench_failed "the school's exam server did not start"; return 1; }
  run_ctest refserver "$BUILD" -L '^refserver$'
  bench_stop_exam_server ||
    { bench_log "the exam server did not end cleanly: $(tail -n 3 "$config.log")"; bench_failed "exam server exit"; }
}

# The core natively, with sanitizers and fuzzers, and its tests.
native_stage() {
  native_build() {
    CXX=clang++ cmake -S "$ORVEL_ROOT" -B "$NATIVE" -DCMAKE_BUILD_TYPE=Debug \
      -DORVEL_SANITIZE=ON -DORVEL_FUZZ=ON >/dev/null && cmake --build "$NATIVE" -j"$(nproc)"
  }
  if timed "native build" native_build; then
    export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
    check_listing "native tests" "$NATIVE"
    timed "native tests and fuzz runs" run_ctest native "$NATIVE" -j"$(nproc)"
  else
    stage_failed "native build"
  fi
  record native-done
}

# The Python suites: the test exam server's own tests (it starts its own
# servers on free ports), those of the test command's count of a ctest run,
# the school's exam server's tests on SQLite and again on PostgreSQL (a
# throw-away cluster of its own, stopped however the stage ends), and its
# proctor page in headless Chromium (run by Debian's python3, the one that
# has python3-selenium and python3-psycopg).
python_tests() {
  local log="$LOGS/python.log" suite runs=0 ran=0 skip=0 bad cluster
  : > "$log"
  for suite in tests/server tests/tools server/tests; do
    (cd "$ORVEL_ROOT" && python3 -m unittest discover -s "$suite" -v) >> "$log" 2>&1
  done
  if cluster=$(bash "$ORVEL_ROOT/tools/pg-cluster.sh" start 2>> "$log"); then
    trap 'bash "$ORVEL_ROOT/tools/pg-cluster.sh" stop "${cluster%% *}"' EXIT
    trap 'exit 1' INT TERM HUP
    (cd "$ORVEL_ROOT" && ORVEL_TEST_ENGINE=postgres ORVEL_TEST_PGDIR="${cluster%% *}" \
      ORVEL_TEST_POSTGRES="${cluster#* }" /usr/bin/python3 -m unittest discover -s server/tests -v) >> "$log" 2>&1
    bash "$ORVEL_ROOT/tools/pg-cluster.sh" stop "${cluster%% *}"
    trap - EXIT INT TERM HUP
  else
    echo "the PostgreSQL test cluster did not start" >> "$log"
  fi
  (cd "$ORVEL_ROOT" && /usr/bin/python3 -m unittest discover -s server/tests -p 'browser_*.py' -v) >> "$log" 2>&1
  cat "$log"
  runs=$(grep -cE '^Ran [0-9]+ tests?' "$log")
  ran=$(sed -n -E 's/^Ran ([0-9]+) tests?.*/\1/p' "$log" | awk '{n += $1} END {print n + 0}')
  skip=$(grep -oE 'skipped=[0-9]+' "$log" | tr -dc '0-9\n' | awk '{n += $1} END {print n + 0}')
  bad=$(grep -E '^(FAIL|ERROR):' "$log" | sed -E 's/^(FAIL|ERROR): //')
  if [ "$runs" -ne 5 ]; then
    bench_failed "a Python test suite did not run"
    return
  fi
  local n=0
  if [ -n "$bad" ]; then
    while read -r test; do record failed "$test"; n=$((n + 1)); done <<<"$bad"
  fi
  record count $((ran - n - skip)) "$n" "$skip"
}

# check NAME CMD...: one step counted as a test of its own.
check() {
  local name=$1; shift
  if "$@"; then record count 1 0 0; else record failed "$name"; record count 0 1 0; fi
}

# The exam server as a school gets it: the zipapp, its check of the sample
# configuration, and twenty seconds of forty PCs and three proctor pages
# against it (fails on any failed request, a wrong count or a stream delay
# over 2 s).
server_stage() {
  local pyz="$BUILD/orvel-exam-server.pyz"
  check "exam server: zipapp build" python3 "$ORVEL_ROOT/server/tools/build_pyz.py" "$pyz"
  # The sample takes the password from the environment, as a school should.
  check "exam server: check of server/example.toml" env ORVEL_PROCTOR_PASSWORD=contoh-sandi-panjang \
    python3 "$pyz" check --config "$ORVEL_ROOT/server/example.toml"
  check "exam server: load of forty PCs" python3 "$ORVEL_ROOT/server/tools/load.py" --pcs 40 --seconds 20 --streams 3 --pyz "$pyz"
}

python_stages() {
  timed "Python tests (servers, tally, proctor page)" python_tests
  timed "exam server zipapp and load" server_stage
  record python-done
}

case "${1:-}" in
  --wine-stage | --wine-beside-stage)
    # Re-entered inside the namespace; the results go to the parent's file.
    RESULTS=$3
    if [ "$1" = --wine-stage ]; then wine_stage "$2"; else wine_beside_stage "$2"; fi
    exit 0 ;;
  --python-stages | --native-stage | --wine-beside)
    # Re-entered as a process group of its own, beside the other stages.
    RESULTS=$2
    case $1 in
      --python-stages) python_stages ;;
      --native-stage) native_stage ;;
      --wine-beside) bench_isolated bash "${BASH_SOURCE[0]}" --wine-beside-stage "$3" "$RESULTS" ;;
    esac
    exit 0 ;;
esac

under_load=""
case "${1:-}" in
  --under-load) under_load=1 ;;
  "") ;;
  *) echo "usage: bash tools/test.sh [--under-load]" >&2; exit 2 ;;
esac

RESULTS=$(mktemp)
: > "$RESULTS"
timed "installs" bench_install_packages || { echo "could not install the bench's packages"; exit 1; }

# The throw-away Wine prefix is made while the programs build.
bench_init "$(mktemp -d /tmp/orvel-test.XXXXXX)"
# The busy loop of --under-load and the stages run beside others end with the
# script, however it ends.
load_pid="" beside_pids=()
stop_load() {
  [ -n "$load_pid" ] && kill "$load_pid" 2>/dev/null && wait "$load_pid" 2>/dev/null
  load_pid=""
}
stop_beside() {
  local pid
  for pid in "${beside_pids[@]}"; do kill -- -"$pid" 2>/dev/null; done
  beside_pids=()
}
trap 'stop_load; stop_beside; bench_cleanup' EXIT
trap 'exit 130' INT TERM HUP
bench_make_prefix > "$BENCH_RUN/prefix.log" 2>&1 &
prefix_pid=$!
rm -rf "$LOGS"
mkdir -p "$LOGS"

# beside STAGE [CMD...]: runs the script's STAGE (through CMD, nice for
# example) as a process group of its own, so that it can be ended whole; its
# output is kept for the end.
beside() {
  local stage=$1; shift
  setsid "$@" bash "${BASH_SOURCE[0]}" "--$stage" "$RESULTS" "$BENCH_RUN/beside" > "$LOGS/$stage.out" 2>&1 &
  beside_pids+=("$!")
}

# The Python stages mostly wait for their servers and clients: they run
# beside the Windows build, which keeps both cores busy.
bench_log "the Python tests and the exam server's load run beside the build"
beside python-stages

bench_log "building the Windows program and its tests"
# Built for the local test exam server that the bench runs on localhost.
timed "Windows build" bench_build "$BUILD" -DCMAKE_BUILD_TYPE=Release -DEXAM_SERVER_HOST=localhost ||
  { echo "the Windows build failed"; exit 1; }

if [ -n "$under_load" ]; then
  (while :; do :; done) &
  load_pid=$!
  bench_log "under load: one core kept busy (process $load_pid) while the tests run"
fi

# The native build and its tests only compute: they run beside the Wine
# stages at the lowest priority, taking the time those leave unused
# without holding up the program under test.
bench_log "the core's native build and tests run beside the Wine stages"
beside native-stage nice -n 19

wait "$prefix_pid" || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  bench_log "the Wine prefix could not be made: $(tail -n 3 "$BENCH_RUN/prefix.log")"
  bench_failed "Wine prefix"
else
  # The other lane gets a copy of the fresh prefix, made while no wineserver
  # holds it; without one (a full disk) it makes its own on its first display.
  mkdir -p "$BENCH_RUN/beside/tmp"
  cp -a "$WINEPREFIX" "$BENCH_RUN/beside/wine" ||
    { bench_log "could not copy the prefix for the second lane"; rm -rf "$BENCH_RUN/beside/wine"; }
  if bench_can_isolate; then
    bench_log "the stages under Wine run in two lanes"
    beside wine-beside
    bench_isolated bash "${BASH_SOURCE[0]}" --wine-stage "$BENCH_RUN" "$RESULTS"
  else
    # Without networks of their own both lanes' test servers would want the
    # machine's port 443: one lane after the other.
    bench_isolated bash "${BASH_SOURCE[0]}" --wine-stage "$BENCH_RUN" "$RESULTS"
    beside wine-beside
  fi
  # Stages that ended early (the namespace or a shell dying) must not pass unseen.
  grep -qx wine-done "$RESULTS" || grep -q '^failed bench:' "$RESULTS" || bench_failed "the Wine stages did not finish"
fi

# The stages beside: their output, once they are done, and a stage that
# ended early fails the run.
for pid in "${beside_pids[@]}"; do wait "$pid"; done
beside_pids=()
for stage in python-stages native-stage wine-beside; do
  [ -f "$LOGS/$stage.out" ] || continue
  echo
  echo "=== $stage (run beside the others)"
  cat "$LOGS/$stage.out"
done
grep -qx python-done "$RESULTS" || bench_failed "the Python stages did not finish"
grep -qx native-done "$RESULTS" || bench_failed "the native stages did not finish"
if [ -f "$WINEPREFIX/system.reg" ] && ! grep -qx wine-beside-done "$RESULTS" &&
   ! grep -q '^failed bench:' "$RESULTS"; then
  bench_failed "the second lane of stages under Wine did not finish"
fi

# The summary: each stage's seconds, then the counts.
passed=0 failed=0 skipped=0
retried=() failures=()
echo
echo "stage                                         seconds"
while read -r kind rest; do
  case $kind in
    stage)
      secs=${rest##* }
      printf '%-45s %7s\n' "${rest% *}" "$secs"
      ;;
    count)
      read -r p f s <<<"$rest"
      passed=$((passed + p)); failed=$((failed + f)); skipped=$((skipped + ${s:-0}))
      ;;
    failed) failures+=("$rest") ;;
    retried) retried+=("$rest") ;;
  esac
done < "$RESULTS"
printf '%-45s %7s\n' "all" "$SECONDS"
echo "(the Python stages ran beside the Windows build, the native ones beside the stages under Wine, which ran in two lanes)"
stop_load
rm -f "$RESULTS"
echo
[ ${#failures[@]} -gt 0 ] && printf 'failed: %s\n' "${failures[@]}"
[ ${#retried[@]} -gt 0 ] && echo "run again after passing and hanging on exit: ${retried[*]}"
# Starts of the tests' own programs that Wine lost before they ran, which the
# driver made once more (tests/e2e/driver.cpp): counted here, never silent.
lost=$(cat "$LOGS"/*.xml 2>/dev/null | grep -c "Wine lost the new process before it ran")
[ "$lost" -gt 0 ] && echo "starts Wine lost before they ran, made once more by the driver: $lost (see $LOGS/*.xml)"
[ -n "$under_load" ] && echo "under load: the tests ran with one core kept busy"
echo "total: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
