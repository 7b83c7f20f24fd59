#!/usr/bin/env python3
"""Reads the text back from a picture of Kavel's 80 x 25 grid.

    screen_text.py RAW WIDTH HEIGHT FONT [--origin X,Y] [--scale N]

RAW is the picture as 8-bit RGB bytes (convert shot.png -depth 8 rgb:RAW),
FONT the 8 x 16 glyph file the grid was drawn with (Fonts/cp437.f16).  Each
cell holds at most two colours, its background and its glyph; the cell's
pixels in one of them must be exactly a glyph of the font.  The text cursor
(a bar over the two bottom pixel rows) is looked through.  Prints the 25 rows
as UTF-8 text with trailing blanks dropped; a cell that is no glyph of the
font prints as U+FFFD.  Exit status 1 when the picture is too small.
"""
import sys

COLS, ROWS, GLYPH_W, GLYPH_H = 80, 25, 8, 16


def load_glyphs(path):
    data = open(path, "rb").read()
    if len(data) != 256 * GLYPH_H:
        sys.exit("font %s: %d bytes, expected %d" % (path, len(data), 256 * GLYPH_H))
    full, top = {}, {}
    # Printable ASCII first, so a shape shared with another code (a space and
    # NUL, a letter and its CP437 double) reads as the plain character.
    order = list(range(32, 127)) + [c for c in range(256) if not 32 <= c < 127]
    for code in order:
        rows = tuple(data[code * GLYPH_H:(code + 1) * GLYPH_H])
        full.setdefault(rows, code)
        top.setdefault(rows[:GLYPH_H - 2], code)
    return full, top


def cell_rows(pixels, colour, x0, y0, width, scale, rows):
    """The cell's glyph rows: bit 7 where the pixel has the colour."""
    out = []
    for gy in range(rows):
        byte = 0
        y = y0 + gy * scale
        for gx in range(GLYPH_W):
            x = x0 + gx * scale
            i = (y * width + x) * 3
            if pixels[i:i + 3] == colour:
                byte |= 0x80 >> gx
        out.append(byte)
    return tuple(out)


def read_cell(pixels, width, x0, y0, scale, full, top):
    colours = set()
    for gy in range(GLYPH_H):
        for gx in range(GLYPH_W):
            i = ((y0 + gy * scale) * width + x0 + gx * scale) * 3
            colours.add(pixels[i:i + 3])
    if len(colours) == 1:
        return 32
    candidates = []
    for colour in colours:
        rows = cell_rows(pixels, colour, x0, y0, width, scale, GLYPH_H)
        if rows in full:
            candidates.append(full[rows])
    if not candidates:
        # Perhaps the cursor bar covers the bottom rows: read the rest.
        for colour in colours:
            rows = cell_rows(pixels, colour, x0, y0, width, scale, GLYPH_H - 2)
            if rows in top:
                candidates.append(top[rows])
    if not candidates:
        return None
    ascii = [c for c in candidates if 32 < c < 127]
    return ascii[0] if ascii else min(candidates)


def main():
    args = sys.argv[1:]
    origin, scale = (0, 0), 1
    if "--origin" in args:
        i = args.index("--origin")
        origin = tuple(int(v) for v in args[i + 1].split(","))
        del args[i:i + 2]
    if "--scale" in args:
        i = args.index("--scale")
        scale = int(args[i + 1])
        del args[i:i + 2]
    raw, width, height, font = args[0], int(args[1]), int(args[2]), args[3]
    pixels = open(raw, "rb").read()
    if len(pixels) != width * height * 3:
        sys.exit("raw picture is %d bytes, expected %d" % (len(pixels), width * height * 3))
    if origin[0] + COLS * GLYPH_W * scale > width or origin[1] + ROWS * GLYPH_H * scale > height:
        print("picture %dx%d is smaller than the grid" % (width, height), file=sys.stderr)
        sys.exit(1)
    full, top = load_glyphs(font)
    out = sys.stdout
    for row in range(ROWS):
        text = []
        for col in range(COLS):
            x0 = origin[0] + col * GLYPH_W * scale
            y0 = origin[1] + row * GLYPH_H * scale
            code = read_cell(pixels, width, x0, y0, scale, full, top)
            text.append("\ufffd" if code is None else bytes([code]).decode("cp437"))
        out.write("".join(text).rstrip() + "\n")


if __name__ == "__main__":
    main()
