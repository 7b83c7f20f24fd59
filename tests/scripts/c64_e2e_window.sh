#!/usr/bin/env bash
# End to end for Commodore 64 sessions: kavel-c64 in a real window under Xvfb
# against the test BBS's PETSCII board on loopback, driven by xdotool and
# read back from screenshots.  The board's C64 screen renders (blue and light
# blue, reverse video, the colour blocks); the terminal answers as a
# Commodore with a 40-column window; keys go out as PETSCII bytes in both
# character sets the board switches between; RUN/STOP keeps to its rate;
# the window modes and the 40-column full-screen scale keep the set the board
# chose; an 80-column font reports 80 columns.
set -u
BUILD=${1:?build dir}
SRC=${2:?source dir}
C64="$BUILD/kavel-c64"
BBS="$BUILD/kavel-testbbs"
source "$(dirname "$0")/lib/window_harness.sh"
window_harness_init Xvfb xdotool convert import compare
for b in "$C64" "$BBS"; do [ -x "$b" ] || { echo "FAIL: $b not built"; exit 1; }; done
window_harness_start_xvfb

start_bbs() {  # extra board options... -> $port
  rm -f "$work/bbs.out" "$work/keys" "$work/bbs.log"
  "$BBS" --scenario petscii --log "$work/bbs.log" --keys "$work/keys" --max-seconds 90 "$@" \
    >"$work/bbs.out" 2>&1 &
  bbs_pid=$!
  window_harness_wait_port
}

# kavel-c64 [options] on the board; waits for the window and the screen.
start_c64() {
  # Exec'd, so that the recorded id is kavel-c64's own.
  (cd "$BUILD" && exec timeout 90 ./kavel-c64 "$@" 127.0.0.1 "$port") >"$work/kavel.out" 2>&1 &
  kavel_pid=$!
  harness_find_window 1
}
wait_kavel() {  # seconds -> $status (124 when kavel did not end)
  status=124
  for _ in $(seq $(($1 * 10))); do
    if ! kill -0 "$kavel_pid" 2>/dev/null; then
      wait "$kavel_pid"; status=$?; kavel_pid=; return
    fi
    sleep 0.1
  done
}
focus() { win=$(xdotool search --name '^Kavel - ' | head -1); xdotool windowfocus --sync "$win" 2>/dev/null; }
keys() { xdotool key --delay 100 "$@"; sleep 0.5; }
geometry() { xdotool getwindowgeometry "$(xdotool search --name '^Kavel - ' | head -1)" | awk '/Geometry/{print $2}'; }
shot_window() { import -window "$win" "$work/$1.png" 2>/dev/null; echo "$work/$1.png"; }
shot_root() { import -window root "$work/$1.png" 2>/dev/null; echo "$work/$1.png"; }
# The distinct colours of one 16 x 16 cell (40 columns at scale 2), as a
# sorted list of hex values.
cell_colours() {  # png row col
  convert "$1" -crop "16x16+$(($3 * 16))+$(($2 * 16))" +repage -unique-colors -depth 8 txt:- |
    awk 'NR>1{print $3}' | sort | tr '\n' ' ' | sed 's/ $//'
}
# The same for a strip of whole rows.
rows_colours() {  # png first_row count
  convert "$1" -crop "640x$(($3 * 16))+0+$(($2 * 16))" +repage -unique-colors -depth 8 txt:- |
    awk 'NR>1{print $3}' | sort | tr '\n' ' ' | sed 's/ $//'
}
# Width of the area covered by one colour (trimmed bounding box).
colour_width() {  # png colour
  convert "$1" -fill white -opaque "$2" -fill black +opaque white -trim -format '%w' info:
}
differing() {  # a.png b.png -> pixels that differ
  local d
  d=$(compare -metric AE "$1" "$2" null: 2>&1)
  echo "${d%%.*}"
}
BLACK='#000000' BLUE='#0000AA' LIGHT_BLUE='#5555FF' WHITE='#FFFFFF'

# --- the board's screen, the negotiation, the keys ------------------------------------
start_bbs && start_c64 || { echo "FAIL: kavel-c64 window did not open"; exit 1; }
expect "40 columns at scale 2 make a 640x400 window (got $(geometry))" test "$(geometry)" = 640x400
expect "terminal types answered in turn: PETSCII, C64, COMMODORE" \
  test "$(awk '/^TTYPE/{printf "%s ", $2}' "$work/bbs.log")" = "PETSCII C64 COMMODORE "
expect "window size reported as 40 x 25" grep -qx "NAWS 40 25" "$work/bbs.log"

welcome=$(shot_window welcome)
expect "cell (0,0) is a reverse-video blank: solid blue" \
  test "$(cell_colours "$welcome" 0 0)" = "$BLUE"
