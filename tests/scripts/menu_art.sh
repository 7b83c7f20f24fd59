#!/usr/bin/env bash
# The four menu screens in assets/menu, drawn by kavel-render through the
# program's own ANSI interpreter, stay within 80 x 24 cells and leave free
# the cells the menu paints over (blank black, or blank light grey under the
# version and clock), with the headings, titles, frames and key legends
# where the menu's layout expects them.  The committed files are what their
# generator writes, and ansilove draws them the same, cell for cell (both
# skipped without python3 or ansilove).
set -euo pipefail
build=$1
src=$2
tool="$build/kavel-render"
[ -x "$tool" ] || { echo "kavel-render not built"; exit 77; }
[ -f "$build/Fonts/cp437.f16" ] || { echo "fonts not built"; exit 77; }
art="$src/assets/menu"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "$*"; exit 1; }

# Cells of rows r0..r1, columns c0..c1 must be spaces on background bg
# (kavel-render --cells: two hex digits of character, foreground, background).
blank() {  # FILE r0 r1 c0 c1 bg
  awk -v r0="$2" -v r1="$3" -v c0="$4" -v c1="$5" -v bg="$6" '
    NR - 1 >= r0 && NR - 1 <= r1 {
      for (c = c0; c <= c1; c++) {
        cell = substr($0, c * 4 + 1, 4)
        if (substr(cell, 1, 2) != "20" || substr(cell, 4, 1) != bg) {
          printf "  row %d column %d holds %s\n", NR - 1, c, cell; bad = 1; exit
        }
      }
    }
    END { exit bad }' "$1"
}

# Row r as text: printable ASCII as itself, everything else as "~".
row_text() {  # FILE r
  awk -v r="$2" '
    BEGIN { for (i = 32; i < 127; i++) ch[sprintf("%02X", i)] = sprintf("%c", i) }
    NR - 1 == r {
      for (c = 0; c < 80; c++) { h = substr($0, c * 4 + 1, 2); s = s ((h in ch) ? ch[h] : "~") }
      print s
    }' "$1"
}

# The text must stand at exactly that column.
text_at() {  # FILE r c TEXT
  local row
  row=$(row_text "$1" "$2")
  [ "${row:$3:${#4}}" = "$4" ] || fail "$(basename "$1"): row $2 column $3 is not \"$4\": \"$row\""
}

# The text must appear somewhere in rows r0..r1.
text_in() {  # FILE r0 r1 TEXT
  local r
  for r in $(seq "$2" "$3"); do
    case "$(row_text "$1" "$r")" in *"$4"*) return 0 ;; esac
  done
  fail "$(basename "$1"): \"$4\" not in rows $2-$3"
}

cell_char() {  # FILE r c -> the character code in hex
  sed -n "$(($2 + 1))p" "$1" | cut -c $(($3 * 4 + 1))-$(($3 * 4 + 2))
}

need_free() {  # FILE r0 r1 c0 c1 bg what
  blank "$1" "$2" "$3" "$4" "$5" "$6" || fail "$(basename "$1"): $7 (rows $2-$3, columns $4-$5) not free"
}

screens=(kavel_menu kavel_menu_edit kavel_menu_edit2 kavel_menu_help)
for s in "${screens[@]}"; do
  f="$art/$s.ans"
  [ -f "$f" ] || fail "missing $f"
  # Only colour selection and cursor forward, and CR LF between rows: the
  # menu feeds these bytes to a fresh terminal, where anything else would
  # act or print.
  rest=$(LC_ALL=C sed -E 's/\x1b\[[0-9;]*[mC]//g' "$f" | LC_ALL=C tr -d '\r\n' |
         LC_ALL=C grep -c '[[:cntrl:]]' || true)
  [ "$rest" = "0" ] || fail "$s.ans: other control bytes or sequences than SGR and cursor forward"
  cr=$(LC_ALL=C tr -cd '\r' < "$f" | wc -c)
  lf=$(LC_ALL=C tr -cd '\n' < "$f" | wc -c)
  [ "$cr" = "$lf" ] || fail "$s.ans: $cr CR but $lf LF"
  "$tool" "$f" "$tmp/$s.png" --raw --cells "$tmp/$s.cells" || fail "kavel-render failed on $s.ans"
  # 25 rows means nothing scrolled off; the 25th stays empty.
  [ "$(wc -l < "$tmp/$s.cells")" -eq 25 ] || fail "$s.ans scrolls the screen"
  need_free "$tmp/$s.cells" 24 24 0 79 0 "row 24"
  # The logo fills rows 0-6.
  for r in 0 1 2 3 4 5 6; do
    if blank "$tmp/$s.cells" "$r" "$r" 0 79 0 > /dev/null; then fail "$s.ans: logo row $r is empty"; fi
  done
done

