#!/usr/bin/env bash
# End to end: a PETSCII session (kavel-c64) in a real window under Xvfb shows
# a C64 screen from the test BBS exactly as kavel-render draws the same file
# with the same font, in 40 columns (640x400) and 80 columns (640x200).  Only
# the text cursor may differ.
set -u
BUILD=${1:?build dir}
SRC=${2:?source dir}
C64="$BUILD/kavel-c64"
BBS="$BUILD/kavel-testbbs"
RENDER="$BUILD/kavel-render"
SEQ="$SRC/assets/testbbs/welcome.seq"
source "$(dirname "$0")/lib/window_harness.sh"
window_harness_init Xvfb xdotool import compare
for b in "$C64" "$BBS" "$RENDER"; do [ -x "$b" ] || { echo "FAIL: $b not built"; exit 1; }; done
window_harness_start_xvfb

# One session with a font: window size and picture against kavel-render.
session_matches_render() {  # font tag size
  local font=$1 tag=$2 size=$3
  "$RENDER" "$SEQ" "$work/$tag-render.png" --font "$font" || { echo "FAIL: kavel-render $font"; fail=1; return; }
  rm -f "$work/bbs.out"
  "$BBS" --scenario petscii --welcome "$SEQ" --welcome80 "$SEQ" --max-seconds 60 >"$work/bbs.out" 2>&1 &
  bbs_pid=$!
  local port= win=
  window_harness_wait_port
  (cd "$BUILD" && exec timeout 60 ./kavel-c64 --font "$font" 127.0.0.1 "$port") >/dev/null 2>&1 &
  kavel_pid=$!
  for _ in $(seq 100); do
    win=$(xdotool search --name "^Kavel - " 2>/dev/null | head -1)
    [ -n "$win" ] && break
    sleep 0.1
  done
  if [ -z "$win" ]; then echo "FAIL: $font: no window"; fail=1; return; fi
  sleep 1.5
  local geometry
  geometry=$(xdotool getwindowgeometry "$win" | awk '/Geometry/{print $2}')
  expect "$font: the window is $size (got $geometry)" test "$geometry" = "$size"
  import -window "$win" "$work/$tag-session.png" 2>/dev/null
  local diff
  diff=$(compare -metric AE "$work/$tag-session.png" "$work/$tag-render.png" null: 2>&1)
  # The blinking cursor is a bar of at most 14 x 2 pixels.
  expect "$font: the session shows what kavel-render draws ($diff pixels differ)" \
    test "${diff%%.*}" -le 28
  xdotool key --window "$win" ctrl+bracketright 2>/dev/null
  for _ in $(seq 50); do kill -0 "$kavel_pid" 2>/dev/null || break; sleep 0.1; done
  # The session can end on the press and take its window along before
  # xdotool sends the releases: the server would then keep the keys down and
  # repeat "]" into the next session's window.
  xdotool keyup ctrl+bracketright 2>/dev/null
  kill "$kavel_pid" 2>/dev/null; wait "$kavel_pid" 2>/dev/null; kavel_pid=
  kill "$bbs_pid" 2>/dev/null; wait "$bbs_pid" 2>/dev/null; bbs_pid=
}

session_matches_render "C64 Up/GFX [40]" up40 640x400
session_matches_render "C64 Low/Up [80]" low80 640x200
exit "$fail"
