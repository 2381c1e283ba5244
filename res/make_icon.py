#!/usr/bin/env python3
"""Draws the program's icon (a parcel box under a magnifier) and writes it as
an .ico file with nine images: 16, 32 and 48 pixels in 256 colours and in
32-bit colour, 32 pixels in two colours, 48 pixels in 16 colours and 128
pixels in 32-bit colour (PNG). Standard library only; the same bytes on
every run.

Usage: make_icon.py OUTPUT.ico
"""

import math
import struct
import sys
import zlib

# Colours (r, g, b).
BOX = (217, 164, 91)
BOX_TOP = (190, 128, 62)
BOX_EDGE = (110, 66, 24)
TAPE = (244, 221, 160)
LENS = (200, 230, 255)
RING = (36, 70, 125)
HANDLE = (45, 45, 50)

SUPERSAMPLE = 4


def _in_rect(x, y, left, top, right, bottom):
    return left <= x < right and top <= y < bottom


def _segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    px, py = ax + t * dx, ay + t * dy
    return math.hypot(x - px, y - py)


def _sample(x, y):
    """Colour and opacity of the design at (x, y) in the unit square."""
    colour, alpha = (0, 0, 0), 0.0
    # The box: a front face, a darker lid band, a tape strip and an edge.
    left, top, right, bottom = 0.06, 0.16, 0.70, 0.84
    edge = 0.045
    if _in_rect(x, y, left, top, right, bottom):
        if not _in_rect(x, y, left + edge, top + edge, right - edge, bottom - edge):
            colour = BOX_EDGE
        elif 0.33 <= x < 0.43:
            colour = TAPE
        elif y < 0.36:
            colour = BOX_TOP
        else:
            colour = BOX
        alpha = 1.0
    # The magnifier: handle, ring and a light, half-clear lens.
    cx, cy, radius, ring = 0.62, 0.58, 0.24, 0.065
    if _segment_distance(x, y, 0.79, 0.75, 0.94, 0.92) < 0.065:
        return HANDLE, 1.0
    distance = math.hypot(x - cx, y - cy)
    if distance < radius:
        if distance > radius - ring:
            return RING, 1.0
        lens_alpha = 0.6
        blended = tuple(round(l * lens_alpha + c * (1 - lens_alpha)) for l, c in zip(LENS, colour))
        if alpha == 0.0:
            return LENS, 0.85
        return blended, 1.0
    return colour, alpha


def render(size):
    """Rows of (r, g, b, a) pixels, top row first."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(n):
                for sx in range(n):
                    colour, alpha = _sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    r += colour[0] * alpha
                    g += colour[1] * alpha
                    b += colour[2] * alpha
                    a += alpha
            if a > 0:
                pixel = (round(r / a), round(g / a), round(b / a), round(255 * a / (n * n)))
            else:
                pixel = (0, 0, 0, 0)
            row.append(pixel)
        rows.append(row)
    return rows


def palette_256():
    # A 6x6x6 colour cube, then greys, filled up to 256 entries.
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colours += [(v * 255 // 39, v * 255 // 39, v * 255 // 39) for v in range(40)]
    return colours[:256]


PALETTE_16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

PALETTE_2 = [(0, 0, 0), (255, 255, 255)]


def nearest(palette, rgb):
    best, best_distance = 0, None
    for index, entry in enumerate(palette):
        distance = sum((p - q) ** 2 for p, q in zip(entry, rgb))
        if best_distance is None or distance < best_distance:
            best, best_distance = index, distance
    return best


def _row_bytes(bits):
    return ((bits + 31) // 32) * 4


def _pack_indices(indices, bpp):
    out = bytearray()
    per_byte = 8 // bpp
    for start in range(0, len(indices), per_byte):
        value = 0
        chunk = indices[start:start + per_byte]
        for position, index in enumerate(chunk):
            value |= index << (8 - bpp * (position + 1))
        out.append(value)
    return bytes(out)


def _pad(data, length):
    return data + b"\0" * (length - len(data))


def bmp_image(pixels, bpp):
    """An icon image as a bottom-up DIB with its AND mask."""
    size = len(pixels)
    opaque = [[p[3] >= 128 for p in row] for row in pixels]
    palette = []
    if bpp == 8:
        palette = palette_256()
    elif bpp == 4:
        palette = PALETTE_16
    elif bpp == 1:
        palette = PALETTE_2
    xor_rows = []
    for y in range(size - 1, -1, -1):
        row = pixels[y]
        if bpp == 32:
            data = b"".join(struct.pack("<BBBB", b, g, r, a) for r, g, b, a in row)
        else:
            if bpp == 1:
                # Two colours: dark parts black, light parts white.
                indices = [0 if (r * 299 + g * 587 + b * 114) // 1000 < 150 else 1 for r, g, b, _ in row]
            else:
                indices = [nearest(palette, (r, g, b)) for r, g, b, _ in row]
            indices = [index if opaque[y][x] else 0 for x, index in enumerate(indices)]
            data = _pack_indices(indices, bpp)
        xor_rows.append(_pad(data, _row_bytes(size * bpp)))
    and_rows = []
    for y in range(size - 1, -1, -1):
        bits = [0 if opaque[y][x] else 1 for x in range(size)]
        and_rows.append(_pad(_pack_indices(bits, 1), _row_bytes(size)))
    xor = b"".join(xor_rows)
    mask = b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(xor) + len(mask), 0, 0,
                         len(palette), 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + table + xor + mask


def png_image(pixels):
    size = len(pixels)
    raw = b"".join(b"\0" + bytes(channel for pixel in row for channel in pixel) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# (size, bits per pixel, PNG?)
IMAGES = [
    (16, 8, False), (32, 8, False), (48, 8, False),
    (16, 32, False), (32, 32, False), (48, 32, False),
    (32, 1, False), (48, 4, False), (128, 32, True),
]


def build_icon():
    rendered = {}
    entries = []
    for size, bpp, as_png in IMAGES:
        if size not in rendered:
            rendered[size] = render(size)
        pixels = rendered[size]
        data = png_image(pixels) if as_png else bmp_image(pixels, bpp)
        entries.append((size, bpp, data))
    header = struct.pack("<HHH", 0, 1, len(entries))
    offset = len(header) + 16 * len(entries)
    directory = b""
    images = b""
    for size, bpp, data in entries:
        colour_count = {1: 2, 4: 16}.get(bpp, 0)
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, colour_count, 0, 1, bpp, len(data),
                                 offset)
        images += data
        offset += len(data)
    return header + directory + images


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    data = build_icon()
    with open(sys.argv[1], "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
