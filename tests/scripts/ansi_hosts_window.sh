#!/usr/bin/env bash
# Real Unix programs through a real Telnet server in a real kavel window:
# inetutils telnetd on loopback (through socat) runs less, nano, top and
# vttest with the terminal type kavel announces (TERM=ansi), xdotool types,
# and each screen is read back from a screenshot of the window, glyph by
# glyph (lib/screen_text.py).  The same program with the same keys runs in
# tmux, a VT100-style terminal of 80 x 25, and both screens must hold the
# same text; top, whose figures change, is checked for its layout.
#
#   less   scrolling back line by line, by half and whole pages, and forward
#          again shows consecutive lines with the right one on top;
#   nano   an edited line shows exactly the text the saved file then holds;
#          scrolling down and back up through the file keeps its lines in
#          order;
#   top    refreshes in place: its header and column titles stay where they
#          are, every process row is a process row;
#   vttest the cursor-movement frame and the insert/delete screens;
#   and the cursor, which the host hides and shows again.
#
# KAVEL_E2E_KEEP=DIR keeps the screenshots (and the text read from them).
set -u
BUILD=${1:?build dir}
SRC=${2:?source dir}
KAVEL="$BUILD/kavel"
TELNETD=/usr/sbin/telnetd
FONT="$BUILD/Fonts/cp437.f16"
source "$(dirname "$0")/lib/window_harness.sh"
window_harness_init Xvfb xdotool convert import identify socat python3 tmux less nano top vttest
[ -x "$TELNETD" ] || { echo "SKIP: $TELNETD not installed"; exit 77; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: telnetd needs root for its pseudo-terminal"; exit 77; }
[ -x "$KAVEL" ] || { echo "FAIL: $KAVEL not built"; exit 1; }
[ -f "$FONT" ] || { echo "FAIL: $FONT not built"; exit 1; }
window_harness_start_xvfb
screen_text="$(dirname "$0")/lib/screen_text.py"

# --- the host: telnetd running one program -------------------------------------
# start_host PROGRAM ARGS... -> $port.  Every connection gets a telnetd that
# runs the program (bounded by timeout) instead of login.
start_host() {
  {
    echo '#!/bin/sh'
    echo "cd '$work'"
    # The window size arrives with the option negotiation; a program that
    # started before it would redraw on the change and clear its first
    # message, which the program in tmux still shows.
    echo 'sleep 1'
    printf 'exec timeout 120'
    printf ' %q' "$@"
    echo
  } >"$work/host.sh"
  chmod +x "$work/host.sh"
  port_free() { ! (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null; }
  local _ p
  for _ in 1 2 3 4 5; do
    p=$((20000 + RANDOM % 30000))
    port_free "$p" || continue
    socat TCP-LISTEN:"$p",bind=127.0.0.1,reuseaddr,fork EXEC:"$TELNETD -h -E $work/host.sh" \
      2>"$work/socat.err" &
    bbs_pid=$!
    for _ in $(seq 50); do
      port_free "$p" || { port=$p; return 0; }
      kill -0 "$bbs_pid" 2>/dev/null || break
      sleep 0.1
    done
  done
  return 1
}

start_kavel() {  # -> $kavel_pid, $win
  (cd "$BUILD" && exec timeout 120 ./kavel 127.0.0.1 "$port") >"$work/kavel.out" 2>&1 &
  kavel_pid=$!
  harness_find_window 1
}

stop_kavel() {
  if [ -n "$kavel_pid" ]; then
    kill "$kavel_pid" 2>/dev/null
    wait "$kavel_pid" 2>/dev/null
    kavel_pid=
  fi
  stop_bbs
}

keys() { xdotool key --delay 80 "$@"; sleep 0.6; }
typed() { xdotool type --delay 80 "$1"; sleep 0.6; }

# screen NAME: screenshot of the window, its text in $work/NAME.txt (one line
# per row), the rows in the array $rows.
screen() {
  local name=$1
  import -window "$win" "$work/$name.png" 2>/dev/null
  convert "$work/$name.png" -depth 8 "rgb:$work/$name.raw"
  local size
  size=$(identify -format '%w %h' "$work/$name.png")
  # shellcheck disable=SC2086
  python3 "$screen_text" "$work/$name.raw" $size "$FONT" >"$work/$name.txt"
  mapfile -t rows <"$work/$name.txt"
  [ -n "${KAVEL_E2E_KEEP:-}" ] && cp "$work/$name.txt" "$KAVEL_E2E_KEEP/"
  return 0
}

# Waits until row $1 of the screen matches the pattern $2 (up to $3 seconds).
wait_row() {
  local row=$1 pattern=$2 tries=$((${3:-5} * 4)) _
  for _ in $(seq "$tries"); do
    screen wait
    [[ "${rows[$row]:-}" =~ $pattern ]] && return 0
    sleep 0.25
  done
  return 1
}

# --- the reference: the same program in tmux ------------------------------------------
tmux_sock="$work/tmux.sock"
tmux_cleanup() { tmux -S "$tmux_sock" kill-server 2>/dev/null; }
trap 'tmux_cleanup; window_harness_cleanup' EXIT

# start_both NAME PROGRAM ARGS...: the program through telnetd in kavel, and
# in tmux, in the same directory with the same environment.
start_both() {
  local name=$1
  shift
  tmux_cleanup
  tmux -S "$tmux_sock" -f /dev/null new-session -d -s "$name" -x 80 -y 25 \
    "cd '$work' && exec env HOME='$work' LC_ALL=C $*" || return 1
  start_host env HOME="$work" LC_ALL=C "$@" && start_kavel
}

# press KEY...: xdotool key names, sent to kavel and (translated) to tmux.
press() {
  local k t
  for k in "$@"; do
    case $k in
      Return) t=Enter ;;
      BackSpace) t=BSpace ;;
      Page_Down) t=NPage ;;
      Page_Up) t=PPage ;;
      ctrl+?) t=C-${k#ctrl+} ;;
      *) t=$k ;;
    esac
    xdotool key "$k"
    tmux -S "$tmux_sock" send-keys "$t" 2>/dev/null
    sleep 0.12
  done
  sleep 0.5
}
type_both() {
  xdotool type --delay 80 "$1"
  tmux -S "$tmux_sock" send-keys -l "$1"
  sleep 0.5
}

