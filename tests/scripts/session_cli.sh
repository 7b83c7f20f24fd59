#!/usr/bin/env bash
# The kavel binary's command line and exit statuses, without a display: the
# help text on request (status 0) and for a bad option or a lone -p (status
# 1), help before the font check, a missing font file ending the program with
# status 1 before any connection, and a refused host giving status 1.
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
KAVEL="$BUILD/kavel"
BBS="$BUILD/kavel-testbbs"
for b in "$KAVEL" "$BBS"; do [ -x "$b" ] || { echo "FAIL: $b not built"; exit 1; }; done

work=$(mktemp -d)
bbs_pid=
cleanup() {
  [ -n "$bbs_pid" ] && kill "$bbs_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail=0
expect() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}

# The preferences file is read from the current directory: use an empty one.
cd "$work" || exit 1
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME
export HOME="$work/home"

# run NAME ARGS... : runs kavel with stdin closed; status in $rc, output in $work/NAME.out
run() {
  local name=$1; shift
  timeout 20 "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
  rc=$?
}

usage_text() {  # invocation name
  printf '%s\n' "Kavel 0.20 - Linux BBS Terminal client" "Usage:" \
    "  $1                         Start phone book menu" \
    "  $1 host [port]              Direct connect" \
    "  $1 -f | --fullscreen        Start own-screen fullscreen at current resolution; scale 640x400" \
    "  $1 -m | --medium            Start in medium windowed mode" \
    "  $1 -w | --windowed          Force normal windowed mode" \
    "  $1 -p phonebook             Use alternate phone book file" \
    "  $1 -h                       Show help" \
    "  $1 --version                Show the version" \
    "  Alt-Enter cycles normal window -> scaled medium window -> fullscreen." \
    "  In a session: Alt-V pastes the clipboard, Ctrl-] hangs up at once, Escape cancels a transfer," \
    "  Alt-C starts and stops a capture, Alt-P saves the screen (both into the download directory)."
}
usage_text "$KAVEL" >"$work/usage.expected"

# -h then names the files in use.
for args in "-h" "--help" "-f -h some.host" "-p book -h"; do
  book="$HOME/.config/kavel/kavel.phonebook"
  [ "$args" = "-p book -h" ] && book="$work/book"
  { cat "$work/usage.expected"
    printf 'Phone book: %s\nSettings: %s\n' "$book" "$HOME/.config/kavel/kavel.prefs"; } >"$work/help.expected"
  # shellcheck disable=SC2086
  run help "$KAVEL" $args
  expect "'kavel $args' exits 0 (got $rc)" test "$rc" -eq 0
  expect "'kavel $args' prints the help text" cmp -s "$work/help.out" "$work/help.expected"
done
for args in "-x" "-p" "-m --phonebook" "-" "-F host"; do
  # shellcheck disable=SC2086
  run bad "$KAVEL" $args
  expect "'kavel $args' exits 1 (got $rc)" test "$rc" -eq 1
  expect "'kavel $args' prints the help text" cmp -s "$work/bad.out" "$work/usage.expected"
done

# A BBS nobody should reach: the checks below must fail before connecting.
"$BBS" --scenario welcome --log "$work/bbs.log" --max-seconds 30 >"$work/bbs.out" 2>&1 &
bbs_pid=$!
port=
for _ in $(seq 50); do
  port=$(awk '/^PORT/{print $2}' "$work/bbs.out" 2>/dev/null)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "FAIL: test BBS did not start"; exit 1; }

# A copy of the program beside an empty Fonts drawer.
mkdir -p "$work/nofonts/Fonts"
cp "$KAVEL" "$work/nofonts/kavel"
run nofonts "$work/nofonts/kavel" 127.0.0.1 "$port"
expect "missing fonts: status 1 (got $rc)" test "$rc" -eq 1
expect "missing fonts: the font check names what is missing" \
  grep -q 'Required runtime font missing or invalid' "$work/nofonts.out"
sleep 0.3
expect "missing fonts: no connection was made" bash -c "! grep -q CONNECT '$work/bbs.log'"
run nofonts-help "$work/nofonts/kavel" -h
expect "missing fonts: help still works (status $rc)" test "$rc" -eq 0
kill "$bbs_pid" 2>/dev/null
wait "$bbs_pid" 2>/dev/null
bbs_pid=

# The board is gone now: its port refuses.
run refused "$KAVEL" 127.0.0.1 "$port"
expect "a refused host gives status 1 (got $rc)" test "$rc" -eq 1
exit "$fail"
