# Shared part of the transfer benchmarks against lrzsz through kavel-relay
# (bench/transfer_lrzsz.sh, bench/xmodem_lrzsz.sh): sourced, not run.
#
#   lrzsz_bench_init MIB TOOL...  checks the tools, makes $work with src/big.bin
#                                 (MIB MiB of random bytes) and out/, the trap
#   relay DIR OUTFILE COMMAND...  a relay running COMMAND in DIR; sets $port
#   timed COMMAND...              prints "seconds user sys maxrss_kb"
#   report LABEL MIB "s u y rss"  one line: time, rate, CPU per MiB, peak RSS
#   clean, wait_relays, median
#   lrzsz_rounds L1 L2 L3 L4      ROUNDS rounds of k_down_once, l_down_once,
#                                 k_up_once, l_up_once (defined by the caller),
#                                 alternating; the medians under the four
#                                 labels and the ratios kavel/lrzsz (the
#                                 medians stay in $k_down, $l_down, $k_up, $l_up)

lrzsz_bench_init() {
  local mib=$1 tool; shift
  XFER="$BUILD/kavel-transfer"
  RELAY="$BUILD/kavel-relay"
  for tool in "$@" socat /usr/bin/time cmp; do
    command -v "$tool" >/dev/null || { echo "missing: $tool"; exit 1; }
  done
  work=$(mktemp -d)
  pids=()
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
  mkdir -p "$work/src" "$work/out"
  head -c $((mib << 20)) /dev/urandom >"$work/src/big.bin"
}

relay() {  # dir outfile command... -> sets $port and $relay_pid
  local dir=$1 out=$2 _; shift 2
  rm -f "$out"
  (cd "$dir" && exec "$RELAY" --timeout 600 --quiet 0 "$@") >"$out" &
  relay_pid=$!
  pids+=($!)
  port=
  for _ in $(seq 100); do
    port=$(sed -n '1{/^[0-9][0-9]*$/p}' "$out" 2>/dev/null)
    [ -n "$port" ] && break
    sleep 0.05
  done
}

timed() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1
  cat "$work/time"
}

report() {  # label mib "seconds user sys rss"
  read -r secs user sys rss <<<"$3"
  awk -v l="$1" -v m="$2" -v s="$secs" -v u="$user" -v y="$sys" -v r="$rss" 'BEGIN{
    printf "%-34s %7.2f s %8.1f MiB/s  CPU %6.1f ms/MiB  peak RSS %6.1f MiB\n",
      l, s, m / s, (u + y) * 1000 / m, r / 1024 }'
}

clean() { rm -rf "$work/out" && mkdir -p "$work/out"; }
wait_relays() { for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done; pids=(); }
# The median (by seconds) of results, one per line on stdin.
median() { sort -n | awk '{l[NR] = $0} END{print l[int((NR + 1) / 2)]}'; }

lrzsz_rounds() {
  local _
  : >"$work/kd"; : >"$work/ld"; : >"$work/ku"; : >"$work/lu"
  for _ in $(seq "${ROUNDS:-3}"); do
    k_down_once >>"$work/kd"
    l_down_once >>"$work/ld"
    k_up_once >>"$work/ku"
    l_up_once >>"$work/lu"
  done
  k_down=$(median <"$work/kd"); l_down=$(median <"$work/ld")
  k_up=$(median <"$work/ku"); l_up=$(median <"$work/lu")
  report "$1" "$MIB" "$k_down"
  report "$2" "$MIB" "$l_down"
  report "$3" "$MIB" "$k_up"
  report "$4" "$MIB" "$l_up"
  local down_ratio up_ratio
  down_ratio=$(awk -v a="${k_down%% *}" -v b="${l_down%% *}" 'BEGIN{printf "%.2f", b / a}')
  up_ratio=$(awk -v a="${k_up%% *}" -v b="${l_up%% *}" 'BEGIN{printf "%.2f", b / a}')
  echo "ratio kavel/lrzsz: download ${down_ratio}x, upload ${up_ratio}x"
}
