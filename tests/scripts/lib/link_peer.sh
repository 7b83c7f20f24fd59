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

# OpenSSH's sshd for the SSH test and the SSH benchmark: a throwaway account
# (make_account), host keys (hostkey, hostkey2: ed25519; hostkey_rsa) and
# a user key (userkey, authorized) in the work directory, and board.sh, what
# sshd runs for every log-in: the board given as $1 with the scenario in
# $work/scenario; "cat" sends back the first MiB it gets, "sz" and "rz" run
# lrzsz straight on the link (a board's transfer section) on
# $acct_home/xfer.bin and into $acct_home/up.  Sets port; start_sshd starts
# (or restarts) sshd there with the key $hostkey.  Returns 1 when there can
# be no account.
SSHD=${SSHD:-/usr/sbin/sshd}
ssh_peer_setup() {  # board binary
  # sshd's privilege separation needs its directory; made only if missing.
  if [ ! -d /run/sshd ]; then
    mkdir -m 755 /run/sshd && cleanup_hooks+=("rmdir /run/sshd")
  fi
  make_account || return 1
  ssh-keygen -q -t ed25519 -N '' -f "$work/hostkey"
  ssh-keygen -q -t ed25519 -N '' -f "$work/hostkey2"
  ssh-keygen -q -t rsa -b 2048 -N '' -f "$work/hostkey_rsa"
  mkdir -m 700 "$acct_home/.ssh"
  ssh-keygen -q -t ed25519 -N '' -f "$work/userkey"
  cp "$work/userkey.pub" "$acct_home/.ssh/authorized_keys"
  chown -R "$acct" "$acct_home/.ssh"
  echo echo >"$work/scenario"
  # stty fails quietly where the client asked for no terminal (ssh host sz).
  cat >"$work/board.sh" <<BOARD
#!/bin/sh
scenario=\$(cat "$work/scenario")
if [ "\$scenario" = cat ]; then stty raw -echo; echo READY; exec head -c 1048576; fi
if [ "\$scenario" = sz ]; then stty raw -echo 2>/dev/null; exec sz -q "$acct_home/xfer.bin"; fi
if [ "\$scenario" = rz ]; then stty raw -echo 2>/dev/null; cd "$acct_home/up" && exec rz -q -y; fi
exec "$1" --stdio --max-seconds 60 --log "$acct_home/bbs.log" --keys "$acct_home/bbs.keys" --scenario "\$scenario"
BOARD
  chmod 755 "$work/board.sh"
  port=$(free_port)
  sshd_pid=
  hostkey="$work/hostkey"
}
start_sshd() {  # [sshd -o options...]; the host key is $hostkey
  [ -n "$sshd_pid" ] && { kill "$sshd_pid"; wait "$sshd_pid" 2>/dev/null; }
  # sshd keeps the first value it is given: the case's options come first.
  "$SSHD" -D -e -f /dev/null "$@" -o ListenAddress="127.0.0.1:$port" -o HostKey="$hostkey" \
    -o PidFile=none -o UsePAM=yes -o AllowUsers="$acct" -o StrictModes=no \
    -o AuthorizedKeysFile="$acct_home/.ssh/authorized_keys" -o LogLevel=DEBUG1 \
    -o PrintMotd=no -o PrintLastLog=no \
    -o ForceCommand="$work/board.sh" -o KbdInteractiveAuthentication=yes \
    -o PasswordAuthentication=yes -o PubkeyAuthentication=yes -o LoginGraceTime=30 \
    2>"$work/sshd.log" &
  sshd_pid=$!
  pids+=("$sshd_pid")
  wait_listening "$port" "$sshd_pid"
}

# The window part of a link test: Xvfb on a display of its own (1 when a
# tool is missing), kavel started in a HOME of the test's, and the helpers
# to find its windows, type into them and look at them.
link_window_start() {
  KAVEL="$BUILD/kavel"
  FONT="$BUILD/Fonts/cp437.f16"
  command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null &&
    [ -x "$KAVEL" ] || return 1
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$work/display")"
}
start_kavel() {  # home: kavel from its phonebook there, in the background; sets kavel_pid
  (cd "$1" && exec env -u SSH_AUTH_SOCK -u XDG_CONFIG_HOME HOME="$1" SDL_AUDIODRIVER=none \
    timeout 120 "$KAVEL") >"$work/kavel.out" 2>"$work/kavel.err" &
  kavel_pid=$!
  pids+=("$kavel_pid")
}
wait_named() {  # title regex, tenths of a second -> $win
  for _ in $(seq "${2:-100}"); do
    win=$(xdotool search --name "$1" 2>/dev/null | head -1) && [ -n "$win" ] && return 0 || sleep 0.1
  done
  return 1
}
keys() { xdotool windowfocus --sync "$win" 2>/dev/null; xdotool key --delay 120 "$@"; sleep 0.5; }
# The pixels of colour $2 in a screenshot named $1.
pixels() {
  import -window root "$work/$1.png" 2>/dev/null
  convert "$work/$1.png" -fill white -opaque "$2" -fill black +opaque white -format '%[fx:int(mean*w*h)]' info:
}
# Whether the picture $work/NAME.png shows each TEXT in the 8x16 glyphs,
# black on the boxes' grey, anywhere (a box's lines sit at no cell of the
# grid).
shows() {  # name text...
  local name=$1
  shift
  convert "$work/$name.png" -depth 8 "rgb:$work/$name.raw"
  python3 - "$work/$name.raw" "$(identify -format %w "$work/$name.png")" "$FONT" "$@" <<'PY'
import sys
raw, width, font = open(sys.argv[1], "rb").read(), int(sys.argv[2]), open(sys.argv[3], "rb").read()
height = len(raw) // (width * 3)
ink, face = b"\x00\x00\x00", b"\xaa\xaa\xaa"
def found(text):
    rows = [[font[ord(c) * 16 + y] for c in text] for y in range(16)]
    def matches(x0, y0):
        for y in range(16):
            for i, bits in enumerate(rows[y]):
                for b in range(8):
                    o = ((y0 + y) * width + x0 + i * 8 + b) * 3
                    if raw[o:o + 3] != (ink if bits & (0x80 >> b) else face):
                        return False
        return True
    return any(matches(x, y) for y in range(height - 15) for x in range(width - len(text) * 8 + 1))
sys.exit(0 if all(found(t) for t in sys.argv[4:]) else 1)
PY
}

# A listener whose queue is full, so that a connect to it waits for an
# answer that never comes (the connect phase held); sets stalled to its port.
stalled_connect() {
  timeout 60 python3 -c 'import socket, time
l = socket.socket()
l.bind(("127.0.0.1", 0))
l.listen(0)
held = socket.create_connection(l.getsockname())
print(l.getsockname()[1], flush=True)
time.sleep(60)' >"$work/stalled.port" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/stalled.port" ] && break; sleep 0.1; done
  stalled=$(cat "$work/stalled.port")
  [ -n "$stalled" ]
}
