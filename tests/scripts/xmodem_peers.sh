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
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
# shellcheck source=lib/relay_harness.sh
. "$(dirname "$0")/lib/relay_harness.sh"
relay_harness_init sx rx cmp

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
exit "$fail"
