#!/usr/bin/env python3
"""Draws the program icon, a compass dial in the 16 colours of the classic
palette, and writes it as rotavox.ico with a 32 x 32 and a 16 x 16 image,
and as rotavox-32.png and rotavox-16.png for the desktop's icon theme.
Run it again after changing the drawing; the output is the same every time."""

import math
import os
import struct
import zlib

# The classic 16-colour palette (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, OLIVE, GREY, YELLOW, WHITE = 0, 3, 8, 11, 15
TRANSPARENT = None


def draw(size):
    """Rows of palette indexes (None: transparent), top row first."""
    c = (size - 1) / 2
    outer = size / 2 - 0.5
    rim = max(1.5, size / 12)
    pixels = [[TRANSPARENT] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            r = math.hypot(x - c, y - c)
            if r <= outer:
                pixels[y][x] = YELLOW if r > outer - rim else BLACK
    # A white mark at north, grey marks at east, south and west.
    for angle, colour in ((0, WHITE), (90, GREY), (180, GREY), (270, GREY)):
        a = math.radians(angle - 90)
        x = round(c + math.cos(a) * (outer - rim - 1))
        y = round(c + math.sin(a) * (outer - rim - 1))
        pixels[y][x] = colour
    # The needle towards 45 degrees.
    a = math.radians(45 - 90)
    steps = size * 2
    for i in range(steps):
        t = i / steps * (outer - rim - 2)
        pixels[round(c + math.sin(a) * t)][round(c + math.cos(a) * t)] = OLIVE if size < 32 else YELLOW
    return pixels


def bitmap(size):
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    colour_rows, mask_rows = [], []
    for row in reversed(pixels):  # bottom-up
        nibbles = [0 if p is None else p for p in row]
        data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        colour_rows.append(data.ljust((len(data) + 3) // 4 * 4, b"\0"))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is None else 0)
        mask = bits.to_bytes(size // 8, "big")
        mask_rows.append(mask.ljust((len(mask) + 3) // 4 * 4, b"\0"))
    return header + palette + b"".join(colour_rows) + b"".join(mask_rows)


def png(size):
    """The same drawing as an RGBA PNG."""
    rows = b""
    for row in draw(size):
        rows += b"\0" + b"".join(bytes((0, 0, 0, 0)) if p is None else bytes((*PALETTE[p], 255))
                                 for p in row)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


def main():
    images = [bitmap(32), bitmap(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    out += b"".join(images)
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "rotavox.ico"), "wb") as f:
        f.write(out)
    for size in (32, 16):
        with open(os.path.join(here, f"rotavox-{size}.png"), "wb") as f:
            f.write(png(size))


if __name__ == "__main__":
    main()
