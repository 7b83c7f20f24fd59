#!/usr/bin/env bash
# End to end: XMODEM in the real kavel window under Xvfb.  kavel-relay plays
# the BBS: it runs sx -k (its output slowed to 150 KB/s, so that the box can
# be seen) and then rx.  Alt+D, "X-Modem", "Save as" got.bin: the status box
# is up while the file comes in (screenshot), and got.bin in the download
# directory is the board's file plus the 0x1A padding of its last block.
# Alt+U, "X-Modem" and a file from the picker: rx receives it the same way.
# Then sb sends a YMODEM batch of two files: Alt+D, "Y-Modem" asks nothing
# and saves both under their own names, cut to their sizes; and rb takes
# Alt+U, "Y-Modem" with the file marked with Space in the picker.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
KAVEL="$BUILD/kavel"
RELAY="$BUILD/kavel-relay"
source "$(dirname "$0")/lib/window_harness.sh"
window_harness_init Xvfb xdotool convert import sx rx sb rb python3
for b in "$KAVEL" "$RELAY"; do [ -x "$b" ] || { echo "FAIL: $b not built"; exit 1; }; done
window_harness_start_xvfb

mkdir -p "$work/dl" "$work/ups" "$work/board"
head -c 600000 /dev/urandom >"$work/board/board.bin"
head -c 200000 /dev/urandom >"$work/ups/myfile.bin"
head -c 1234 /dev/urandom >"$work/board/second.bin"
printf 'download_path=%s\nupload_path=%s\n' "$work/dl" "$work/ups" >"$work/kavel.prefs"
cat >"$work/slow.py" <<'EOF'
import os, sys, time
rate = int(sys.argv[1])
while True:
    b = os.read(0, 4096)
    if not b:
        break
    os.write(1, b)
    time.sleep(len(b) / rate)
EOF

(cd "$work/board" && exec "$RELAY" --timeout 100 --quiet 0 sh -c \
  "sx -q -k board.bin | python3 '$work/slow.py' 150000; rx -q -b -c up.bin;
   sb -q board.bin second.bin | python3 '$work/slow.py' 300000; rb -q") \
  >"$work/relay.out" 2>&1 &
bbs_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n '1{/^[0-9][0-9]*$/p}' "$work/relay.out" 2>/dev/null)
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "FAIL: the relay did not start"; exit 1; }
(cd "$work" && exec timeout 90 "$KAVEL" 127.0.0.1 "$port") >"$work/kavel.out" 2>&1 &
kavel_pid=$!
harness_find_window 0.5 || { echo "FAIL: kavel window did not open"; exit 1; }

keys() { xdotool key --delay 60 "$@"; sleep 0.3; }
shot() { import -window root "$work/$1.png" 2>/dev/null; echo "$work/$1.png"; }
grey=$(printf '#%02X%02X%02X' 0xAA 0xAA 0xAA)
count_colour() {
  convert "$1" -fill white -opaque "$2" -fill black +opaque white -format '%[fx:int(mean*w*h)]' info:
}
# padded ORIGINAL RECEIVED: the original followed by fewer than 1024 bytes
# of 0x1A, the whole a multiple of 128.
padded() {
  [ -f "$2" ] || return 1
  local n m
  n=$(stat -c %s "$1"); m=$(stat -c %s "$2")
  [ $((m % 128)) = 0 ] && [ "$m" -ge "$n" ] && [ $((m - n)) -lt 1024 ] || return 1
  cmp -s -n "$n" "$1" "$2" || return 1
  [ "$(tail -c +$((n + 1)) "$2" | tr -d '\032' | wc -c)" = 0 ]
}
wait_for() {  # seconds command...: polls until the command succeeds
  local secs=$1; shift
  for _ in $(seq $((secs * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}

# --- Alt+D, X-Modem, Save as ---------------------------------------------------
before=$(count_colour "$(shot idle)" "$grey")
keys alt+d
keys Return
saveas=$(count_colour "$(shot saveas)" "$grey")
expect "the Save as prompt is up ($before -> $saveas grey pixels)" test "$saveas" -gt $((before + 10000))
xdotool type --delay 40 got.bin
keys Return
sleep 1.5
during=$(count_colour "$(shot download)" "$grey")
expect "the status box is up during the download ($during grey pixels)" \
  test "$during" -gt $((before + 20000))
expect "the download ends with the file plus its padding" \
  wait_for 30 padded "$work/board/board.bin" "$work/dl/got.bin"
# The box says for three seconds what was saved, then goes.
sleep 3.5
after=$(count_colour "$(shot after)" "$grey")
expect "the box is gone after the transfer ($after grey pixels)" test "$after" -lt $((before + 5000))

# --- Alt+U, X-Modem, a file from the picker ---------------------------------------------
keys alt+u
keys Return
sleep 0.3
shot picker >/dev/null
# The picker lists ".." first, then myfile.bin.
keys Down Return
sleep 0.3
shot upload >/dev/null
expect "rx receives the file plus its padding" \
  wait_for 30 padded "$work/ups/myfile.bin" "$work/board/up.bin"

# --- Alt+D, Y-Modem: the batch sb sends -----------------------------------------------------
sleep 3.5  # the upload's box goes
keys alt+d
keys Down Down Return
sleep 1
ybox=$(count_colour "$(shot ymodem)" "$grey")
expect "the YMODEM box is up during the download ($ybox grey pixels)" \
  test "$ybox" -gt $((before + 20000))
expect "the YMODEM batch arrives whole, cut to its sizes" \
  wait_for 30 bash -c "cmp -s '$work/board/board.bin' '$work/dl/board.bin' &&
    cmp -s '$work/board/second.bin' '$work/dl/second.bin'"

# --- Alt+U, Y-Modem, the file marked in the picker: rb -------------------------------------
sleep 3.5
keys alt+u
keys Down Down Return
keys Down space
shot ypicker >/dev/null
keys Return
expect "rb receives the marked file whole" \
  wait_for 30 cmp -s "$work/ups/myfile.bin" "$work/board/myfile.bin"
wait_for 10 bash -c "! kill -0 $bbs_pid 2>/dev/null"
wait "$bbs_pid" 2>/dev/null
relay_status=$?
bbs_pid=
expect "rx, sb and rb ended well (relay status $relay_status)" test "$relay_status" = 0

kill "$kavel_pid" 2>/dev/null
wait "$kavel_pid" 2>/dev/null
kavel_pid=
exit "$fail"
