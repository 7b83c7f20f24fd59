#!/usr/bin/env bash
# kavel-render with a C64 font: the file is a PETSCII stream drawn in the
# normal window of a session with that font (40 columns at scale 2 give
# 640x400, 80 columns at scale 1 give 640x200), starting in the character
# set the font name names; --scale is refused there.
set -euo pipefail
build=$1
src=$2
tool="$build/kavel-render"
[ -x "$tool" ] || { echo "kavel-render not built"; exit 77; }
[ -f "$build/Fonts/c64_upper.f8" ] || { echo "fonts not built"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

png_size() {  # prints "W H" of a PNG from its IHDR
  od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'
}
same() { cmp -s "$1" "$2"; }

# Yellow "A" (0x41) and shifted "A" (0xC1), reversed, then a line end.
printf '\236A\022\301\015' > "$tmp/a.seq"
# The same after an explicit switch to the lower/upper case set.
printf '\016\236A\022\301\015' > "$tmp/lower-a.seq"

"$tool" "$tmp/a.seq" "$tmp/up40.png" --font "C64 Up/GFX [40]"
[ "$(png_size "$tmp/up40.png")" = "640 400" ] || { echo "40 columns: $(png_size "$tmp/up40.png")"; exit 1; }
"$tool" "$tmp/a.seq" "$tmp/up80.png" --font "C64 Up/GFX [80]"
[ "$(png_size "$tmp/up80.png")" = "640 200" ] || { echo "80 columns: $(png_size "$tmp/up80.png")"; exit 1; }

"$tool" "$tmp/a.seq" "$tmp/low40.png" --font "C64 Low/Up [40]"
"$tool" "$tmp/lower-a.seq" "$tmp/switched40.png" --font "C64 Up/GFX [40]"
if same "$tmp/up40.png" "$tmp/low40.png"; then echo "the font name did not choose the set"; exit 1; fi
same "$tmp/low40.png" "$tmp/switched40.png" || { echo "Low/Up differs from a switch to lower case"; exit 1; }

if "$tool" "$tmp/a.seq" "$tmp/x.png" --font "C64 Up/GFX [40]" --scale 2 2>/dev/null; then
  echo "--scale accepted with a C64 font"; exit 1
fi
# 0x1A is an ordinary (ignored) PETSCII code: what follows it is drawn.
printf '\236A\022\032\301\015' > "$tmp/sub.seq"
"$tool" "$tmp/sub.seq" "$tmp/sub40.png" --font "C64 Up/GFX [40]"
same "$tmp/up40.png" "$tmp/sub40.png" || { echo "the stream was cut at 0x1A"; exit 1; }
# A SAUCE record and the EOF byte before it are not drawn; --raw keeps them.
{ cat "$tmp/a.seq"; printf '\032'; printf 'SAUCE00%0121d' 0; } > "$tmp/sauce.seq"
"$tool" "$tmp/sauce.seq" "$tmp/sauce40.png" --font "C64 Up/GFX [40]"
same "$tmp/up40.png" "$tmp/sauce40.png" || { echo "the SAUCE record was drawn"; exit 1; }
"$tool" "$tmp/sauce.seq" "$tmp/sauce-raw40.png" --font "C64 Up/GFX [40]" --raw
if same "$tmp/up40.png" "$tmp/sauce-raw40.png"; then echo "--raw cut the record"; exit 1; fi
# Our welcome screen for the test BBS renders in the 40-column window.
"$tool" "$src/assets/testbbs/welcome.seq" "$tmp/welcome.png" --font "C64 Up/GFX [40]"
[ "$(png_size "$tmp/welcome.png")" = "640 400" ] || { echo "welcome.seq: $(png_size "$tmp/welcome.png")"; exit 1; }
echo "kavel-render with C64 fonts: ok"
