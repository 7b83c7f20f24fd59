#!/usr/bin/env bash
# The Telnet-over-TLS link against stunnel on 127.0.0.1 in front of the test
# BBS, with certificates made here: one signed by a test CA (given through
# SSL_CERT_FILE) verifies and its host name is checked; a self-signed one is
# refused in batch mode, pinned when accepted, taken when pinned, and another
# certificate on a pinned host is refused with nothing sent.  1 MiB of every
# byte value through an echo; cancel during the handshake.  In a window
# under Xvfb: the question, yes, the pin beside the preferences; another
# certificate then refused with a warning.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
LINKCAT="$BUILD/kavel-linkcat"
BBS="$BUILD/kavel-testbbs"
STUNNEL=$(command -v stunnel4 || command -v stunnel)
for tool in "$STUNNEL" "$(command -v openssl)" "$(command -v socat)"; do
  [ -x "$tool" ] || { echo "SKIP: stunnel, openssl or socat not installed"; exit 77; }
done
[ -x "$LINKCAT" ] && [ -x "$BBS" ] || { echo "FAIL: kavel-linkcat or kavel-testbbs not built"; exit 1; }
. "$(dirname "$0")/lib/link_peer.sh"
umask 077

cert() {  # name subject SAN [CA]: a key and a certificate, signed by the CA or by itself
  local n=$1 subj=$2 san=$3 ca=${4:-}
  if [ -z "$ca" ]; then
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
      -keyout "$work/$n.key" -out "$work/$n.pem" -subj "$subj" -addext "subjectAltName=$san" 2>/dev/null
  else
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
      -keyout "$work/$n.key" -out "$work/$n.csr" -subj "$subj" 2>/dev/null
    printf 'subjectAltName=%s\n' "$san" >"$work/$n.ext"
    openssl x509 -req -in "$work/$n.csr" -CA "$work/$ca.pem" -CAkey "$work/$ca.key" \
      -CAcreateserial -days 2 -extfile "$work/$n.ext" -out "$work/$n.pem" 2>/dev/null
  fi
}
cert ca "/CN=Kavel Test CA" "DNS:ca.invalid"
cert signed "/CN=localhost" "DNS:localhost" ca
cert self "/CN=Kavel self-signed" "IP:127.0.0.1"
cert other "/CN=Kavel other" "IP:127.0.0.1"

port=$(free_port)
stunnel_pid=
# stunnel with a certificate in front of a fresh test BBS (or of target).
serve() {  # cert-name [target-port]
  [ -n "$stunnel_pid" ] && { kill "$stunnel_pid"; wait "$stunnel_pid" 2>/dev/null; }
  local target=${2:-}
  if [ -z "$target" ]; then
    [ -n "${BBSP_PID:-}" ] && { kill "$BBSP_PID" 2>/dev/null; wait "$BBSP_PID" 2>/dev/null; }
    rm -f "$work/bbs.log"
    coproc BBSP { timeout 30 "$BBS" --scenario echo --log "$work/bbs.log" --max-seconds 20; }
    pids+=("$BBSP_PID")
    read -r _ target <&"${BBSP[0]}"
  fi
  cat >"$work/stunnel.conf" <<CONF
foreground = yes
pid =
output = $work/stunnel.log
[bbs]
accept = 127.0.0.1:$port
connect = 127.0.0.1:$target
cert = $work/$1.pem
key = $work/$1.key
CONF
  timeout 60 "$STUNNEL" "$work/stunnel.conf" 2>>"$work/stunnel.log" &
  stunnel_pid=$!
  pids+=("$stunnel_pid")
  wait_listening "$port" "$stunnel_pid"
}
call() {  # input address linkcat-options...
  local input=$1 address=$2
  shift 2
  printf '%s' "$input" | timeout 30 "$LINKCAT" --pins "$work/pins" "$@" "$address" \
    >"$work/out" 2>"$work/err"
  rc=$?
}

