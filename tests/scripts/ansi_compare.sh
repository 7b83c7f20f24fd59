#!/usr/bin/env bash
# Our own test card (tests/terminal/data/compare_card.ans) drawn by
# kavel-render and by ansilove, an independent ANSI renderer, must agree cell
# by cell: the same character in the same colours everywhere, glyph shapes
# aside.  Skipped when ansilove or python3 is missing.
set -euo pipefail
build=$1
src=$2
tool="$build/kavel-render"
[ -x "$tool" ] || { echo "kavel-render not built"; exit 77; }
[ -f "$build/Fonts/cp437.f16" ] || { echo "fonts not built"; exit 77; }
command -v ansilove >/dev/null || { echo "ansilove not installed"; exit 77; }
command -v python3 >/dev/null || { echo "python3 not installed"; exit 77; }
compare="$src/tests/terminal/ansi_compare.py"
card="$src/tests/terminal/data/compare_card.ans"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

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
echo "ansi_compare: ok"