# same NAME [SED]: waits (up to 6 s) until kavel's screen holds the text of
# tmux's (with the sed expression applied to tmux's, for a difference that
# is meant); prints the rows that differ when it does not.
same() {
  local name=$1 edit=${2:-} _
  for _ in $(seq 12); do
    tmux -S "$tmux_sock" capture-pane -p | sed -e 's/[[:space:]]*$//' -e "$edit" >"$work/$name.tmux"
    screen "$name"
    cmp -s "$work/$name.tmux" "$work/$name.txt" && return 0
    sleep 0.5
  done
  diff "$work/$name.tmux" "$work/$name.txt" | head -20 | sed 's/^/  /'
  return 1
}

keep() { [ -n "${KAVEL_E2E_KEEP:-}" ] && cp "$work/$1.png" "$KAVEL_E2E_KEEP/" 2>/dev/null; return 0; }

# --- the cursor: shown, hidden by the host, shown again ----------------------------------------
# The cursor is the only white (#FFFFFF) in the window here; it blinks
# (half a second on, half off), so each look takes five screenshots over
# about 1.5 s and counts the white afterwards.
start_host sh -c 'printf "shown "; sleep 6; printf "\033[?25lhidden "; sleep 6; printf "\033[?25hagain"; sleep 60' &&
  start_kavel || { echo "FAIL: could not start the cursor host"; exit 1; }
