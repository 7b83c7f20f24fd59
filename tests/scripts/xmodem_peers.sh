#!/usr/bin/env bash
# kavel-transfer's XMODEM (the program's own session, Telnet layer, adapter
# and engine without a window) against lrzsz's sx and rx behind kavel-relay:
# a Telnet server on 127.0.0.1 that doubles 0xFF towards us and strips
# Telnet commands from us, as a BBS does.
#
# Downloads from sx (128-byte blocks, and 1K blocks with -k) and uploads into
# rx (checksum and CRC-16 requests) of sizes around the block sizes and 1 MiB
# of random bytes.  XMODEM carries no length: a received file is the original
# followed by the 0x1A padding of its last block, and both parts are checked.
# Then the file-exists answers, a disk that fills up, and a seeded fault campaign in both
# directions: every run ends with an identical file (plus padding) and a
# success, or with a failure and no claim of success, within its time-outs.
# XMODEM_CAMPAIGN=N runs seeds 1..N each way instead of the suite's three.
#
# YMODEM: batches of three files (0, 1 and 1 MiB + 1 random bytes; a name
# with a space, one with a directory part, one that exists; downloads add a
# fourth whose name cuts at its blank to another's) from sb and into rb, and from sb to our YMODEM-G receiver (sb streams when asked with "G";
# rb has no YMODEM-G, so the in-process pair test stands in for our G
# sender).  Files are cut to block 0's size: each must be identical.  Then a
# full disk and damaged lines: never a success over a file that differs.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
# shellcheck source=lib/relay_harness.sh
. "$(dirname "$0")/lib/relay_harness.sh"
relay_harness_init sx rx sb rb cmp

# padded ORIGINAL RECEIVED BLOCK: RECEIVED is ORIGINAL followed by 0x1A up to
# a multiple of 128, less than BLOCK bytes of it (BLOCK 0: any padding of
# fewer than 1024 bytes, for a sender that mixes block sizes).
padded() {
  local orig=$1 got=$2 block=$3
  [ -f "$got" ] || return 1
  local n m
  n=$(stat -c %s "$orig"); m=$(stat -c %s "$got")
  [ $((m % 128)) = 0 ] || { echo "  length $m is not whole blocks"; return 1; }
  [ "$m" -ge "$n" ] || { echo "  length $m is shorter than $n"; return 1; }
  local limit=${block:-0}
  [ "$limit" = 0 ] && limit=1024
  [ $((m - n)) -lt "$limit" ] || { echo "  $((m - n)) padding bytes"; return 1; }
  cmp -s -n "$n" "$orig" "$got" || { echo "  the data part differs"; return 1; }
  local rest
  rest=$(tail -c +$((n + 1)) "$got" | tr -d '\032' | wc -c)
  [ "$rest" = 0 ] || { echo "  the padding holds $rest bytes other than 0x1A"; return 1; }
}

src="$work/src"
mkdir -p "$src"
sizes="0 1 127 128 129 896 897 1000 1024 1025 1048576"
for n in $sizes; do head -c "$n" /dev/urandom >"$src/size$n"; done
# Every byte value, runs of IAC (doubled by Telnet) and of CAN, SOH and EOT
# inside the data.
{ for b in $(seq 0 255); do printf "\\$(printf %03o "$b")"; done
  for b in 377 030 001 004 032; do head -c 700 /dev/zero | tr '\0' "\\$b"; done
  head -c 5000 /dev/urandom; } >"$src/special"

# --- downloads -----------------------------------------------------------------
for f in $(for n in $sizes; do echo "size$n"; done) special; do
  for blocks in 128 1k; do
    dl="$work/dl-$f-$blocks"; mkdir -p "$dl"
    opt=; [ "$blocks" = 1k ] && opt=-k
    start_relay "$src" --quiet 0 sx -q $opt "$f" || continue
    xfer --xrecv got.bin --dir "$dl"
    stop_relay
    expect "download $f ($blocks): success ($status, $last)" \
      test "$status" = 0 -a "$last" = "XMODEM complete"
    block=128; [ "$blocks" = 1k ] && block=0
    expect "download $f ($blocks): the file plus its padding" padded "$src/$f" "$dl/got.bin" "$block"
  done
done

# A name with a directory part and separators stays in the download directory.
dl="$work/dl-name"; mkdir -p "$dl"
start_relay "$src" --quiet 0 sx -q size129 && xfer --xrecv "a/b:c" --dir "$dl"
stop_relay
expect "a/b:c is saved as a_b_c ($last)" padded "$src/size129" "$dl/a_b_c" 128

