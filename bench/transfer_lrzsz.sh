#!/usr/bin/env bash
# Transfer benchmark (run by hand; not a test): Kavel's ZMODEM through the
# Telnet relay side by side with lrzsz on the same relay path, in one run.
#
#   bash bench/transfer_lrzsz.sh BUILD_DIR [MIB]      (default 64 MiB)
#
# Download: sz behind kavel-relay, received by kavel-transfer --recv, then by
# rz.  rz speaks no Telnet, so it sits behind a second kavel-relay (which
# undoubles 0xFF and strips Telnet as Kavel's own Telnet layer does), joined
# to the first by socat: rz's path has one hop more than Kavel's.
# Upload: kavel-transfer --zsend into rz behind the relay, then sz (behind
# its own relay and socat) into the same.
# For each: seconds, MiB/s, CPU seconds of the client per MiB, peak resident
# size; the ratio Kavel/lrzsz of the rates; Kavel's peak resident size with
# a 1 MiB file for comparison.  With Xvfb installed, also the real kavel
# window downloading the same file (status box drawn) against headless.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
MIB=${2:-64}
# shellcheck source=lib/lrzsz_bench.sh
. "$(dirname "$0")/lib/lrzsz_bench.sh"
lrzsz_bench_init "$MIB" sz rz
head -c 1048576 /dev/urandom >"$work/src/one.bin"

# One measurement each; each prints "seconds user sys maxrss_kb".
k_down_once() {
  clean
  relay "$work/src" "$work/p1" sz -q big.bin
  timed "$XFER" 127.0.0.1 "$port" --recv "$work/out"
  wait_relays
  cmp -s "$work/src/big.bin" "$work/out/big.bin" || echo "WARNING: kavel download differs" >&2
}
l_down_once() {
  clean
  relay "$work/src" "$work/p1" sz -q big.bin
  local p1=$port
  relay "$work/out" "$work/p2" /usr/bin/time -f "%e %U %S %M" -o "$work/rztime" rz -q -y
  socat TCP:127.0.0.1:"$p1" TCP:127.0.0.1:"$port" 2>/dev/null
  wait_relays
  cmp -s "$work/src/big.bin" "$work/out/big.bin" || echo "WARNING: rz download differs" >&2
  cat "$work/rztime"
}
k_up_once() {
  clean
  relay "$work/out" "$work/p1" rz -q -y
  timed "$XFER" 127.0.0.1 "$port" --zsend "$work/src/big.bin"
  wait_relays
  cmp -s "$work/src/big.bin" "$work/out/big.bin" || echo "WARNING: kavel upload differs" >&2
}
l_up_once() {
  clean
  relay "$work/out" "$work/p1" rz -q -y
  local p1=$port
  relay "$work/src" "$work/p2" /usr/bin/time -f "%e %U %S %M" -o "$work/sztime" sz -q big.bin
  socat TCP:127.0.0.1:"$port" TCP:127.0.0.1:"$p1" 2>/dev/null
  wait_relays
  cmp -s "$work/src/big.bin" "$work/out/big.bin" || echo "WARNING: sz upload differs" >&2
  cat "$work/sztime"
}
ROUNDS=${ROUNDS:-3}
echo "== ${MIB} MiB through kavel-relay, $(nproc) cores, median of $ROUNDS rounds (kavel and lrzsz alternating)"
lrzsz_rounds "download, kavel-transfer" "download, lrzsz rz" "upload, kavel-transfer" "upload, lrzsz sz"

# --- resident size with a small file ----------------------------------------------
clean
relay "$work/src" "$work/p1" sz -q one.bin
small=$(timed "$XFER" 127.0.0.1 "$port" --recv "$work/out")
wait_relays
report "download 1 MiB, kavel-transfer" 1 "$small"

# --- the real window against headless -------------------------------------------------
if [ -x "$BUILD/kavel" ] && command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  pids+=($!)
  xvfb=$!
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$work/display")"
  printf 'download_path=%s\n' "$work/out" >"$work/kavel.prefs"
  : >"$work/kw"
  for _ in $(seq "$ROUNDS"); do
    clean
    relay "$work/src" "$work/p1" sz -q big.bin
    start=$(date +%s.%N)
    (cd "$work" && exec "$BUILD/kavel" 127.0.0.1 "$port") >/dev/null 2>&1 &
    kavel=$!
    wait "$relay_pid" 2>/dev/null
    end=$(date +%s.%N)
    sleep 0.3
    cpu=$(awk '{print ($14 + $15) / 100}' "/proc/$kavel/stat" 2>/dev/null || echo 0)
    rss=$(awk '/VmHWM/{print $2}' "/proc/$kavel/status" 2>/dev/null || echo 0)
    kill "$kavel" 2>/dev/null
    wait "$kavel" 2>/dev/null
    cmp -s "$work/src/big.bin" "$work/out/big.bin" || echo "WARNING: window download differs"
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN{print b - a}') $cpu 0 $rss" >>"$work/kw"
  done
  report "download, kavel window (Xvfb)" "$MIB" "$(median <"$work/kw")"
  report "download, kavel-transfer (again)" "$MIB" "$k_down"
  kill "$xvfb" 2>/dev/null
fi
