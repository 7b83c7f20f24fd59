#!/usr/bin/env bash
# The SSH link against OpenSSH's sshd on 127.0.0.1 (its own host keys and
# config in a temporary directory, a throwaway account whose password is made
# at run time), serving the test BBS on its standard input and output:
# host keys unknown, accepted, hashed as OpenSSH reads them, changed;
# public key, password and keyboard-interactive log-ins and a wrong password;
# the terminal type and size; 1 MiB of every byte value both ways; the old
# algorithms of BBS servers; the server ending the session; cancel and
# time-out in the key exchange; after a password or keyboard-interactive
# log-in, the password nowhere in the client's memory; in a window under
# Xvfb: the host-key question, yes, the board; a changed key warned about,
# nothing sent; Escape while the connect, the key exchange and the
# authentication wait.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
LINKCAT="$BUILD/kavel-linkcat"
BBS="$BUILD/kavel-testbbs"
SSHD=/usr/sbin/sshd
for tool in "$SSHD" "$(command -v ssh-keygen)" "$(command -v socat)" "$(command -v useradd)"; do
  [ -x "$tool" ] || { echo "SKIP: ${tool:-a tool} not installed"; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "SKIP: sshd logs a user in only as root"; exit 77; }
[ -x "$LINKCAT" ] && [ -x "$BBS" ] || { echo "FAIL: kavel-linkcat or kavel-testbbs not built"; exit 1; }
. "$(dirname "$0")/lib/link_peer.sh"

ssh_peer_setup "$BBS" || { echo "SKIP: cannot create a throwaway account"; exit 77; }

# Runs kavel-linkcat against the server with input text; sets rc, out, err.
call() {  # input, linkcat options...
  local input=$1
  shift
  rm -f "$acct_home/bbs.log"
  printf '%s' "$input" | timeout 30 "$LINKCAT" --known-hosts "$work/known_hosts" "$@" \
    "ssh://$acct@127.0.0.1:$port" >"$work/out" 2>"$work/err"
  rc=$?
}
no_userauth() { ! grep -q 'userauth-request' "$work/sshd.log"; }

hostkey="$work/hostkey"
start_sshd || { echo "FAIL: sshd did not start"; cat "$work/sshd.log"; exit 1; }

call "q" --batch -i "$work/userkey"
check "an unknown host key is refused in batch mode (rc=$rc)" test "$rc" -eq 1
check "the refusal shows the SHA256 fingerprint" grep -q 'not trusted (SHA256:' "$work/err"
check "nothing was sent before the host key was trusted" no_userauth

call $'hello\rq' --batch --accept-new-host-key -i "$work/userkey" --size 100x30 --resize 90x20
check "public key log-in with a new host key accepted (rc=$rc)" test "$rc" -eq 0
check "the board's bytes came through" grep -q 'ECHO READY' "$work/out"
check "typed bytes reached the board and came back" grep -q 'hello' "$work/out"
check "the pseudo-terminal has the terminal type" grep -q '^STDIO TERM ANSI$' "$acct_home/bbs.log"
check "a new size reaches it as a window change" grep -q '^WINSIZE 90 20$' "$acct_home/bbs.log"
check "the modern key exchange was chosen" grep -q 'kex: algorithm: curve25519-sha256' "$work/sshd.log"
check "the host key was stored hashed, as OpenSSH finds it" \
  bash -c "grep -q '^|1|' '$work/known_hosts' && ssh-keygen -F '[127.0.0.1]:$port' -f '$work/known_hosts' | grep -q ssh-ed25519"

start_sshd -o PubkeyAuthentication=no -o KbdInteractiveAuthentication=no
KAVEL_PASSWORD=$KAVEL_TEST_PASSWORD call q --batch --size 100x30
check "password log-in (rc=$rc)" test "$rc" -eq 0
check "the pseudo-terminal has the grid's size" grep -q '^WINSIZE 100 30$' "$acct_home/bbs.log"
check "the board answered after the password" grep -q 'ECHO READY' "$work/out"
KAVEL_PASSWORD="wrong-$RANDOM" call q --batch
check "a wrong password fails (rc=$rc)" test "$rc" -eq 1
check "a wrong password says so, with the methods" \
  grep -q 'wrong password (tried: none, password; offered: password)' "$work/err"
