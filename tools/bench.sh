# The test bench, sourced by tools/run.sh and tools/test.sh: installs what is
# missing, makes a throw-away Wine prefix and runs Xvfb displays for it.
# Everything lives under one run folder and is removed on exit.

ORVEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bench_log() { printf '[bench] %s\n' "$*" >&2; }

# Debian packages the bench needs, with a command that shows each is there.
bench_install_packages() {
  local need=()
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix mingw-w64-tools)
  command -v wine >/dev/null || need+=(wine wine64)
  command -v Xvfb >/dev/null || need+=(xvfb)
  command -v xdotool >/dev/null || need+=(xdotool)
  command -v xdpyinfo >/dev/null || need+=(x11-utils)
  command -v ip >/dev/null || need+=(iproute2)
  [ -x /usr/bin/convert ] || need+=(imagemagick)
  command -v openssl >/dev/null || need+=(openssl)
  command -v cmake >/dev/null || need+=(cmake)
  command -v python3 >/dev/null || need+=(python3)
  command -v clang++ >/dev/null || need+=(clang)
  [ -d /usr/src/googletest ] || need+=(googletest)
  [ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
  [ -d /usr/share/fonts/truetype/liberation ] || need+=(fonts-liberation)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
  # The exam server's tests: its proctor page in headless Chromium through
  # Debian's python3 (python3-selenium exists for that one only), and its
  # certificates made with python3-cryptography as well as with openssl.
  /usr/bin/python3 -c 'import selenium' 2>/dev/null || need+=(python3-selenium)
  /usr/bin/python3 -c 'import cryptography' 2>/dev/null || need+=(python3-cryptography)
  # The exam server on PostgreSQL: a throw-away cluster (tools/pg-cluster.sh)
  # and Debian's psycopg 3, which belongs to /usr/bin/python3.
  ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || need+=(postgresql)
  /usr/bin/python3 -c 'import psycopg' 2>/dev/null || need+=(python3-psycopg)
  command -v chromium >/dev/null || need+=(chromium)
  command -v chromedriver >/dev/null || need+=(chromium-driver)
  if [ ${#need[@]} -gt 0 ]; then
    bench_log "installing: ${need[*]}"
    apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}" >/dev/null
  fi
  local py
  for py in python3 /usr/bin/python3; do
    "$py" -c 'import sys; sys.exit(sys.version_info < (3, 11))' ||
      { bench_log "$py is older than 3.11, which the exam server needs (tomllib)"; return 1; }
  done
}

bench_build() {  # bench_build BUILD_DIR [extra cmake args...]
  local dir=$1; shift
  cmake -S "$ORVEL_ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ORVEL_ROOT/cmake/mingw-w64-x86_64.cmake" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

# bench_init RUN_DIR: sets up the run folder and a fresh prefix in it; the
# folder goes when the shell exits.
bench_init() {
  bench_join "$1"
  BENCH_OWNS_RUN=1
  mkdir -p "$BENCH_RUN/tmp"
}

# bench_join RUN_DIR: works in a run folder that another shell made (and
# removes): the same prefix, with displays and servers of this shell's own.
bench_join() {
  BENCH_RUN=$1
  BENCH_OWNS_RUN=""
  export WINEPREFIX="$BENCH_RUN/wine" WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
  export TMPDIR="$BENCH_RUN/tmp"
  # Wine's WinHTTP would send even localhost to a proxy.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
  BENCH_XVFB_PID=""
  trap bench_cleanup EXIT
}

bench_cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "${WINEPREFIX:-/nonexistent}" ]; then
    timeout 20 wineserver -k >/dev/null 2>&1 || true
  fi
  [ -n "${BENCH_SERVER_PID:-}" ] && kill "$BENCH_SERVER_PID" 2>/dev/null || true
  [ -n "${BENCH_EXAM_SERVER_PID:-}" ] && kill "$BENCH_EXAM_SERVER_PID" 2>/dev/null || true
  [ -n "$BENCH_XVFB_PID" ] && kill "$BENCH_XVFB_PID" 2>/dev/null || true
  BENCH_XVFB_PID=""
  if [ -n "${BENCH_RUN:-}" ] && [ -n "${BENCH_OWNS_RUN:-}" ] && [ -z "${BENCH_KEEP:-}" ]; then rm -rf "$BENCH_RUN"; fi
}

