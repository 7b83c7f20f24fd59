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
# Then the same for YMODEM (sb into --yrecv and rb, --ysend and sb into rb)
# and YMODEM-G downloads (sb streams to --ygrecv; rb has no YMODEM-G, so
# its figure stands against rb's YMODEM and against our ZMODEM download).
# Each figure is the median of ROUNDS runs (default 3), kavel and lrzsz
# alternating; the ratios are lrzsz time / kavel time (above 1: kavel is
# faster).  rx waits about a second after the last EOT before it exits;
# that wait is in every upload figure alike and in the lrzsz download.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
MIB=${2:-16}
# shellcheck source=lib/lrzsz_bench.sh
. "$(dirname "$0")/lib/lrzsz_bench.sh"
lrzsz_bench_init "$MIB" sx rx sb rb

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
ROUNDS=${ROUNDS:-3}
echo "== ${MIB} MiB XMODEM-1K through kavel-relay, $(nproc) cores, median of $ROUNDS rounds"
lrzsz_rounds "download sx -k, kavel-transfer" "download sx -k, lrzsz rx" "upload into rx, kavel-transfer" "upload into rx, lrzsz sx -k"

# --- YMODEM: block 0 gives the size, so the files must be identical ----------------
ycheck() { cmp -s "$work/src/big.bin" "$1" || echo "WARNING: $2 differs" >&2; }
k_down_once() {
  clean
  relay "$work/src" "$work/p1" sb -q big.bin
  timed "$XFER" 127.0.0.1 "$port" --"${YRECV:-yrecv}" "$work/out"
  wait_relays
  ycheck "$work/out/big.bin" "kavel ${YRECV:-yrecv}"
}
l_down_once() {
  clean
  relay "$work/src" "$work/p1" sb -q big.bin
  local p1=$port
  relay "$work/out" "$work/p2" /usr/bin/time -f "%e %U %S %M" -o "$work/rbtime" rb -q
  socat TCP:127.0.0.1:"$p1" TCP:127.0.0.1:"$port" 2>/dev/null
  wait_relays
  ycheck "$work/out/big.bin" "rb download"
  cat "$work/rbtime"
}
k_up_once() {
  clean
  relay "$work/out" "$work/p1" rb -q
  timed "$XFER" 127.0.0.1 "$port" --ysend "$work/src/big.bin"
  wait_relays
  ycheck "$work/out/big.bin" "kavel --ysend"
}
l_up_once() {
  clean
  relay "$work/out" "$work/p1" rb -q
  local p1=$port
  relay "$work/src" "$work/p2" /usr/bin/time -f "%e %U %S %M" -o "$work/sbtime" sb -q big.bin
  socat TCP:127.0.0.1:"$port" TCP:127.0.0.1:"$p1" 2>/dev/null
  wait_relays
  ycheck "$work/out/big.bin" "sb upload"
  cat "$work/sbtime"
}
echo "== ${MIB} MiB YMODEM through kavel-relay, $(nproc) cores, median of $ROUNDS rounds"
lrzsz_rounds "download sb, kavel-transfer" "download sb, lrzsz rb" "upload into rb, kavel-transfer" "upload into rb, lrzsz sb"
: >"$work/kg"
for _ in $(seq "$ROUNDS"); do YRECV=ygrecv k_down_once >>"$work/kg"; done
k_g=$(median <"$work/kg")
report "download sb, kavel --ygrecv" "$MIB" "$k_g"
awk -v k="${k_g%% *}" -v l="${l_down%% *}" 'BEGIN{printf "ratio YMODEM-G download / lrzsz rb: %.2fx\n", l / k}'
# lrzsz has no YMODEM-G receiver, so YMODEM-G also stands against our own
# ZMODEM download of the same file on the same path (sz into --recv).
if command -v sz >/dev/null; then
  : >"$work/kz"
  for _ in $(seq "$ROUNDS"); do
    clean
    relay "$work/src" "$work/p1" sz -q big.bin
    timed "$XFER" 127.0.0.1 "$port" --recv "$work/out" >>"$work/kz"
    wait_relays
    ycheck "$work/out/big.bin" "kavel ZMODEM download"
  done
  k_z=$(median <"$work/kz")
  report "download sz, kavel --recv (ZMODEM)" "$MIB" "$k_z"
  awk -v k="${k_g%% *}" -v z="${k_z%% *}" 'BEGIN{printf "ratio YMODEM-G / our ZMODEM download: %.2fx\n", z / k}'
fi
