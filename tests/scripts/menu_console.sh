#!/usr/bin/env bash
# End to end: kavel -p FILE without a display offers the phonebook on the
# console.  Answers on standard input add two entries (one refused for its
# missing host), list, sort, change a type, delete with an invalid and a
# valid number, set the paths and the sound flags, and quit; the exact
# prompts and messages appear, and the phonebook and kavel.prefs (in
# ~/.config/kavel of a home of the test's own) hold the result.  Asked again, the paths show their values and empty answers
# keep them.  A phonebook that is a directory is reported and left alone.
set -u
BUILD=${1:?build dir}
KAVEL="$(cd "$BUILD" && pwd)/kavel"
[ -x "$KAVEL" ] || { echo "FAIL: $KAVEL not built"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
unset XDG_CONFIG_HOME
mkdir -p "$HOME"
prefs="$HOME/.config/kavel/kavel.prefs"
fail=0
expect() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}
has() { grep -qF -- "$1" "$work/out"; }
run() {  # phonebook path; stdin is the answers
  (cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER timeout 20 "$KAVEL" -p "$1") \
    >"$work/out" 2>"$work/err"
  status=$?
}

printf '%s\n' \
  A "Zulu Board" zulu.example 2323 sysop secret Synchronet "a note" y "C64 Up/GFX [40]" \
  a "Alpha Board" ssh://alpha.example "" "" "" "" "" n "" \
  a "No Host" "" "" "" "" "" "" "" "" \
  S \
  E 2 "Topaz (1200)" \
  D 7 \
  P /tmp/kavel-dl "" 0 1 \
  D 1 \
  q >"$work/answers"
run book <"$work/answers"
expect "exits 0" [ "$status" -eq 0 ]
expect "starts with an empty phone book" has "Phone book is empty."
expect "the command prompt" has "Enter entry number to call, A add, E type, D delete, P paths, S sort, Q quit: "
expect "the add prompts" has "Name: Host: Port [23]: User name [optional]: Password [optional]: Software [optional]: Note [optional]: Favourite [y/N]: Type [CP437, Topaz (1200), Topaz (Amiga), C64 Up/GFX [40], C64 Low/Up [40], C64 Up/GFX [80], C64 Low/Up [80]; blank=CP437]: "
expect "a missing host is refused" has "Name and host are required."
expect "the list header" has "    BBS Name                 Address                          Port  Type"
expect "the favourite sorted first" grep -q '^ 1\. \* Zulu Board  *zulu\.example  *2323  Synchronet$' "$work/out"
expect "the Port column shows the port an SSH call uses" \
  grep -q '^ 2\. Alpha Board  *ssh://alpha\.example  *22  ' "$work/out"
expect "the type prompt shows the old type" has "Current type: CP437"
expect "an invalid number" has "Invalid entry number."
expect "the sound prompts show the settings" grep -q 'Beep sound (0/1) \[[01]\]: Modem sound before connect (0/1) \[[01]\]: ' "$work/out"
expect "one entry left in the file" [ "$(grep -vc '^#' "$work/book")" -eq 1 ]
expect "the second entry kept with its new type" grep -q '^Alpha Board|ssh://alpha.example|23|ANSI|Topaz (1200)|' "$work/book"
expect "the header written" grep -qx '# Kavel Phonebook' "$work/book"
expect "the download path saved" grep -qx 'download=/tmp/kavel-dl' "$prefs"
expect "an empty upload path is the default, stored empty" grep -qx 'upload=' "$prefs"
expect "beep off, modem sound on" grep -qx 'beep_sound=0' "$prefs"
expect "modem sound on" grep -qx 'modem_sound=1' "$prefs"

# P shows the current paths and keeps them on an empty answer.
printf '%s\n' P "" "" "" "" q >"$work/answers"
run book <"$work/answers"
expect "the download prompt shows the current path" has "Download path [/tmp/kavel-dl]: "
expect "an empty answer keeps the download path" grep -qx 'download=/tmp/kavel-dl' "$prefs"
expect "and the beep setting" grep -qx 'beep_sound=0' "$prefs"

# End of input leaves the menu like Q.
run book </dev/null
expect "end of input exits 0" [ "$status" -eq 0 ]

# A phonebook that cannot be read is never saved over.
mkdir "$work/dirbook"
printf '%s\n' a "X" x.example "" "" "" "" "" "" "" q >"$work/answers"
run dirbook <"$work/answers"
expect "a directory phonebook is reported" has "Phone book could not be read completely; changes will not be saved to it."
expect "an add is refused with the reason, before its questions" \
  [ "$(grep -c 'Phone book could not be read completely' "$work/out")" -ge 2 ]
expect "  (no question asked)" bash -c "! grep -q 'Name: ' '$work/out'"
expect "the directory is still there" [ -d "$work/dirbook" ]
expect "no .bak made" [ ! -e "$work/dirbook.bak" ]

[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
