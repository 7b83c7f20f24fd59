#!/usr/bin/env bash
# SSH figures (run by hand, as root; not a test), Kavel and OpenSSH's client
# side by side against one sshd on 127.0.0.1 (the SSH test's peer from
# tests/scripts/lib/link_peer.sh: its own host key, a throwaway account):
#
#   bash bench/ssh_figures.sh BUILD_DIR [MIB] [RUNS]     (64 MiB, 3 runs)
#
# 1. A ZMODEM download of MIB MiB: kavel-transfer over SSH against
#    "ssh host sz FILE" piped into rz (their pipes joined by a FIFO, no
#    extra hop), and the same with "ssh -tt" (a pseudo-terminal on the
#    server, as Kavel's link has); runs alternate.  Seconds, MiB/s and the client's CPU
#    seconds (ssh and rz together for OpenSSH); the ratio of the median rates.
# 2. From the start of the open to the board's first byte: kavel-linkcat's
#    link_open (what Return in the phonebook does) against "ssh -tt", both
#    timed from their start by the same helper (so the program's own start
#    counts for both), and kavel-linkcat's own figure from inside (the open
#    alone, as in the running program).  Median of 2*RUNS+1 each.
# 3. The real kavel under Xvfb, dialled from its phonebook over SSH, left
#    idle 10 s on the board: CPU time from /proc/PID/stat.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
MIB=${2:-64}
RUNS=${3:-3}
[ "$(id -u)" -eq 0 ] || { echo "sshd logs a user in only as root"; exit 1; }
for tool in /usr/sbin/sshd ssh sz rz python3 /usr/bin/time "$BUILD/kavel-transfer" \
  "$BUILD/kavel-linkcat" "$BUILD/kavel-testbbs"; do
  command -v "$tool" >/dev/null || { echo "missing: $tool"; exit 1; }
done
# shellcheck source=../tests/scripts/lib/link_peer.sh
. "$(dirname "$0")/../tests/scripts/lib/link_peer.sh"
ssh_peer_setup "$BUILD/kavel-testbbs" || { echo "cannot create a throwaway account"; exit 1; }
start_sshd || { echo "sshd did not start"; cat "$work/sshd.log"; exit 1; }
printf '[127.0.0.1]:%s %s\n' "$port" "$(cut -d' ' -f1,2 "$work/hostkey.pub")" >"$work/known_hosts"
target="$acct@127.0.0.1"
SSH=(ssh -F /dev/null -p "$port" -i "$work/userkey" -o IdentitiesOnly=yes -o IdentityAgent=none
  -o BatchMode=yes -o StrictHostKeyChecking=yes -o UserKnownHostsFile="$work/known_hosts"
  -o GlobalKnownHostsFile=/dev/null)
unset SSH_AUTH_SOCK
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# --- 1. the download
head -c $((MIB * 1048576)) /dev/urandom >"$work/xfer.bin"
install -o "$acct" -m 600 "$work/xfer.bin" "$acct_home/xfer.bin"
echo sz >"$work/scenario"
mkfifo "$work/fifo"
down_kavel() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$BUILD/kavel-transfer" "ssh://$target:$port" "$port" \
    -i "$work/userkey" --known-hosts "$work/known_hosts" --idle-timeout 30 --recv "$work/down" \
    >"$work/xfer.out" 2>&1
}
down_openssh() {
  (cd "$work/down" && /usr/bin/time -f "%e %U %S" -o "$work/time" \
    bash -c '"$@" <"$0" | rz -q -y >"$0"' "$work/fifo" "${SSH[@]}" "$target" sz xfer.bin) \
    >/dev/null 2>&1
}
# The same with a pseudo-terminal on the server, as Kavel's link has one.
down_openssh_tt() {
  (cd "$work/down" && /usr/bin/time -f "%e %U %S" -o "$work/time" \
    bash -c '"$@" <"$0" | rz -q -y >"$0"' "$work/fifo" "${SSH[@]}" -tt "$target" sz xfer.bin) \
    >/dev/null 2>&1
}
echo "ZMODEM download of $MIB MiB over SSH (seconds, MiB/s, client CPU seconds):"
for i in $(seq "$RUNS"); do
  for side in kavel openssh openssh_tt; do
    rm -rf "$work/down" && mkdir "$work/down"
    "down_$side"
    read -r s u y <"$work/time"
    ok=identical
    cmp -s "$work/xfer.bin" "$work/down/xfer.bin" || ok=DIFFERS
    rate=$(awk -v m="$MIB" -v s="$s" 'BEGIN {printf "%.1f", m / s}')
    echo "$rate" >>"$work/rate.$side"
    printf '  run %d %-10s %6.2f s %6s MiB/s  cpu %5.2f s  %s\n' "$i" "$side" "$s" "$rate" \
      "$(awk -v u="$u" -v y="$y" 'BEGIN {print u + y}')" "$ok"
  done
