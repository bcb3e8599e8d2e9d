#!/usr/bin/env bash
# Builds the program and runs a whole exam under Wine in a throw-away prefix:
# the school's exam server (server/) with a demo configuration (token DEMO123
# for class 5A, proctor PIN 2468), the demo exam form from the test
# server, and the stand-in browser at Edge's install path. The exam events are
# printed as the exam server stores them; its proctor page's address and
# password are printed too.
# With a display ($DISPLAY reachable) the start screen opens there for you to
# use; without one it runs on a virtual screen, does what a student would
# (fill in, start; the proctor's PIN prompt, opened and cancelled; another
# program in front, a violation; finish) and writes a screenshot of each step
# to out/.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench.sh"

bench_install_packages || exit 1
BUILD="$ORVEL_ROOT/build"
bench_build "$BUILD" -DCMAKE_BUILD_TYPE=Release -DEXAM_SERVER_HOST=localhost || exit 1

OUT="$ORVEL_ROOT/out"
mkdir -p "$OUT"
USER_DISPLAY=${DISPLAY:-}
bench_init "$(mktemp -d /tmp/orvel-run.XXXXXX)"

# With Debian's chromium installed, the stand-in at Edge's path runs real
# Chromium on the form (served over plain HTTP on loopback: Linux Chromium does
# not trust the prefix's test certificate) and lives exactly as long as it.
DEMO_HTTP_PORT=8088
if command -v chromium >/dev/null; then REAL_BROWSER=1; else REAL_BROWSER=""; fi
# The test server only serves the demo form now, beside the exam server.
DEMO_FORM_PORT=8443
server_args() { echo --port $DEMO_FORM_PORT --demo ${REAL_BROWSER:+--demo-http-port $DEMO_HTTP_PORT}; }

# The school's exam server on localhost:443 with the demo's exam, and a line
# for each report it stores, as it comes.
start_exam_server() {
  local form="https://localhost:$DEMO_FORM_PORT/demo/form?kelas=5A&nama={studentName}"
  [ -n "$REAL_BROWSER" ] && form="http://localhost:$DEMO_HTTP_PORT/demo/form?kelas=5A&nama={studentName}"
  ORVEL_PROCTOR_PASSWORD=$(python3 -c 'import secrets; print(secrets.token_urlsafe(9))')
  export ORVEL_PROCTOR_PASSWORD
  EXAM_CONFIG="$BENCH_RUN/demo-server.toml"
  bench_exam_server_config "$EXAM_CONFIG" ORVEL_PROCTOR_PASSWORD DEMO123 "$form"
  bench_start_exam_server "$EXAM_CONFIG" || return 1
  : > "$BENCH_RUN/events.log"
  python3 "$ORVEL_ROOT/server/tools/follow.py" https://localhost --ca "$BENCH_RUN/certs/ca.crt" \
    >> "$BENCH_RUN/events.log" 2>/dev/null &
  FOLLOW_PID=$!
  bench_log "exam server: token DEMO123 for class 5A, proctor PIN 2468"
  bench_log "proctor page: https://localhost/pengawas (password: $ORVEL_PROCTOR_PASSWORD; its certificate is trusted inside Wine only)"
}
place_browser() {
  local edge="$WINEPREFIX/drive_c/Program Files/Microsoft/Edge/Application"
  mkdir -p "$edge"
  cp "$BUILD/tests/standin/browser-standin.exe" "$edge/msedge.exe"
  if [ -n "$REAL_BROWSER" ]; then
    ORVEL_STANDIN_CHROMIUM=$(winepath -w "$ORVEL_ROOT/tools/chromium-standin.sh" 2>/dev/null)
    export ORVEL_STANDIN_CHROMIUM ORVEL_STANDIN_CHROMIUM_PROFILE="$BENCH_RUN/chromium-profile"
    export ORVEL_STANDIN_CHROMIUM_STATUS="$BENCH_RUN"
    bench_log "the exam form opens in real Chromium"
  else
    export ORVEL_STANDIN_FETCH=1  # the stand-in shows the form page's text
    bench_log "the exam form opens in the stand-in browser (apt-get install chromium for the real one)"
  fi
}

