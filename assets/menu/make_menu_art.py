#!/usr/bin/env python3
"""Builds Kavel's four menu screens as ANSI/CP437 files.

    python3 assets/menu/make_menu_art.py [OUTDIR]

writes kavel_menu.ans, kavel_menu_edit.ans, kavel_menu_edit2.ans and
kavel_menu_help.ans (into this script's directory by default).  The .ans
files are committed; the build embeds them as they are, so rerun this after
changing the design and commit both.

Every screen is an 80 x 24 picture drawn by the program through its own ANSI
interpreter, and the program then paints its live content over fixed cells
(the phonebook rows, version and clock, form fields, buttons).  Those cells
are left blank here: black, except the status strip under the version and
clock, which is the light grey the program paints them on.

The stream uses only colour selection (ESC [ ... m, bold for the bright
colours) and cursor forward (ESC [ n C) over blank stretches, with CR LF
between rows.  A row that is painted up to its last column ends without CR
LF, because writing the 80th column already moves the cursor to the next
row.
"""
import os
import sys

W, H = 80, 24

# PC palette indices.
BLACK, BLUE, GREEN, CYAN, RED, MAGENTA, BROWN, GREY = range(8)
DGREY, LBLUE, LGREEN, LCYAN, LRED, LMAGENTA, YELLOW, WHITE = range(8, 16)

# PC palette order to the SGR colour numbers.
SGR = [0, 4, 2, 6, 1, 5, 3, 7]

# The colour scheme: a white-to-cyan logo on a blue shadow, cyan frames,
# grey strips with black text, keys as cyan caps with grey meanings.
FRAME = CYAN
STRIP_BG = GREY
STRIP_FG = BLACK
KEY = YELLOW
CAP_FG = BLACK
CAP_BG = CYAN
LABEL = GREY
HEADING = LCYAN
TITLE = WHITE


def key_width(key, label):
    return len(key) + 3 + len(label)


class Screen:
    def __init__(self):
        self.cells = [[(" ", GREY, BLACK) for _ in range(W)] for _ in range(H)]

    def put(self, row, col, text, fg, bg=BLACK):
        for i, ch in enumerate(text):
            if 0 <= col + i < W:
                self.cells[row][col + i] = (ch, fg, bg)

    def fill(self, row, col0, col1, ch, fg, bg=BLACK):
        self.put(row, col0, ch * (col1 - col0 + 1), fg, bg)

    def hline(self, row, col0, col1, left, mid, right, fg=FRAME):
        self.fill(row, col0 + 1, col1 - 1, mid, fg)
        self.put(row, col0, left, fg)
        self.put(row, col1, right, fg)

    def box(self, row0, col0, row1, col1, title=None):
        """A double-lined frame; the title sits in the top edge."""
        self.hline(row0, col0, col1, "╔", "═", "╗")
        self.hline(row1, col0, col1, "╚", "═", "╝")
        for r in range(row0 + 1, row1):
            self.put(r, col0, "║", FRAME)
            self.put(r, col1, "║", FRAME)
        if title:
            self.put(row0, col0 + 2, "╡", FRAME)
            self.put(row0, col0 + 3, " " + title + " ", TITLE)
            self.put(row0, col0 + 5 + len(title), "╞", FRAME)

    def strip(self, row, col0=1, col1=W - 2):
        """A light grey bar with rounded ends just outside it."""
        self.fill(row, col0, col1, " ", STRIP_FG, STRIP_BG)
        self.put(row, col0 - 1, "▐", STRIP_BG)
        self.put(row, col1 + 1, "▌", STRIP_BG)

    def keys(self, row, col, items, gap):
        """Key legend: each key as a cap, black on cyan, its meaning in grey."""
        for key, label in items:
            self.put(row, col, " " + key + " ", CAP_FG, CAP_BG)
            self.put(row, col + len(key) + 3, label, LABEL)
            col += key_width(key, label) + gap
        return col - gap

    def to_ans(self):
        out = bytearray(b"\x1b[0m")
        state = None
        for r in range(H):
            row = self.cells[r]
            last = max((c for c in range(W) if not (row[c][0] == " " and row[c][2] == BLACK)),
                       default=-1)
            c = 0
            while c <= last:
                ch, fg, bg = row[c]
                if ch == " " and bg == BLACK:
                    run = c
                    while run <= last and row[run][0] == " " and row[run][2] == BLACK:
                        run += 1
                    out += b"\x1b[%dC" % (run - c)
                    c = run
                    continue
                if ch == " ":
                    fg = state[0] if state else fg  # a space shows only its background
                if state != (fg, bg):
                    bold = "1;" if fg >= 8 else ""
                    out += ("\x1b[0;%s3%d;4%dm" % (bold, SGR[fg & 7], SGR[bg])).encode()
                    state = (fg, bg)
                out += ch.encode("cp437")
                c += 1
            if r < H - 1 and last < W - 1:
                out += b"\r\n"
        out += b"\x1b[0m"
        return bytes(out)


