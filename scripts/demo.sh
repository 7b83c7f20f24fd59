#!/usr/bin/env bash
# The whole program without any network: starts the test BBS on a free
# loopback port, opens kavel on it in a window, and stops the BBS when kavel
# ends.  Usage: scripts/demo.sh [BUILD_DIR] [extra kavel options, e.g. -m]
set -eu
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
[ $# -gt 0 ] && shift
for b in kavel kavel-testbbs; do
  [ -x "$build/$b" ] || { echo "demo: $build/$b is not built (make build)" >&2; exit 1; }
done
out=$(mktemp)
"$build/kavel-testbbs" --scenario welcome --welcome "$here/assets/testbbs/welcome.ans" \
  --max-seconds 3600 >"$out" 2>&1 &
bbs=$!
trap 'kill "$bbs" 2>/dev/null || true; rm -f "$out"' EXIT
port=
for _ in $(seq 50); do
  port=$(awk '/^PORT/{print $2}' "$out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "demo: the test BBS did not start" >&2; exit 1; }
echo "Test BBS on 127.0.0.1:$port - type to see the echo, q hangs up, Alt+Enter switches window modes, Alt+H asks to disconnect."
cd "$build"
status=0
./kavel "$@" 127.0.0.1 "$port" || status=$?
exit "$status"
