#!/usr/bin/env bash
# Hostile servers: the test BBS plays garbage after IAC, an endless
# subnegotiation, a close in the middle of a sequence and a flood; the
# program's connection and Telnet layer (through kavel-telnet-probe) must
# neither crash nor hang, and the text after the garbage must come through.
set -u
BUILD=${1:?build dir}
SRC=${2:?source dir}
BBS="$BUILD/kavel-testbbs"
PROBE="$BUILD/kavel-telnet-probe"
for b in "$BBS" "$PROBE"; do [ -x "$b" ] || { echo "FAIL: $b not built"; exit 1; }; done
work=$(mktemp -d)
bbs_pid=
trap '[ -n "$bbs_pid" ] && kill "$bbs_pid" 2>/dev/null; rm -rf "$work"' EXIT
fail=0

start_bbs() {  # scenario
  rm -f "$work/bbs.out"
  "$BBS" --scenario "$1" --log "$work/bbs.log" --max-seconds 30 >"$work/bbs.out" 2>&1 &
  bbs_pid=$!
  for _ in $(seq 50); do
    port=$(awk '/^PORT/{print $2}' "$work/bbs.out")
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "FAIL: test BBS did not start"; return 1
}

run() {  # scenario seconds -> sets rc, leaves output in $work/out
  start_bbs "$1" || { fail=1; return; }
  timeout 30 "$PROBE" 127.0.0.1 "$port" --seconds "$2" >"$work/out" 2>"$work/log"
  rc=$?
  kill "$bbs_pid" 2>/dev/null; wait "$bbs_pid" 2>/dev/null; bbs_pid=
}

expect() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}

run garbage 3
expect "garbage: no crash (rc=$rc)" test "$rc" -eq 2
expect "garbage: text after the commands arrives" grep -q 'AFTER GARBAGE' "$work/out"
expect "garbage: no command byte leaks into the text" bash -c "! grep -q \$'\\xff' '$work/out'"

run endless-sb 3
expect "endless subnegotiation: no crash, no hang (rc=$rc)" test "$rc" -eq 2
expect "endless subnegotiation: text before it arrives" grep -q 'ENDLESS SB FOLLOWS' "$work/out"
expect "endless subnegotiation: nothing of it leaks" bash -c "! grep -q 'xxxx' '$work/out'"

run close-mid 5
expect "close in mid-sequence: seen as a close (rc=$rc)" test "$rc" -eq 0
expect "close in mid-sequence: text arrives" grep -q 'HALF A SEQUENCE' "$work/out"

run flood:3000000 20
size=$(stat -c %s "$work/out")
expect "flood: all text arrived ($size bytes)" test "$size" -ge 2900000
expect "flood: end marker arrived" grep -q 'FLOOD DONE' "$work/out"

exit "$fail"