# bench_display W H [two]: a new Xvfb of that size (replacing any earlier one)
# and a persistent wineserver on it, so test programs start in a fraction of a
# second. With "two", a second screen of 800 x 600 beside it (Xinerama), which
# Wine counts as a second monitor.
bench_display() {
  local w=$1 h=$2 screens=${3:-one} n="" i
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  [ -n "$BENCH_XVFB_PID" ] && { kill "$BENCH_XVFB_PID" 2>/dev/null; wait "$BENCH_XVFB_PID" 2>/dev/null; }
  # Xvfb picks a free display itself and writes its number once it listens.
  local numberFile="$BENCH_RUN/display-${w}x${h}"
  : > "$numberFile"
  local layout=(-screen 0 "${w}x${h}x24")
  [ "$screens" = two ] && layout+=(-screen 1 800x600x24 +xinerama)
  Xvfb -displayfd 3 "${layout[@]}" -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
  BENCH_XVFB_PID=$!
  for i in $(seq 1 100); do
    n=$(tr -dc 0-9 < "$numberFile")
    [ -n "$n" ] && break
    sleep 0.1
  done
  [ -n "$n" ] || { bench_log "Xvfb did not start"; return 1; }
  export DISPLAY=":$n"
  for i in $(seq 1 100); do
    xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break
    sleep 0.1
  done
  xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 || { bench_log "Xvfb did not start"; return 1; }
  if [ ! -f "$WINEPREFIX/system.reg" ]; then bench_make_prefix; fi
  # Wine sees the Xinerama screens only without XRandR, and reads the
  # monitors once, when its desktop starts: set before the wineserver below.
  local xrandrOff=""
  grep -q '"UseXRandR"' "$WINEPREFIX/user.reg" 2>/dev/null && xrandrOff=1
  if [ "$screens" = two ] && [ -z "$xrandrOff" ]; then
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /t REG_SZ /d N /f >/dev/null 2>&1
    # Ended by itself, the wineserver writes the registry out.
    timeout 30 wineserver -w >/dev/null 2>&1 || timeout 20 wineserver -k >/dev/null 2>&1 || true
  elif [ "$screens" != two ] && [ -n "$xrandrOff" ]; then
    timeout 60 wine reg delete 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /f >/dev/null 2>&1
    timeout 30 wineserver -w >/dev/null 2>&1 || timeout 20 wineserver -k >/dev/null 2>&1 || true
  fi
  # Waited for: started beside the Wine program below, a server which that
  # program started first would win, and it is not persistent.
  wineserver -p </dev/null >/dev/null 2>&1 || bench_log "the wineserver of $WINEPREFIX is not persistent"
  # Start Wine's services now, detached: started by the first test program
  # they would hold ctest's output pipe open and stall it. The same for the
  # desktop, which Wine would otherwise close after each test program and
  # start again with the next (tests/support/desktop_keeper.cpp).
  timeout 60 wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  if [ -n "${BENCH_DESKTOP_KEEPER:-}" ] && [ -f "$BENCH_DESKTOP_KEEPER" ]; then
    (wine "$BENCH_DESKTOP_KEEPER" </dev/null >/dev/null 2>&1 &)
  fi
  bench_log "display $DISPLAY at ${w}x${h}, $screens screen(s)"
}

# The prefix needs no display: it can be made while something else runs.
bench_make_prefix() {
  bench_log "making a Wine prefix in $WINEPREFIX"
  DISPLAY="" timeout 120 wineboot --init >/dev/null 2>&1
  timeout 60 wineserver -w
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/{tahoma,tahomabd,marlett}.ttf "$fonts/" 2>/dev/null || true
  # No window manager: unmanaged windows hide at once and take the foreground.
  # "Segoe UI" is missing under Wine; without it GDI+ draws no text at all.
  # No crash dialog: a crash must end the process, not wait for a click.
  cat > "$BENCH_RUN/bench.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="Y"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"Segoe UI"="Liberation Sans"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Auto"="0"
"Debugger"=""
REG
  DISPLAY="" timeout 60 wine regedit /S "$(winepath -w "$BENCH_RUN/bench.reg" 2>/dev/null)" >/dev/null 2>&1
  timeout 60 wineserver -w
}