for answer in overwrite rename skip; do
  dl="$work/dl-exists-$answer"; mkdir -p "$dl"
  printf 'older file\n' >"$dl/report.txt"
  start_relay "$src" --quiet 0 sx -q size1000 && xfer --xrecv report.txt --dir "$dl" --on-exists "$answer"
  [ "$answer" = skip ] && kill "$relay_pid" 2>/dev/null
  stop_relay
  case $answer in
    overwrite)
      expect "overwrite: success ($last)" test "$status" = 0
      expect "overwrite replaces the file" padded "$src/size1000" "$dl/report.txt" 128 ;;
    rename)
      expect "rename: success ($last)" test "$status" = 0
      expect "rename keeps the old file" grep -q "older file" "$dl/report.txt"
      expect "rename saves as report-001.txt" padded "$src/size1000" "$dl/report-001.txt" 128 ;;
    skip)
      expect "skip: no success claimed ($status, $last)" test "$status" = 1
      expect "skip keeps the old file" grep -q "older file" "$dl/report.txt"
      expect "skip writes nothing else" test "$(ls "$dl" | wc -l)" = 1 ;;
  esac
done

# A disk that fills up (a 58 KiB file-size limit, SIGXFSZ ignored) under a
# 60,416-byte download from sx -k: the last buffered bytes cannot be
# written, so the transfer must fail with the reason, not end complete, and
# sx must be cancelled rather than told the file arrived.
head -c 60416 /dev/urandom >"$src/big60k"
dl="$work/dl-full"; mkdir -p "$dl"
start_relay "$src" 0 sx -q -k big60k && xfer_limited 58 --xrecv got.bin --dir "$dl"
stop_relay
expect "a full disk: the download fails with the reason ($status, $last)" \
  test "$status" = 1 -a "$last" = "Write failed: File too large"
expect "a full disk: sx was stopped, not told the file arrived (relay status $relay_status)" \
  test "$relay_status" != 0

# --- uploads -------------------------------------------------------------------
for f in $(for n in $sizes; do echo "size$n"; done) special; do
  for check in sum crc; do
    up="$work/up-$f-$check"; mkdir -p "$up"
    opt=; [ "$check" = crc ] && opt=-c
    start_relay "$up" --quiet 0 rx -q -b $opt got.bin || continue
    xfer --xsend "$src/$f"
    stop_relay
    expect "upload $f ($check): success ($status, $last)" \
      test "$status" = 0 -a "$last" = "XMODEM complete"
    expect "upload $f ($check): rx has the file plus its padding" padded "$src/$f" "$up/got.bin" 0
  done
done

start_relay "$work" --quiet 0 rx -q -b got.bin && xfer --xsend "$src/no-such-file"
kill "$relay_pid" 2>/dev/null; stop_relay
expect "a missing upload file fails ($last)" test "$status" = 1

# --- damaged lines ----------------------------------------------------------------
head -c 262144 /dev/urandom >"$src/quarter"
# The suite leaves out seed 1 (dropped bytes): each drop costs the receiver
# a time-out, some 40 s for the whole run.
seeds="2 3 4"
[ -n "${XMODEM_CAMPAIGN:-}" ] && seeds=$(seq "$XMODEM_CAMPAIGN")
runs=0 good=0 failed=0 longest=0
for seed in $seeds; do
  case $((seed % 4)) in
    0) damage=(--flip 40) ;;
    1) damage=(--drop 40) ;;
    2) damage=(--garbage-at $((seed * 2000 % 250000 + 1000))) ;;
    3) damage=(--cut-after $((seed * 3001 % 250000 + 1000))) ;;
  esac
  for dir in down up; do
    runs=$((runs + 1))
    if [ "$dir" = down ]; then
      dl="$work/fault-$seed-$dir"; mkdir -p "$dl"
      start_relay "$src" --seed "$seed" --direction both "${damage[@]}" --quiet 0 sx -q -k quarter || continue
      start=$SECONDS
      "$XFER" 127.0.0.1 "$port" --idle-timeout 30 --xrecv quarter --dir "$dl" >"$work/xfer.out" 2>&1
      status=$?
      got="$dl/quarter"
    else
      up="$work/fault-$seed-$dir"; mkdir -p "$up"
      start_relay "$up" --seed "$seed" --direction both "${damage[@]}" --quiet 0 rx -q -b -c quarter || continue
      start=$SECONDS
      "$XFER" 127.0.0.1 "$port" --idle-timeout 30 --xsend "$src/quarter" >"$work/xfer.out" 2>&1
      status=$?
      got="$up/quarter"
    fi
    took=$((SECONDS - start))
    [ "$took" -gt "$longest" ] && longest=$took
    kill "$relay_pid" 2>/dev/null; stop_relay
    last=$(tail -1 "$work/xfer.out")
    echo "seed $seed $dir ${damage[*]}: $last (${took}s)"
    if [ "$status" = 0 ]; then
      good=$((good + 1))
      # An upload's success is ours to claim only when rx holds the file.
      expect "seed $seed $dir: a success has an identical file plus padding" padded "$src/quarter" "$got" 0
    else
      failed=$((failed + 1))
      expect "seed $seed $dir: a failure claims no success ($last)" test "$last" != "XMODEM complete"
    fi
    expect "seed $seed $dir: ended within the engine's time-outs (${took}s)" test "$took" -le 60
  done
done
echo "damaged runs: $runs, identical files: $good, failures reported: $failed, longest ${longest}s"

