#!/usr/bin/env bash
# End to end: kavel -p FILE opens the phonebook menu in a real window under
# Xvfb, driven with xdotool.  The phonebook points at two test BBS instances
# on loopback; the cursor keys select the second, Return calls it (only that
# BBS gets the connection; its font is not installed, so the CP437 glyphs
# stand in), Alt+Enter cycles window, medium window and full
# screen during the call, the BBS hangs up, a key dismisses the notice and
# the menu comes back with the last-call date stamped for that entry only.
# Alt+Enter cycles the menu's own modes.  A third entry names a closed port:
# "Unable to connect" says why on a second line.  In the entry editor a
# password being typed shows as stars, and Escape after a change asks
# "Discard changes?".  Alt+X asks and y leaves with 0.
set -u
BUILD=${1:?build dir}
SRC=${2:?source dir}
KAVEL="$BUILD/kavel"
BBS="$BUILD/kavel-testbbs"
source "$(dirname "$0")/lib/window_harness.sh"
window_harness_init Xvfb xdotool convert import
for b in "$KAVEL" "$BBS"; do [ -x "$b" ] || { echo "FAIL: $b not built"; exit 1; }; done
window_harness_start_xvfb

bbs2_pid=
start_two_bbs() {  # -> $port_a, $port_b
  "$BBS" --scenario welcome --log "$work/a.log" --welcome "$SRC/assets/testbbs/welcome.ans" \
    --max-seconds 90 >"$work/bbs.out" 2>&1 &
  bbs_pid=$!
  window_harness_wait_port || return 1
  port_a=$port
  "$BBS" --scenario welcome --log "$work/b.log" --welcome "$SRC/assets/testbbs/welcome.ans" \
    --max-seconds 90 >"$work/bbs2.out" 2>&1 &
  bbs2_pid=$!
  port_b=
  for _ in $(seq 50); do
    port_b=$(awk '/^PORT/{print $2}' "$work/bbs2.out" 2>/dev/null)
    [ -n "$port_b" ] && break
    sleep 0.1
  done
  [ -n "$port_b" ]
}
keys() { xdotool key --delay 120 "$@"; sleep 0.6; }
shot() { import -window root "$work/$1.png" 2>/dev/null; echo "$work/$1.png"; }
win_named() { xdotool search --name "$1" 2>/dev/null | head -1; }
wait_named() {  # title regex -> $win
  win=
  for _ in $(seq 60); do
    win=$(win_named "$1")
    [ -n "$win" ] && return 0
    sleep 0.1
  done
  return 1
}
size_of() { xdotool getwindowgeometry "$1" | awk '/Geometry/{print $2}'; }
# Pixels of one colour in a screenshot.
count_colour() {  # png colour
  convert "$1" -fill white -opaque "$2" -fill black +opaque white -format '%[fx:int(mean*w*h)]' info:
}
blue=$(printf '#%02X%02X%02X' 0 0 0xAA)
cyan=$(printf '#%02X%02X%02X' 0x55 0xFF 0xFF)
FONT="$BUILD/Fonts/cp437.f16"
# Whether a window's picture shows TEXT in the 8x16 glyphs, black on the
# popups' grey, anywhere (the popups sit at no cell of the grid).
popup_says() {  # png text
  convert "$1" -depth 8 rgb:"$work/popup.raw"
  python3 - "$work/popup.raw" "$(identify -format %w "$1")" "$FONT" "$2" <<'PY'
import sys
raw, width, font, text = open(sys.argv[1], 'rb').read(), int(sys.argv[2]), open(sys.argv[3], 'rb').read(), sys.argv[4]
height = len(raw) // (width * 3)
ink, face = b'\x00\x00\x00', b'\xaa\xaa\xaa'
rows = [[font[ord(c) * 16 + y] for c in text] for y in range(16)]
def matches(x0, y0):
    for y in range(16):
        line = y0 + y
        for i, bits in enumerate(rows[y]):
            for b in range(8):
                o = (line * width + x0 + i * 8 + b) * 3
                if raw[o:o + 3] != (ink if bits & (0x80 >> b) else face):
                    return False
    return True
w = len(text) * 8
sys.exit(0 if any(matches(x, y) for y in range(height - 15) for x in range(width - w + 1)
                  if raw[(y * width + x) * 3:(y * width + x) * 3 + 3] in (ink, face)) else 1)
PY
}
# The 80 x 25 grid of a 640x400 menu window as text.
window_text() {  # png -> text on stdout
  convert "$1" -depth 8 rgb:"$work/grid.raw"
  python3 "$(dirname "$0")/lib/screen_text.py" "$work/grid.raw" 640 400 "$FONT"
}

start_two_bbs || { echo "FAIL: test BBS did not start"; exit 1; }
book="$work/book"
closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# The second board names a system font this machine does not have (a
# phonebook from elsewhere): its session opens with the CP437 glyphs.
printf '# Kavel Phonebook\nFirst Board|127.0.0.1|%s|ANSI|CP437||||Unknown|0|0|\nSecond Board|127.0.0.1|%s|ANSI|Kavel Missing Face||||Unknown|0|0|\nClosed Board|127.0.0.1|%s|ANSI|CP437||||Unknown|0|0|\n' \
  "$port_a" "$port_b" "$closed" >"$book"

