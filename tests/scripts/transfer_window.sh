#!/usr/bin/env bash
# End to end: ZMODEM in the real kavel window under Xvfb against the test
# BBS's "zmodem" board, which runs lrzsz on request.  "d" starts sz: the
# download starts by itself, the status box is up while it runs (screenshot),
# the file lands in the download directory of kavel.prefs, identical, and
# for three seconds the box says so ("Saved board.bin (1.0 MB)" and where,
# read back from a screenshot) before it goes.  The
# same file again: the file-exists prompt is up, and left alone it renames
# after 5 s while the connection stays served.  Alt+U, Z-Modem and a file
# from the picker upload into rz, identical.  Escape during a download
# cancels it: the box says so for a moment and goes, the partial file
# stays, the session goes on, sz ends; the same file offered again, the
# prompt's Resume (U) completes the partial file, identical.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
SRC=${2:?source dir}
KAVEL="$BUILD/kavel"
BBS="$BUILD/kavel-testbbs"
source "$(dirname "$0")/lib/window_harness.sh"
window_harness_init Xvfb xdotool convert import identify python3 sz rz
FONT="$BUILD/Fonts/cp437.f16"
for b in "$KAVEL" "$BBS" "$FONT"; do [ -e "$b" ] || { echo "FAIL: $b not built"; exit 1; }; done
window_harness_start_xvfb

mkdir -p "$work/dl" "$work/ups" "$work/rz" "$work/files"
head -c 1048576 /dev/urandom >"$work/files/board.bin"
head -c 300000 /dev/urandom >"$work/ups/myfile.bin"
printf 'download_path=%s\nupload_path=%s\n' "$work/dl" "$work/ups" >"$work/kavel.prefs"

"$BBS" --scenario zmodem --sz-file "$work/files/board.bin" --rz-dir "$work/rz" --rate 250000 \
  --log "$work/bbs.log" --max-seconds 120 >"$work/bbs.out" 2>&1 &
bbs_pid=$!
window_harness_wait_port || { echo "FAIL: the test BBS did not start"; exit 1; }
(cd "$work" && exec timeout 110 "$KAVEL" 127.0.0.1 "$port") >"$work/kavel.out" 2>&1 &
kavel_pid=$!
harness_find_window 0.5 || { echo "FAIL: kavel window did not open"; exit 1; }

