#!/usr/bin/env python3
"""Writes compare_card.ans: our own test card for comparing kavel-render with
an independent ANSI renderer (tests/scripts/ansi_compare.sh).

It sticks to what BBS art uses and both renderers read the same way:
colours with bold as bright, absolute and relative cursor moves, ESC[s/u,
CP437 box drawing, blocks and shades, the control pictures, immediate wrap at
column 80, lines that scroll the screen (some ending in a bare LF), and a
SAUCE record with a comment block after the DOS end-of-file byte.

A line that fills column 80 scrolls at once, and the new bottom row takes the
current background; the full-width line here therefore keeps a black one.
"""
import sys

E = '\x1b['


def card():
    out = bytearray()

    def w(s):
        out.extend(s.encode('latin-1') if isinstance(s, str) else s)

    w(E + '0m' + E + '2J' + E + '1;1H')
    # Row 0: a title bar of exactly 80 columns, which wraps at once to row 1.
    w(E + '1;33;44m' + ' Kavel comparison card '.center(80) + E + '0m')
    # Rows 1-8: each background with the eight foregrounds, plain and bold.
    for bg in range(8):
        w(E + '0;4%dm' % bg)
        for bold in (0, 1):
            for fg in range(8):
                w(E + '%d;3%dm' % (bold, fg) + 'A\xdb\xb1\xfe')
        w(E + '0m\r\n')
    # Row 9: blocks and shades with cursor-forward gaps.
    w(E + '0;1;36m\xb0\xb0\xb1\xb1\xb2\xb2\xdb\xdb' + E + '3C' + E + '0;35;46m\xdc\xdf\xdd\xde\xdc\xdf')
    w(E + '2C' + E + '1;31;43m\xfe\xf9\xfa' + E + '0m' + E + '5C' + E + '32m\xde\xdb\xdd' + E + '0m')
    # Rows 11-15: a single box on blue, a double box, mixed junctions.
    w(E + '12;2H' + E + '1;37;44m\xda' + '\xc4' * 20 + '\xbf' + E + '0m')
    for r in range(13, 16):
        w(E + '%d;2H' % r + E + '1;37;44m\xb3' + E + '0;44m' + ' ' * 20 + E + '1;37;44m\xb3' + E + '0m')
    w(E + '16;2H' + E + '1;37;44m\xc0' + '\xc4' * 9 + '\xc1' + '\xc4' * 10 + '\xd9' + E + '0m')
    w(E + '14;5H' + E + '1;33;44mSingle \xc3\xc5\xb4 box' + E + '0m')
    w(E + '12;30f' + E + '0;33m\xc9' + '\xcd' * 16 + '\xbb')
    for r in range(13, 16):
        w(E + '%d;30f\xba' % r + E + '16C\xba')
    w(E + '16;30f\xc8' + '\xcd' * 7 + '\xca' + '\xcd' * 8 + '\xbc' + E + '0m')
    w(E + '14;32H' + E + '1;32mDouble \xcc\xce\xb9 box' + E + '0m')
    w(E + '12;52H' + E + '36m\xd5\xcd\xd1\xcd\xb8 \xd6\xc4\xd2\xc4\xb7')
    w(E + '13;52H\xc6\xcd\xd8\xcd\xb5 \xc7\xc4\xd7\xc4\xb6')
    w(E + '14;52H\xd4\xcd\xcf\xcd\xbe \xd3\xc4\xd0\xc4\xbd' + E + '0m')
    # Row 17: save, write far away, restore.
    w(E + '18;1H' + E + '0;1mSaved here:' + E + 's' + E + '20;60H' + E + '31mfar away' + E + 'u')
    w(E + '0;32m back' + E + '0m')
    # Rows 19-21: up, down, back and forward from a known place.
    w(E + '22;10H' + E + '1;35mX' + E + '2AY' + E + '1BZ' + E + '4D' + E + '1;34mW' + E + '3CV' + E + '0m')
    # Row 22: the control pictures and the high half of CP437 up to 175.
    w(E + '23;1H' + E + '0;37m')
    w(bytes([1, 2, 3, 4, 6, 11, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 28, 29, 30, 31]))
    w(' ' + ''.join(chr(c) for c in range(128, 176)) + E + '0m')
    # From row 24 on, lines that scroll the screen.
    w(E + '25;1H')
    for i in range(14):
        w(E + '0;%d;4%dm' % (31 + i % 7, (i * 3 + 4) % 8) + ('line %02d ' % i) + E + '1m')
        w('\xdf\xdc' * (3 + i) + E + '0m')
        w('\n' if i % 3 == 0 else '\r\n')
    w(E + '1;33;40m' + ''.join(chr(48 + k % 10) for k in range(80)) + E + '0m\r\n')
    w(E + '0;36mafter the full line' + E + '0m\r\n')
    w(E + '33mend' + E + '0m\r\n')
    art_size = len(out)
    w(b'\x1a')
    w(b'COMNT' + b'Our own test card: colours, boxes, blocks, moves.'.ljust(64))
    rec = bytearray(b'SAUCE00' + b'Kavel comparison card'.ljust(35) + b'Kavel'.ljust(20))
    rec += b'Kavel'.ljust(20) + b'20250101' + art_size.to_bytes(4, 'little')
    rec += bytes([1, 1]) + (80).to_bytes(2, 'little') + (50).to_bytes(2, 'little') + bytes(4)
    rec += bytes([1, 0]) + b'IBM VGA'.ljust(22, b'\0')
    assert len(rec) == 128
    out += rec
    return bytes(out)


if __name__ == '__main__':
    with open(sys.argv[1] if len(sys.argv) > 1 else 'compare_card.ans', 'wb') as f:
        f.write(card())
