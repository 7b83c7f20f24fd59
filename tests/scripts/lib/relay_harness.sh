# Shared harness of the transfer tests against lrzsz behind kavel-relay (a
# Telnet server on 127.0.0.1 that doubles 0xFF towards us and strips Telnet
# commands from us, as a BBS does): sourced, not run.  Needs $BUILD.
#
#   relay_harness_init TOOL...   skips (exit 77) unless the tools exist, fails
#                                unless kavel-transfer and kavel-relay are built,
#                                makes $work, installs the cleanup trap
#   expect DESCRIPTION CMD...    runs CMD, prints ok/FAIL, sets fail=1 on failure
#   start_relay DIR [relay options] -- COMMAND...
#                                the relay runs COMMAND in DIR; sets $port, $relay_pid
#   stop_relay                   waits for the relay (it ends with its command); sets
#                                $relay_status (the command's exit status)
#   xfer ARGS...                 runs kavel-transfer; sets $status and $last (its last line)
#   xfer_limited KIB ARGS...     the same with files limited to KIB KiB and SIGXFSZ
#                                ignored: writes past the limit fail, as on a full disk

relay_harness_init() {
  XFER="$BUILD/kavel-transfer"
  RELAY="$BUILD/kavel-relay"
  local tool b
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
  done
  for b in "$XFER" "$RELAY"; do [ -x "$b" ] || { echo "FAIL: $b not built"; exit 1; }; done
  work=$(mktemp -d)
  relay_pid=
  trap '[ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null; rm -rf "$work"' EXIT
  fail=0
}

expect() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}

start_relay() {
  local dir=$1 _; shift
  rm -f "$work/port"
  (cd "$dir" && exec "$RELAY" --timeout 60 "$@") >"$work/port" 2>"$work/relay.err" &
  relay_pid=$!
  port=
  for _ in $(seq 200); do
    port=$(sed -n '1{/^[0-9][0-9]*$/p}' "$work/port" 2>/dev/null)
    [ -n "$port" ] && return 0
    sleep 0.05
  done
  echo "FAIL: the relay did not start"; fail=1
  return 1
}

stop_relay() {
  relay_status=
  [ -n "$relay_pid" ] && { wait "$relay_pid" 2>/dev/null; relay_status=$?; relay_pid=; }
  return 0
}

xfer() {
  "$XFER" 127.0.0.1 "$port" --idle-timeout 15 "$@" >"$work/xfer.out" 2>&1
  status=$?
  last=$(tail -1 "$work/xfer.out")
}

xfer_limited() {
  local kib=$1; shift
  (trap '' XFSZ; ulimit -f "$kib"; exec "$XFER" 127.0.0.1 "$port" --idle-timeout 15 "$@") \
    >"$work/xfer.out" 2>&1
  status=$?
  last=$(tail -1 "$work/xfer.out")
}