# The exam server's event lines, as they come in.
follow_events() {
  tail -n +1 -f --pid=$$ "$BENCH_RUN/events.log" 2>/dev/null \
    > >(grep --line-buffered '^event ' | sed -u 's/^/[server] /') &
  EVENTS_PID=$!
}
stop_following() { sleep 0.5; kill "$EVENTS_PID" "$FOLLOW_PID" 2>/dev/null; true; }

# Wine without a window manager draws a window mapped later (the browser's)
# above the bar on the X screen, although Windows' own order, which Wine keeps
# too, has the bar on top: clicks at the bar's place reach the bar. Raise the
# bar's X window so the screen shows what Windows shows.
raise_bar_in_x() {
  local id
  for id in $(xdotool search --onlyvisible --name '^CBT Control$' 2>/dev/null); do
    xdotool windowraise "$id" 2>/dev/null
  done
}

if [ -n "$USER_DISPLAY" ] && xdpyinfo -display "$USER_DISPLAY" >/dev/null 2>&1; then
  export DISPLAY=$USER_DISPLAY
  [ -f "$WINEPREFIX/system.reg" ] || bench_make_prefix
  wineserver -p </dev/null >/dev/null 2>&1
  bench_start_server $(server_args) || exit 1
  start_exam_server || exit 1
  place_browser
  follow_events
  bench_log "type any name, class 5A, token DEMO123; end the exam with \"Selesai Ujian\" or the proctor PIN 2468"
  bench_log "(Ctrl+Alt+P opens the PIN prompt); close the start screen, or press Ctrl+C here, to end"
  (while sleep 1; do raise_bar_in_x; done) &
  raiser=$!
  wine "$BUILD/orvel-cbt.exe"
  code=$?
  kill "$raiser" 2>/dev/null
  stop_following
  exit $code
fi

# The pictures this run promises; any it could not make is named in its last
# lines and fails it, however it ends. Last run's are removed first.
promised=(1-start-screen.png start-screen.png 2-form-filled.png 3-exam-form.png 4-pin-prompt.png 5-violation.png
          9-proctor-message.png 10-screen-locked.png 6-finish-confirm.png 7-exam-finished.png)
if [ -n "$REAL_BROWSER" ] && /usr/bin/python3 -c 'import selenium' 2>/dev/null; then
  promised+=(11-proctor-page-commands.png 8-proctor-page.png 12-exam-form.png 13-class-list.png 14-roster-belum-mulai.png)