expect "the reversed title letter K is black on blue" \
  test "$(cell_colours "$welcome" 1 13)" = "$BLACK $BLUE"
expect "the banner rows are light blue text on black" \
  test "$(rows_colours "$welcome" 4 2)" = "$BLACK $LIGHT_BLUE"
expect "the colour blocks: white, blue and light blue reverse cells" \
  test "$(cell_colours "$welcome" 7 2)|$(cell_colours "$welcome" 7 12)|$(cell_colours "$welcome" 7 28)" \
  = "$WHITE|$BLUE|$LIGHT_BLUE"

# The board ended its screen in the lower-case set.
keys a shift+a Up Down Right Left
upper_before=$(shot_window lower-set)
keys ctrl+o  # the board answers with the upper-case switch
upper_after=$(shot_window upper-set)
changed=$(differing "$upper_before" "$upper_after")
expect "the case switch redraws the screen in the other set ($changed pixels changed)" \
  test "$changed" -gt 2000
keys a shift+a
# Two presses of RUN/STOP 20 ms apart: the second is within the 250 ms the
# key keeps to (at the 100 ms of the other keys, a loaded machine could
# stretch the gap past it).
xdotool key --delay 20 ctrl+c ctrl+c
sleep 0.5
keys Prior Home BackSpace Return
typed=$(od -An -tx1 -v "$work/keys" | tr -s ' \n' ' ')
expect "keys arrive as PETSCII: a 41, Shift-a c1 in both sets, cursor 91 11 1d 9d, one RUN/STOP, Page Up nothing, Home 13, DEL 14, CR (got$typed)" \
  test "$typed" = " 41 c1 91 11 1d 9d 0f 41 c1 03 13 14 0d "
sleep 0.3
keys ctrl+c
expect "RUN/STOP again after 250 ms" test "$(grep -c '^STOP' "$work/bbs.log")" -eq 2
keys ctrl+n  # back to lower case for the mode cycle
before=$(shot_window before-cycle)

# --- window modes and the full-screen 40-column scale keep the board's set ---------------
sizes=("$(geometry)")
keys alt+Return
sleep 0.5
sizes+=("$(geometry)")
focus
keys alt+Return
sleep 0.5
sizes+=("$(geometry)")
focus
full4=$(shot_root full-scale4)
keys alt+s
full2=$(shot_root full-scale2)
sleep 0.3
keys alt+s
full4b=$(shot_root full-scale4-again)
w4=$(colour_width "$full4" "$BLUE")
w2=$(colour_width "$full2" "$BLUE")
w4b=$(colour_width "$full4b" "$BLUE")
expect "full screen shows 40 columns at scale 4, Alt+S halves it and doubles it back ($w4 -> $w2 -> $w4b pixels)" \
  test "$w4 $w2 $w4b" = "1280 640 1280"
focus
keys alt+Return
sleep 0.5
sizes+=("$(geometry)")
echo "window sizes: ${sizes[*]}"
expect "medium window is 960x600 and full screen covers the screen" \
  test "${sizes[1]} ${sizes[2]}" = "960x600 1920x1080"
expect "the cycle returns to the 640x400 window" test "${sizes[3]}" = 640x400
focus
after=$(shot_window after-cycle)
changed=$(differing "$before" "$after")
expect "the screen after the round trip is the one before, in the board's set ($changed pixels differ)" \
  test "$changed" -lt 600

# --- the board hangs up on Q: the notice waits for a key ----------------------------------
keys q
sleep 0.5
expect "the board saw QUIT" grep -q QUIT "$work/bbs.log"
expect "kavel-c64 waits on the Disconnected notice" kill -0 "$kavel_pid"
keys space
wait_kavel 5
expect "a key ends kavel-c64 with status 0 (got $status)" test "$status" -eq 0
stop_bbs

# --- an 80-column C64 font ------------------------------------------------------------------
start_bbs && start_c64 --font "C64 Up/GFX [80]" || { echo "FAIL: kavel-c64 window did not open"; exit 1; }
expect "80 columns at scale 1 make a 640x200 window (got $(geometry))" test "$(geometry)" = 640x200
expect "window size reported as 80 x 25" grep -qx "NAWS 80 25" "$work/bbs.log"
keys a shift+a
expect "the 80-column session types PETSCII too" \
  test "$(od -An -tx1 -v "$work/keys" | tr -s ' \n' ' ')" = " 41 c1 "
keys ctrl+bracketright
wait_kavel 5
expect "Ctrl+] hangs up at once with status 0 (got $status)" test "$status" -eq 0
stop_bbs

exit "$fail"
