#!/usr/bin/env python3
"""Draws Quorpa's icons and writes them as 16-colour ICO files.

Quorpa.ico      (resource 128): 32x32 and 16x16, the about box's icon, with
                48x48 and 64x64 for the large window icon at 150% and 200%
                (Alt-Tab shows it at the size SM_CXICON gives the scale).
QuorpaSmall.ico (resource 129): 16x16, the settings dialog's small window icon.

The picture is a television set showing a letter, with a red recording
light: a programme reservation that travels by mail. Run it from anywhere;
it writes beside itself. The .ico files are committed, so the build does not
need Python.
"""
import os
import struct

# The standard Windows 16-colour palette (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, RED, WHITE, BLUE = 0, 4, 7, 8, 9, 15, 12
CLEAR = None


def draw(size):
    """Returns size x size rows of palette indices (None = transparent)."""
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(round(y0 * s), round(y1 * s) + (1 if s == 1 else 0)):
            for x in range(round(x0 * s), round(x1 * s) + (1 if s == 1 else 0)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    def line(x0, y0, x1, y1, colour):
        x0, y0, x1, y1 = (round(v * s) for v in (x0, y0, x1, y1))
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            x = x0 + (x1 - x0) * i // steps
            y = y0 + (y1 - y0) * i // steps
            if 0 <= x < size and 0 <= y < size:
                px[y][x] = colour

    # Antenna, legs and the cabinet with its outline.
    line(10, 0, 15, 5, BLACK)
    line(22, 0, 17, 5, BLACK)
    rect(5, 27, 8, 29, BLACK)
    rect(23, 27, 26, 29, BLACK)
    rect(1, 5, 30, 27, BLACK)
    rect(2, 6, 29, 26, GREY)
    # Screen with a letter on it.
    rect(3, 8, 22, 24, BLACK)
    rect(4, 9, 21, 23, NAVY)
    rect(6, 12, 19, 20, WHITE)
    line(6, 12, 12, 16, GREY)
    line(19, 12, 13, 16, GREY)
    # Recording light and two knobs.
    rect(24, 9, 27, 12, RED)
    rect(24, 15, 27, 17, SILVER)
    rect(24, 20, 27, 22, SILVER)
    return px


def image_bytes(px):
    size = len(px)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor = b''
    mask = b''
    for row in reversed(px):  # bitmaps are stored bottom-up
        nibbles = [0 if c is None else c for c in row]
        data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor += data.ljust(xor_stride, b'\0')
        bits = 0
        for x, c in enumerate(row):
            if c is None:
                bits |= 1 << (size - 1 - x)
        mask += bits.to_bytes(size // 8, 'big').ljust(and_stride, b'\0')
    return header + palette + xor + mask


def write_ico(path, sizes):
    images = [image_bytes(draw(n)) for n in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


here = os.path.dirname(os.path.abspath(__file__))
write_ico(os.path.join(here, 'Quorpa.ico'), [32, 16, 48, 64])
write_ico(os.path.join(here, 'QuorpaSmall.ico'), [16])