call q --batch
check "no password and nobody to ask: the methods are named" \
  grep -q 'Permission denied (tried: none; offered: password)' "$work/err"

start_sshd -o PubkeyAuthentication=no -o PasswordAuthentication=no
KAVEL_PASSWORD=$KAVEL_TEST_PASSWORD call q --batch
check "keyboard-interactive log-in (rc=$rc)" test "$rc" -eq 0
check "the board answered after keyboard-interactive" grep -q 'ECHO READY' "$work/out"

# After a log-in with the password, with the session still open: the
# password is nowhere in the client's memory (read as root through
# /proc/PID/mem), while the same scan finds it in the memory of the timeout
# that started the client (the password is in its environment).
in_memory() {  # pid, text
  NEEDLE=$2 python3 - "$1" <<'PY'
import os, sys
pid, needle, found = sys.argv[1], os.environ["NEEDLE"].encode(), False
with open("/proc/%s/maps" % pid) as maps, open("/proc/%s/mem" % pid, "rb", 0) as mem:
    for line in maps:
        span, perms = line.split()[:2]
        if perms[0] != "r":
            continue
        lo, hi = (int(x, 16) for x in span.split("-"))
        try:
            mem.seek(lo)
            found = found or needle in mem.read(hi - lo)
        except (OSError, ValueError, OverflowError):
            pass
sys.exit(0 if found else 1)
PY
}
mkfifo "$work/in"
memory_check() {  # the log-in method's name
  exec 7<>"$work/in"
  KAVEL_PASSWORD=$KAVEL_TEST_PASSWORD timeout 30 "$LINKCAT" --known-hosts "$work/known_hosts" \
    --batch "ssh://$acct@127.0.0.1:$port" <&7 >"$work/out" 2>"$work/err" &
  local lc=$! pid
  for _ in $(seq 100); do grep -q 'ECHO READY' "$work/out" && break; sleep 0.05; done
  pid=$(pgrep -P "$lc" -x kavel-linkcat)  # not timeout's, whose environment has it
  check "$1: logged in, the session open" grep -q 'ECHO READY' "$work/out"
  check "$1: the scan finds the password in timeout's environment (the control)" \
    in_memory "$lc" "$KAVEL_TEST_PASSWORD"
  check "$1: the password is not in the client's memory" not_in_memory "$pid" "$KAVEL_TEST_PASSWORD"
  exec 7>&-
  wait "$lc"
}
not_in_memory() { ! in_memory "$@"; }
memory_check keyboard-interactive
start_sshd -o PubkeyAuthentication=no -o KbdInteractiveAuthentication=no
memory_check password

# Every byte value, 1 MiB, to a board that sends back what it gets: the
# bytes go out once it said READY (before that its terminal still cooks).
start_sshd
head -c 1048576 /dev/urandom >"$work/blob"
echo cat >"$work/scenario"
exec 7<>"$work/in"
timeout 60 "$LINKCAT" --known-hosts "$work/known_hosts" --batch -i "$work/userkey" --linger 3000 \
  "ssh://$acct@127.0.0.1:$port" <&7 >"$work/blob.back" 2>"$work/err" &
lc=$!
for _ in $(seq 200); do
  [ "$(head -c 6 "$work/blob.back" 2>/dev/null)" = READY$'\n' ] && break
  sleep 0.05
done
cat "$work/blob" >&7
exec 7>&-
wait "$lc"
check "1 MiB of every byte value came back unchanged over SSH" \
  cmp -s <(cat <(printf 'READY\n') "$work/blob") "$work/blob.back"

# The server ends the session: the link ends with it, at once, although
# standard input stays open.
t0=$(date +%s)
# 8 MiB both ways with ZMODEM through kavel-transfer, bytes unchanged on
# SSH (no Telnet doubling): random bytes with runs of the values a transfer
# must escape or a Telnet layer would double.
for b in '\377' '\030' '\021' '\023'; do head -c 4096 /dev/zero | tr '\0' "$b"; done >"$work/xfer.bin"
head -c $((8 * 1048576 - 16384)) /dev/urandom >>"$work/xfer.bin"
install -o "$acct" -m 600 "$work/xfer.bin" "$acct_home/xfer.bin"
install -d -o "$acct" "$acct_home/up"
xfer() {  # scenario, kavel-transfer options...
  echo "$1" >"$work/scenario"
  shift
  timeout 120 "$BUILD/kavel-transfer" "ssh://$acct@127.0.0.1:$port" "$port" -i "$work/userkey" \
    --known-hosts "$work/known_hosts.xfer" --accept-new-host-key --idle-timeout 30 "$@" \
    >"$work/xfer.out" 2>&1
}
mkdir -p "$work/down"
xfer sz --recv "$work/down"
check "an 8 MiB ZMODEM download over SSH is byte-identical ($(tail -1 "$work/xfer.out"))" \
  cmp -s "$work/xfer.bin" "$work/down/xfer.bin"
