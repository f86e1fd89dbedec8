#!/usr/bin/env python3
"""Draws the command icon (a cloud over a document) at 16, 24, 32 and 48 pixels.

Writes command16.png ... command48.png next to this script as 8-bit RGBA PNGs.
Standard library only; the output is deterministic, so the committed images
can be regenerated and compared.
"""

import os
import struct
import zlib

SIZES = (16, 24, 32, 48)
SUPERSAMPLE = 4

SHEET = (0xF7, 0xF9, 0xFC)
SHEET_EDGE = (0x5F, 0x6B, 0x7A)
CLOUD = (0x1E, 0x6F, 0xD9)
ARROW = (0xFF, 0xFF, 0xFF)


def in_round_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius**2


def in_circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def sheet(x, y):
    """Document sheet with an edge, in unit coordinates."""
    if not in_round_rect(x, y, 0.10, 0.04, 0.74, 0.86, 0.06):
        return None
    if in_round_rect(x, y, 0.16, 0.10, 0.68, 0.80, 0.03):
        return SHEET
    return SHEET_EDGE


def cloud(x, y):
    return (in_circle(x, y, 0.50, 0.62, 0.20) or in_circle(x, y, 0.74, 0.66, 0.16)
            or in_circle(x, y, 0.32, 0.72, 0.13)
            or in_round_rect(x, y, 0.28, 0.66, 0.92, 0.92, 0.08))


def arrow(x, y):
    """Upward arrow inside the cloud: shaft and head."""
    shaft = 0.56 <= x <= 0.68 and 0.66 <= y <= 0.86
    head = 0.54 <= y <= 0.68 and abs(x - 0.62) <= (y - 0.54) * 1.1
    return shaft or head


def colour_at(x, y):
    if cloud(x, y):
        return ARROW if arrow(x, y) else CLOUD
    return sheet(x, y)


def render(size):
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0
            for sy in range(n):
                for sx in range(n):
                    c = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c is not None:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            if a:
                # Colour averaged over covered samples; coverage becomes alpha.
                row += bytes((r // a, g // a, b // a, a * 255 // (n * n)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def png(size, rows):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 per row
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    for size in SIZES:
        with open(os.path.join(folder, "command%d.png" % size), "wb") as f:
            f.write(png(size, render(size)))


if __name__ == "__main__":
    main()
