#!/usr/bin/env bash
# The cost of a running session in a real window: kavel connected to the test
# BBS under Xvfb, in the normal 640x400 window, in the medium window and in
# full screen (1920x1080).
# Resident size (VmRSS) after the welcome screen and after a few seconds of
# typed text echoed back must stay under 40 MB; no OpenGL library (libGL,
# Mesa's DRI drivers, libLLVM) may be mapped; an idle session must use less
# than 1% of a core over 10 s.
# Usage: platform_memory.sh BUILD_DIR SOURCE_DIR   (exit 77: skipped)
set -u
BUILD="$(cd "${1:?build directory}" && pwd)"
SRC="$(cd "${2:?source directory}" && pwd)"
KAVEL="$BUILD/kavel"
BBS="$BUILD/kavel-testbbs"
for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
for exe in "$KAVEL" "$BBS"; do [ -x "$exe" ] || { echo "FAIL: $exe not built"; exit 1; }; done

limit_kb=$((40 * 1024))
idle_seconds=10
hz=$(getconf CLK_TCK)

work="$(mktemp -d)"
xvfb_pid="" bbs_pid="" kavel_pid=""
cleanup() {
  local p
  for p in $kavel_pid $bbs_pid $xvfb_pid; do kill "$p" 2>/dev/null; done
  for p in $kavel_pid $bbs_pid $xvfb_pid; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# -displayfd lets the server pick a free display number itself.
timeout 180 Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" \
  2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "skipped: Xvfb did not start"; cat "$work/xvfb.log"; exit 77; }
export DISPLAY=":$(cat "$work/display")"

"$BBS" --scenario welcome --welcome "$SRC/assets/testbbs/welcome.ans" --keys "$work/keys" \
  --max-seconds 150 >"$work/bbs.out" 2>&1 &
bbs_pid=$!
port=""
for _ in $(seq 50); do
  port=$(awk '/^PORT/{print $2}' "$work/bbs.out" 2>/dev/null)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "FAIL: the test BBS did not start"; cat "$work/bbs.out"; exit 1; }

# kavel runs under timeout so that it ends even if this script is killed;
# the figures are read from kavel itself, timeout's only child.
(cd "$BUILD" && exec timeout 150 ./kavel 127.0.0.1 "$port") >"$work/kavel.out" 2>&1 &
kavel_pid=$!
pid=""
for _ in $(seq 50); do
  pid=$(cat "/proc/$kavel_pid/task/$kavel_pid/children" 2>/dev/null | awk '{print $1}')
  [ -n "$pid" ] && break
  sleep 0.1
done
[ -n "$pid" ] || { echo "FAIL: kavel did not start"; cat "$work/kavel.out"; exit 1; }
win=""
for _ in $(seq 100); do
  win=$(xdotool search --name "^Kavel - " 2>/dev/null | head -1)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "FAIL: the kavel window did not open"; cat "$work/kavel.out"; exit 1; }

