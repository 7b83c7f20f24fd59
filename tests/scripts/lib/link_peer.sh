# Shared by the link tests (sourced): a work directory removed on exit,
# free loopback ports, waiting for a listener, checks, and a throwaway
# account for the servers that log a user in.  Everything a test starts or
# creates is undone by the EXIT trap.
work=$(mktemp -d)
chmod 711 "$work"
pids=()
acct=
cleanup_hooks=()
link_cleanup() {
  local p h
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  for h in "${cleanup_hooks[@]}"; do eval "$h"; done
  if [ -n "$acct" ]; then
    # What sshd or rlogind still runs for the account (the test started it).
    for p in $(pgrep -u "$acct"); do kill -KILL "$p" 2>/dev/null; done
    sleep 0.2
    userdel "$acct" 2>/dev/null
  fi
  rm -rf "$work"
}
trap link_cleanup EXIT

fail=0
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}

port_free() { ! (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null; }
free_port() {
  local p
  for _ in $(seq 50); do
    p=$((20000 + RANDOM % 30000))
    port_free "$p" && { echo "$p"; return 0; }
  done
  return 1
}
wait_listening() {  # port pid: waits until something accepts on the port
  for _ in $(seq 100); do
    grep -q ":$(printf '%04X' "$1") 00000000:0000 0A" /proc/net/tcp 2>/dev/null && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# A user for the servers to log in, with a home in the work directory and a
# password made now; userdel on exit.  Sets acct, acct_home and
# KAVEL_TEST_PASSWORD (exported only to the commands that get it).
make_account() {
  command -v useradd >/dev/null || return 1
  # An account whose test was killed before its exit handler ran (a time-out
  # kill) is removed here: its name carries the pid of the script that made it.
  local stale pid
  for stale in $(awk -F: '/^kvl[0-9]+r[0-9]+:/{print $1}' /etc/passwd); do
    pid=${stale#kvl}
    pid=${pid%%r*}
    kill -0 "$pid" 2>/dev/null || userdel "$stale" 2>/dev/null
  done
  acct="kvl$$r$RANDOM"
  acct_home="$work/home"
  useradd -M -N -d "$acct_home" -s /bin/sh "$acct" 2>/dev/null || { acct=; return 1; }
  mkdir -p "$acct_home"
  chown "$acct" "$acct_home"
  KAVEL_TEST_PASSWORD=$(head -c 18 /dev/urandom | base64 | tr -d '/+=')
  printf '%s:%s\n' "$acct" "$KAVEL_TEST_PASSWORD" | chpasswd || return 1
}

# A server that accepts and never says a word, for the cancel and time-out
# cases; sets silent to its port.
silent_server() {
  silent=$(free_port) || return 1
  timeout 60 socat TCP-LISTEN:"$silent",bind=127.0.0.1,reuseaddr,fork EXEC:"sleep 30" \
    </dev/null >/dev/null 2>&1 &
  pids+=($!)
  wait_listening "$silent" $!
}

# Runs kavel-linkcat with SIGINT after delay seconds; sets cancel_rc and
# cancel_ms, the time it took to end after the signal.
cancel_after() {  # delay args...
  local delay=$1
  shift
  "$LINKCAT" "$@" </dev/null >/dev/null 2>"$work/cancel.err" &
  local p=$! t0
  sleep "$delay"
  t0=$(date +%s%N)
  kill -INT "$p"
  wait "$p"
  cancel_rc=$?
  cancel_ms=$((($(date +%s%N) - t0) / 1000000))
}
