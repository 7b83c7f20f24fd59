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
# shellcheck source=lib/lrzsz_bench.sh
. "$(dirname "$0")/lib/lrzsz_bench.sh"
lrzsz_bench_init "$MIB" sx rx

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
