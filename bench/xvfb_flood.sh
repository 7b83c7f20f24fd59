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

hz=$(getconf CLK_TCK)
# One flood; prints the milliseconds the board logged and the CPU time kavel
# had used by then ("ms/cpu_ms"), or nothing.
one_run() {  # build mode
  local b=$1 mode=$2 port="" ms="" pid="" ticks=""
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
      [ -n "$pid" ] || pid=$(awk '{ print $1 }' "/proc/$kavel_pid/task/$kavel_pid/children" 2>/dev/null)
      ms=$(awk '$0 ~ /FLOOD ACK/ { print $NF }' "$work/bbs.log" 2>/dev/null)
      if [ -n "$ms" ]; then
        [ -n "$pid" ] && ticks=$(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null)
        break
      fi
      kill -0 "$kavel_pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$kavel_pid" 2>/dev/null
    wait "$kavel_pid" 2>/dev/null
    kavel_pid=""
  fi
  kill "$bbs_pid" 2>/dev/null
  wait "$bbs_pid" 2>/dev/null
  bbs_pid=""
  [ -n "$ms" ] && echo "$ms/$(((${ticks:-0}) * 1000 / hz))"
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
# The best and the median of the wall-clock times, the rate of the best,
# and the median of kavel's CPU time (less disturbed by other work on the
# machine); then each run as wall/CPU milliseconds.
printf "%-6s %-34s %8s %8s %7s %8s  %s\n" mode build "best s" "median s" "MiB/s" "CPU s" \
  "runs (wall/CPU ms)"
for mode in $modes; do
  for b in "${builds[@]}"; do
    list=${times["$b|$mode"]}
    echo "$list" | tr ' ' '\n' | grep -E '^[0-9]+/[0-9]+$' | tr '/' ' ' |
      awk -v m="$mode" -v b="$b" -v mib="$mib" -v l="$list" '
        { wall[NR] = $1; cpu[NR] = $2 }
        function median(a, n,   i, j, t) {
          for (i = 1; i <= n; i++)
            for (j = i + 1; j <= n; j++)
              if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
          return a[int((n + 1) / 2)]
        }
        END {
          if (!NR) { printf "%-6s %-34s %8s %8s %7s %8s  %s\n", m, b, "-", "-", "-", "-", l; exit }
          mw = median(wall, NR); mc = median(cpu, NR)
          printf "%-6s %-34s %8.2f %8.2f %7.1f %8.2f  %s\n", m, b, wall[1] / 1000, mw / 1000,
                 mib * 1000 / wall[1], mc / 1000, l
        }'
  done
done
