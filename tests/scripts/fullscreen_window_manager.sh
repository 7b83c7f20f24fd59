#!/usr/bin/env bash
# Full screen on a bare X server and under a window manager (openbox).  On a
# bare server nobody would answer a full-screen request, so kavel makes the
# window as one itself; under a manager it asks for full screen and the
# manager grants it.  Either way the window covers the display at 0,0, shows
# the same picture, and takes the keyboard; Alt+Enter then leaves full
# screen for the window mode.
set -u
BUILD=${1:?build dir}
SRC=${2:?source dir}
KAVEL="$BUILD/kavel"
BBS="$BUILD/kavel-testbbs"
source "$(dirname "$0")/lib/window_harness.sh"
window_harness_init Xvfb xdotool xprop xwininfo import compare convert openbox
for b in "$KAVEL" "$BBS"; do [ -x "$b" ] || { echo "FAIL: $b not built"; exit 1; }; done
window_harness_start_xvfb 1920x1080
wm_pid=
trap 'kill $wm_pid 2>/dev/null; window_harness_cleanup' EXIT

start_bbs() {
  rm -f "$work/bbs.out" "$work/keys" "$work/bbs.log"
  "$BBS" --scenario echo --log "$work/bbs.log" --keys "$work/keys" --max-seconds 60 \
    >"$work/bbs.out" 2>&1 &
  bbs_pid=$!
  window_harness_wait_port
}
geometry() {  # window -> "X,Y WxH"
  xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
    /^ *Width/{w=$NF} /^ *Height/{h=$NF} END{print x "," y " " w "x" h}'
}
wm_state() { xprop -id "$1" _NET_WM_STATE 2>/dev/null; }

# One full-screen session: the window, its picture and a typed line.
full_screen_session() {  # label
  local label=$1
  start_bbs || { echo "FAIL: $label: the test BBS did not start"; fail=1; return; }
  harness_start_kavel -f 127.0.0.1 "$port" || { echo "FAIL: $label: no window"; fail=1; return; }
  sleep 1
  expect "$label: the window covers the display ($(geometry "$win"))" \
    test "$(geometry "$win")" = "0,0 1920x1080"
  import -window root "$work/$label.png" 2>/dev/null
  xdotool type --delay 60 "hi"
  sleep 0.5
  expect "$label: typed keys reach the BBS" cmp -s "$work/keys" <(printf 'hi')
}

full_screen_session bare
expect "bare server: no window manager is named on the root" \
  sh -c '! xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
kill "$kavel_pid" 2>/dev/null; wait "$kavel_pid" 2>/dev/null; kavel_pid=
stop_bbs

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
for _ in $(seq 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
expect "openbox runs and names itself on the root" \
  sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
full_screen_session managed
expect "managed: the window manager holds the window full screen ($(wm_state "$win"))" \
  sh -c "xprop -id $win _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN"
# The same picture but for the blinking cursor (a bar of 16x2 at scale 2)
# and the status line's clock and connection time (the top 40 rows).
for s in bare managed; do convert "$work/$s.png" -crop 1920x1040+0+40 +repage "$work/$s-grid.png"; done
diff_px=$(compare -metric AE "$work/bare-grid.png" "$work/managed-grid.png" null: 2>&1)
expect "both show the same picture ($diff_px pixels differ below the status line)" \
  test "${diff_px%%.*}" -le 32
xdotool key --delay 60 alt+Return
sleep 1.5
win=$(xdotool search --name "^Kavel - " 2>/dev/null | head -1)
expect "Alt+Enter leaves full screen for a 640x400 window ($(geometry "$win"))" \
  sh -c "[ \"\$(xwininfo -id $win | awk '/^ *Width/{w=\$NF} /^ *Height/{h=\$NF} END{print w \"x\" h}')\" = 640x400 ]"
expect "... that the manager no longer holds full screen" \
  sh -c "! xprop -id $win _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN"
exit $fail
