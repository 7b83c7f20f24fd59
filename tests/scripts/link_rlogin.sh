#!/usr/bin/env bash
# The RLogin link.  The handshake bytes as they leave (a listener that keeps
# them); Debian's rlogind, run as inetd runs it, refusing a caller from an
# ordinary port with its own words; and rlogind behind a relay from a
# privileged port logging a throwaway account in by the BBS convention (the
# server user is the account, the client user its "password", trusted here
# through the account's .rhosts), the test BBS as its shell: the terminal
# type, the window size rlogind asks for, typed bytes both ways.  Cancel
# while waiting for the answer.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
SRC=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
LINKCAT="$BUILD/kavel-linkcat"
BBS="$BUILD/kavel-testbbs"
RLOGIND=/usr/sbin/in.rlogind
for tool in "$RLOGIND" "$(command -v socat)" "$(command -v python3)" "$(command -v useradd)"; do
  [ -x "$tool" ] || { echo "SKIP: ${tool:-a tool} not installed"; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "SKIP: rlogind logs a user in only as root"; exit 77; }
[ -x "$LINKCAT" ] && [ -x "$BBS" ] || { echo "FAIL: kavel-linkcat or kavel-testbbs not built"; exit 1; }
. "$(dirname "$0")/lib/link_peer.sh"
umask 077
secret=$(head -c 12 /dev/urandom | base64 | tr -d '/+=')

# 1. The handshake as it leaves: NUL, client user (the password), NUL,
# server user, NUL, terminal/speed, NUL; then the server's zero byte.
p=$(free_port)
expected="$work/hello.expected"
printf '\0%s\0%s\0%s\0' "$secret" sysop "petscii/115200" >"$expected"
n=$(stat -c %s "$expected")
printf '#!/bin/sh\nhead -c %s >"%s"\nprintf "\\000WELCOME\\r\\n"\nsleep 1\n' "$n" "$work/hello" >"$work/answer.sh"
timeout 20 socat TCP-LISTEN:"$p",bind=127.0.0.1,reuseaddr EXEC:"sh $work/answer.sh" 2>/dev/null &
pids+=($!)
wait_listening "$p" $!
KAVEL_PASSWORD=$secret timeout 20 "$LINKCAT" --batch --term PETSCII --user nobody \
  "rlogin://sysop@127.0.0.1:$p" </dev/null >"$work/out" 2>"$work/err"
check "the handshake is NUL password NUL user NUL petscii/115200 NUL, the address's user first" \
  cmp -s "$expected" "$work/hello"
check "the server's zero byte is taken and its data follows" \
  bash -c "[ \"\$(head -c 7 '$work/out')\" = WELCOME ]"

# 2. rlogind as inetd runs it; it takes no caller from an ordinary port and
# says so.
rlogind_port=$(free_port)
timeout 60 socat TCP-LISTEN:"$rlogind_port",bind=127.0.0.1,reuseaddr,fork \
  EXEC:"$RLOGIND",nofork 2>/dev/null &
pids+=($!)
wait_listening "$rlogind_port" $!
timeout 20 "$LINKCAT" --batch "rlogin://nobody@127.0.0.1:$rlogind_port" </dev/null >/dev/null 2>"$work/err"
rc=$?
check "rlogind's refusal is shown in its words (rc=$rc)" \
  bash -c "[ $rc -eq 1 ] && grep -q 'refused by 127.0.0.1:$rlogind_port: rlogind: Permission denied.' '$work/err'"

# 3. Through a privileged port, the BBS convention logs the account in.
cat >"$work/board.sh" <<BOARD
#!/bin/sh
exec "$BBS" --stdio --max-seconds 20 --log "\$HOME/bbs.log" --scenario echo
BOARD
chmod 755 "$work/board.sh"
if make_account && usermod -s "$work/board.sh" "$acct"; then
  printf 'localhost %s\n127.0.0.1 %s\n' "$secret" "$secret" >"$acct_home/.rhosts"
  chown "$acct" "$acct_home/.rhosts"
  chmod 600 "$acct_home/.rhosts"
  relay_port=$(free_port)
  timeout 30 python3 "$SRC/tests/scripts/lib/rlogin_relay.py" "$relay_port" "$rlogind_port" 25 &
  pids+=($!)
  wait_listening "$relay_port" $!
  # Typed once the board is ready (a log-in through rlogind takes seconds on
  # a loaded machine: a fixed pause could type before the board is there).
  { for _ in $(seq 150); do grep -q 'ECHO READY' "$work/out" 2>/dev/null && break; sleep 0.1; done
    # "q" hangs up: it goes once the echo is back, so that a board that
    # reads both in one piece cannot end before its echo is out.
    printf 'hello\r'
    for _ in $(seq 50); do grep -q 'hello' "$work/out" 2>/dev/null && break; sleep 0.1; done
    printf 'q'; sleep 3; } |
    KAVEL_PASSWORD=$secret timeout 20 "$LINKCAT" --batch --size 100x30 \
      "rlogin://$acct@127.0.0.1:$relay_port" >"$work/out" 2>"$work/err"
  check "the convention logs the account in and the board answers ($(head -c 200 "$work/err"))" \
    grep -q 'ECHO READY' "$work/out"
  check "typed bytes came back" grep -q 'hello' "$work/out"
  check "the terminal type arrived in lower case" grep -q '^STDIO TERM ansi$' "$acct_home/bbs.log"
  check "the window size rlogind asked for was answered" grep -q '^WINSIZE 100 30$' "$acct_home/bbs.log"
else
  echo "note: no throwaway account; the log-in through rlogind is not checked"
fi

# 4. Cancel while waiting for the answer.
silent_server
cancel_after 1 --batch "rlogin://x@127.0.0.1:$silent"
check "Ctrl-C while waiting for the RLogin answer cancels at once (${cancel_ms} ms)" \
  bash -c "[ $cancel_rc -eq 1 ] && [ $cancel_ms -lt 1000 ] && grep -q cancelled '$work/cancel.err'"
exit $fail
