#!/usr/bin/env python3
"""Compares kavel-render's pictures of ANSI files with ansilove's, cell by cell.

Both programs draw 80 columns of 8x16 CP437 cells in the VGA palette, but
with different glyph sets, so pixels alone cannot tell a different character
from a differently drawn one.  Each program's own glyphs are therefore read
first, from a chart of all 256 characters drawn by that program.  Then, for
every cell:

  * kavel-render --cells says what the terminal holds (character, foreground,
    background); the cell is drawn with ansilove's glyphs and compared with
    ansilove's pixels.  Equal: the same character in the same colours, even
    when the two fonts shape it differently (counted as a glyph difference).
  * Otherwise ansilove's cell is decoded into the character and colours that
    reproduce it best, and both are reported.

kavel-render runs with --tall so that rows which scroll off a 25-row screen
are kept; ansilove draws the whole file on one canvas.  The two pictures are
aligned on the vertical offset that makes the most cells equal.  Rows that
only one of them has are reported when they are not blank.

Only the Python standard library is used (PNG decoding included).

With --ice both programs draw blink as a bright background (iCE colours);
without it ansilove ignores blink and kavel-render draws blinking text in
its visible half, so the two agree either way.

usage: ansi_compare.py --kavel-render PATH [--ansilove PATH] [--work DIR]
                       [--max-diff N] [--ice] [--verbose] FILE.ans...
Exit status: 0 when no file has more than N differing cells (default 0),
1 otherwise, 2 on a usage or tool failure.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import zlib

COLS = 80
CW, CH = 8, 16

# VGA palette in PC order, the same in both programs.
PALETTE = [
    (0x00, 0x00, 0x00), (0x00, 0x00, 0xAA), (0x00, 0xAA, 0x00), (0x00, 0xAA, 0xAA),
    (0xAA, 0x00, 0x00), (0xAA, 0x00, 0xAA), (0xAA, 0x55, 0x00), (0xAA, 0xAA, 0xAA),
    (0x55, 0x55, 0x55), (0x55, 0x55, 0xFF), (0x55, 0xFF, 0x55), (0x55, 0xFF, 0xFF),
    (0xFF, 0x55, 0x55), (0xFF, 0x55, 0xFF), (0xFF, 0xFF, 0x55), (0xFF, 0xFF, 0xFF),
]

# Bytes that are controls rather than glyphs in one program or the other;
# the chart leaves them out.
CHART_SKIP = {0, 5, 7, 8, 9, 10, 12, 13, 26, 27}


# --------------------------------------------------------------------- PNG --

def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(path):
    """Returns (width, height, rows) with rows[y][x] = (r, g, b)."""
    with open(path, 'rb') as f:
        data = f.read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError(path + ': not a PNG')
    pos, idat, plte = 8, b'', None
    width = height = depth = ctype = None
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b'IHDR':
            width, height, depth, ctype, _, _, interlace = struct.unpack('>IIBBBBB', body)
            if interlace:
                raise ValueError(path + ': interlaced PNG')
        elif kind == b'PLTE':
            plte = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b'IDAT':
            idat += body
        elif kind == b'IEND':
            break
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    if depth not in (1, 2, 4, 8):
        raise ValueError(path + ': unsupported bit depth %d' % depth)
    bpp = max(1, channels * depth // 8)
    stride = (width * channels * depth + 7) // 8
    raw = zlib.decompress(idat)
    prev = bytearray(stride)
    rows = []
    for y in range(height):
        start = y * (stride + 1)
        ftype = raw[start]
        line = bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 255
            elif ftype == 2:
                line[i] = (line[i] + b) & 255
            elif ftype == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 255
            elif ftype == 4:
                line[i] = (line[i] + _paeth(a, b, c)) & 255
        prev = line
        if depth == 8:
            px = [tuple(line[x * channels:x * channels + channels]) for x in range(width)]
        else:
            per = 8 // depth
            mask = (1 << depth) - 1
            px = []
            for x in range(width):
                byte = line[x // per]
                shift = 8 - depth * (x % per + 1)
                px.append(((byte >> shift) & mask,))
        if ctype == 3:
            px = [plte[p[0]] for p in px]
        elif ctype in (0, 4):
            px = [(p[0], p[0], p[0]) for p in px]
        else:
            px = [p[:3] for p in px]
        rows.append(px)
    return width, height, rows


def nearest_index(rgb, cache={}):
    hit = cache.get(rgb)
    if hit is None:
        hit = min(range(16), key=lambda i: sum((rgb[k] - PALETTE[i][k]) ** 2 for k in range(3)))
        cache[rgb] = hit
    return hit


def picture_cells(path):
    """The picture as rows of cells; a cell is a tuple of 128 palette indices."""
    width, height, rows = read_png(path)
    if width != COLS * CW or height % CH:
        raise ValueError('%s: %dx%d is not a grid of 80 columns of 8x16 cells' % (path, width, height))
    indexed = [[nearest_index(p) for p in row] for row in rows]
    grid = []
    for r in range(height // CH):
        band = indexed[r * CH:(r + 1) * CH]
        grid.append([tuple(v for line in band for v in line[c * CW:(c + 1) * CW])
                     for c in range(COLS)])
    return grid


# ------------------------------------------------------------------ glyphs --

def chart_bytes():
    """All drawable characters, 16 to a line, white on black."""
    out = bytearray(b'\x1b[0m\x1b[2J\x1b[1;1H\x1b[1;37;40m')
    for ch in range(256):
        out.append(0x20 if ch in CHART_SKIP else ch)
        if ch % 16 == 15:
            out += b'\r\n'
    out += b'\x1b[0m'
    return bytes(out)


def glyph_masks(grid):
    """Reads the chart back: character -> 128-bit mask of its set pixels."""
    masks = {}
    for ch in range(256):
        if ch in CHART_SKIP:
            continue
        cell = grid[ch // 16][ch % 16]
        masks[ch] = sum(1 << i for i, v in enumerate(cell) if v == 15)
    return masks


FULL = (1 << (CW * CH)) - 1


def cell_mask(cell, colour):
    return sum(1 << i for i, v in enumerate(cell) if v == colour)


def draw(masks, ch, fg, bg):
    """The cell (ch, fg, bg) as drawn with the given glyph set, or None."""
    if ch not in masks:
        if ch in (0, 32, 255):
            return tuple([bg] * (CW * CH))
        return None
    m = masks[ch]
    return tuple(fg if (m >> i) & 1 else bg for i in range(CW * CH))


def decode(masks, cell):
    """The character and colours that best reproduce a cell: (ch, fg, bg, misses)."""
    colours = sorted(set(cell))
    if len(colours) == 1:
        return (32, colours[0], colours[0], 0)
    best = None
    for a in colours:
        for b in colours:
            if a == b:
                continue
            ma = cell_mask(cell, a)
            for ch, m in masks.items():
                if m in (0, FULL):
                    continue
                misses = bin(ma ^ m).count('1')
                if best is None or misses < best[3]:
                    best = (ch, a, b, misses)
    return best


# ---------------------------------------------------------------- renders --

def run(cmd):
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if proc.returncode != 0:
        sys.stderr.write('failed: %s\n%s' % (' '.join(cmd), proc.stderr.decode(errors='replace')))
        raise SystemExit(2)


def render_ansilove(tool, src, out, ice):
    # 80 columns, the VGA 80x25 font, 8-pixel cells, iCE colours when asked.
    run([tool, '-q', '-c', '80', '-f', '80x25', '-b', '8'] + (['-i'] if ice else []) +
        ['-o', out, src])


def render_kavel(tool, src, out, cells_out, ice):
    run([tool, src, out, '--tall', '--cells', cells_out] + (['--ice'] if ice else []))


def read_cells(path):
    rows = []
    with open(path) as f:
        for line in f:
            line = line.strip()
            if len(line) != COLS * 4:
                raise ValueError(path + ': bad cell row')
            rows.append([(int(line[i:i + 2], 16), int(line[i + 2], 16), int(line[i + 3], 16))
                         for i in range(0, len(line), 4)])
    return rows


# ------------------------------------------------------------- comparison --

def show(ch):
    if 32 <= ch < 127:
        return chr(ch)
    return '\\x%02X' % ch


def blank_row(pixels):
    return all(len(set(cell)) == 1 and cell[0] == 0 for cell in pixels)


def compare_file(src, args, work, kv_masks, al_masks):
    base = os.path.join(work, os.path.basename(src))
    render_ansilove(args.ansilove, src, base + '.ansilove.png', args.ice)
    render_kavel(args.kavel_render, src, base + '.kavel.png', base + '.cells', args.ice)
    al = picture_cells(base + '.ansilove.png')
    kv = picture_cells(base + '.kavel.png')
    cells = read_cells(base + '.cells')
    problems = []
    if len(cells) != len(kv):
        problems.append('kavel picture has %d rows, its cell dump %d' % (len(kv), len(cells)))

    # Our picture must be exactly our cells drawn with our glyphs.
    drawn_wrong = 0
    for r in range(min(len(cells), len(kv))):
        for c in range(COLS):
            want = draw(kv_masks, *cells[r][c])
            if want is not None and want != kv[r][c]:
                drawn_wrong += 1
    if drawn_wrong:
        problems.append('%d kavel cells are not drawn as their cell record says' % drawn_wrong)

    # Vertical alignment: the offset (ansilove row = our row + offset) with
    # the most equal cells.
    want_al = [[draw(al_masks, *cell) for cell in row] for row in cells]

    def equal(r, c, off):
        want = want_al[r][c]
        return want is not None and want == al[r + off][c]

    # Only cells with something on them count, so that the empty rows of a
    # sparse picture do not pull it out of place; ties keep the smaller shift.
    black = tuple([0] * (CW * CH))
    best_off, best_score = 0, -1
    for off in sorted(range(-len(cells) + 1, len(al)), key=abs):
        lo, hi = max(0, -off), min(len(cells), len(al) - off)
        score = sum(1 for r in range(lo, hi) for c in range(COLS)
                    if al[r + off][c] != black and equal(r, c, off))
        if score > best_score:
            best_off, best_score = off, score
    off = best_off
    lo, hi = max(0, -off), min(len(cells), len(al) - off)

    differ = []
    glyph_diff = {}
    for r in range(lo, hi):
        for c in range(COLS):
            if equal(r, c, off):
                if kv[r][c] != al[r + off][c]:
                    glyph_diff[cells[r][c][0]] = glyph_diff.get(cells[r][c][0], 0) + 1
            else:
                differ.append((r, c, cells[r][c], decode(al_masks, al[r + off][c])))

    extra_kv = [r for r in range(len(cells)) if not lo <= r < hi and not blank_row(kv[r])]
    extra_al = [r for r in range(len(al)) if not lo <= r - off < hi and not blank_row(al[r])]

    name = os.path.basename(src)
    print('%s: kavel %d rows, ansilove %d rows, offset %+d; %d cells compared, %d differ'
          % (name, len(cells), len(al), off, (hi - lo) * COLS, len(differ)))
    if glyph_diff:
        top = sorted(glyph_diff.items(), key=lambda kv_: -kv_[1])
        print('  same cells drawn with different glyph shapes: %d (%s)'
              % (sum(glyph_diff.values()),
                 ', '.join('%d x%d' % (ch, n) for ch, n in top[:12])))
    for p in problems:
        print('  PROBLEM: ' + p)
    if extra_kv:
        print('  rows only kavel has, not blank: %s' % compact(extra_kv))
    if extra_al:
        print('  rows only ansilove has, not blank: %s (ansilove numbering)' % compact(extra_al))
    by_row = {}
    for r, c, ours, theirs in differ:
        by_row.setdefault(r, []).append((c, ours, theirs))
    shown = 0
    for r in sorted(by_row):
        items = by_row[r]
        if not args.verbose and shown >= 12:
            print('  ... %d more rows with differences' % (len(by_row) - shown))
            break
        shown += 1
        desc = []
        for c, ours, theirs in items[:6 if not args.verbose else len(items)]:
            desc.append('col %d kavel %s/%d/%d ansilove %s/%d/%d'
                        % (c, show(ours[0]), ours[1], ours[2], show(theirs[0]), theirs[1], theirs[2]))
        more = '' if len(items) <= len(desc) else ' (+%d more)' % (len(items) - len(desc))
        print('  row %d (ansilove %d): %d cells: %s%s'
              % (r, r + off, len(items), '; '.join(desc), more))
    failed = len(differ) + len(problems) + len(extra_kv) + len(extra_al)
    return failed


def compact(rows):
    out, start = [], None
    for i, r in enumerate(rows):
        if start is None:
            start = r
        if i + 1 == len(rows) or rows[i + 1] != r + 1:
            out.append(str(start) if start == r else '%d-%d' % (start, r))
            start = None
    return ','.join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--kavel-render', required=True)
    ap.add_argument('--ansilove', default='ansilove')
    ap.add_argument('--work')
    ap.add_argument('--max-diff', type=int, default=0)
    ap.add_argument('--ice', action='store_true')
    ap.add_argument('--verbose', action='store_true')
    ap.add_argument('files', nargs='+')
    args = ap.parse_args()

    work = args.work or tempfile.mkdtemp(prefix='ansi-compare-')
    os.makedirs(work, exist_ok=True)
    chart = os.path.join(work, 'chart.ans')
    with open(chart, 'wb') as f:
        f.write(chart_bytes())
    render_ansilove(args.ansilove, chart, chart + '.ansilove.png', False)
    render_kavel(args.kavel_render, chart, chart + '.kavel.png', chart + '.cells', False)
    al_masks = glyph_masks(picture_cells(chart + '.ansilove.png'))
    kv_masks = glyph_masks(picture_cells(chart + '.kavel.png'))

    worst = 0
    for src in args.files:
        worst = max(worst, compare_file(src, args, work, kv_masks, al_masks))
    return 0 if worst <= args.max_diff else 1


if __name__ == '__main__':
    sys.exit(main())
