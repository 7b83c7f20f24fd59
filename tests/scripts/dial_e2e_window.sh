#!/usr/bin/env bash
# End to end: a call from the phonebook menu with the dial sound on, in a
# real window under Xvfb, with SDL's file-writing audio driver standing in
# for the speakers (SDL_AUDIODRIVER=disk, SDL_DISKAUDIOFILE).
#   - Return shows the "Info" dialing box and the second recording plays;
#     Escape during the sound stops it at once and the test BBS gets no
#     connection; the menu comes back.
#   - Return again without Escape: the connection arrives after the whole
#     sound (about 15 s), and the driver got exactly the recording's samples.
#   - In the session Alt+E opens "Kavel - Phonebook" while the BBS keeps
#     sending (one green cell every 150 ms); Escape closes it and the grid
#     shows the cells that arrived meanwhile.
# Also reports the processor time kavel used while the box and the sound ran.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
SRC=${2:?source dir}
KAVEL="$BUILD/kavel"
BBS="$BUILD/kavel-testbbs"
WAV="$BUILD/sounds/modem02.wav"
source "$(dirname "$0")/lib/window_harness.sh"
window_harness_init Xvfb xdotool convert import python3
for f in "$KAVEL" "$BBS" "$WAV"; do [ -e "$f" ] || { echo "FAIL: $f not built"; exit 1; }; done
window_harness_start_xvfb

keys() { xdotool key --delay 120 "$@"; sleep 0.4; }
shot() { import -window root "$work/$1.png" 2>/dev/null; echo "$work/$1.png"; }
win_named() { xdotool search --name "$1" 2>/dev/null | head -1; }
wait_named() {  # title regex, tenths of a second -> $win
  win=
  local _
  for _ in $(seq "${2:-60}"); do
    win=$(win_named "$1")
    [ -n "$win" ] && return 0
    sleep 0.1
  done
  return 1
}
wait_gone() {  # title regex, tenths of a second
  local _
  for _ in $(seq "${2:-60}"); do
    [ -z "$(win_named "$1")" ] && return 0
    sleep 0.1
  done
  return 1
}
count_colour() {  # png colour
  convert "$1" -fill white -opaque "$2" -fill black +opaque white -format '%[fx:int(mean*w*h)]' info:
}
grey=$(printf '#%02X%02X%02X' 0xAA 0xAA 0xAA)
cyan=$(printf '#%02X%02X%02X' 0x55 0xFF 0xFF)
green=$(printf '#%02X%02X%02X' 0 0xAA 0)
ticks() { grep -c '^TICK' "$work/bbs.log" 2>/dev/null; }
# Processor time (user + system) of a process in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null; }
hz=$(getconf CLK_TCK)

"$BBS" --scenario ticker:150 --log "$work/bbs.log" --max-seconds 200 >"$work/bbs.out" 2>&1 &
bbs_pid=$!
window_harness_wait_port || { echo "FAIL: the test BBS did not start"; exit 1; }
printf '# Kavel Phonebook\nTicker Board|127.0.0.1|%s|ANSI|CP437||||Unknown|0|0|\n' "$port" \
  >"$work/kavel.phonebook"
printf 'modem_sound=1\nmodem_sound_choice=modem02\n' >"$work/kavel.prefs"