# The checker itself must see drawn cells: the list's frame is not free.
if blank "$tmp/kavel_menu.cells" 10 10 1 78 0 > /dev/null; then fail "blank() misses the frame"; fi

# Phonebook list: headings over the entry fields, the framed list, the
# status strip under the version and clock, the two-row key legend.
m="$tmp/kavel_menu.cells"
text_at "$m" 9 2 "BBS Name"
text_at "$m" 9 30 "Address"
text_at "$m" 9 56 "Port"
text_at "$m" 9 65 "Type"
need_free "$m" 11 17 2 76 0 "the list rows"
need_free "$m" 19 19 2 15 7 "the version"
need_free "$m" 19 19 70 78 7 "the clock"
[ "$(cell_char "$m" 10 1)" = "C9" ] && [ "$(cell_char "$m" 18 78)" = "BC" ] ||
  fail "kavel_menu.ans: the list frame does not run from row 10 column 1 to row 18 column 78"
for key in "Return  Connect" "Delete  Remove" "Alt+A  Add" "Alt+E  Edit" "Alt+S  Sort" \
           "Alt+L  Login" "Alt+H  Hangup" "Alt+G  Settings" "Alt+Z  Help" "Alt+X  Quit"; do
  text_in "$m" 21 22 "$key"
done
need_free "$m" 20 20 0 79 0 "row 20"

# Entry editor: the title strip with room for the settings' subtitle, two
# panels, field rows 13-18 free in both, the button row empty.
e="$tmp/kavel_menu_edit.cells"
text_at "$e" 9 2 "Edit Mode"
need_free "$e" 9 9 12 28 7 "the title strip after Edit Mode"
text_in "$e" 11 11 "Connection"
text_in "$e" 11 11 "Login / Stats"
for rc in "11 1 C9" "11 35 BB" "21 1 C8" "21 35 BC" "11 36 C9" "11 76 BB" "21 36 C8" "21 76 BC"; do
  set -- $rc
  [ "$(cell_char "$e" "$1" "$2")" = "$3" ] || fail "kavel_menu_edit.ans: no panel corner at row $1 column $2"
done
need_free "$e" 12 20 2 34 0 "the Connection panel"
need_free "$e" 12 20 37 75 0 "the Login / Stats panel"
need_free "$e" 22 22 0 79 0 "the button row"

# Global settings: the same strip, one frame around rows 11-22.
g="$tmp/kavel_menu_edit2.cells"
text_at "$g" 9 2 "Edit Mode"
need_free "$g" 9 9 12 28 7 "the title strip after Edit Mode"
[ "$(cell_char "$g" 10 1)" = "C9" ] && [ "$(cell_char "$g" 23 78)" = "BC" ] ||
  fail "kavel_menu_edit2.ans: the frame does not enclose rows 11-22"
need_free "$g" 11 22 2 77 0 "the settings area"

# Help: title, the two-column legend in rows 11-21 (the row under the box is
# the program's: the phonebook in use).
h="$tmp/kavel_menu_help.cells"
text_at "$h" 9 2 "Kavel Help"
for key in "Alt+A       add entry" "Alt+E       edit entry" "Alt+S       sort" \
           "Alt+L       send login" "Alt+H       hang up" "Ctrl+]      hang up at once" \
           "Alt+D       download" "Alt+U       upload" "Alt+B       buffer of 1000 lines" \
           "Alt+V       paste the clipboard" "Alt+C       capture on / off" \
           "Alt+P       save the screen" \
           "Alt+I       import a SyncTERM list" "Alt+T       toggle top bar" \
           "Alt+S       scale, C64 40 columns" "Alt+G       global settings" \
           "Alt+X       quit" "Alt+Return  view mode" "Up/Down     select" \
           "Return      connect" "Delete      delete" "Ctrl+C      Run/Stop in C64 mode"; do
  text_in "$h" 11 21 "$key"
done
need_free "$h" 23 23 0 79 0 "the row for the phonebook line"

echo "menu_art: layout ok"

command -v python3 >/dev/null || { echo "python3 not installed"; exit 77; }
python3 "$art/make_menu_art.py" "$tmp"
for s in "${screens[@]}"; do
  cmp -s "$tmp/$s.ans" "$art/$s.ans" || fail "$s.ans differs from what make_menu_art.py writes"
done
command -v ansilove >/dev/null || { echo "ansilove not installed"; exit 77; }
python3 "$src/tests/terminal/ansi_compare.py" --kavel-render "$tool" --work "$tmp/cmp" \
  "$art/kavel_menu.ans" "$art/kavel_menu_edit.ans" "$art/kavel_menu_edit2.ans" \
  "$art/kavel_menu_help.ans" | tee "$tmp/cmp.txt"
[ "$(grep -c ', 0 differ$' "$tmp/cmp.txt")" = 4 ] || fail "ansilove draws the menu screens differently"
echo "menu_art: ok"
