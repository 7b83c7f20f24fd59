#!/usr/bin/env bash
# End to end: the scrollback viewer, the paste and the forms in real windows
# under Xvfb, with xclip as the other desktop program and xdotool as the user.
#   - Alt+B over a session with the test BBS opens "Kavel Scrollback"; its
#     scratch file is owner-only and goes when the viewer closes;
#   - a mouse drag copies text that xclip reads back as the expected UTF-8
#     (box drawing included), from the clipboard and the PRIMARY selection;
#     the copied text stays highlighted; a program that asks for it and
#     leaves before the answer does not end Kavel;
#   - xclip's text pasted with Alt+V reaches the BBS with CR line ends, 255
#     doubled on the wire (the BBS reads it back as one 255), CP437 for
#     box drawing;
#   - in the menu, Alt+E edits an entry (typed and pasted text) and the file
#     changes accordingly; Alt+G saves the settings to kavel.prefs.
# Usage: clipboard_e2e_window.sh BUILD_DIR SOURCE_DIR   (exit 77: skipped)
set -u
# Byte offsets in the scratch file are columns: one CP437 byte per cell.
export LC_ALL=C
BUILD=${1:?build dir}
SRC=${2:?source dir}
KAVEL="$BUILD/kavel"
BBS="$BUILD/kavel-testbbs"
source "$(dirname "$0")/lib/window_harness.sh"
window_harness_init Xvfb xdotool xclip convert import
for b in "$KAVEL" "$BBS"; do [ -x "$b" ] || { echo "FAIL: $b not built"; exit 1; }; done

xclip_pid=
stop_xclip() { [ -n "$xclip_pid" ] && { kill "$xclip_pid" 2>/dev/null; wait "$xclip_pid" 2>/dev/null; }; xclip_pid=; }
trap 'stop_xclip; window_harness_cleanup' EXIT
window_harness_start_xvfb

keys() { xdotool key --delay 80 "$@"; sleep 0.5; }
shot() { import -window root "$work/$1.png" 2>/dev/null; echo "$work/$1.png"; }
win_named() { xdotool search --name "$1" 2>/dev/null | head -1; }
wait_named() {  # title regex -> $win
  win=
  for _ in $(seq 100); do
    win=$(win_named "$1")
    [ -n "$win" ] && return 0
    sleep 0.1
  done
  return 1
}
wait_gone() {  # title regex
  for _ in $(seq 100); do
    [ -z "$(win_named "$1")" ] && return 0
    sleep 0.1
  done
  return 1
}
# Polls until the file holds the expected bytes (the machine may be slow).
wait_bytes() {  # file expected-file [bytes of the file to skip]
  for _ in $(seq 100); do
    cmp -s <(tail -c +$((${3:-0} + 1)) "$1") "$2" && return 0
    sleep 0.1
  done
  echo "  got:      $(tail -c +$((${3:-0} + 1)) "$1" | od -An -c | head -3)"
  echo "  expected: $(od -An -c "$2" | head -3)"
  return 1
}
# Another program copies a file's text.
xclip_copy() {  # file
  stop_xclip
  timeout 60 xclip -quiet -selection clipboard -i "$1" >/dev/null 2>&1 &
  xclip_pid=$!
  for _ in $(seq 50); do
    timeout 5 xclip -o -selection clipboard -t TARGETS 2>/dev/null | grep -q . && return 0
    sleep 0.1
  done
  return 1
}
# The scratch file goes to the runtime directory: one of the test's own.
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
scratch_files() { ls "$XDG_RUNTIME_DIR"/kavel_scrollback.*.tmp 2>/dev/null; }

# --- a session with the test BBS: the scrollback viewer and a drag ------------------
rm -f "$XDG_RUNTIME_DIR"/kavel_scrollback.*.tmp
"$BBS" --scenario echo --log "$work/bbs.log" --keys "$work/keys" \
  --welcome "$SRC/assets/testbbs/welcome.ans" --max-seconds 90 >"$work/bbs.out" 2>&1 &
