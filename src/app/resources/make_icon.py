#!/usr/bin/env python3
"""Draws the program icon (icon resource 107) and writes nulvane.ico beside this script.

The icon is defined here as a few shapes on a 48-unit canvas: a sheet of paper with a folded
corner and three lines of text, crossed out by a thick red X. Each size (16, 32, 48 and 256
pixels) is rendered from the shapes with 8 x 8 supersampling, so every size is drawn for its own
pixel grid rather than scaled from another. Run it after changing the shapes:
    python3 src/app/resources/make_icon.py
"""
import os
import struct
import zlib

SIZES = (16, 32, 48, 256)
SUPERSAMPLE = 8

PAPER = (255, 255, 255)
OUTLINE = (60, 64, 72)
TEXT_LINE = (150, 156, 168)
FOLD = (205, 210, 220)
CROSS = (206, 32, 40)


def inside_polygon(x, y, points):
    result = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def near_segment(x, y, a, b, half_width):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= half_width ** 2


SHEET = [(8, 3), (31, 3), (40, 12), (40, 45), (8, 45)]
SHEET_INNER = [(10.5, 5.5), (30, 5.5), (37.5, 13), (37.5, 42.5), (10.5, 42.5)]
FOLD_TRIANGLE = [(31, 3), (31, 12), (40, 12)]


def colour_at(x, y):
    """The colour of canvas point (x, y), 0..48, or None outside every shape (topmost first)."""
    if near_segment(x, y, (21, 24), (43, 44), 4.0) or near_segment(x, y, (43, 24), (21, 44), 4.0):
        return CROSS
    if inside_polygon(x, y, FOLD_TRIANGLE):
        return FOLD
    if inside_polygon(x, y, SHEET_INNER):
        for top in (14, 21, 28):
            if 14 <= x <= 33 and top <= y <= top + 3:
                return TEXT_LINE
        return PAPER
    if inside_polygon(x, y, SHEET):
        return OUTLINE
    return None


def render(size):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    scale = 48.0 / size
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    x = (px + (sx + 0.5) / SUPERSAMPLE) * scale
                    y = (py + (sy + 0.5) / SUPERSAMPLE) * scale
                    c = colour_at(x, y)
                    if c:
                        r, g, b, hits = r + c[0], g + c[1], b + c[2], hits + 1
            if hits:
                row.append((r // hits, g // hits, b // hits, 255 * hits // SUPERSAMPLE ** 2))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def bmp_entry(rows):
    """A 32-bit icon image: BITMAPINFOHEADER (double height), bottom-up BGRA, AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def png_entry(rows):
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_entry(rows) if size >= 256 else bmp_entry(rows)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nulvane.ico")
    with open(target, "wb") as f:
        f.write(out)
    # A preview of every size side by side, for looking at the icon without Windows.
    preview = os.path.join(os.path.dirname(target), "..", "..", "..", "build", "icon-preview.png")
    os.makedirs(os.path.dirname(preview), exist_ok=True)
    width = sum(s for s in SIZES) + 8 * len(SIZES)
    height = max(SIZES)
    canvas = [[(236, 236, 236, 255)] * width for _ in range(height)]
    x0 = 0
    for size in SIZES:
        for y, row in enumerate(render(size)):
            for x, (r, g, b, a) in enumerate(row):
                br, bg, bb, _ = canvas[y][x0 + x]
                canvas[y][x0 + x] = ((r * a + br * (255 - a)) // 255, (g * a + bg * (255 - a)) // 255,
                                     (b * a + bb * (255 - a)) // 255, 255)
        x0 += size + 8
    with open(preview, "wb") as f:
        f.write(png_entry(canvas))


if __name__ == "__main__":
    main()