fi
for picture in "${promised[@]}"; do rm -f "$OUT/$picture"; done
check_pictures() {
  local code=$1 picture missing=()
  bench_cleanup
  for picture in "${promised[@]}"; do [ -s "$OUT/$picture" ] || missing+=("out/$picture"); done
  if [ ${#missing[@]} -gt 0 ]; then
    bench_log "no picture made of: ${missing[*]}"
    exit 1
  fi
  bench_log "all ${#promised[@]} pictures made in out/"
  exit "$code"
}
trap 'check_pictures $?' EXIT

bench_display 1366 768 || exit 1
bench_start_server $(server_args) || exit 1
start_exam_server || exit 1
place_browser
follow_events

# Polls for a window by its exact title; prints its X id.
wait_window() {
  local id
  for _ in $(seq 1 200); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
shot() { sleep 0.5; bench_shot "$OUT/$1"; bench_log "screenshot: out/$1"; }

wine "$BUILD/orvel-cbt.exe" </dev/null >/dev/null 2>&1 &
main=$(wait_window '^ORVEL SELVARO$') || { bench_log "the start screen did not appear"; exit 1; }
shot 1-start-screen.png
/usr/bin/import -window "$main" -display "$DISPLAY" "$OUT/start-screen.png"  # the window alone

xdotool windowfocus "$main"
xdotool key Tab; xdotool type --delay 40 "Budi Santoso"
xdotool key Tab; xdotool type --delay 40 "5a"
xdotool key Tab; xdotool type --delay 40 "demo123"
shot 2-form-filled.png

xdotool key Tab space  # the start button, pressed with the space bar
bar=$(wait_window '^CBT Control$') || { bench_log "the control bar did not appear"; shot error.png; exit 1; }
if [ -n "$REAL_BROWSER" ]; then
  wait_window 'Ujian Demo ORVEL Selvaro' >/dev/null || { bench_log "Chromium did not show the form"; shot error.png; exit 1; }
  sleep 3  # let Chromium finish drawing the page
else
  wait_window '^Ujian - ' >/dev/null || { bench_log "the exam form did not open"; shot error.png; exit 1; }
  sleep 2  # let the stand-in fetch and show the form page
fi
raise_bar_in_x
shot 3-exam-form.png  # the form in the browser, the bar on top at the right

# The proctor's shortcut opens the PIN prompt; Esc cancels it. (Keys typed
# into Linux Chromium never pass through Wine, so there the bar's button.)
if [ -n "$REAL_BROWSER" ]; then
  xdotool mousemove --window "$bar" 200 20 click 1  # "Pengawas (PIN)"
else
  xdotool key ctrl+alt+p
fi
prompt=$(wait_window '^Akses Pengawas$') || { bench_log "no PIN prompt"; shot error.png; exit 1; }
shot 4-pin-prompt.png
xdotool windowfocus "$prompt"; xdotool key Escape
for _ in $(seq 1 50); do xdotool search --onlyvisible --name '^Akses Pengawas$' >/dev/null 2>&1 || break; sleep 0.1; done

# Another program in front is a violation, reported to the server.
events_before=$(grep -c '^event VIOLATION' "$BENCH_RUN/events.log")
wine notepad </dev/null >/dev/null 2>&1 &
other=$(wait_window 'Notepad') || { bench_log "no other program"; shot error.png; exit 1; }
for _ in $(seq 1 50); do
  [ "$(grep -c '^event VIOLATION' "$BENCH_RUN/events.log")" -gt "$events_before" ] && break
  sleep 0.1
done
raise_bar_in_x
shot 5-violation.png
xdotool windowclose "$other" 2>/dev/null || true

# The proctor's hand from the page, as its buttons post it: a message, then
# the screen locked (the page pictured meanwhile, "Dikunci" on the row), then
# unlocked. Each reaches the PC with its next heartbeat, within 15 s.
proctor_command() {
  python3 - "$BENCH_RUN/certs/ca.crt" "$1" <<'PY'
import http.client, json, os, ssl, sys, urllib.parse
ctx = ssl.create_default_context(cafile=sys.argv[1])
def post(path, body, headers):
    conn = http.client.HTTPSConnection("localhost", 443, context=ctx, timeout=20)
    conn.request("POST", path, body, headers)
    r = conn.getresponse()
    return r.status, r.getheader("Set-Cookie", "").split(";")[0], r.read()
_, cookie, _ = post("/pengawas/login", urllib.parse.urlencode({"password": os.environ["ORVEL_PROCTOR_PASSWORD"]}),
                    {"Content-Type": "application/x-www-form-urlencoded"})
status, _, answer = post("/api/proctor/command", sys.argv[2], {"Cookie": cookie, "Content-Type": "application/json"})
sys.exit(0 if status == 200 else f"the command was refused: {status} {answer!r}")
PY
}
wait_gone() {
  for _ in $(seq 1 200); do xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0; sleep 0.1; done
  return 1
}
# A click on the bar between its buttons gives it the foreground: with a
# real Chromium outside Wine the program sees the desktop in front and
# reports it every 5 s, and a heartbeat (which the command rides) goes only
# after 15 s without a report.
front_to_bar() { xdotool mousemove --window "$bar" 136 21 click 1; }
front_to_bar
proctor_command '{"className":"5A","studentName":"Budi Santoso","kind":"message","text":"Sepuluh menit lagi.\nPeriksa lagi jawabanmu sebelum menekan KIRIM."}' ||
  { shot error.png; exit 1; }
message=$(wait_window '^Pesan Pengawas$') || { bench_log "the proctor's message did not arrive"; shot error.png; exit 1; }
xdotool windowraise "$message" 2>/dev/null  # above a real Chromium, which Wine's order does not reach
shot 9-proctor-message.png
xdotool windowfocus "$message"; xdotool key space  # "OK", which has the focus
wait_gone '^Pesan Pengawas$' || { bench_log "the message did not close"; shot error.png; exit 1; }
front_to_bar
proctor_command '{"className":"5A","studentName":"Budi Santoso","kind":"lock"}' || { shot error.png; exit 1; }
cover=$(wait_window '^Layar dikunci oleh pengawas') || { bench_log "the screen was not locked"; shot error.png; exit 1; }
sleep 1.5  # the watch's tick puts the bar back above the cover
xdotool windowraise "$cover" 2>/dev/null
raise_bar_in_x
shot 10-screen-locked.png
if [ -n "$REAL_BROWSER" ] && /usr/bin/python3 -c 'import selenium' 2>/dev/null; then
  if /usr/bin/python3 "$ORVEL_ROOT/server/tools/screenshot_page.py" https://localhost "$OUT/11-proctor-page-commands.png"; then
    bench_log "screenshot: out/11-proctor-page-commands.png"
  fi
fi
proctor_command '{"className":"5A","studentName":"Budi Santoso","kind":"unlock"}' || { shot error.png; exit 1; }
wait_gone '^Layar dikunci oleh pengawas' || { bench_log "the screen was not unlocked"; shot error.png; exit 1; }
front_to_bar

xdotool mousemove --window "$bar" 70 20 click 1  # "Selesai Ujian"
confirm=$(wait_window '^Konfirmasi Selesai Ujian$') || { bench_log "no confirmation"; shot error.png; exit 1; }
shot 6-finish-confirm.png
xdotool windowfocus "$confirm"; xdotool key Return  # Yes, the default button
wait_window '^ORVEL SELVARO$' >/dev/null
done_box=""
for _ in $(seq 1 100); do
  # The closing message has the start screen's title too: the smaller window.
  for id in $(xdotool search --onlyvisible --name '^ORVEL SELVARO$' 2>/dev/null); do
    [ "$id" != "$main" ] && done_box=$id
  done
  [ -n "$done_box" ] && break
  sleep 0.1
done
[ -n "$done_box" ] || { bench_log "no closing message"; shot error.png; exit 1; }
shot 7-exam-finished.png
xdotool windowfocus "$done_box"; xdotool key Return
sleep 0.5
xdotool windowclose "$main" 2>/dev/null || true

# The proctor's page after the exam, in headless Chromium.
if [ -n "$REAL_BROWSER" ] && /usr/bin/python3 -c 'import selenium' 2>/dev/null; then
  if /usr/bin/python3 "$ORVEL_ROOT/server/tools/screenshot_page.py" https://localhost "$OUT/8-proctor-page.png" "$OUT"; then
    bench_log "screenshots: out/8-proctor-page.png, out/12-exam-form.png, out/13-class-list.png, out/14-roster-belum-mulai.png"
  else
    bench_log "no picture of the proctor page"
  fi
fi
stop_following
bench_stop_exam_server || bench_log "the exam server did not end cleanly: $(tail -n 3 "$EXAM_CONFIG.log")"

# The demo made one violation (Notepad in front): the run reports exactly
# the ones it caused, or fails.
violations=$(grep -c '^event VIOLATION' "$BENCH_RUN/events.log")
if [ "$violations" -ne 1 ]; then
  bench_log "the exam server stored $violations violations; the demo made 1"
  exit 1
fi
bench_log "the exam server stored 1 violation, the one the demo made"
