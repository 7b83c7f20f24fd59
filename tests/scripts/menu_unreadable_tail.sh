#!/usr/bin/env bash
# A phonebook whose first 8 KiB read back and whose tail fails with EIO (a
# FUSE file system, like a disk with a bad sector): the menu on the console
# tells the user it could not be read completely, shows the entries it read,
# and never tries to write the file, its .tmp or its .bak, not even after a
# delete that would save.  Skipped (77) where FUSE cannot be mounted.
set -u
BUILD=${1:?build dir}
SRC=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
KAVEL="$(cd "$BUILD" && pwd)/kavel"
[ -x "$KAVEL" ] || { echo "FAIL: $KAVEL not built"; exit 1; }
/usr/bin/python3 -c 'import fusepy' 2>/dev/null || { echo "SKIP: python3-fusepy is not installed"; exit 77; }
[ -r /dev/fuse ] && [ -w /dev/fuse ] || { echo "SKIP: /dev/fuse is not usable here"; exit 77; }

work=$(mktemp -d)
mnt="$work/mnt"
mkdir "$mnt"
fs_pid=
cleanup() {
  if mountpoint -q "$mnt" 2>/dev/null; then
    fusermount3 -u "$mnt" 2>/dev/null || fusermount -u "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null
  fi
  [ -n "$fs_pid" ] && kill "$fs_pid" 2>/dev/null && wait "$fs_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail=0
expect() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}
has() { grep -qF -- "$1" "$work/out"; }

# 400 entries of about 60 bytes: the first 8192 bytes hold some 130 of them.
{
  echo '# Kavel Phonebook'
  for i in $(seq -w 1 400); do
    echo "Board $i|bbs$i.example.org|23|ANSI|CP437|||||0|0|entry number $i"
  done
} >"$work/source"
good=8192
: >"$work/writes"
timeout 60 /usr/bin/python3 "$SRC/tests/scripts/lib/eio_tail_fs.py" \
  "$work/source" "$mnt" kavel.phonebook "$good" "$work/writes" 2>"$work/fs.err" &
fs_pid=$!
for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.1; done
if ! mountpoint -q "$mnt"; then
  echo "SKIP: the FUSE file system could not be mounted here: $(tail -1 "$work/fs.err")"
  exit 77
fi
book="$mnt/kavel.phonebook"
expect "the file reads back its first $good bytes, then fails" \
  bash -c "[ \"\$(head -c $good '$book' | cmp - <(head -c $good '$work/source') && echo same)\" = same ] && ! cat '$book' >/dev/null 2>&1"

# Delete the first entry: refused, with the reason (the save would replace
# the file with what could be read of it).
printf '%s\n' D 1 q >"$work/answers"
(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER timeout 20 "$KAVEL" -p "$book") \
  <"$work/answers" >"$work/out" 2>"$work/err"
status=$?
expect "exits 0" [ "$status" -eq 0 ]
expect "the user is told the file could not be read completely" \
  has "Phone book could not be read completely; changes will not be saved to it."
expect "the entries before the bad part are listed" grep -q 'Board 050 *bbs050\.example\.org' "$work/out"
expect "nothing from the unreadable tail is listed" bash -c "! grep -q 'Board 300' '$work/out'"
expect "the delete is refused with the reason" \
  [ "$(grep -c 'Phone book could not be read completely' "$work/out")" -ge 2 ]
expect "  and the entry stays in the list" bash -c "grep ' 1\. ' '$work/out' | tail -1 | grep -q 'Board 001'"
expect "no write, create, rename or link was tried on the file system" [ ! -s "$work/writes" ]
[ -s "$work/writes" ] && sed 's/^/  tried: /' "$work/writes"

[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
