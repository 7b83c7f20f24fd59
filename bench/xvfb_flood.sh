#!/usr/bin/env bash
# How long a real kavel takes to show a flood of coloured ANSI text in each
# window mode, under Xvfb: the test BBS's "flood" scenario (lines of about 100
# bytes, SGR colours, CP437 shades), timed by the board from its first byte to
# the cursor-position answer kavel sends after drawing the last.  Several
# builds can be compared side by side in one run (e.g. an old commit built in
# another directory); the runs of the builds alternate, so a busy machine
# slows them alike.
#
#   bench/xvfb_flood.sh [-s WxH] [-b MiB] [-r RUNS] [-M "MODES"] BUILD_DIR...
#
# Defaults: 1920x1080, 20 MiB, 3 runs, modes "-w -m -f".  Prints the best and
# the median time of each build and mode, and the rate of the best.
set -u
size=1920x1080
mib=20
runs=3
modes="-w -m -f"
while getopts "s:b:r:M:" opt; do
  case $opt in
    s) size=$OPTARG ;;
    b) mib=$OPTARG ;;
    r) runs=$OPTARG ;;
    M) modes=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { echo "usage: $0 [-s WxH] [-b MiB] [-r RUNS] [-M MODES] BUILD_DIR..." >&2; exit 2; }
builds=()
for b in "$@"; do
  b="$(cd "$b" && pwd)" || exit 2
  for exe in kavel kavel-testbbs; do
    [ -x "$b/$exe" ] || { echo "$b/$exe is not built" >&2; exit 2; }
  done
  builds+=("$b")
done
command -v Xvfb >/dev/null || { echo "Xvfb is not installed" >&2; exit 2; }

bytes=$((mib * 1024 * 1024))
work="$(mktemp -d)"
xvfb_pid="" bbs_pid="" kavel_pid=""
cleanup() {
  local p
  for p in $kavel_pid $bbs_pid $xvfb_pid; do kill "$p" 2>/dev/null; done
  for p in $kavel_pid $bbs_pid $xvfb_pid; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

timeout 3600 Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" \
  2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"

# One flood; prints the milliseconds the board logged, or nothing.
one_run() {  # build mode
  local b=$1 mode=$2 port="" ms=""
  rm -f "$work/bbs.log" "$work/bbs.out"
  "$b/kavel-testbbs" --scenario "flood:$bytes" --log "$work/bbs.log" --max-seconds 120 \
    >"$work/bbs.out" 2>&1 &
  bbs_pid=$!
  for _ in $(seq 50); do
    port=$(awk '/^PORT/{print $2}' "$work/bbs.out" 2>/dev/null)
    [ -n "$port" ] && break
    sleep 0.1
  done
  if [ -n "$port" ]; then
    (cd "$b" && exec timeout 120 ./kavel "$mode" 127.0.0.1 "$port") >"$work/kavel.out" 2>&1 &
    kavel_pid=$!
    for _ in $(seq 1200); do
      ms=$(awk '$0 ~ /FLOOD ACK/ { print $NF }' "$work/bbs.log" 2>/dev/null)
      [ -n "$ms" ] && break
      kill -0 "$kavel_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$kavel_pid" 2>/dev/null
    wait "$kavel_pid" 2>/dev/null
    kavel_pid=""
  fi
  kill "$bbs_pid" 2>/dev/null
  wait "$bbs_pid" 2>/dev/null
  bbs_pid=""
  echo "$ms"
}

echo "flood of $mib MiB under Xvfb at $size, $runs runs per build and mode"
declare -A times
for mode in $modes; do
  for r in $(seq "$runs"); do
    for b in "${builds[@]}"; do
      ms=$(one_run "$b" "$mode")
      times["$b|$mode"]+="${ms:-fail} "
    done
  done
done
printf "%-8s %-40s %10s %10s %10s  %s\n" mode build "best s" "median s" "MiB/s" "runs (ms)"
for mode in $modes; do
  for b in "${builds[@]}"; do
    list=${times["$b|$mode"]}
    read -r best median < <(echo "$list" | tr ' ' '\n' | grep -E '^[0-9]+$' | sort -n |
      awk '{ a[NR] = $1 } END { if (NR) print a[1], a[int((NR + 1) / 2)]; else print "", "" }')
    if [ -n "$best" ]; then
      printf "%-8s %-40s %10.2f %10.2f %10.1f  %s\n" "$mode" "$b" "$(echo "$best / 1000" | bc -l)" \
        "$(echo "$median / 1000" | bc -l)" "$(echo "$mib * 1000 / $best" | bc -l)" "$list"
    else
      printf "%-8s %-40s %10s %10s %10s  %s\n" "$mode" "$b" - - - "$list"
    fi
  done
done
