#!/usr/bin/env python3
"""Draws the program icon and writes it as a Windows .ico file.

The picture is a package box with a downward arrow, drawn in code so that the
icon has no binary source: 16, 32 and 48 pixel images, 32-bit BGRA bitmaps
with an AND mask, which every Windows version since XP reads.

usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

BOX = (0x2f, 0x6f, 0xc4, 0xff)      # RGBA: blue box
BOX_EDGE = (0x1b, 0x3f, 0x73, 0xff)
LID = (0x5c, 0x95, 0xe0, 0xff)
ARROW = (0xf5, 0xa6, 0x23, 0xff)    # orange arrow
CLEAR = (0, 0, 0, 0)


def pixel(x, y, n):
    """Colour of pixel (x, y), y counted from the top, in an n x n image."""
    u, v = (x + 0.5) / n, (y + 0.5) / n
    # The arrow: a shaft and a head pointing down into the box.
    if 0.42 <= u <= 0.58 and 0.04 <= v <= 0.40:
        return ARROW
    if 0.40 <= v <= 0.56 and abs(u - 0.5) <= (0.56 - v) * 1.1:
        return ARROW
    if 0.12 <= u <= 0.88 and 0.50 <= v <= 0.94:
        edge = 1.5 / n
        if u < 0.12 + edge or u > 0.88 - edge or v > 0.94 - edge or v < 0.50 + edge:
            return BOX_EDGE
        if v < 0.62:
            return LID
        return BOX
    return CLEAR


def image(n):
    """One icon directory image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    mask_stride = ((n + 31) // 32) * 4
    mask_rows = []
    for y in reversed(range(n)):
        row = bytearray()
        mask = bytearray(mask_stride)
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            row += bytes((b, g, r, a))
            if a == 0:
                mask[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
        mask_rows.append(bytes(mask))
    return header + b"".join(rows) + b"".join(mask_rows)


def main():
    sizes = (16, 32, 48)
    images = [image(n) for n in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(sizes)))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
