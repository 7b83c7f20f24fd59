#!/usr/bin/env bash
# XMODEM benchmark (run by hand; not a test): Kavel's XMODEM-1K through the
# Telnet relay side by side with lrzsz on the same relay path, in one run.
#
#   bash bench/xmodem_lrzsz.sh BUILD_DIR [MIB]      (default 16 MiB)
#
# Download: sx -k behind kavel-relay, received by kavel-transfer --xrecv,
# then by rx.  rx speaks no Telnet, so it sits behind a second kavel-relay
# (which undoubles 0xFF and strips Telnet as Kavel's own Telnet layer does),
# joined to the first by socat: rx's path has one hop more than Kavel's.
# Upload: kavel-transfer --xsend into rx behind the relay, then sx -k (behind
# its own relay and socat) into the same.
# Each figure is the median of ROUNDS runs (default 3), kavel and lrzsz
# alternating; the ratios are lrzsz time / kavel time (above 1: kavel is
# faster).  rx waits about a second after the last EOT before it exits;
# that wait is in every upload figure alike and in the lrzsz download.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
MIB=${2:-16}
XFER="$BUILD/kavel-transfer"
RELAY="$BUILD/kavel-relay"
for tool in sx rx socat /usr/bin/time cmp; do
  command -v "$tool" >/dev/null || { echo "missing: $tool"; exit 1; }
done
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
mkdir -p "$work/src" "$work/out"
head -c $((MIB << 20)) /dev/urandom >"$work/src/big.bin"

relay() {  # dir outfile command... -> sets $port and $relay_pid
  local dir=$1 out=$2; shift 2
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
timed() {  # prints "seconds user sys maxrss_kb" of the command
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
# The received file must be the original plus fewer than 1024 pad bytes.
check() {
  local n
  n=$(stat -c %s "$work/src/big.bin")
  cmp -s -n "$n" "$work/src/big.bin" "$1" || echo "WARNING: $2 differs" >&2
}

k_down_once() {
  clean
  relay "$work/src" "$work/p1" sx -q -k big.bin
  timed "$XFER" 127.0.0.1 "$port" --xrecv big.bin --dir "$work/out"
  wait_relays
  check "$work/out/big.bin" "kavel download"
}
l_down_once() {
  clean
  relay "$work/src" "$work/p1" sx -q -k big.bin
  local p1=$port
  relay "$work/out" "$work/p2" /usr/bin/time -f "%e %U %S %M" -o "$work/rxtime" rx -q -b -c big.bin
  socat TCP:127.0.0.1:"$p1" TCP:127.0.0.1:"$port" 2>/dev/null
  wait_relays
  check "$work/out/big.bin" "rx download"
  cat "$work/rxtime"
}
k_up_once() {
  clean
  relay "$work/out" "$work/p1" rx -q -b -c big.bin
  timed "$XFER" 127.0.0.1 "$port" --xsend "$work/src/big.bin"
  wait_relays
  check "$work/out/big.bin" "kavel upload"
}
l_up_once() {
  clean
  relay "$work/out" "$work/p1" rx -q -b -c big.bin
  local p1=$port
  relay "$work/src" "$work/p2" /usr/bin/time -f "%e %U %S %M" -o "$work/sxtime" sx -q -k big.bin
  socat TCP:127.0.0.1:"$port" TCP:127.0.0.1:"$p1" 2>/dev/null
  wait_relays
  check "$work/out/big.bin" "sx upload"
  cat "$work/sxtime"
}
median() { sort -n | awk '{l[NR] = $0} END{print l[int((NR + 1) / 2)]}'; }

ROUNDS=${ROUNDS:-3}
echo "== ${MIB} MiB XMODEM-1K through kavel-relay, $(nproc) cores, median of $ROUNDS rounds"
: >"$work/kd"; : >"$work/ld"; : >"$work/ku"; : >"$work/lu"
for _ in $(seq "$ROUNDS"); do
  k_down_once >>"$work/kd"
  l_down_once >>"$work/ld"
  k_up_once >>"$work/ku"
  l_up_once >>"$work/lu"
done
k_down=$(median <"$work/kd"); l_down=$(median <"$work/ld")
k_up=$(median <"$work/ku"); l_up=$(median <"$work/lu")
report "download sx -k, kavel-transfer" "$MIB" "$k_down"
report "download sx -k, lrzsz rx" "$MIB" "$l_down"
report "upload into rx, kavel-transfer" "$MIB" "$k_up"
report "upload into rx, lrzsz sx -k" "$MIB" "$l_up"
down_ratio=$(awk -v a="${k_down%% *}" -v b="${l_down%% *}" 'BEGIN{printf "%.2f", b / a}')
up_ratio=$(awk -v a="${k_up%% *}" -v b="${l_up%% *}" 'BEGIN{printf "%.2f", b / a}')
echo "ratio kavel/lrzsz: download ${down_ratio}x, upload ${up_ratio}x"
