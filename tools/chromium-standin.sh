#!/bin/sh
# Started by the stand-in browser (tests/standin) in its Chromium mode, under
# Wine: runs Linux Chromium in kiosk mode on the form address for as long as
# the stand-in's own process lives, and writes Chromium's exit status where
# the stand-in waits for it (the stand-in then ends with that code).
#
#   chromium-standin.sh STATUS_FILE PROFILE_DIR URL
#
# The stand-in keeps STATUS_FILE.alive open for as long as it lives (Wine
# starts this script detached, so its parent is not the stand-in): when no
# process holds that file any more (the launcher ended the browser), Chromium
# is ended too.
# Chromium's traffic stays on loopback: no background, sync or update calls.
status=$1 profile=$2 url=$3
alive="$status.alive"
held() { find /proc/[0-9]*/fd -lname "$alive" -print -quit 2>/dev/null | grep -q .; }
# Without a window manager kiosk mode does not fill the screen: give it the
# screen's size. Chromium offers to translate the Indonesian form unless the
# profile says no.
size=$(xdotool getdisplaygeometry 2>/dev/null | tr ' ' ,)
mkdir -p "$profile/Default"
[ -f "$profile/Default/Preferences" ] || echo '{"translate":{"enabled":false}}' > "$profile/Default/Preferences"
"${ORVEL_CHROMIUM:-chromium}" --kiosk "$url" --no-first-run --user-data-dir="$profile" \
  ${size:+--window-position=0,0 --window-size=$size} --no-sandbox --disable-gpu --disable-background-networking --disable-component-update \
  --disable-sync --disable-features=Translate,TranslateUI,MediaRouter --no-default-browser-check --lang=id \
  >/dev/null 2>&1 &
browser=$!
echo "$browser" > "$status.pid"
while held && kill -0 "$browser" 2>/dev/null; do
  sleep 0.2
done
kill -0 "$browser" 2>/dev/null && kill "$browser"
wait "$browser"
code=$?
echo "$code" > "$status.tmp" && mv "$status.tmp" "$status"
