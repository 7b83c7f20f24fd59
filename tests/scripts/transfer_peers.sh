#!/usr/bin/env bash
# kavel-transfer (the program's own session, Telnet layer and ZMODEM engine
# without a window) against lrzsz, the reference peer, behind kavel-relay: a
# Telnet server on 127.0.0.1 that doubles 0xFF towards us and strips Telnet
# commands from us, as a BBS does.  Every file is compared byte for byte.
#
# Downloads from sz: sizes around the 1 KiB subpacket, 3 MiB with every byte
# value and runs of the bytes ZMODEM and Telnet treat specially, a batch of
# three, two names cut at a blank to the same name, a name with a directory
# part, a name that exists (each answer, and rename when the first new name
# is taken too), a disk that fills up, a file that ends before the size its
# sender offered.  Uploads into rz: the same sizes, a batch of three in one
# session (a name with a blank), a batch where rz skips a file.
# Crash recovery: downloads resumed from sz and sz --resume (only the rest
# crosses the relay), a part that differs never appended to, uploads with
# --resume to rz --resume and to rz (only the rest crosses).  Then a short
# seeded fault campaign in both directions: each run ends either with an
# identical file and a success or with a failure and no claim of success,
# and none outlives its idle time (bench/transfer_campaign.sh runs the long
# one).
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
# shellcheck source=lib/relay_harness.sh
. "$(dirname "$0")/lib/relay_harness.sh"
relay_harness_init sz rz python3 cmp

src="$work/src"
mkdir -p "$src"
for n in 0 1 1023 1024 1025; do head -c "$n" /dev/urandom >"$src/size$n"; done
# 3 MiB: random bytes, every value, and long runs of CAN, IAC, DEL, XON, XOFF
# and "*" (and "**" CAN "B", a start pattern inside the data).
python3 - "$src/special" <<'EOF'
import os, random, sys
random.seed(12)
out = bytearray(range(256)) * 4
for b in (0x18, 0xFF, 0x7F, 0x11, 0x13, 0x2A, 0x91, 0x93, 0x10, 0x0D):
    out += bytes([b]) * 3000
    out += os.urandom(20000)
out += b"**\x18B00000000000000\r\n" * 100
while len(out) < 3 * 1024 * 1024:
    out += random.randbytes(65536)
open(sys.argv[1], "wb").write(bytes(out[:3 * 1024 * 1024]))
EOF

# --- downloads ---------------------------------------------------------------
for f in size0 size1 size1023 size1024 size1025 special; do
  dl="$work/dl-$f"; mkdir -p "$dl"
  start_relay "$src" 0 sz -q "$f" || continue
  xfer --recv "$dl"
  stop_relay
  expect "download $f: success ($status, $last)" test "$status" = 0 -a "$last" = "ZMODEM finished"
  expect "download $f: identical" cmp -s "$src/$f" "$dl/$f"
done

dl="$work/dl-batch"; mkdir -p "$dl"
start_relay "$src" 0 sz -q size1 size1025 special && xfer --recv "$dl"
stop_relay
expect "batch of three: success ($last)" test "$status" = 0
for f in size1 size1025 special; do
  expect "batch of three: $f identical" cmp -s "$src/$f" "$dl/$f"
done

# A name is cut at its first blank: "a b.bin" and "a c.bin" of one batch
# both arrive as "a"; the second meets the file-exists question (renamed),
# never overwriting the first.
cp "$src/size1025" "$src/a b.bin"; cp "$src/size1023" "$src/a c.bin"
dl="$work/dl-blank"; mkdir -p "$dl"
start_relay "$src" 0 sz -q "a b.bin" "a c.bin" && xfer --recv "$dl" --on-exists rename
stop_relay
expect "names with a blank: success ($status, $last)" test "$status" = 0
expect "names with a blank: saved as a and a-1, nothing else" sh -c "cmp -s '$src/a b.bin' '$dl/a' &&
  cmp -s '$src/a c.bin' '$dl/a-1' && test \$(ls '$dl' | wc -l) = 2"

mkdir -p "$src/sub/dir"; cp "$src/size1023" "$src/sub/dir/report.txt"
dl="$work/dl-path"; mkdir -p "$dl"
start_relay "$src" 0 sz -q --full-path sub/dir/report.txt && xfer --recv "$dl"
stop_relay
expect "a name with a directory part lands in the download directory ($last)" \
  cmp -s "$src/sub/dir/report.txt" "$dl/report.txt"
expect "no directory is made from the offered name" test ! -e "$dl/sub"

for answer in overwrite rename skip; do
  dl="$work/dl-exists-$answer"; mkdir -p "$dl"
  printf 'older file\n' >"$dl/size1025"
  start_relay "$src" 0 sz -q size1025 && xfer --recv "$dl" --on-exists "$answer"
  stop_relay
  expect "existing name, $answer: the transfer ends well ($last)" test "$status" = 0
  case $answer in
    overwrite)
      expect "overwrite replaces the file" cmp -s "$src/size1025" "$dl/size1025" ;;
    rename)
      expect "rename keeps the old file" grep -q "older file" "$dl/size1025"
      expect "rename saves as size1025-1" cmp -s "$src/size1025" "$dl/size1025-1" ;;
    skip)
      expect "skip keeps the old file" grep -q "older file" "$dl/size1025"
      expect "skip writes nothing else" test "$(ls "$dl" | wc -l)" = 1 ;;
  esac