# --- the logo -----------------------------------------------------------------
# Letters drawn at one column by half a row per pixel, so 12 pixel rows fill
# six text rows with the upper and lower half blocks.
LETTERS = {
    "K": ["###.....###",
          "###....###.",
          "###...###..",
          "###..###...",
          "###.###....",
          "######.....",
          "#######....",
          "###.####...",
          "###..####..",
          "###...####.",
          "###....####",
          "###.....###"],
    "A": ["...#####...",
          "..#######..",
          ".###...###.",
          "###.....###",
          "###.....###",
          "###.....###",
          "###########",
          "###########",
          "###.....###",
          "###.....###",
          "###.....###",
          "###.....###"],
    "V": ["###.....###",
          "###.....###",
          "###.....###",
          "###.....###",
          "###.....###",
          ".###...###.",
          ".###...###.",
          "..###.###..",
          "..###.###..",
          "...#####...",
          "....###....",
          ".....#....."],
    "E": ["##########",
          "##########",
          "###.......",
          "###.......",
          "###.......",
          "########..",
          "########..",
          "###.......",
          "###.......",
          "###.......",
          "##########",
          "##########"],
    "L": ["###.......",
          "###.......",
          "###.......",
          "###.......",
          "###.......",
          "###.......",
          "###.......",
          "###.......",
          "###.......",
          "###.......",
          "##########",
          "##########"],
}
# One colour per text row of the letters: white at the top down to cyan.
LOGO_ROWS = [WHITE, WHITE, LCYAN, LCYAN, LCYAN, CYAN, CYAN]
SHADOW = BLUE


def logo_pixels(word, gap=2):
    width = sum(len(LETTERS[ch][0]) for ch in word) + gap * (len(word) - 1)
    # One empty pixel row on top keeps the letters half a row off the
    # window's edge; one below and one to the right leave room for the shadow.
    pix = [[0] * (width + 1) for _ in range(14)]
    x = 0
    for ch in word:
        glyph = LETTERS[ch]
        for y, line in enumerate(glyph):
            for dx, p in enumerate(line):
                if p == "#":
                    pix[y + 1][x + dx] = 1
        x += len(glyph[0]) + gap
    # The shadow: one pixel right and one down, wherever no letter is.
    for y in range(13, -1, -1):
        for x in range(width, -1, -1):
            if pix[y][x] == 0 and y > 0 and x > 0 and pix[y - 1][x - 1] == 1:
                pix[y][x] = 2
    return pix


def draw_logo(s, top=0):
    pix = logo_pixels("KAVEL")
    width = len(pix[0])
    left = (W - width) // 2

    def colour(kind, text_row):
        return LOGO_ROWS[min(text_row, 6)] if kind == 1 else SHADOW

    for tr in range(7):
        for x in range(width):
            up = pix[2 * tr][x]
            lo = pix[2 * tr + 1][x]
            if not up and not lo:
                continue
            cu, cl = colour(up, tr), colour(lo, tr)
            if up and lo and cu == cl:
                cell = ("█", cu, BLACK)
            elif up and lo:
                # Two colours in one cell: the shadow's blue is the background.
                cell = ("▀", cu, cl) if cl < 8 else ("▄", cl, cu)
            elif up:
                cell = ("▀", cu, BLACK)
            else:
                cell = ("▄", cl, BLACK)
            s.cells[top + tr][left + x] = cell
    return left, width


def draw_header(s):
    """Logo in rows 0-6, the tag line in row 7."""
    left, width = draw_logo(s)
    tag = " telnet · ansi · petscii · zmodem "
    mid = (W - len(tag)) // 2
    s.fill(7, left - 2, left + width + 1, "─", DGREY)
    s.put(7, mid, tag, CYAN)
    # The separators in the tag line in a darker tone.
    for i, ch in enumerate(tag):
        if ch == "·":
            s.put(7, mid + i, "·", LBLUE)


# --- the four screens ------------------------------------------------------------