serve signed
SSL_CERT_FILE="$work/ca.pem" call q "telnets://localhost:$port" --batch
check "a certificate from a trusted CA verifies (rc=$rc: $(head -c 200 "$work/err"))" test "$rc" -eq 0
check "the board's bytes came through TLS" grep -q 'ECHO READY' "$work/out"
check "what was typed reached the board" grep -q '^QUIT' "$work/bbs.log"
serve signed
SSL_CERT_FILE="$work/ca.pem" call q "telnets://127.0.0.1:$port" --batch
check "the host name is checked against the certificate (rc=$rc)" \
  bash -c "[ $rc -eq 1 ] && grep -qi 'mismatch' '$work/err'"
serve signed
call q "telnets://localhost:$port" --batch
check "without the test CA the certificate is unverifiable (rc=$rc)" test "$rc" -eq 1

serve self
call q "telnets://127.0.0.1:$port" --batch
check "a self-signed certificate is refused in batch mode (rc=$rc)" test "$rc" -eq 1
check "the question shows fingerprint, subject and reason" \
  bash -c "grep -q 'Trust this certificate?' '$work/err' && grep -q 'SHA-256 fingerprint: ' '$work/err' &&
           grep -q 'Subject: CN=Kavel self-signed' '$work/err' && grep -qi 'self.signed' '$work/err'"
check "nothing was pinned" test ! -e "$work/pins"

serve self
call $'yes\nq' "telnets://127.0.0.1:$port"
fp=$(openssl x509 -in "$work/self.pem" -noout -fingerprint -sha256 | sed 's/.*=//')
check "accepted, the certificate is pinned (rc=$rc)" grep -qx "127.0.0.1 $port $fp" "$work/pins"
check "the pin file is private" test "$(stat -c %a "$work/pins")" = 600
check "the board answered after the certificate was accepted" grep -q 'ECHO READY' "$work/out"
serve self
call q "telnets://127.0.0.1:$port" --batch
check "a pinned certificate is taken without asking (rc=$rc)" \
  bash -c "[ $rc -eq 0 ] && ! grep -q 'Trust this' '$work/err'"

serve other
call $'yes\nq' "telnets://127.0.0.1:$port"
check "another certificate on a pinned host is refused (rc=$rc)" test "$rc" -eq 1
check "the warning names the pin file and line" grep -q "$work/pins, line 1" "$work/err"
sleep 0.3
check "nothing was sent to that host" bash -c "! grep -q '^RECV' '$work/bbs.log'"

# Every byte value, 1 MiB, to an echo behind TLS.
echo_port=$(free_port)
timeout 60 socat TCP-LISTEN:"$echo_port",bind=127.0.0.1,reuseaddr PIPE 2>/dev/null &
pids+=($!)
wait_listening "$echo_port" $!
serve self "$echo_port"
head -c 1048576 /dev/urandom >"$work/blob"
timeout 60 "$LINKCAT" --pins "$work/pins" --batch --linger 2000 "telnets://127.0.0.1:$port" \
  <"$work/blob" >"$work/blob.back" 2>"$work/err"
check "1 MiB of every byte value came back unchanged over TLS" cmp -s "$work/blob" "$work/blob.back"

