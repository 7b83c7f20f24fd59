#!/usr/bin/env bash
# kavel-render end to end: an ANSI file of our own with a SAUCE record goes in,
# a PNG of the 80x25 window comes out, at scale 1 and 2; bad arguments fail.
set -euo pipefail
build=$1
tool="$build/kavel-render"
[ -x "$tool" ] || { echo "kavel-render not built"; exit 77; }
[ -f "$build/Fonts/cp437.f16" ] || { echo "fonts not built"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A red box with text, then the EOF marker and a SAUCE record.
{
  printf '\033[2J\033[1;31m\332\304\304\277\r\n\263\033[0mhi\033[1;31m\263\r\n\300\304\304\331\033[0m\r\n'
  printf '\032SAUCE00'
  head -c 121 /dev/zero | tr '\0' ' '
} > "$tmp/box.ans"

png_size() {  # prints "W H" of a PNG from its IHDR
  od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'
}

"$tool" "$tmp/box.ans" "$tmp/box1.png"
[ "$(png_size "$tmp/box1.png")" = "640 400" ] || { echo "scale 1: $(png_size "$tmp/box1.png")"; exit 1; }
"$tool" "$tmp/box.ans" "$tmp/box2.png" --scale 2
[ "$(png_size "$tmp/box2.png")" = "1280 800" ] || { echo "scale 2: $(png_size "$tmp/box2.png")"; exit 1; }

if "$tool" "$tmp/box.ans" 2>/dev/null; then echo "missing output accepted"; exit 1; fi
if "$tool" "$tmp/none.ans" "$tmp/x.png" 2>/dev/null; then echo "missing input accepted"; exit 1; fi
if "$tool" "$tmp/box.ans" "$tmp/x.png" --scale 0 2>/dev/null; then echo "scale 0 accepted"; exit 1; fi
echo "kavel-render: ok"
