#!/usr/bin/env python3
"""Draws the Windows program's icon, app/win32/agent.ico: the same picture as
the Qt front-end's (a blue sheet with a white upward arrow), at 16x16 and
32x32 pixels, 32-bit with alpha. Run it again after changing the picture:

    scripts/draw-icon.py app/win32/agent.ico
"""
import struct
import sys

SHEET = (0x3A, 0x7B, 0xD5)
EDGE = (0x1F, 0x3A, 0x68)
ARROW = (0xFF, 0xFF, 0xFF)
SAMPLES = 4  # per pixel and axis


def colour_at(x, y):
    """The colour at a point of the 32-unit picture, or None outside it."""
    def in_rounded(x0, y0, x1, y1, r):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    # The arrow: a shaft and a head with its tip at (16, 6).
    if 13.5 <= x <= 18.5 and 14 <= y <= 25:
        return ARROW
    if 6 <= y <= 15 and abs(x - 16) <= (y - 6) * 8 / 9:
        return ARROW
    if in_rounded(3.75, 3.75, 28.25, 28.25, 4.25):
        return SHEET
    if in_rounded(2.25, 2.25, 29.75, 29.75, 5.75):
        return EDGE
    return None


def image(size):
    """The BMP part of one icon entry: header, bottom-up BGRA rows, mask."""
    rows = []
    for py in range(size - 1, -1, -1):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * 32 / size
                    y = (py + (sy + 0.5) / SAMPLES) * 32 / size
                    c = colour_at(x, y)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            n = SAMPLES * SAMPLES
            row += bytes((b // a, g // a, r // a, 255 * a // n)) if a else bytes(4)
        rows.append(bytes(row))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + b"".join(rows) + bytes(mask_row * size)


def main(path):
    sizes = (16, 32)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "app/win32/agent.ico")
