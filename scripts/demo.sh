#!/usr/bin/env bash
# The whole program without any network: starts the test BBS on a free
# loopback port, opens kavel on it in a window, and stops the BBS when kavel
# ends.
#   scripts/demo.sh [BUILD_DIR] [--c64] [extra options, e.g. -m]
# --c64 calls the board's Commodore 64 side instead (PETSCII, 40 columns)
# with kavel-c64; its options (-f, -m, -w, --font NAME) may follow.
# From make: make demo, or make demo DEMO_ARGS=--c64.
set -eu
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
[ $# -gt 0 ] && shift
c64=0
args=()
for a in "$@"; do
  if [ "$a" = --c64 ]; then c64=1; else args+=("$a"); fi
done
if [ "$c64" = 1 ]; then
  client=kavel-c64
  board=(--scenario petscii)
  seq_file=$(ls "$here"/assets/testbbs/*.seq 2>/dev/null | head -1 || true)
  [ -n "$seq_file" ] && board+=(--welcome "$seq_file")
  hint="a C64 board (PETSCII) - type to see the echo, Ctrl-C is RUN/STOP, Ctrl-N / Ctrl-O switch the character set, Alt+S toggles the 40-column scale in full screen, Alt+H asks to disconnect."
else
  client=kavel
  board=(--scenario welcome --welcome "$here/assets/testbbs/welcome.ans")
  hint="type to see the echo, q hangs up, Alt+Enter switches window modes, Alt+H asks to disconnect."
fi
for b in "$client" kavel-testbbs; do
  [ -x "$build/$b" ] || { echo "demo: $build/$b is not built (make build)" >&2; exit 1; }
done
out=$(mktemp)
"$build/kavel-testbbs" "${board[@]}" --max-seconds 3600 >"$out" 2>&1 &
bbs=$!
trap 'kill "$bbs" 2>/dev/null || true; rm -f "$out"' EXIT
port=
for _ in $(seq 50); do
  port=$(awk '/^PORT/{print $2}' "$out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "demo: the test BBS did not start" >&2; exit 1; }
echo "Test BBS on 127.0.0.1:$port - $hint"
cd "$build"
status=0
"./$client" ${args[@]+"${args[@]}"} 127.0.0.1 "$port" || status=$?
exit "$status"