done
k=$(median <"$work/rate.kavel")
o=$(median <"$work/rate.openssh")
t=$(median <"$work/rate.openssh_tt")
echo "  median: kavel $k MiB/s, openssh $o MiB/s (with -tt $t MiB/s), ratio" \
  "$(awk -v k="$k" -v o="$o" 'BEGIN {printf "%.2f", k / o}')x ($(awk -v k="$k" -v o="$t" 'BEGIN {printf "%.2f", k / o}')x)"
grep -m1 'kex: client->server cipher' "$work/sshd.log" | sed 's/^.*kex: /  negotiated: /'

# --- 2. Return to the board's first byte
echo echo >"$work/scenario"
cat >"$work/first_byte.py" <<'PY'
import os, signal, subprocess, sys, time
t0 = time.monotonic()
p = subprocess.Popen(sys.argv[1:], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                     stderr=open(os.environ["FB_ERR"], "w"), start_new_session=True)
got = p.stdout.read(1)
ms = (time.monotonic() - t0) * 1000
time.sleep(0.2)  # kavel-linkcat's own timing line is written by now
os.killpg(p.pid, signal.SIGTERM)
p.wait()
print("%.1f" % ms if got else "nan")
PY
echo "From the start of the open to the board's first byte (ms):"
for i in $(seq $((2 * RUNS + 1))); do
  k=$(FB_ERR="$work/fb.err" python3 "$work/first_byte.py" "$BUILD/kavel-linkcat" --batch \
    -i "$work/userkey" --known-hosts "$work/known_hosts" --linger 5000 --timing "ssh://$target:$port")
  inner=$(sed -n 's/^timing: open \([0-9.]*\) first-byte \([0-9.]*\)$/\2/p' "$work/fb.err")
  o=$(FB_ERR="$work/fb.err" python3 "$work/first_byte.py" "${SSH[@]}" -tt "$target")
  echo "$k" >>"$work/fb.kavel" && echo "$o" >>"$work/fb.openssh" && echo "$inner" >>"$work/fb.inner"
  printf '  run %d  kavel-linkcat %7s (inside: %7s)  ssh -tt %7s\n' "$i" "$k" "$inner" "$o"
done
k=$(median <"$work/fb.kavel")
o=$(median <"$work/fb.openssh")
n=$(median <"$work/fb.inner")
echo "  median: kavel-linkcat $k ms (inside $n ms), ssh -tt $o ms, ratio" \
  "$(awk -v k="$k" -v o="$o" 'BEGIN {printf "%.2f", k / o}')x (inside $(awk -v k="$n" -v o="$o" 'BEGIN {printf "%.2f", k / o}')x)"

# --- 3. idle CPU of the real program
if ! link_window_start; then
  echo "Idle CPU: skipped (needs Xvfb, xdotool, ImageMagick and kavel)"
  exit 0
fi
home="$work/winhome"
mkdir -p -m 700 "$home/.ssh" && cp "$work/userkey" "$home/.ssh/id_ed25519"
cp "$work/known_hosts" "$home/.ssh/known_hosts"
printf '# Kavel Phonebook\nSSH Board|ssh://%s:%s|%s|ANSI|CP437||||Unknown|0|0|\n' \
  "$target" "$port" "$port" >"$home/kavel.phonebook"
start_kavel "$home"
wait_named '^Kavel$' && sleep 0.8 && keys Return
if ! wait_named "^Kavel - 127\\.0\\.0\\.1:$port\$" 150; then
  echo "Idle CPU: the session did not open"
  exit 1
fi
sleep 2
kpid=$(pgrep -P "$kavel_pid" -x kavel)  # kavel_pid is timeout's
cpu_ticks() { awk '{print $14 + $15}' "/proc/$kpid/stat"; }
c0=$(cpu_ticks) && t0=$(date +%s%N)
sleep 10
c1=$(cpu_ticks) && t1=$(date +%s%N)
hz=$(getconf CLK_TCK)
echo "Idle CPU of kavel in an SSH session (Xvfb): $((c1 - c0)) ticks of 1/$hz s in" \
  "$(awk -v t="$((t1 - t0))" 'BEGIN {printf "%.1f", t / 1e9}') s:" \
  "$(awk -v c="$((c1 - c0))" -v h="$hz" -v t="$((t1 - t0))" 'BEGIN {printf "%.2f", 100 * c / h / (t / 1e9)}')% of a core"
