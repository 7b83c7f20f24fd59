#!/usr/bin/env bash
# The long fault campaign (run by hand; the test suite runs a short one):
# seeded damage between lrzsz and kavel-transfer through kavel-relay, RUNS
# downloads from sz and RUNS uploads into rz of a SIZE-byte file.
#
#   bash bench/transfer_campaign.sh BUILD_DIR [RUNS] [SIZE]   (default 100, 1 MiB)
#   DIRS=up (or down) runs one direction only.
#   DIRS=resume: crash recovery instead.  Each run cuts a download from sz
#   at a seeded offset, then takes it again with --on-exists resume through
#   a relay that cuts the line after the missing bytes, their escaping (4%)
#   and one 8 KiB subpacket more: a resumed run that asked for more than
#   that fails.  Every fifth run first changes a byte of the part on disk,
#   which must then never be appended to (the offer is saved under a new
#   name and the part stays as it was).  Use SIZE 4194304 for the 4 MiB runs.
#
# Each run draws its damage from the seed: flipped bits, dropped bytes, a
# burst of garbage or the connection cut, or two of them at once.  A run
# passes when it delivers an identical file and says so, or ends with a
# failure text and exit status 1; a success with a different file, a crash
# (status above 1) or a run the relay's time limit had to end fails the
# campaign.  The idle time is 30 s, longer than the sender's 10-second stall
# timer, so that a run which recovers by that timer is seen doing so.  Build
# with -DKAVEL_SANITIZE=ON to run it under the sanitizers.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
RUNS=${2:-100}
SIZE=${3:-1048576}
IDLE=30
XFER="$BUILD/kavel-transfer"
RELAY="$BUILD/kavel-relay"
work=$(mktemp -d)
relay_pid=
trap '[ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/src"
head -c "$SIZE" /dev/urandom >"$work/src/file.bin"

damage_for() {  # seed -> damage options
  local seed=$1 kind=$(( $1 % 6 )) at=$(( ($1 * 7919) % SIZE ))
  case $kind in
    0) echo "--flip $(( 5 + seed % 50 ))" ;;
    1) echo "--drop $(( 5 + seed % 50 ))" ;;
    2) echo "--garbage-at $at" ;;
    3) echo "--cut-after $at" ;;
    4) echo "--flip 20 --drop 20" ;;
    5) echo "--garbage-at $at --flip 10" ;;
  esac
}

identical=0 failed=0 bad=0 longest=0
start_relay() {  # dir relay-options... -> $port
  local dir=$1; shift
  rm -f "$work/port"
  (cd "$dir" && exec "$RELAY" --timeout 120 --quiet "$@") >"$work/port" &
  relay_pid=$!
  port=
  for _ in $(seq 100); do
    port=$(sed -n '1{/^[0-9][0-9]*$/p}' "$work/port" 2>/dev/null)
    [ -n "$port" ] && break
    sleep 0.05
  done
}
stop_relay() { kill "$relay_pid" 2>/dev/null; wait "$relay_pid" 2>/dev/null; relay_pid=; }
if [ "${DIRS:-}" = resume ]; then
  for seed in $(seq 1 "$RUNS"); do
    out="$work/out-resume-$seed"; mkdir -p "$out"
    cut=$(( (seed * 7919 * 131) % (SIZE - 4096) + 2048 ))
    start_relay "$work/src" --direction down --cut-after "$cut" 0 sz -q file.bin
    "$XFER" 127.0.0.1 "$port" --idle-timeout 10 --recv "$out" >/dev/null 2>&1
    stop_relay
    have=$(stat -c %s "$out/file.bin" 2>/dev/null || echo 0)
    [ "$have" = 0 ] && rm -f "$out/file.bin"  # nothing to resume: a plain download
    changed=
    if [ $((seed % 5)) = 0 ] && [ "$have" -gt 0 ]; then
      printf '\x5a' | dd of="$out/file.bin" bs=1 seek=$((have / 2)) conv=notrunc 2>/dev/null
      cp "$out/file.bin" "$work/part"; changed=1
    fi
    limit=$(( (SIZE - have) * 104 / 100 + 8192 + 4096 ))
    start_relay "$work/src" --direction down --cut-after "$limit" 0 sz -q file.bin
    "$XFER" 127.0.0.1 "$port" --idle-timeout "$IDLE" --recv "$out" --on-exists resume \
      >"$work/xfer.out" 2>&1
    status=$?
    stop_relay
    last=$(tail -1 "$work/xfer.out")
    if [ -n "$changed" ]; then
      # The changed part may also be cut off by the limit: what matters is
      # that it is never appended to.
      if cmp -s "$work/part" "$out/file.bin"; then verdict="part kept"; identical=$((identical + 1))
      else verdict="PART CHANGED"; bad=$((bad + 1)); fi
    elif [ "$status" = 0 ] && cmp -s "$work/src/file.bin" "$out/file.bin"; then
      verdict=identical; identical=$((identical + 1))
    else
      verdict="NOT RESUMED"; bad=$((bad + 1))
    fi
    printf 'resume seed %3d cut at %9d, had %9d, limit %9d: %-13s %s\n' "$seed" "$cut" "$have" \
      "$limit" "$verdict" "$last"
    rm -rf "$out"
  done
  echo "resume runs: $RUNS, as they should be: $identical, bad: $bad"
  [ "$bad" = 0 ]
  exit