done

dl="$work/dl-exists-twice"; mkdir -p "$dl"
printf 'older file\n' | tee "$dl/size1025" >"$dl/size1025-1"
start_relay "$src" 0 sz -q size1025 && xfer --recv "$dl" --on-exists rename
stop_relay
expect "name and name-1 taken, rename: the transfer ends well ($last)" test "$status" = 0
expect "rename takes the first free name, size1025-2" cmp -s "$src/size1025" "$dl/size1025-2"

# A disk that fills up (a 58 KiB file-size limit, SIGXFSZ ignored): the
# download fails with the reason, and the sender is stopped.
head -c 60416 /dev/urandom >"$src/big60k"
dl="$work/dl-full"; mkdir -p "$dl"
start_relay "$src" 0 sz -q big60k && xfer_limited 58 --recv "$dl"
stop_relay
expect "a full disk: the download fails with the reason ($status, $last)" \
  test "$status" = 1 -a "$last" = "Write failed: File too large"

# A sysfs file offers 4096 bytes and holds a few: sz sends its ZEOF early.
if [ -r /sys/devices/system/cpu/online ]; then
  ln -s /sys/devices/system/cpu/online "$src/short.txt"
  dl="$work/dl-short"; mkdir -p "$dl"
  start_relay "$src" 0 sz -q short.txt && xfer --recv "$dl"
  stop_relay
  expect "a file shorter than offered is incomplete, not finished ($status, $last)" \
    test "$status" = 1 -a "$last" = "ZMODEM ended with 1 incomplete file"
fi