bbs_pid=$!
window_harness_wait_port || { echo "FAIL: the test BBS did not start"; exit 1; }
(cd "$BUILD" && exec timeout 90 ./kavel 127.0.0.1 "$port") >"$work/kavel.out" 2>&1 &
kavel_pid=$!
wait_named '^Kavel - ' || { echo "FAIL: the session window did not open"; exit 1; }
term_win=$win
xdotool windowfocus --sync "$term_win" 2>/dev/null
sleep 1
xdotool type --delay 60 "Drag me: ABC"
keys Return

# --- Alt+V: xclip's text to the BBS --------------------------------------------------
# The board echoes what it gets, so the pasted box drawing is on screen next.
printf 'dir\nlist\r\nx\xc2\xa0y\tz\xe2\x94\x82end\nBox: \xe2\x95\x90\xe2\x95\xac\xe2\x95\x90\n' >"$work/paste.utf8"
printf 'dir\rlist\rx\xffy\tz\xb3end\rBox: \xcd\xce\xcd\r' >"$work/paste.expected"
xclip_copy "$work/paste.utf8" || echo "FAIL: xclip did not take the clipboard"
xdotool windowfocus --sync "$term_win" 2>/dev/null
sent_before=$(stat -c %s "$work/keys")
keys alt+v
expect "Alt+V sends CR line ends, 255 doubled (one 255 after Telnet), CP437 box drawing" \
  wait_bytes "$work/keys" "$work/paste.expected" "$sent_before"
stop_xclip
sleep 0.5

keys alt+b
wait_named '^Kavel Scrollback$' || { echo "FAIL: Alt+B opened no scrollback window"; exit 1; }
sb_win=$win
sleep 0.8
shot scrollback >/dev/null
scratch=$(scratch_files | head -1)
expect "the viewer's scratch file exists while it is open" test -n "$scratch"
expect "  and is owner-only" test "$(stat -c %a "$scratch" 2>/dev/null)" = 600
# The viewer opens on the last rows of the text; Home shows the first ones,
# 23 of them in a 640x400 window (16-pixel rows under a header row).
xdotool windowfocus --sync "$sb_win" 2>/dev/null
keys Home
line=$(grep -n 'Drag me: ABC' "$scratch" | tail -1 | cut -d: -f1)
expect "the typed line is in the viewer's text" test -n "$line"
top=0
row=$((line - 1 - top))
col=$(( $(sed -n "${line}p" "$scratch" | grep -bo 'Drag me' | cut -d: -f1) ))
y=$((1 + (row + 1) * 16 + 8))
x0=$((2 + col * 8 + 4))
x1=$((2 + (col + 11) * 8 + 4))
xdotool mousemove --window "$sb_win" "$x0" "$y" mousedown 1 sleep 0.2 \
  mousemove --window "$sb_win" $((x0 + 40)) "$y" sleep 0.2 \
  mousemove --window "$sb_win" "$x1" "$y" sleep 0.2 mouseup 1
sleep 0.5
shot scrollback_copied >/dev/null
copied=
for _ in $(seq 30); do
  copied=$(timeout 5 xclip -o -selection clipboard 2>/dev/null)
  [ "$copied" = "Drag me: ABC" ] && break
  sleep 0.2
done
expect "a drag copies the text that xclip reads back (got '$copied')" test "$copied" = "Drag me: ABC"
primary=$(timeout 5 xclip -o -selection primary 2>/dev/null)
expect "  and the PRIMARY selection holds it too, for a middle click (got '$primary')" \
  test "$primary" = "Drag me: ABC"
# The copied text stays highlighted (white on brown) after the release.
brown=$(convert "$work/scrollback_copied.png" -fill white -opaque '#AA5500' -fill black \
  +opaque white -format '%[fx:int(mean*w*h)]' info:)
expect "  and stays highlighted after the button is released ($brown brown pixels)" \
  [ "$brown" -ge $((11 * 8 * 16 / 2)) ]