keys() { xdotool key --delay 60 "$@"; sleep 0.3; }
shot() { import -window root "$work/$1.png" 2>/dev/null; echo "$work/$1.png"; }
grey=$(printf '#%02X%02X%02X' 0xAA 0xAA 0xAA)
count_colour() {
  convert "$1" -fill white -opaque "$2" -fill black +opaque white -format '%[fx:int(mean*w*h)]' info:
}
# box_text NAME: the text in a screenshot of the window, in $work/NAME.txt,
# read at row offsets 0 and 8 (a centred box's lines sit 8 pixels off).
box_text() {
  import -window "$win" "$work/$1.png" 2>/dev/null
  local size off
  size=$(identify -format '%wx%h' "$work/$1.png")
  for off in 0 8; do
    convert "$work/$1.png" -crop "+0+$off" +repage -extent "$size" -depth 8 "rgb:$work/$1.raw"
    # shellcheck disable=SC2086
    python3 "$(dirname "$0")/lib/screen_text.py" "$work/$1.raw" ${size/x/ } "$FONT"
  done >"$work/$1.txt"
}
child_exits() { grep -c "CHILD EXIT" "$work/bbs.log" 2>/dev/null || true; }
wait_child_exit() {  # count seconds: waits until the BBS has seen count programs end
  for _ in $(seq $(($2 * 10))); do
    [ "$(child_exits)" -ge "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# --- a download that starts by itself ------------------------------------------
before=$(count_colour "$(shot idle)" "$grey")
keys d
sleep 1.5
during=$(count_colour "$(shot download)" "$grey")
expect "the status box is up during the download ($before -> $during grey pixels)" \
  test "$during" -gt $((before + 20000))
wait_child_exit 1 20
expect "sz ended well" grep -q "CHILD EXIT 0" "$work/bbs.log"
sleep 0.5
expect "the file is in the download directory, identical" \
  cmp -s "$work/files/board.bin" "$work/dl/board.bin"
box_text saved
expect "the box says what was saved" grep -q "Saved board.bin (1.0 MB)" "$work/saved.txt"
expect "and where" grep -q "in $work/dl" "$work/saved.txt"
sleep 3
after=$(count_colour "$(shot after)" "$grey")
expect "the box is gone after the transfer ($after grey pixels)" test "$after" -lt $((before + 5000))

# --- the same file again: the prompt, left alone, renames -------------------------
keys d
sleep 1.5
prompt=$(count_colour "$(shot exists)" "$grey")
expect "the file-exists prompt is up ($prompt grey pixels)" test "$prompt" -gt $((before + 20000))
wait_child_exit 2 25
sleep 0.5
expect "after 5 s the file was saved under a new name" \
  cmp -s "$work/files/board.bin" "$work/dl/board-1.bin"
expect "the first file is untouched" cmp -s "$work/files/board.bin" "$work/dl/board.bin"

# --- Alt+U, Z-Modem, a file from the picker -------------------------------------------
sleep 1
keys alt+u
shot chooser >/dev/null
keys Down Return
sleep 0.5
shot picker >/dev/null
# The picker lists ".." first, then myfile.bin.
keys Down Return
wait_child_exit 3 20
sleep 0.5
expect "rz ended well" test "$(grep "CHILD EXIT" "$work/bbs.log" | tail -1)" = "CHILD EXIT 0"
expect "the upload arrived identical" cmp -s "$work/ups/myfile.bin" "$work/rz/myfile.bin"

# --- Escape cancels a running download ----------------------------------------------
rm -f "$work/dl/board.bin" "$work/dl/board-1.bin"
keys d
sleep 1.5
keys Escape
sleep 1
size1=$(stat -c %s "$work/dl/board.bin" 2>/dev/null || echo 0)
reason=$(count_colour "$(shot cancel-reason)" "$grey")
sleep 2.5
cancelled=$(count_colour "$(shot cancelled)" "$grey")
size2=$(stat -c %s "$work/dl/board.bin" 2>/dev/null || echo 0)
expect "the session goes on after the cancel" kill -0 "$kavel_pid"
expect "the box says why for a moment ($reason grey pixels)" test "$reason" -gt $((before + 20000))
expect "then the box is gone ($cancelled grey pixels)" test "$cancelled" -lt $((before + 5000))
expect "the partial file stays and stops growing ($size1, $size2 bytes)" \
  test "$size1" -gt 0 -a "$size1" -lt 1048576 -a "$size1" = "$size2"

# --- the cancelled file offered again: Resume -----------------------------------
# The cancelled sz has gone (4 programs ended); "d" offers the same file:
# the prompt offers Resume (the file there is shorter), and U appends the
# rest after the sender's CRC of the part on disk agrees.
expect "the cancelled sz has ended" wait_child_exit 4 10
keys d
# The prompt renames by itself after 5 s, so U goes as soon as it is up.
# Resumed, the file never shrinks below the part it had (an overwrite
# would start again from 0 at the board's 250 KB/s), and no copy is made.
prompt=0
for _ in $(seq 28); do
  prompt=$(count_colour "$(shot resume-prompt)" "$grey")
  [ "$prompt" -gt $((before + 20000)) ] && break
  sleep 0.25
done
expect "the cancelled file offered again: the prompt is up ($prompt grey pixels)" \
  test "$prompt" -gt $((before + 20000))
keys u
sleep 0.2
size3=$(stat -c %s "$work/dl/board.bin" 2>/dev/null || echo 0)
shot resume-running >/dev/null
wait_child_exit 5 25
sleep 0.5
expect "Resume: the part there was kept and appended to ($size1 -> $size3 bytes)" \
  test "$size3" -ge "$size1"
expect "Resume: sz ended well" test "$(grep "CHILD EXIT" "$work/bbs.log" | tail -1)" = "CHILD EXIT 0"
expect "Resume: the file is whole and identical, no other copy" \
  sh -c "cmp -s '$work/files/board.bin' '$work/dl/board.bin' && test ! -e '$work/dl/board-1.bin'"

xdotool windowfocus --sync "$win" 2>/dev/null
keys ctrl+bracketright
for _ in $(seq 30); do kill -0 "$kavel_pid" 2>/dev/null || break; sleep 0.1; done
wait "$kavel_pid" 2>/dev/null
expect "kavel ended with status 0 ($?)" true
kavel_pid=
stop_bbs
exit "$fail"
