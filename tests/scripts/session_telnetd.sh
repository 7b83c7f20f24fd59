#!/usr/bin/env bash
# The Telnet layer against a real server: inetutils telnetd on loopback (run
# through socat, with a shell script instead of login), driven by
# kavel-telnet-probe.  Checks the option answers, the terminal type and window
# size the server received, and that a command's output came through.
set -u
BUILD=${1:?build dir}
PROBE="$BUILD/kavel-telnet-probe"
TELNETD=/usr/sbin/telnetd
for tool in "$TELNETD" "$(command -v socat)"; do
  [ -x "$tool" ] || { echo "SKIP: $tool not installed"; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "SKIP: telnetd needs root for its pseudo-terminal"; exit 77; }
[ -x "$PROBE" ] || { echo "FAIL: $PROBE not built"; exit 1; }

work=$(mktemp -d)
socat_pid=
cleanup() {
  [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# What telnetd runs instead of login: report what the client negotiated.
cat >"$work/cmd.sh" <<'CMD'
#!/bin/sh
echo "TERM=$TERM"
echo "SIZE $(stty size)"
echo "CMD-OUTPUT $(echo probe | tr a-z A-Z)"
sleep 0.3
CMD
chmod +x "$work/cmd.sh"

port_free() { ! (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null; }
started=0
for _ in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 30000))
  port_free "$port" || continue
  timeout 60 socat TCP-LISTEN:"$port",bind=127.0.0.1,reuseaddr \
    EXEC:"$TELNETD -h -E $work/cmd.sh" 2>"$work/socat.err" &
  socat_pid=$!
  for _ in $(seq 50); do
    if ! port_free "$port"; then started=1; break; fi
    kill -0 "$socat_pid" 2>/dev/null || break
    sleep 0.1
  done
  # The readiness check itself used up socat's one connection: start again.
  if [ "$started" = 1 ]; then
    wait "$socat_pid" 2>/dev/null
    timeout 60 socat TCP-LISTEN:"$port",bind=127.0.0.1,reuseaddr \
      EXEC:"$TELNETD -h -E $work/cmd.sh" 2>"$work/socat.err" &
    socat_pid=$!
    sleep 0.3
    break
  fi
done
[ "$started" = 1 ] || { echo "FAIL: could not start telnetd on loopback"; cat "$work/socat.err"; exit 1; }

"$PROBE" 127.0.0.1 "$port" --seconds 15 >"$work/out" 2>"$work/log"
rc=$?
fail=0
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}
check "probe saw the server close (rc=$rc)" test "$rc" -eq 0
check "terminal type reached the server" grep -qiE '^TERM=(ansi|ansi-bbs|vt100)'$'\r''?$' "$work/out"
check "window size 25 x 80 reached the server" grep -q '^SIZE 25 80' "$work/out"
check "command output arrived" grep -q '^CMD-OUTPUT PROBE' "$work/out"
check "opening offers sent first" bash -c "head -5 '$work/log' | tr '\n' '|' | grep -q '^CONNECTED|REPLY ff fb 03|REPLY ff fd 03|REPLY ff fb 00|REPLY ff fd 00|'"
check "DO TTYPE answered WILL TTYPE" grep -q '^REPLY ff fb 18$' "$work/log"
check "server asked for the terminal type" grep -q '^SERVER SB 24$' "$work/log"
check "TTYPE SEND answered with IS ANSI" bash -c "grep '^REPLY' '$work/log' | tr '\n' '|' | grep -q 'REPLY ff fa 18 00|REPLY 41 4e 53 49|REPLY ff f0|'"
check "DO NAWS answered with 80 x 25" grep -q '^REPLY ff fa 1f 00 50 00 19 ff f0$' "$work/log"
if grep -q '^SERVER WILL 5$' "$work/log"; then
  check "unknown WILL refused with DONT" grep -q '^REPLY ff fe 05$' "$work/log"
fi
if grep -q '^SERVER DO 32$' "$work/log"; then
  check "unknown DO refused with WONT" grep -q '^REPLY ff fc 20$' "$work/log"
fi
if grep -q '^SERVER WILL 1$' "$work/log"; then
  check "WILL ECHO accepted with DO" grep -q '^REPLY ff fd 01$' "$work/log"
fi
if [ "$fail" != 0 ]; then
  echo "--- probe log"; cat "$work/log"; echo "--- output"; cat -A "$work/out"
fi
exit "$fail"