# A program that asks for the clipboard and is gone before Kavel answers
# (here Kavel is held still meanwhile) does not end Kavel.
kpid=$(pgrep -P "$kavel_pid" | head -1)
kill -STOP "$kpid"
timeout 1 xclip -o -selection clipboard >/dev/null 2>&1
kill -CONT "$kpid"
sleep 1
expect "a clipboard request whose program left does not end Kavel" kill -0 "$kpid"
# A drag over the box drawing the board echoed gives the same characters.
box_line=$(grep -an $'\xcd\xce\xcd' "$scratch" | head -1 | cut -d: -f1)
expect "the pasted box drawing is in the viewer's text as CP437" test -n "$box_line"
if [ -n "$box_line" ]; then
  brow=$((box_line - 1 - top))
  bcol=$(sed -n "${box_line}p" "$scratch" | grep -abo $'\xcd\xce\xcd' | head -1 | cut -d: -f1)
  by=$((1 + (brow + 1) * 16 + 8))
  xdotool mousemove --window "$sb_win" $((2 + bcol * 8 + 4)) "$by" mousedown 1 sleep 0.2 \
    mousemove --window "$sb_win" $((2 + (bcol + 2) * 8 + 4)) "$by" sleep 0.2 mouseup 1
  sleep 0.5
  boxes=
  for _ in $(seq 30); do
    boxes=$(timeout 5 xclip -o -selection clipboard 2>/dev/null)
    [ "$boxes" = "═╬═" ] && break
    sleep 0.2
  done
  expect "box drawing arrives in xclip as Unicode box drawing (got '$boxes')" test "$boxes" = "═╬═"
fi
xdotool windowfocus --sync "$sb_win" 2>/dev/null
keys Escape
expect "Escape closes the viewer" wait_gone '^Kavel Scrollback$'
expect "  and its scratch file is gone" test -z "$(scratch_files)"
expect "the session is still running" kill -0 "$kavel_pid"

xdotool windowfocus --sync "$term_win" 2>/dev/null
keys ctrl+bracketright
harness_wait_kavel 5
expect "the session ends with status 0 (got $status)" test "$status" -eq 0
[ "$status" -eq 0 ] || cat "$work/kavel.out"
stop_bbs

# --- the menu: Alt+E edits an entry, Alt+G saves the settings --------------------------
book="$work/book"
printf '# Kavel Phonebook\nFirst Board|first.example|23|ANSI|CP437||||Unknown|0|0|\nSecond Board|second.example|2323|ANSI|CP437||||Unknown|0|0|\n' >"$book"
cp "$BUILD/kavel.prefs" "$work/prefs.saved" 2>/dev/null || true
(cd "$BUILD" && exec timeout 90 ./kavel -p "$book") >"$work/kavel.out" 2>&1 &
kavel_pid=$!
wait_named '^Kavel$' || { echo "FAIL: the menu window did not open"; exit 1; }
xdotool windowfocus --sync "$win" 2>/dev/null
sleep 0.8
printf 'pasted.example' >"$work/addr.utf8"
xclip_copy "$work/addr.utf8"
xdotool windowfocus --sync "$win" 2>/dev/null
keys Down alt+e
sleep 0.5
# Name: End of the text, type; Address: cleared, pasted; Save.
keys Return
xdotool type --delay 60 " BBS"
keys Return Down Return
keys ctrl+a BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace \
  BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace
keys alt+v
shot form_editing >/dev/null
keys Return alt+s
sleep 1.5
stop_xclip
expect "Alt+E saved the edited entry to the file" \
  grep -qx 'Second Board BBS|pasted.example|2323|ANSI|CP437||||Unknown|0|0|' "$book"
expect "  and left the other entry alone" \
  grep -qx 'First Board|first.example|23|ANSI|CP437||||Unknown|0|0|' "$book"
keys alt+g
sleep 0.5
shot settings >/dev/null
keys Down Down Return alt+s
sleep 1.5
# The settings file in use: the start directory's when there is one, else
# the one in the (test's own) configuration directory.
prefs="$HOME/.config/kavel/kavel.prefs"
[ -f "$work/prefs.saved" ] && prefs="$BUILD/kavel.prefs"
expect "Alt+G saved the settings with the bell off" grep -qx 'beep_sound=0' "$prefs"
keys alt+x
keys y
harness_wait_kavel 5
expect "the menu ends with status 0 (got $status)" test "$status" -eq 0
[ "$status" -eq 0 ] || cat "$work/kavel.out"
if [ -f "$work/prefs.saved" ]; then cp "$work/prefs.saved" "$BUILD/kavel.prefs"; else rm -f "$BUILD/kavel.prefs"; fi

[ "$fail" = 0 ] && echo "clipboard_e2e_window: all passed"
exit "$fail"