cursor_seen() {  # 1 when any of the screenshots shows the cursor
  local i
  for i in 1 2 3 4 5; do
    import -window "$win" "$work/cursor$i.png" 2>/dev/null
    sleep 0.15
  done
  for i in 1 2 3 4 5; do
    convert "$work/cursor$i.png" -depth 8 "rgb:$work/cursor$i.raw"
  done
  python3 -c 'import sys
print(int(any(b"\xff\xff\xff" in [d[i:i + 3] for i in range(0, len(d), 3)]
              for d in (open(f, "rb").read() for f in sys.argv[1:]))))' "$work"/cursor?.raw
}
# Six seconds per phase; each look falls inside one.
sleep_until() { [ "$SECONDS" -lt "$1" ] && sleep $(($1 - SECONDS)); return 0; }
SECONDS=0
expect "the cursor shows in a session" test "$(cursor_seen)" = 1
sleep_until 7
expect "ESC [ ? 25 l hides it" test "$(cursor_seen)" = 0
sleep_until 13
expect "ESC [ ? 25 h shows it again" test "$(cursor_seen)" = 1
stop_kavel

# --- less ----------------------------------------------------------------------------------
for i in $(seq 1 300); do printf 'line %03d\n' "$i"; done >"$work/numbers.txt"
start_both less env LESSHISTFILE=- less numbers.txt ||
  { echo "FAIL: could not start less through telnetd in a kavel window"; exit 1; }
expect "less: the first page" same less-first
press G
expect "less: G shows the last page" same less-end
press k k k
expect "less: three lines back, one at a time" same less-up3
keep less-up3
# shellcheck disable=SC2046
press $(printf 'k %.0s' $(seq 20))
expect "less: twenty more lines back" same less-up23
press u
expect "less: half a page back" same less-halfup
press b
expect "less: a page back" same less-pageup
keep less-pageup
press j j j d
expect "less: forward again" same less-forward
press g
expect "less: back to the top" same less-top
press q
stop_kavel

# --- nano ------------------------------------------------------------------------------------
# Each side edits its own copy; the saved files must agree too.
mkdir -p "$work/k" "$work/t"
for i in $(seq 1 60); do printf 'row %02d: the quick brown fox jumps\n' "$i"; done >"$work/k/story.txt"
cp "$work/k/story.txt" "$work/t/story.txt"
tmux_cleanup
tmux -S "$tmux_sock" -f /dev/null new-session -d -s nano -x 80 -y 25 \
  "cd '$work/t' && exec env HOME='$work/t' LC_ALL=C nano --ignorercfiles story.txt" &&
  start_host env HOME="$work/k" LC_ALL=C sh -c "cd k && exec nano --ignorercfiles story.txt" &&
  start_kavel || { echo "FAIL: could not start nano through telnetd in a kavel window"; exit 1; }
expect "nano: the file opens" same nano-open
press Down Down Right Right Right Right
type_both "XY"
expect "nano: typing inside a line" same nano-typed
press ctrl+d ctrl+d BackSpace
expect "nano: deleting forward and back" same nano-deleted
keep nano-deleted
press ctrl+v
expect "nano: a page down" same nano-pagedown
# shellcheck disable=SC2046
press $(printf 'Down %.0s' $(seq 25))
expect "nano: line by line down past the bottom" same nano-down
# shellcheck disable=SC2046
press $(printf 'Up %.0s' $(seq 45))
expect "nano: line by line up past the top" same nano-up
keep nano-up
press ctrl+o Return
expect "nano: saved" same nano-saved
press ctrl+x
sleep 1
expect "nano: both saved the same file" cmp -s "$work/k/story.txt" "$work/t/story.txt"
expect "nano: the edit reached the file" grep -qx 'row X: the quick brown fox jumps' "$work/k/story.txt"
stop_kavel
tmux_cleanup

# --- top ---------------------------------------------------------------------------------------
# Its figures change from second to second: the layout is checked instead.
start_host env HOME="$work" LC_ALL=C top -d 1 && start_kavel ||
  { echo "FAIL: could not start top through telnetd in a kavel window"; exit 1; }