audio="$work/audio.raw"
(cd "$work" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$audio" exec timeout 200 "$KAVEL") \
  >"$work/kavel.out" 2>"$work/kavel.err" &
kavel_pid=$!
wait_named '^Kavel$' || { echo "FAIL: the menu window did not open"; cat "$work/kavel.err"; exit 1; }
menu=$win
xdotool windowfocus --sync "$menu" 2>/dev/null
sleep 0.8
program=$(pgrep -P "$kavel_pid" -x kavel || echo "$kavel_pid")

# --- a call cancelled during the sound ------------------------------------------
keys Return
sleep 1.5
png=$(shot dialing)
expect "the dialing box is drawn" [ "$(count_colour "$png" "$grey")" -gt 15000 ]
expect "no session window during the sound" [ -z "$(win_named '^Kavel - 127')" ]
expect "the sound reaches the audio driver" [ "$(stat -c %s "$audio" 2>/dev/null || echo 0)" -gt 5000 ]
t0=$(cpu_ticks "$program")
sleep 5
t1=$(cpu_ticks "$program")
png=$(shot dialing-later)
cpu=$(awk -v a="$t0" -v b="$t1" -v hz="$hz" 'BEGIN { printf "%.1f", (b - a) * 100 / hz / 5 }')
echo "  kavel used $cpu% of one core over 5 s of the dialing box and the sound"
expect "the dialing box and the sound loop stay light (under 5% of a core)" \
  awk -v c="$cpu" 'BEGIN { exit !(c < 5) }'
keys Escape
sleep 1.5
expect "Escape: the test BBS got no connection" bash -c "! grep -q CONNECT '$work/bbs.log'"
expect "the menu is still there" [ -n "$(win_named '^Kavel$')" ]
png=$(shot cancelled)
expect "the menu screen is drawn again" [ "$(count_colour "$png" "$cyan")" -gt 5000 ]
# The driver got the start of the recording and then only silence: the
# sound stopped at once (the device plays a tick ahead at most).
python3 - "$audio" "$WAV" >"$work/cancel.txt" <<'EOF'
import sys
d = open(sys.argv[1], 'rb').read()
w = open(sys.argv[2], 'rb').read()
pos = w.find(b'data')
size = int.from_bytes(w[pos + 4:pos + 8], 'little') & ~1  # an even count plays
samples = bytes((b - 128) & 0xFF for b in w[pos + 8:pos + 8 + size])
start = d.find(samples[:4096])
if start < 0:
    print('the recording\'s start is not in the driver output'); sys.exit(1)
n = 0
while start + n < len(d) and n < len(samples) and d[start + n] == samples[n]:
    n += 1
rest = d[start + n:]
print(f'{n} samples ({n / 11025:.1f} s) played, then {len(rest)} bytes, '
      f'{sum(1 for b in rest if b)} of them not silence')
sys.exit(0 if 11025 * 4 < n < 11025 * 14 and rest.count(0) == len(rest) else 1)
EOF
ok=$?
sed 's/^/  /' "$work/cancel.txt"
expect "the sound stopped at Escape (some 7 s into its 15), silence after it" [ "$ok" = 0 ]

# --- a call that waits for the whole sound ----------------------------------------
rm -f "$audio"
xdotool windowfocus --sync "$(win_named '^Kavel$')" 2>/dev/null
start=$(date +%s.%N)
keys Return
wait_named "^Kavel - 127\\.0\\.0\\.1:$port\$" 300 || { echo "FAIL: the session did not start"; exit 1; }
took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
echo "  the session window opened $took s after Return"
expect "the connection waited for the 15-second sound" awk -v t="$took" 'BEGIN { exit !(t >= 14.5) }'
sleep 1
expect "the test BBS got the call" grep -q CONNECT "$work/bbs.log"
python3 - "$audio" "$WAV" <<'EOF'
import sys
d = open(sys.argv[1], 'rb').read()
w = open(sys.argv[2], 'rb').read()
pos = w.find(b'data')
size = int.from_bytes(w[pos + 4:pos + 8], 'little') & ~1  # an even count plays
samples = bytes((b - 128) & 0xFF for b in w[pos + 8:pos + 8 + size])
sys.exit(0 if samples in d else 1)
EOF
expect "the driver got every sample of the recording, signed" [ $? = 0 ]

# --- the phonebook during the session ------------------------------------------------
session=$win
xdotool windowfocus --sync "$session" 2>/dev/null
sleep 1
keys alt+e
wait_named '^Kavel - Phonebook$' 30 || { echo "FAIL: Alt+E opened no phonebook"; exit 1; }
overlay=$win
xdotool windowfocus --sync "$overlay" 2>/dev/null
opened_at=$(ticks)
t0=$(cpu_ticks "$program")
sleep 3
t1=$(cpu_ticks "$program")
cpu=$(awk -v a="$t0" -v b="$t1" -v hz="$hz" 'BEGIN { printf "%.1f", (b - a) * 100 / hz / 3 }')
echo "  kavel used $cpu% of one core over 3 s with the phonebook open and the BBS sending"
expect "the phonebook over a live session stays light (under 5% of a core)" \
  awk -v c="$cpu" 'BEGIN { exit !(c < 5) }'
png=$(shot overlay)
expect "the phonebook is drawn over the session" [ "$(count_colour "$png" "$cyan")" -gt 5000 ]
keys Escape
closed_at=$(ticks)
expect "Escape closes it" wait_gone '^Kavel - Phonebook$' 30
sleep 0.8
png=$(shot after-overlay)
cells=$(( $(count_colour "$png" "$green") / 128 ))
echo "  $opened_at cells sent before Alt+E, $closed_at before Escape; $cells on screen after"
expect "the BBS kept sending while the phonebook was open" [ "$closed_at" -ge "$((opened_at + 10))" ]
expect "the grid shows what arrived meanwhile" [ "$cells" -ge "$closed_at" ]

# q makes the BBS hang up; a key dismisses the notice; Alt+X leaves.
xdotool windowfocus --sync "$session" 2>/dev/null
keys q
for _ in $(seq 10); do
  keys space
  [ -n "$(win_named '^Kavel$')" ] && break
done
expect "the menu comes back after the session" wait_named '^Kavel$' 50
xdotool windowfocus --sync "$win" 2>/dev/null
sleep 0.5
keys alt+x
keys y
harness_wait_kavel 10
expect "kavel leaves with status 0" [ "$status" = 0 ]
stop_bbs
[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