# bench_isolated CMD...: runs CMD in a network namespace of its own, with only
# loopback up, where that can be had (root, unshare); otherwise as it is. What
# it starts there (test server, Xvfb, Wine) can bind port 443 and talk on
# loopback without meeting anything else on the machine.
bench_can_isolate() { [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; }

bench_isolated() {
  if bench_can_isolate; then
    unshare -n -- bash -c 'ip link set lo up && exec "$@"' bench "$@"
  else
    bench_log "no network namespace to be had: the tests use the machine's own loopback"
    "$@"
  fi
}

# bench_shot FILE: a screenshot of the whole virtual screen.
bench_shot() {
  /usr/bin/import -window root -display "$DISPLAY" "$1"
}

# bench_start_server [SERVER ARGS]: the local HTTPS test exam server on 127.0.0.1:443
# (tests/server/exam_server.py), its CA trusted by the prefix. Call it after
# bench_display. Each call starts a fresh server with an empty control folder
# ORVEL_SERVER_DIR (Windows path ORVEL_SERVER_DIR_WIN); its output goes to
# $BENCH_RUN/server.log.
bench_start_server() {
  local certs="$BENCH_RUN/certs" args=("$@") i
  bench_stop_server
  if [ ! -f "$certs/trust-ca.reg" ]; then
    bash "$ORVEL_ROOT/tests/server/make_certs.sh" "$certs" || { bench_log "could not make certificates"; return 1; }
  fi
  # Not `wineserver -w`: the persistent wineserver would make it wait forever.
  timeout 60 wine regedit /S "$(winepath -w "$certs/trust-ca.reg" 2>/dev/null)" </dev/null >/dev/null 2>&1 ||
    { bench_log "could not add the test CA to the prefix"; return 1; }
  export ORVEL_SERVER_DIR="$BENCH_RUN/server"
  rm -rf "$ORVEL_SERVER_DIR"
  mkdir -p "$ORVEL_SERVER_DIR"
  ORVEL_SERVER_DIR_WIN=$(winepath -w "$ORVEL_SERVER_DIR" 2>/dev/null)
  export ORVEL_SERVER_DIR_WIN
  : > "$BENCH_RUN/server.log"
  python3 "$ORVEL_ROOT/tests/server/exam_server.py" --dir "$ORVEL_SERVER_DIR" --certs "$certs" "${args[@]}" \
    </dev/null >>"$BENCH_RUN/server.log" 2>&1 &
  BENCH_SERVER_PID=$!
  for i in $(seq 1 200); do
    grep -qx ready "$BENCH_RUN/server.log" && { bench_log "exam server on https://localhost/ ${args[*]}"; return 0; }
    kill -0 "$BENCH_SERVER_PID" 2>/dev/null || break
    sleep 0.05
  done
  bench_log "the exam server did not start: $(tail -n 3 "$BENCH_RUN/server.log")"
  bench_stop_server
  return 1
}

bench_stop_server() {
  if [ -n "${BENCH_SERVER_PID:-}" ]; then
    kill "$BENCH_SERVER_PID" 2>/dev/null || true
    wait "$BENCH_SERVER_PID" 2>/dev/null || true
  fi
  BENCH_SERVER_PID=""
}

# bench_exam_server_config FILE PASSWORD_VARIABLE TOKEN FORM_URL [MISSING_AFTER]:
# a configuration of the school's exam server (server/) for the bench:
# localhost on 127.0.0.1:443 with the certificate the prefix trusts (call
# bench_start_server first, which makes it), one exam for class 5A with the
# proctor PIN 2468, its database beside the file; MISSING_AFTER, when given,
# is its missing_after_seconds (otherwise the server's default).
bench_exam_server_config() {
  cat > "$1" <<TOML
[server]
host = "localhost"
listen = "127.0.0.1:443"
cert_file = "$BENCH_RUN/certs/good.crt"
key_file = "$BENCH_RUN/certs/good.key"
database = "exam.db"
proctor_password = "env:$2"
${5:+missing_after_seconds = $5}

[[exam]]
class = "5A"
token = "$3"
form_url = "$4"
proctor_pin = "2468"
TOML
}

# bench_start_exam_server FILE: the school's exam server with that
# configuration, its log in FILE.log; returns once it listens.
bench_start_exam_server() {
  local log="$1.log" i
  PYTHONPATH="$ORVEL_ROOT/server" python3 -m orvel_exam_server run --config "$1" </dev/null >"$log" 2>&1 &
  BENCH_EXAM_SERVER_PID=$!
  for i in $(seq 1 200); do
    grep -q " ready on " "$log" && return 0
    kill -0 "$BENCH_EXAM_SERVER_PID" 2>/dev/null || break
    sleep 0.05
  done
  bench_log "the exam server did not start: $(tail -n 3 "$log")"
  bench_stop_exam_server
  return 1
}

# Ends it as Ctrl+C would; false if it did not end cleanly.
bench_stop_exam_server() {
  local pid=${BENCH_EXAM_SERVER_PID:-} rc=0
  BENCH_EXAM_SERVER_PID=""
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null
  wait "$pid" || rc=$?
  return $rc
}