# --- crash recovery ---------------------------------------------------------------
# A download cut off earlier: the part on disk is the start of the offered
# file.  Resumed, only the rest crosses the relay (it cuts the line after
# the missing bytes plus a tenth), and the result is identical.
n=$(stat -c %s "$src/special"); have=1500000
limit=$(( (n - have) * 11 / 10 + 65536 ))
for how in "resume:sz" "rename:sz --resume"; do
  answer=${how%%:*}; peer=${how#*:}
  dl="$work/dl-resume-$answer"; mkdir -p "$dl"
  head -c "$have" "$src/special" >"$dl/special"
  start_relay "$src" --direction down --cut-after "$limit" 0 $peer -q special &&
    xfer --recv "$dl" --on-exists "$answer"
  stop_relay
  # sz --resume asks for crash recovery: it is resumed whatever the answer.
  expect "resumed from $peer (--on-exists $answer): success ($status, $last)" \
    test "$status" = 0 -a "$last" = "ZMODEM finished"
  expect "resumed from $peer: identical, only the rest sent" cmp -s "$src/special" "$dl/special"
  expect "resumed from $peer: no other copy" test "$(ls "$dl" | wc -l)" = 1
done
# A part that is not the start of the offered file is never appended to.
dl="$work/dl-resume-differs"; mkdir -p "$dl"
head -c "$have" /dev/urandom >"$dl/special"; cp "$dl/special" "$work/other-part"
start_relay "$src" 0 sz -q special && xfer --recv "$dl" --on-exists resume
stop_relay
expect "a differing part: the offer is renamed ($status, $last)" \
  sh -c "test '$status' = 0 && cmp -s '$src/special' '$dl/special-1'"
expect "a differing part: left as it was" cmp -s "$work/other-part" "$dl/special"

# --- uploads -------------------------------------------------------------------
for f in size0 size1 size1023 size1024 size1025 special; do
  up="$work/up-$f"; mkdir -p "$up"
  start_relay "$up" 0 rz -q -y || continue
  xfer --zsend "$src/$f"
  stop_relay
  expect "upload $f: success ($status, $last)" test "$status" = 0 -a "$last" = "Upload finished"
  expect "upload $f: identical on the receiving side" cmp -s "$src/$f" "$up/$f"
done

# A receiver that wants every control character escaped (ESCCTL).
up="$work/up-e"; mkdir -p "$up"
start_relay "$up" 0 rz -q -y -e && xfer --zsend "$src/special"
stop_relay
expect "upload to rz -e: success ($status, $last)" test "$status" = 0 -a "$last" = "Upload finished"
expect "upload to rz -e: identical on the receiving side" cmp -s "$src/special" "$up/special"

# A batch of three in one session; then rz -p, which skips a name it has.
up="$work/up-batch"; mkdir -p "$up"
start_relay "$up" 0 rz -q && xfer --zsend "$src/size0" "$src/a b.bin" "$src/special"
stop_relay
expect "batch upload: success ($status, $last)" test "$status" = 0 -a "$last" = "Upload finished"
# Our offer cuts a name at its blank as our receiver does: "a b.bin" goes as "a".
expect "batch upload: the three files identical, a b.bin offered as a" sh -c "cmp -s '$src/size0' '$up/size0' &&
  cmp -s '$src/a b.bin' '$up/a' && cmp -s '$src/special' '$up/special'"
printf 'kept\n' >"$up/size1"
start_relay "$up" 0 rz -q -p && xfer --zsend "$src/size1" "$src/size1023"
stop_relay
expect "batch into rz -p: success with the skip said ($status, $last)" \
  test "$status" = 0 -a "$last" = "Upload finished; 1 skipped by the receiver"
expect "batch into rz -p: the existing file kept, the other sent" \
  sh -c "grep -q kept '$up/size1' && cmp -s '$src/size1023' '$up/size1023'"

# Upload crash recovery: the receiver holds the first 1,500,000 bytes.
# --resume asks for it (ZCRESUM); the relay cuts the line after the missing
# bytes plus a tenth, so a full resend fails, and counts what crossed: at
# most one subpacket (8 KiB, escaped) more than an upload of the missing
# part alone.  rz --resume resumes it; so does plain rz, since lrzsz takes
# ZCRESUM from the sender as its own --resume.  Without --resume our offer
# asks for ZMCRC, with which rz --resume replaces the file: all of it crosses.
head -c "$have" "$src/special" >"$work/head"; tail -c +$((have + 1)) "$src/special" >"$src/rest"
up="$work/up-rest"; mkdir -p "$up"
start_relay "$up" --count "$work/count" 0 rz -q && xfer --zsend "$src/rest"
stop_relay
rest_up=$(cut -d' ' -f2 "$work/count")
for how in "--resume:rz -q --resume" "--resume:rz -q" ":rz -q --resume"; do
  ask=${how%%:*}; peer=${how#*:}
  up="$work/up-resume$ask-${peer// /}"; mkdir -p "$up"
  cp "$work/head" "$up/special"
  if [ -n "$ask" ]; then cut=(--direction up --cut-after "$limit"); else cut=(); fi
  start_relay "$up" "${cut[@]}" --count "$work/count" 0 $peer && xfer --zsend "$src/special" $ask
  stop_relay
  moved=$(cut -d' ' -f2 "$work/count")
  expect "upload ${ask:-plain} to $peer: success ($status, $last)" \
    test "$status" = 0 -a "$last" = "Upload finished"
  expect "upload ${ask:-plain} to $peer: identical, one copy" \
    sh -c "cmp -s '$src/special' '$up/special' && test \$(ls '$up' | wc -l) = 1"
  if [ -n "$ask" ]; then
    expect "upload $ask to $peer: only the rest crossed ($moved bytes, the rest alone $rest_up)" \
      test "$moved" -le $((rest_up + 16384 + 512))
  else
    expect "upload to $peer without --resume: the whole file crossed ($moved bytes)" \
      test "$moved" -gt $((n))
  fi
done

start_relay "$work" 0 rz -q -y && xfer --zsend "$src/no-such-file"
stop_relay
expect "a missing upload file fails ($last)" test "$status" = 1 -a "$last" = "Upload file not found"

# --- damaged lines ----------------------------------------------------------------
head -c 262144 /dev/urandom >"$src/quarter"
runs=0 good=0 failed=0
for seed in 1 2 3 4 5 6 7 8; do
  case $((seed % 4)) in
    0) damage=(--flip 40) ;;
    1) damage=(--drop 40) ;;
    2) damage=(--garbage-at $((seed * 20000))) ;;
    3) damage=(--cut-after $((seed * 30000))) ;;
  esac
  for dir in down up; do
    runs=$((runs + 1))
    if [ "$dir" = down ]; then
      dl="$work/fault-$seed-$dir"; mkdir -p "$dl"
      start_relay "$src" --seed "$seed" --direction down "${damage[@]}" --quiet 0 sz -q quarter || continue
      start=$SECONDS
      "$XFER" 127.0.0.1 "$port" --idle-timeout 5 --recv "$dl" >"$work/xfer.out" 2>&1
      status=$?
      got="$dl/quarter"
    else
      up="$work/fault-$seed-$dir"; mkdir -p "$up"
      start_relay "$up" --seed "$seed" --direction up "${damage[@]}" --quiet 0 rz -q -y || continue
      start=$SECONDS
      "$XFER" 127.0.0.1 "$port" --idle-timeout 5 --zsend "$src/quarter" >"$work/xfer.out" 2>&1
      status=$?
      got="$up/quarter"
    fi
    took=$((SECONDS - start))
    kill "$relay_pid" 2>/dev/null; stop_relay
    last=$(tail -1 "$work/xfer.out")
    if [ "$status" = 0 ]; then
      good=$((good + 1))
      expect "seed $seed $dir ${damage[*]}: a success has an identical file ($last)" \
        cmp -s "$src/quarter" "$got"
    else
      failed=$((failed + 1))
      expect "seed $seed $dir ${damage[*]}: a failure claims no success ($last)" \
        test "$last" != "ZMODEM finished" -a "$last" != "Upload finished"
    fi
    expect "seed $seed $dir: ended within its idle time (${took}s)" test "$took" -le 30
  done
done
echo "damaged runs: $runs, identical files: $good, failures reported: $failed"
exit "$fail"
