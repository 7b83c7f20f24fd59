#!/usr/bin/env bash
# Our own test card (tests/terminal/data/compare_card.ans) drawn by
# kavel-render and by ansilove, an independent ANSI renderer, must agree cell
# by cell: the same character in the same colours everywhere, glyph shapes
# aside.  So must blinking text on every background, drawn with iCE colours
# (asked for by --ice, and by the file's SAUCE record) and without.  Skipped when ansilove or python3 is missing (after the checks of
# kavel-render's --tall and --cells, which need neither).
set -euo pipefail
build=$1
src=$2
tool="$build/kavel-render"
[ -x "$tool" ] || { echo "kavel-render not built"; exit 77; }
[ -f "$build/Fonts/cp437.f16" ] || { echo "fonts not built"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

png_size() {  # prints "W H" of a PNG from its IHDR
  od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'
}

# --tall keeps the rows that scroll off: 30 numbered lines and the empty
# line after them make 6 scrolled rows and the 25 of the window.
for i in $(seq 0 29); do printf '\033[3%dmL%02d\033[0m\r\n' $((i % 7 + 1)) "$i"; done > "$tmp/lines.ans"
"$tool" "$tmp/lines.ans" "$tmp/tall.png" --tall --cells "$tmp/tall.cells"
[ "$(png_size "$tmp/tall.png")" = "640 496" ] || { echo "tall: $(png_size "$tmp/tall.png")"; exit 1; }
[ "$(wc -l < "$tmp/tall.cells")" -eq 31 ] || { echo "tall: $(wc -l < "$tmp/tall.cells") cell rows"; exit 1; }
palette=(0 4 2 6 1 5 3 7)  # SGR colour -> palette index
for i in $(seq 0 29); do
  fg=${palette[$((i % 7 + 1))]}
  want=$(printf 'L%02d' "$i" | od -An -tx1 | awk -v fg="$fg" '{printf "%s%X0%s%X0%s%X0", toupper($1), fg, toupper($2), fg, toupper($3), fg}')
  row=$(sed -n "$((i + 1))p" "$tmp/tall.cells")
  [ "${row:0:12}" = "$want" ] || { echo "tall row $i: ${row:0:12}, expected $want"; exit 1; }
done
# --cells alone leaves the picture at the window's 25 rows.
"$tool" "$tmp/lines.ans" "$tmp/window.png" --cells "$tmp/window.cells"
[ "$(png_size "$tmp/window.png")" = "640 400" ] || { echo "window: $(png_size "$tmp/window.png")"; exit 1; }
cmp -s "$tmp/tall.cells" "$tmp/window.cells" || { echo "--cells differs with and without --tall"; exit 1; }

command -v ansilove >/dev/null || { echo "ansilove not installed"; exit 77; }
command -v python3 >/dev/null || { echo "python3 not installed"; exit 77; }
compare="$src/tests/terminal/ansi_compare.py"
card="$src/tests/terminal/data/compare_card.ans"

# The card is what its generator writes.
python3 "$src/tests/terminal/data/make_compare_card.py" "$tmp/card.ans"
cmp -s "$tmp/card.ans" "$card" || { echo "compare_card.ans differs from its generator"; exit 1; }

python3 "$compare" --kavel-render "$tool" --work "$tmp/same" "$card" | tee "$tmp/same.txt"
grep -q ', 0 differ$' "$tmp/same.txt" || { echo "the report does not say 0 differ"; exit 1; }

# The comparison sees a fault: a kavel-render that draws the shades of row 9
# in magenta instead of cyan must be caught on exactly that row.
cat > "$tmp/faulty-render" <<WRAP
#!/usr/bin/env bash
in=\$1; shift
sed 's/\x1b\[0;1;36m\xb0/\x1b[0;1;35m\xb0/' "\$in" > "$tmp/faulty.ans"
exec "$tool" "$tmp/faulty.ans" "\$@"
WRAP
chmod +x "$tmp/faulty-render"
if python3 "$compare" --kavel-render "$tmp/faulty-render" --work "$tmp/faulty" "$card" \
    > "$tmp/faulty.txt"; then
  cat "$tmp/faulty.txt"
  echo "a wrong colour was not noticed"
  exit 1
fi
cat "$tmp/faulty.txt"
grep -q ', 8 differ$' "$tmp/faulty.txt" || { echo "expected 8 differing cells"; exit 1; }
grep -q '^  row 9 (ansilove 9): 8 cells' "$tmp/faulty.txt" || { echo "expected them on row 9"; exit 1; }

# Blink on the eight backgrounds: with iCE colours the background is the
# bright one in both programs, without it the dark one.
python3 - "$tmp/blink.ans" <<'EOF'
import sys
rows = []
for bg in range(8):
    rows.append(''.join('\x1b[0;%s3%d;4%dm %s ' % ('5;' if k % 2 == 0 else '', (bg + k + 1) % 8, bg,
                                                  'iCE' if k % 2 == 0 else 'dim')
                        for k in range(16)) + '\x1b[0m\r\n')
open(sys.argv[1], 'wb').write(''.join(rows).encode('latin-1'))
EOF
for mode in "" --ice; do
  python3 "$compare" --kavel-render "$tool" --work "$tmp/blink$mode" $mode "$tmp/blink.ans" \
    | tee "$tmp/blink$mode.txt"
  grep -q ', 0 differ$' "$tmp/blink$mode.txt" || { echo "blink ${mode:-without iCE} differs"; exit 1; }
done
# The SAUCE record's iCE flag (ANSiFlags bit 0) turns iCE colours on by itself.
python3 - "$tmp/blink.ans" "$tmp/blink-sauce.ans" <<'EOF'
import sys
art = open(sys.argv[1], 'rb').read()
rec = bytearray(b'SAUCE00' + b' ' * 121)
rec[94], rec[95], rec[96], rec[105] = 1, 1, 80, 1  # character, ANSi, 80 columns, iCE
open(sys.argv[2], 'wb').write(art + b'\x1a' + bytes(rec))
EOF
"$tool" "$tmp/blink-sauce.ans" "$tmp/blink-sauce.png" --cells "$tmp/blink-sauce.cells"
"$tool" "$tmp/blink.ans" "$tmp/blink-ice.png" --ice --cells "$tmp/blink-ice.cells"
cmp -s "$tmp/blink-sauce.png" "$tmp/blink-ice.png" || { echo "the SAUCE iCE flag is not honoured"; exit 1; }
cmp -s "$tmp/blink-sauce.cells" "$tmp/blink-ice.cells" || { echo "the SAUCE iCE cells differ"; exit 1; }
echo "ansi_compare: ok"