# 8 MiB both ways with ZMODEM through kavel-transfer, Telnet inside TLS:
# random bytes with runs of the values a transfer escapes or Telnet doubles.
for b in '\377' '\030' '\021' '\023'; do head -c 4096 /dev/zero | tr '\0' "$b"; done >"$work/xfer.bin"
head -c $((8 * 1048576 - 16384)) /dev/urandom >>"$work/xfer.bin"
mkdir -p "$work/down" "$work/up"
xfer() {  # kavel-transfer options...: through a fresh ZMODEM board behind TLS
  timeout 120 "$BBS" --scenario zmodem --sz-file "$work/xfer.bin" --rz-dir "$work/up" \
    --max-seconds 100 >"$work/zbbs.out" 2>&1 &
  pids+=($!)
  local zport=
  for _ in $(seq 100); do
    zport=$(awk '/^PORT/{print $2}' "$work/zbbs.out")
    [ -n "$zport" ] && break
    sleep 0.05
  done
  serve self "$zport"
  timeout 120 "$BUILD/kavel-transfer" "telnets://127.0.0.1:$port" "$port" --pins "$work/pins" \
    --idle-timeout 30 "$@" >"$work/xfer.out" 2>&1
}
xfer --recv "$work/down" --type d
check "an 8 MiB ZMODEM download over TLS is byte-identical ($(tail -1 "$work/xfer.out"))" \
  cmp -s "$work/xfer.bin" "$work/down/xfer.bin"
xfer --zsend "$work/xfer.bin"
check "an 8 MiB ZMODEM upload over TLS is byte-identical ($(tail -1 "$work/xfer.out"))" \
  cmp -s "$work/xfer.bin" "$work/up/xfer.bin"

silent_server
cancel_after 1 --batch "telnets://127.0.0.1:$silent"
check "Ctrl-C during the TLS handshake cancels at once (${cancel_ms} ms)" \
  bash -c "[ $cancel_rc -eq 1 ] && [ $cancel_ms -lt 1000 ] && grep -q cancelled '$work/cancel.err'"

# --- In a window, from the phonebook menu, in a fresh HOME: the question for
# a self-signed certificate; Y pins it in known_certificates beside the
# preferences; another certificate on the pinned host is then refused.
if ! link_window_start; then
  echo "skipped: the window part (needs Xvfb, xdotool, ImageMagick and kavel)"
else
  home="$work/winhome"
  pins="$home/.config/kavel/known_certificates"
  mkdir -p "$home"
  printf '# Kavel Phonebook\nTLS Board|telnets://127.0.0.1:%s|%s|ANSI|CP437||||Unknown|0|0|\n' \
    "$port" "$port" >"$home/kavel.phonebook"
  serve self
  umask 022  # the pin file's mode must come from Kavel, not from the test's umask
  start_kavel "$home"
  umask 077
  wait_named '^Kavel$' || check "the menu window opens ($(tail -c 300 "$work/kavel.err"))" false
  sleep 0.8
  keys Return && sleep 2
  import -window "$win" "$work/tls-question.png"
  check "the window asks \"Trust this certificate?\", with the subject and the reason" \
    shows tls-question 'Trust this certificate?' 'Subject: CN=Kavel self-signed' 'Reason: self-signed'
  check "nothing pinned before the answer" test ! -e "$pins"
  keys y
  check "Y: the session opens" wait_named "^Kavel - 127\\.0\\.0\\.1:$port\$" 100
  sleep 1
  check "Y: the pin is stored in known_certificates" grep -qx "127.0.0.1 $port $fp" "$pins"
  check "the pin file is 0600" test "$(stat -c %a "$pins")" = 600
  cp "$pins" "$work/pins.window"
  keys q
  for _ in $(seq 10); do keys space; wait_named '^Kavel$' 5 && break; done
  serve other
  keys Return && sleep 2
  import -window "$win" "$work/tls-changed.png"
  keys space && sleep 1
  check "another certificate afterwards: refused with a warning" shows tls-changed 'has changed.' 'Subject: CN=Kavel other'
  check "refused: no session, nothing sent" \
    bash -c "! xdotool search --name '^Kavel - ' >/dev/null 2>&1 && ! grep -q '^RECV' '$work/bbs.log'"
  check "the pin is kept as it was" cmp -s "$pins" "$work/pins.window"
  wait_named '^Kavel$' 50 && keys alt+x && keys y
  [ -n "${KAVEL_E2E_KEEP:-}" ] && cp "$work"/tls-*.png "$KAVEL_E2E_KEEP"/ 2>/dev/null
fi
exit $fail