lit_fraction() {
  import -window root "$work/shot.png" 2>/dev/null
  convert "$work/shot.png" -colorspace gray -threshold 1% -format '%[fx:mean]' info:
}
# Waits (10 s at most) until more than the given fraction of the screen is lit.
wait_drawn() {  # fraction
  local f
  for _ in $(seq 50); do
    f=$(lit_fraction)
    awk -v f="$f" -v min="$1" 'BEGIN { exit !(f > min) }' && return 0
    sleep 0.2
  done
  return 1
}
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status"; }
check_rss() {  # what
  local kb
  kb=$(rss_kb)
  echo "VmRSS $1: $kb kB ($((kb / 1024)) MB)"
  [ -n "$kb" ] && [ "$kb" -lt "$limit_kb" ] || fail "$1: resident size $kb kB is not under $limit_kb kB"
}
check_no_gl() {  # what
  local libs
  libs=$(awk '$6 ~ /libGL|libEGL|libOpenGL|libLLVM|_dri\.so|libgallium/ { print $6 }' \
    "/proc/$pid/maps" | sort -u | tr '\n' ' ')
  [ -z "$libs" ] || fail "$1: OpenGL libraries are loaded: $libs"
}
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
check_idle() {  # what
  local t0 t1 _
  # On a busy machine the typed lines may still be echoing and drawing when
  # the typing ends: the idle time starts once half a second has passed
  # with no more than a tick of work (at most ten seconds of waiting).
  t0=$(cpu_ticks)
  for _ in $(seq 20); do
    sleep 0.5
    t1=$(cpu_ticks)
    [ $((t1 - t0)) -le 1 ] && break
    t0=$t1
  done
  # A session that stays busy fails both of two periods.  One period alone
  # has read high while other tests loaded the machine (2.6% and 3.2%, where
  # the same check reads 0.3-0.7% by itself), so a second is measured then.
  # Each period's ticks are shown second by second.
  local attempt pct ticks per
  for attempt in 1 2; do
    ticks=0 per=""
    for _ in $(seq "$idle_seconds"); do
      t0=$(cpu_ticks)
      sleep 1
      t1=$(cpu_ticks)
      ticks=$((ticks + t1 - t0))
      per="$per $((t1 - t0))"
    done
    pct=$(awk -v t="$ticks" -v hz="$hz" -v s="$idle_seconds" 'BEGIN { printf "%.2f", 100 * t / hz / s }')
    echo "idle CPU $1: $ticks ticks of 1/$hz s in $idle_seconds s ($pct% of a core; by second:$per)"
    awk -v p="$pct" 'BEGIN { exit !(p < 1) }' && return 0
  done
  fail "$1: idle CPU $pct% is not under 1% in two periods of $idle_seconds s"
}
# A few seconds of typing, every line echoed by the board and the screen
# scrolling when it is full.
type_lines() {
  local i
  for i in $(seq 12); do
    xdotool type --delay 15 "line $i of typed text echoed by the board"
    xdotool key Return
  done
  sleep 1
}

measure_mode() {  # what
  check_rss "$1, welcome screen"
  check_no_gl "$1"
  local before
  before=$(stat -c %s "$work/keys" 2>/dev/null || echo 0)
  type_lines
  local after
  after=$(stat -c %s "$work/keys" 2>/dev/null || echo 0)
  [ "$after" -gt $((before + 400)) ] || fail "$1: the board saw $((after - before)) typed bytes"
  check_rss "$1, after the echo"
  check_idle "$1"
  check_no_gl "$1, at the end"
}

geometry() { xdotool getwindowgeometry "$1" | awk '/Geometry/ { print $2 }'; }

xdotool windowfocus --sync "$win" 2>/dev/null
if wait_drawn 0.02; then
  size=$(geometry "$win")
  [ "$size" = 640x400 ] || fail "the normal window is $size, not 640x400"
  measure_mode "640x400 window"
else
  fail "the welcome screen did not appear in the window"
fi

# Alt+Enter: the medium window, with the welcome screen drawn again.
xdotool key alt+Return
sleep 1
win=$(xdotool search --name "^Kavel - " 2>/dev/null | head -1)
if [ -n "$win" ]; then
  xdotool windowfocus --sync "$win" 2>/dev/null
  size=$(geometry "$win")
  if [ "$size" = 640x400 ] || ! wait_drawn 0.1; then
    fail "the medium window did not appear (window $size)"
  else
    measure_mode "medium window $size"
  fi
else
  fail "no kavel window after Alt+Enter"
fi

# Alt+Enter again: full screen at the desktop's size, the grid centred.
xdotool key alt+Return
sleep 1
win=$(xdotool search --name "^Kavel - " 2>/dev/null | head -1)
if [ -n "$win" ]; then
  xdotool windowfocus --sync "$win" 2>/dev/null
  size=$(geometry "$win")
  if [ "$size" != 1920x1080 ] || ! wait_drawn 0.05; then
    fail "full screen did not appear (window $size)"
  else
    measure_mode "full screen $size"
  fi
else
  fail "no kavel window after the second Alt+Enter"
fi

kill -0 "$pid" 2>/dev/null || fail "kavel ended during the measurement: $(cat "$work/kavel.out")"
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "memory and idle CPU of a session window: all checks passed"