# --- YMODEM and YMODEM-G --------------------------------------------------------
ysrc="$work/ysrc"; mkdir -p "$ysrc/sub"
: >"$ysrc/empty.bin"
printf '\032' >"$ysrc/sub/pad byte.txt"
printf 'second pad\n' >"$ysrc/pad two.txt"
head -c 1048577 /dev/urandom >"$ysrc/big.bin"
for proto in yrecv ygrecv; do
  dl="$work/y-$proto"; mkdir -p "$dl"
  printf 'older file\n' >"$dl/big.bin"
  # -f: the name goes out with its directory part.
  start_relay "$ysrc" --quiet 0 sb -q -f empty.bin "sub/pad byte.txt" big.bin "pad two.txt" || continue
  xfer --"$proto" "$dl"
  stop_relay
  name=YMODEM; [ "$proto" = ygrecv ] && name=YMODEM-G
  expect "$proto from sb: success ($status, $last)" test "$status" = 0 -a "$last" = "$name complete"
  expect "$proto: the empty file" cmp -s "$ysrc/empty.bin" "$dl/empty.bin"
  # The name made safe as a ZMODEM name: no directory, cut at the space.
  expect "$proto: sub/pad byte.txt saved as pad, one byte, no padding" cmp -s "$ysrc/sub/pad byte.txt" "$dl/pad"
  expect "$proto: pad two.txt, cut to pad too, asked about and renamed to pad-1" \
    cmp -s "$ysrc/pad two.txt" "$dl/pad-1"
  expect "$proto: the existing big.bin kept, the new one renamed" \
    sh -c "grep -q 'older file' '$dl/big.bin' && cmp -s '$ysrc/big.bin' '$dl/big-1.bin'"
  expect "$proto: sb's date kept" test "$(stat -c %Y "$dl/big-1.bin")" = "$(stat -c %Y "$ysrc/big.bin")"
done

up="$work/y-up"; mkdir -p "$up"
start_relay "$up" --quiet 0 rb -q && xfer --ysend "$ysrc/empty.bin" "$ysrc/sub/pad byte.txt" "$ysrc/big.bin"
stop_relay
expect "ysend into rb: success ($status, $last), rb content ($relay_status)" \
  test "$status" = 0 -a "$last" = "YMODEM complete" -a "$relay_status" = 0
expect "ysend: rb has the three files" sh -c "cmp -s '$ysrc/empty.bin' '$up/empty.bin' &&
  cmp -s '$ysrc/sub/pad byte.txt' '$up/pad' && cmp -s '$ysrc/big.bin' '$up/big.bin'"

# A full disk under a YMODEM download: the reason, and sb stopped.
dl="$work/y-full"; mkdir -p "$dl"
start_relay "$src" 0 sb -q big60k && xfer_limited 58 --yrecv "$dl"
stop_relay
expect "ymodem, a full disk: fails with the reason ($status, $last)" \
  test "$status" = 1 -a "$last" = "Write failed: File too large"
expect "ymodem, a full disk: sb was stopped (relay status $relay_status)" test "$relay_status" != 0

# Damaged lines: YMODEM both ways and YMODEM-G down; a success must have
# the identical file, a YMODEM-G failure must come at once.
yruns=0 ygood=0
for seed in 2 3 4; do
  case $((seed % 4)) in
    0) damage=(--flip 40) ;;
    1) damage=(--drop 40) ;;
    2) damage=(--garbage-at $((seed * 2000 % 250000 + 1000))) ;;
    3) damage=(--cut-after $((seed * 3001 % 250000 + 1000))) ;;
  esac
  for way in yrecv ygrecv ysend; do
    yruns=$((yruns + 1))
    d="$work/yfault-$seed-$way"; mkdir -p "$d"
    if [ "$way" = ysend ]; then
      start_relay "$d" --seed "$seed" --direction both "${damage[@]}" --quiet 0 rb -q -t 20 || continue
      start=$SECONDS
      "$XFER" 127.0.0.1 "$port" --idle-timeout 30 --ysend "$src/quarter" >"$work/xfer.out" 2>&1
    else
      start_relay "$src" --seed "$seed" --direction both "${damage[@]}" --quiet 0 sb -q -t 20 quarter || continue
      start=$SECONDS
      "$XFER" 127.0.0.1 "$port" --idle-timeout 30 --"$way" "$d" >"$work/xfer.out" 2>&1
    fi
    status=$?
    took=$((SECONDS - start))
    kill "$relay_pid" 2>/dev/null; stop_relay
    last=$(tail -1 "$work/xfer.out")
    echo "seed $seed $way ${damage[*]}: $last (${took}s)"
    if [ "$status" = 0 ]; then
      ygood=$((ygood + 1))
      expect "seed $seed $way: a success has the identical file" cmp -s "$src/quarter" "$d/quarter"
    else
      expect "seed $seed $way: a failure claims no success ($last)" \
        sh -c "! echo '$last' | grep -q complete"
    fi
    limit=60; [ "$way" = ygrecv ] && limit=15
    expect "seed $seed $way: ended within the time-outs (${took}s)" test "$took" -le "$limit"
  done
done
echo "YMODEM damaged runs: $yruns, identical files: $ygood"
exit "$fail"