xfer rz --zsend "$work/xfer.bin"
check "an 8 MiB ZMODEM upload over SSH is byte-identical ($(tail -1 "$work/xfer.out"))" \
  cmp -s "$work/xfer.bin" "$acct_home/up/xfer.bin"

echo close-after:300 >"$work/scenario"
exec 7<>"$work/in"
timeout 30 "$LINKCAT" --known-hosts "$work/known_hosts" --batch -i "$work/userkey" \
  "ssh://$acct@127.0.0.1:$port" <&7 >"$work/out" 2>"$work/err"
rc=$?
exec 7>&-
check "the server closing mid-session ends it (rc=$rc, $(($(date +%s) - t0)) s)" \
  bash -c "[ $rc -eq 0 ] && [ $(($(date +%s) - t0)) -lt 8 ] && grep -q 'CLOSING SOON' '$work/out'"
check "the end is reported" grep -q 'closed the connection' "$work/err"
echo echo >"$work/scenario"

# An old board: SHA-1 Diffie-Hellman, an ssh-rsa host key, CBC and HMAC-SHA1.
hostkey="$work/hostkey_rsa"
start_sshd -o KexAlgorithms=diffie-hellman-group14-sha1 -o HostKeyAlgorithms=ssh-rsa \
  -o Ciphers=aes128-cbc -o MACs=hmac-sha1
rm -f "$work/known_hosts.old"
printf q | timeout 30 "$LINKCAT" --known-hosts "$work/known_hosts.old" --batch --accept-new-host-key \
  -i "$work/userkey" "ssh://$acct@127.0.0.1:$port" >"$work/out" 2>"$work/err"
check "an old board's algorithms are still offered ($(head -c 200 "$work/err"))" grep -q 'ECHO READY' "$work/out"

# Another key on a known host: refused, the line named, nothing sent.
hostkey="$work/hostkey2"
start_sshd
call q --accept-new-host-key -i "$work/userkey"
check "a changed host key is refused, even with --accept-new-host-key (rc=$rc)" test "$rc" -eq 1
check "the warning names the known_hosts file and line" grep -q "known_hosts line 1" "$work/err"
check "nothing was sent to a host whose key changed" no_userauth
check "the board never ran" test ! -e "$acct_home/bbs.log"

# Cancel (Ctrl-C) and the time budget in the key exchange.
silent_server
cancel_after 1 --batch "ssh://127.0.0.1:$silent"
check "Ctrl-C during the key exchange cancels at once (${cancel_ms} ms)" \
  bash -c "[ $cancel_rc -eq 1 ] && [ $cancel_ms -lt 1000 ] && grep -q cancelled '$work/cancel.err'"
timeout 20 "$LINKCAT" --batch --budget 25 "ssh://127.0.0.1:$silent" </dev/null 2>"$work/err"
check "a silent server runs out of the budget" grep -q 'in time' "$work/err"

# --- In a window, from the phonebook menu, in a fresh HOME whose
# ~/.ssh/known_hosts is empty and whose ~/.ssh/id_ed25519 the server takes.
if ! link_window_start; then
  echo "skipped: the window part (needs Xvfb, xdotool, ImageMagick and kavel)"