def main_screen():
    s = Screen()
    draw_header(s)
    # Column headings over the list's fields: name at 2, address at 30, port
    # at 56, type at 65 (the program's row layout).
    for col, text in ((2, "BBS Name"), (30, "Address"), (56, "Port"), (65, "Type")):
        s.put(9, col, text, HEADING)
    s.box(10, 1, 18, W - 2)
    # Status strip: version at 2-15 and clock at 70-78 are the program's.
    s.strip(19)
    s.put(19, 28, "Up Down select   PgUp PgDn page", STRIP_FG, STRIP_BG)
    legend = [
        [("Return", "Connect"), ("Delete", "Remove"), ("Alt+A", "Add"), ("Alt+E", "Edit"),
         ("Alt+S", "Sort")],
        [("Alt+L", "Login"), ("Alt+H", "Hangup"), ("Alt+G", "Settings"), ("Alt+Z", "Help"),
         ("Alt+X", "Quit")],
    ]
    for i, items in enumerate(legend):
        width = sum(key_width(k, v) for k, v in items)
        gap = (W - 4 - width) // (len(items) - 1)
        s.keys(21 + i, 2, items, gap)
    return s


def title_strip(s, title, hint):
    s.strip(9)
    s.put(9, 2, title, STRIP_FG, STRIP_BG)
    # Columns 12-28 stay plain grey: the settings form writes its own
    # "/ Global Settings" there.
    s.put(9, W - 2 - len(hint), hint, BLUE, STRIP_BG)


FORM_HINT = "Return change  Alt+S save  Esc back"


def edit_screen():
    s = Screen()
    draw_header(s)
    title_strip(s, "Edit Mode", FORM_HINT)
    s.box(11, 1, 21, 35, "Connection")
    s.box(11, 36, 21, 76, "Login / Stats")
    return s


def settings_screen():
    s = Screen()
    draw_header(s)
    title_strip(s, "Edit Mode", FORM_HINT)
    s.box(10, 1, 23, W - 2)
    return s


HELP_LEFT = [
    ("Alt+A", "add entry"),
    ("Alt+E", "edit entry"),
    ("Alt+S", "sort entries"),
    ("Alt+L", "send login"),
    ("Alt+H", "hang up"),
    ("Ctrl+]", "hang up at once"),
    ("Alt+D", "download"),
    ("Alt+U", "upload"),
    ("Alt+B", "buffer of 1000 lines"),
    ("Alt+V", "paste the clipboard"),
    ("Alt+C", "capture on / off"),
]
HELP_RIGHT = [
    ("Alt+I", "import a SyncTERM list"),
    ("Alt+T", "toggle top bar"),
    ("Alt+S", "scale, C64 40 columns"),
    ("Alt+G", "global settings"),
    ("Alt+X", "quit"),
    ("Alt+Return", "view mode"),
    ("Up/Down", "select"),
    ("Return", "connect"),
    ("Delete", "delete"),
    ("Ctrl+C", "Run/Stop in C64 mode"),
    ("Alt+P", "save the screen"),
]


def help_screen(version):
    # Eleven rows a column; the row under the box is left to the program,
    # which names the phonebook in use there.
    s = Screen()
    draw_header(s)
    s.strip(9)
    s.put(9, 2, "Kavel Help", STRIP_FG, STRIP_BG)
    hint = "any key returns"
    s.put(9, W - 2 - len(hint), hint, BLUE, STRIP_BG)
    s.box(10, 1, 22, W - 2)
    s.put(10, 3, "╡", FRAME)
    s.put(10, 4, " In the menu and in a session ", TITLE)
    s.put(10, 34, "╞", FRAME)
    s.put(10, 39, "╤", FRAME)
    s.put(22, 39, "╧", FRAME)
    for r in range(11, 22):
        s.put(r, 39, "│", FRAME)
    for col, items in ((4, HELP_LEFT), (42, HELP_RIGHT)):
        for i, (key, label) in enumerate(items):
            s.put(11 + i, col, key, KEY)
            s.put(11 + i, col + 12, label, LABEL)
    return s


def read_version(root):
    path = os.path.join(root, "src", "util", "version.h")
    with open(path) as f:
        for text in f:
            if "kProgramVersion" in text:
                return text.split('"')[1]
    raise SystemExit("no version in " + path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else here
    version = read_version(os.path.dirname(os.path.dirname(here)))
    screens = {
        "kavel_menu.ans": main_screen(),
        "kavel_menu_edit.ans": edit_screen(),
        "kavel_menu_edit2.ans": settings_screen(),
        "kavel_menu_help.ans": help_screen(version),
    }
    for name, screen in screens.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(screen.to_ans())


if __name__ == "__main__":
    main()