fi
for dir in ${DIRS:-down up}; do
  for seed in $(seq 1 "$RUNS"); do
    out="$work/out-$dir-$seed"; mkdir -p "$out"
    damage=$(damage_for "$seed")
    rm -f "$work/port"
    if [ "$dir" = down ]; then
      (cd "$work/src" && exec "$RELAY" --timeout 120 --quiet --seed "$seed" --direction down \
        $damage 0 sz -q file.bin) >"$work/port" &
    else
      (cd "$out" && exec "$RELAY" --timeout 120 --quiet --seed "$seed" --direction up \
        $damage 0 rz -q -y) >"$work/port" &
    fi
    relay_pid=$!
    port=
    for _ in $(seq 100); do
      port=$(sed -n '1{/^[0-9][0-9]*$/p}' "$work/port" 2>/dev/null)
      [ -n "$port" ] && break
      sleep 0.05
    done
    start=$(date +%s%N)
    if [ "$dir" = down ]; then
      "$XFER" 127.0.0.1 "$port" --idle-timeout "$IDLE" --recv "$out" >"$work/xfer.out" 2>&1
    else
      "$XFER" 127.0.0.1 "$port" --idle-timeout "$IDLE" --zsend "$work/src/file.bin" >"$work/xfer.out" 2>&1
    fi
    status=$?
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    kill "$relay_pid" 2>/dev/null; wait "$relay_pid" 2>/dev/null; relay_pid=
    (( ms > longest )) && longest=$ms
    last=$(tail -1 "$work/xfer.out")
    verdict=
    if [ "$status" = 0 ]; then
      if cmp -s "$work/src/file.bin" "$out/file.bin"; then
        identical=$((identical + 1)); verdict=identical
      else
        bad=$((bad + 1)); verdict="FALSE SUCCESS"
      fi
    elif [ "$status" = 1 ]; then
      failed=$((failed + 1)); verdict=failed
    else
      bad=$((bad + 1)); verdict="CRASH (status $status)"
    fi
    # A run may recover through several of the sender's 10-second stall
    # timers; one that the relay's time limit had to end hung.
    if (( ms > 110000 )); then bad=$((bad + 1)); verdict="$verdict, TOO LONG"; fi
    printf '%-4s seed %3d %-28s %-16s %6d ms  %s\n' "$dir" "$seed" "$damage" "$verdict" "$ms" "$last"
    rm -rf "$out"
  done
done
echo "runs: $((identical + failed + bad)), identical: $identical, failed with a message: $failed, bad: $bad, longest: ${longest} ms"
[ "$bad" = 0 ]