(cd "$BUILD" && exec timeout 90 ./kavel -p "$book") >"$work/kavel.out" 2>&1 &
kavel_pid=$!
wait_named '^Kavel$' || { echo "FAIL: the menu window did not open"; cat "$work/kavel.out"; exit 1; }
xdotool windowfocus --sync "$win" 2>/dev/null
sleep 0.8
expect "the menu opens as a 640x400 window" [ "$(size_of "$win")" = 640x400 ]
png=$(shot menu)
expect "the logo is drawn" [ "$(count_colour "$png" "$cyan")" -gt 5000 ]
expect "the selection bar is on the first entry" [ "$(count_colour "$png" "$blue")" -gt 5000 ]

# Down, Up, Down: the second entry.  Return calls it.
keys Down Up Down
keys Return
wait_named '^Kavel - 127\.0\.0\.1:' || { echo "FAIL: the session window did not open"; exit 1; }
expect "the session title names the second BBS's port" \
  [ "$(xdotool getwindowname "$win")" = "Kavel - 127.0.0.1:$port_b" ]
sleep 1
expect "the second BBS got the connection" grep -q CONNECT "$work/b.log"
expect "its missing font is named once, and the CP437 glyphs stand in" \
  [ "$(grep -c 'Kavel font warning: system font "Kavel Missing Face" not found; using the CP437 bitmap font.' "$work/kavel.out")" = 1 ]
expect "the first BBS did not" bash -c "! grep -q CONNECT '$work/a.log' 2>/dev/null"
shot session >/dev/null

# Alt+Enter during the call: medium window, full screen, window again.
# Waits up to 5 s for a window of this title and size; focuses it.
wait_sized() {  # title regex, size
  local _
  for _ in $(seq 50); do
    win=$(win_named "$1")
    if [ -n "$win" ] && [ "$(size_of "$win" 2>/dev/null)" = "$2" ]; then
      xdotool windowfocus --sync "$win" 2>/dev/null
      sleep 0.3
      return 0
    fi
    sleep 0.1
  done
  return 1
}
for want in 1280x800 1920x1080 640x400; do
  keys alt+Return
  expect "during the call Alt+Enter gives $want" wait_sized '^Kavel - ' "$want"
  shot "session-$want" >/dev/null
done

# q makes the BBS hang up; the notice waits for a key; the menu comes back.
xdotool windowfocus --sync "$win" 2>/dev/null
keys q
sleep 0.5
shot notice >/dev/null
# A key that arrives before the hang-up is seen goes to the BBS: press
# until the notice takes one.
for _ in $(seq 10); do
  keys space
  wait_named '^Kavel$' && break
done
[ -n "$win" ] || { echo "FAIL: the menu did not come back"; exit 1; }
sleep 0.8
expect "the menu window is back where the session window was" [ "$(size_of "$win")" = 640x400 ]
today=$(date +%Y-%m-%d)
expect "the called entry is stamped" grep -q "^Second Board|127.0.0.1|$port_b|ANSI|Kavel Missing Face||||$today|1|0|" "$book"
expect "the other entry is not" grep -q "^First Board|127.0.0.1|$port_a|ANSI|CP437||||Unknown|0|0|" "$book"
png=$(shot menu-back)
expect "the menu is drawn again" [ "$(count_colour "$png" "$cyan")" -gt 5000 ]

# Alt+Enter in the menu: medium window, full screen (with the top bar), window.
xdotool windowfocus --sync "$win" 2>/dev/null
for want in 1280x800 1920x1080 640x400; do
  keys alt+Return
  expect "in the menu Alt+Enter gives $want" wait_sized '^Kavel$' "$want"
  png=$(shot "menu-$want")
  expect "the menu is drawn at $want" [ "$(count_colour "$png" "$cyan")" -gt 5000 ]
done

# A call that is refused: the reason under "Unable to connect".
xdotool windowfocus --sync "$win" 2>/dev/null
keys Down
xdotool key Return
sleep 0.8
png=$(import -window "$win" "$work/refused.png" 2>/dev/null; echo "$work/refused.png")
expect "a refused call shows \"Unable to connect\"" popup_says "$png" "Unable to connect"
expect "and why: \"Connection refused\"" popup_says "$png" "Connection refused"
sleep 2

# The entry editor: a password being typed is stars; Escape after a change
# asks before dropping it.
keys alt+e
keys Right Down Return
xdotool type --delay 80 "s3cret"
sleep 0.6
import -window "$win" "$work/password.png" 2>/dev/null
window_text "$work/password.png" >"$work/password.txt"
expect "the password being typed shows one star per character" \
  grep -qE 'Password   [*]{6}( |$)' "$work/password.txt"
expect "and not the text" bash -c "! grep -q s3cret '$work/password.txt'"
keys Escape Left Up Return
xdotool type --delay 80 "X"
keys Return Escape
import -window "$win" "$work/discard.png" 2>/dev/null
expect "Escape after a change asks \"Discard changes?\"" popup_says "$work/discard.png" "Discard changes?"
keys y
expect "yes drops the change" grep -q "^Closed Board|127.0.0.1|$closed|" "$book"

# Alt+X asks; n stays, y leaves with status 0.
xdotool windowfocus --sync "$win" 2>/dev/null
keys alt+x
keys n
expect "Alt+X answered no keeps the menu" kill -0 "$kavel_pid"
keys alt+x
keys y
status=124
for _ in $(seq 50); do
  if ! kill -0 "$kavel_pid" 2>/dev/null; then wait "$kavel_pid"; status=$?; kavel_pid=; break; fi
  sleep 0.1
done
expect "Alt+X answered yes leaves with status 0" [ "$status" -eq 0 ]
kill "$bbs2_pid" 2>/dev/null
stop_bbs
[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