sleep 3.5
screen top
keep top
top_layout() {
  [[ "${rows[0]}" =~ ^top\ -\  ]] || { echo "  row 0: ${rows[0]}"; return 1; }
  [[ "${rows[1]}" =~ ^Tasks: ]] || { echo "  row 1: ${rows[1]}"; return 1; }
  [[ "${rows[2]}" =~ ^%Cpu ]] || { echo "  row 2: ${rows[2]}"; return 1; }
  [[ "${rows[3]}" =~ Mem ]] || { echo "  row 3: ${rows[3]}"; return 1; }
  [[ "${rows[4]}" =~ Swap ]] || { echo "  row 4: ${rows[4]}"; return 1; }
  [ -z "${rows[5]}" ] || { echo "  row 5: ${rows[5]}"; return 1; }
  [[ "${rows[6]}" =~ ^\ *PID\ USER\ +PR\ +NI ]] || { echo "  row 6: ${rows[6]}"; return 1; }
  local r procs=0
  for r in $(seq 7 24); do
    [ -z "${rows[$r]}" ] && continue
    [[ "${rows[$r]}" =~ ^\ *[0-9]+\ [a-z_][a-z0-9_+-]*\ +[-0-9rt]+\ +[-0-9]+\  ]] ||
      { echo "  row $r: ${rows[$r]}"; return 1; }
    procs=$((procs + 1))
  done
  [ "$procs" -ge 3 ] || { echo "  only $procs process rows"; return 1; }
  ! grep -q $'\xef\xbf\xbd' "$work/top.txt" || { echo "  cells that are no glyph"; return 1; }
}
expect "top: the layout after a few refreshes" top_layout
sleep 2
screen top-later
expect "top: the layout two refreshes later" top_layout
expect "top: the clock moved on" test "$(head -1 "$work/top.txt")" != "$(head -1 "$work/top-later.txt")"
press q
stop_kavel

# --- vttest -----------------------------------------------------------------------------------
# 24 lines of 80 columns, and 80 for its 132-column passes too: kavel has
# neither 132 columns nor a use for a 25th line in these screens.
start_both vttest vttest 24x80.80 ||
  { echo "FAIL: could not start vttest through telnetd in a kavel window"; exit 1; }
expect "vttest: the menu" same vt-menu
# 1: cursor movements.  The frame is drawn with the cursor in column 80
# followed by moves relative to it: kavel wraps at once (as ANSI-BBS
# terminals do) where a VT100 waits, so the one '*' drawn right after the
# switch from NEL to line feed lands a row lower: at row 10 it is missing.
press 1 Return
expect "vttest: the cursor-movement frame (one '*' aside)" same vt-frame '11s/^\*/ /'
keep vt-frame
press Return
expect "vttest: the frame again" same vt-frame2 '11s/^\*/ /'
# The autowrap screens test the VT100's pending wrap and the next one
# control characters inside sequences, which kavel stores instead: skipped.
press Return Return Return
press Return
expect "vttest: leading zeros in sequences" same vt-zeros
press Return
expect "vttest: back at the menu" same vt-menu2
# 8: insert and delete, characters and lines, twice.
press 8 Return
for pass in 1 2; do
  expect "vttest $pass: the accordion's lines" same "vt-accordion$pass"
  press Return
  expect "vttest $pass: the accordion: A's, X's, the message, nothing more" same "vt-accordion-end$pass"
  keep "vt-accordion-end$pass"
  press Return
  expect "vttest $pass: insert mode" same "vt-irm$pass"
  press Return
  expect "vttest $pass: delete character" same "vt-dch$pass"
  press Return
  expect "vttest $pass: delete character staggers the right column" same "vt-dch-stagger$pass"
  keep "vt-dch-stagger$pass"
  press Return
  expect "vttest $pass: insert character staggers it back" same "vt-ich-stagger$pass"
  press Return
  expect "vttest $pass: the insert-character line" same "vt-ich-line$pass"
  keep "vt-ich-line$pass"
  press Return
done
expect "vttest: back at the menu after the insert/delete tests" same vt-menu3
press 0 Return
stop_kavel
tmux_cleanup

exit "$fail"