else
  home="$work/winhome"
  mkdir -p -m 700 "$home/.ssh" && cp "$work/userkey" "$home/.ssh/id_ed25519" && : >"$home/.ssh/known_hosts"
  # Below the board, one entry for each phase Escape must cut short: a
  # connect never answered, a key exchange never begun, a password asked for.
  stalled_connect || check "a listener that holds the connect" false
  {
    printf '# Kavel Phonebook\nSSH Board|ssh://%s@127.0.0.1:%s|%s|ANSI|CP437||||Unknown|0|0|\n' \
      "$acct" "$port" "$port"
    printf 'Held %s|ssh://127.0.0.1:%s|%s|ANSI|CP437||||Unknown|0|0|\n' \
      connect "$stalled" "$stalled" "key exchange" "$silent" "$silent"
    printf 'Held password|ssh://kvlnobody@127.0.0.1:%s|%s|ANSI|CP437||||Unknown|0|0|\n' "$port" "$port"
  } >"$home/kavel.phonebook"
  hostkey="$work/hostkey"
  start_sshd
  echo welcome >"$work/scenario" && rm -f "$acct_home/bbs.log" "$acct_home/bbs.keys"
  start_kavel "$home"
  no_session() { ! xdotool search --name '^Kavel - ' >/dev/null 2>&1; }
  not_called() { no_userauth && no_session && [ ! -e "$acct_home/bbs.log" ]; }
  # The dialing box alone is some 23000 grey pixels; the question with its
  # lines of detail (host, fingerprint, file) is several times that.
  wait_named '^Kavel$' || check "the menu window opens ($(tail -c 300 "$work/kavel.err"))" false
  sleep 0.8
  keys Return && sleep 3
  n=$(pixels ssh-trust-question '#AAAAAA')
  check "the question box is drawn in the window ($n grey pixels)" [ "$n" -gt 60000 ]
  check "no log-in and no session before the answer" not_called
  keys y
  wait_named "^Kavel - 127\\.0\\.0\\.1:$port\$" 150 && sleep 2
  check "Y: the session opens with the board's text on the screen" [ "$(pixels ssh-board '#FFFF55')" -gt 500 ]
  keys h e l l o && sleep 1
  check "typed keys reached the board" grep -q hello "$acct_home/bbs.keys"
  check "the key is stored in ~/.ssh/known_hosts" \
    bash -c "ssh-keygen -F '[127.0.0.1]:$port' -f '$home/.ssh/known_hosts' | grep -q ssh-ed25519"
  cp "$home/.ssh/known_hosts" "$work/known_hosts.window"
  # q: the board hangs up; a key dismisses the notice; the menu is back.
  keys q
  for _ in $(seq 10); do keys space; wait_named '^Kavel$' 5 && break; done
  # Another key on the same host: the warning, nothing sent, the stored key kept.
  hostkey="$work/hostkey2" && start_sshd && rm -f "$acct_home/bbs.log"
  keys Return && sleep 3
  n=$(pixels ssh-changed-key '#AAAAAA')
  check "a changed key shows the warning ($n grey pixels)" [ "$n" -gt 60000 ]
  keys space && sleep 3
  check "refused: nothing was sent to the host whose key changed, no session" not_called
  check "the stored key is kept as it was" cmp -s "$home/.ssh/known_hosts" "$work/known_hosts.window"
  # Escape while each phase waits, the next entry down each time: the box
  # is gone at once and no session opens.
  # The picture is taken 300 ms after the key.
  held_then_gone() { shows "$1" "$2" && ! shows "$1-escaped" "$2" && no_session; }
  hostkey="$work/hostkey" && start_sshd
  wait_named '^Kavel$' 50
  for phase in "connect:Dialing Held connect (SSH)" "key exchange:Dialing Held key exchange (SSH)" \
    "authentication:Password for kvlnobody@127.0.0.1:"; do
    shot=ssh-held-${phase%%:*} && shot=${shot// /-}
    keys Down && keys Return && sleep 2
    import -window "$win" "$work/$shot.png"
    xdotool key Escape && sleep 0.3
    import -window "$win" "$work/$shot-escaped.png"
    check "Escape during the ${phase%%:*} cancels at once (\"${phase#*:}\" held, then gone)" \
      held_then_gone "$shot" "${phase#*:}"
  done
  wait_named '^Kavel$' 50 && keys alt+x && keys y
  for _ in $(seq 50); do kill -0 "$kavel_pid" 2>/dev/null || break; sleep 0.1; done
  check "kavel leaves" bash -c "! kill -0 $kavel_pid 2>/dev/null"
  [ -n "${KAVEL_E2E_KEEP:-}" ] && cp "$work"/*.png "$KAVEL_E2E_KEEP"/ 2>/dev/null
fi

no_password_in_files() { ! grep -rqFf <(printf '%s\n' "$KAVEL_TEST_PASSWORD") "$work"; }
check "the password appears in no output or log" no_password_in_files
exit $fail
