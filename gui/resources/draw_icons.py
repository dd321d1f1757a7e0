#!/usr/bin/env python3
"""Draws the program's pictures: a parcel carrying a waybill.

icons/Kelvaro.png         32 x 32, 16 colours (one of them transparent): caption bars and task bar
icons/ProgramPicture.png  99 x 100, 256 colours: the About box
../../desktop/icons/hicolor/<n>x<n>/apps/org.halvenna.kelvaro.png  the installed program's icon in the
                          sizes desktops ask for (true colour, edges smoothed into transparency)
../../desktop/icons/hicolor/scalable/apps/org.halvenna.kelvaro.svg  the same drawing as vectors

Only the standard library is needed. Run it from this folder after changing the drawing.
"""
import struct
import zlib

# The parcel in a 32 x 32 design grid: (fill, outline, polygon)
TRANSPARENT = (255, 0, 255)
BLACK = (0, 0, 0)
CARD_FRONT = (196, 140, 72)
CARD_TOP = (232, 184, 112)
CARD_SIDE = (150, 100, 48)
TAPE = (240, 216, 160)
TAPE_SIDE = (200, 172, 116)
PAPER = (255, 255, 255)
RED = (200, 24, 24)
BLUE = (0, 0, 200)
GREY = (128, 128, 128)
GREEN = (192, 220, 192)

FACES = [
    (CARD_TOP, [(2, 12), (10, 5), (30, 5), (22, 12)]),
    (CARD_SIDE, [(22, 12), (30, 5), (30, 23), (22, 30)]),
    (CARD_FRONT, [(2, 12), (22, 12), (22, 30), (2, 30)]),
    (TAPE, [(10, 12), (14, 12), (22, 5), (18, 5)]),
    (TAPE, [(10, 12), (14, 12), (14, 16), (10, 16)]),
    (TAPE_SIDE, [(24, 10), (27, 7.5), (27, 11), (24, 13.5)]),
]
# The waybill on the front: paper, a red header band, a box for the postal code and ruled lines.
WAYBILL = [
    (PAPER, [(4, 17), (20, 17), (20, 28), (4, 28)]),
    (RED, [(4, 17), (20, 17), (20, 19), (4, 19)]),
    (GREEN, [(5, 20), (11, 20), (11, 22), (5, 22)]),
]
LINES = [
    (BLUE, (5, 23.5), (19, 23.5)),
    (BLUE, (5, 25.5), (17, 25.5)),
    (GREY, (5, 27), (19, 27)),
]
# Black outlines: (points, closed)
OUTLINES = [
    ([(2, 12), (10, 5), (30, 5), (30, 23), (22, 30), (2, 30)], True),
    ([(2, 12), (22, 12), (30, 5)], False),
    ([(22, 12), (22, 30)], False),
    ([(4, 17), (20, 17), (20, 28), (4, 28)], True),
]


def inside(poly, x, y):
    hit = False
    n = len(poly)
    for i in range(n):
        (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % n]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            hit = not hit
    return hit


def near_segment(x, y, a, b, width):
    (x1, y1), (x2, y2) = a, b
    dx, dy = x2 - x1, y2 - y1
    t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
    px, py = x1 + t * dx, y1 + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= width * width


def sample(x, y, line_width):
    """The colour at a point of the 32-unit design, or None outside the drawing."""
    colour = None
    for fill, poly in FACES + WAYBILL:
        if inside(poly, x, y):
            colour = fill
    for ink, a, b in LINES:
        if near_segment(x, y, a, b, line_width * 0.6):
            colour = ink
    for points, closed in OUTLINES:
        for i in range(len(points) if closed else len(points) - 1):
            if near_segment(x, y, points[i], points[(i + 1) % len(points)], line_width):
                colour = BLACK
    return colour


def render(width, height, supersample, line_width):
    scale_x, scale_y = 32.0 / width, 32.0 / height
    pixels = []
    for py in range(height):
        row = []
        for px in range(width):
            hits = []
            for sy in range(supersample):
                for sx in range(supersample):
                    x = (px + (sx + 0.5) / supersample) * scale_x
                    y = (py + (sy + 0.5) / supersample) * scale_y
                    hits.append(sample(x, y, line_width))
            covered = [c for c in hits if c is not None]
            if len(covered) * 2 < len(hits):
                row.append(None)
            else:
                row.append(tuple(sum(c[i] for c in covered) // len(covered) for i in range(3)))
        pixels.append(row)
    return pixels


def png(path, width, height, palette, transparent_index, indices, bit_depth):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    per_byte = 8 // bit_depth
    for row in indices:
        raw.append(0)
        for i in range(0, width, per_byte):
            byte = 0
            for j in range(per_byte):
                value = row[i + j] if i + j < width else 0
                byte |= value << (8 - bit_depth * (j + 1))
            raw.append(byte)
    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bit_depth, 3, 0, 0, 0))
    data += chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    if transparent_index is not None:
        data += chunk(b"tRNS", bytes([255] * transparent_index + [0]))
    data += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    data += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def nearest(palette, colour):
    return min(range(len(palette)), key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def icon16(path):
    palette = [TRANSPARENT, BLACK, CARD_FRONT, CARD_TOP, CARD_SIDE, TAPE, TAPE_SIDE, PAPER, RED, BLUE, GREY,
               GREEN, (128, 0, 0), (0, 0, 128), (192, 192, 192), (255, 255, 0)]
    pixels = render(32, 32, 1, 0.5)
    indices = [[0 if c is None else nearest(palette[1:], c) + 1 for c in row] for row in pixels]
    png(path, 32, 32, palette, 0, indices, 4)


def picture256(path):
    # A 6 x 7 x 6 colour cube and greys: 256 colours, the first of them transparent.
    palette = [TRANSPARENT]
    for r in range(6):
        for g in range(7):
            for b in range(6):
                palette.append((r * 51, g * 255 // 6, b * 51))
    for v in range(1, 4):
        palette.append((v * 64,) * 3)
    palette = palette[:256]
    pixels = render(99, 100, 3, 0.35)
    indices = [[0 if c is None else nearest(palette[1:], c) + 1 for c in row] for row in pixels]
    png(path, 99, 100, palette, 0, indices, 8)


def png_rgba(path, size, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in rows:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))
    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    data += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def theme_icon(path, size):
    # Coverage becomes transparency, so the parcel's edges stay smooth on any panel colour. Small
    # sizes keep the outlines thick enough to show.
    supersample = 4 if size <= 64 else 2
    line_width = 0.5 if size <= 32 else 0.35
    scale = 32.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = []
            for sy in range(supersample):
                for sx in range(supersample):
                    x = (px + (sx + 0.5) / supersample) * scale
                    y = (py + (sy + 0.5) / supersample) * scale
                    hits.append(sample(x, y, line_width))
            covered = [c for c in hits if c is not None]
            if not covered:
                row.append((0, 0, 0, 0))
            else:
                colour = tuple(sum(c[i] for c in covered) // len(covered) for i in range(3))
                row.append(colour + (255 * len(covered) // len(hits),))
        rows.append(row)
    png_rgba(path, size, rows)


def svg(path):
    def hex_colour(c):
        return "#%02x%02x%02x" % c

    def points(poly):
        return " ".join("%g,%g" % p for p in poly)

    parts = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 32 32">']
    for fill, poly in FACES + WAYBILL:
        parts.append('  <polygon points="%s" fill="%s"/>' % (points(poly), hex_colour(fill)))
    for ink, a, b in LINES:
        parts.append('  <line x1="%g" y1="%g" x2="%g" y2="%g" stroke="%s" stroke-width="0.42" '
                     'stroke-linecap="round"/>' % (a + b + (hex_colour(ink),)))
    for outline, closed in OUTLINES:
        kind = "polygon" if closed else "polyline"
        parts.append('  <%s points="%s" fill="none" stroke="#000000" stroke-width="0.7" '
                     'stroke-linejoin="round" stroke-linecap="round"/>' % (kind, points(outline)))
    parts.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(parts) + "\n")


THEME = "../../desktop/icons/hicolor"
APP_ID = "org.halvenna.kelvaro"
THEME_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]

if __name__ == "__main__":
    import os
    import sys

    if "--theme-only" not in sys.argv:
        icon16("icons/Kelvaro.png")
        picture256("icons/ProgramPicture.png")
    for n in THEME_SIZES:
        folder = "%s/%dx%d/apps" % (THEME, n, n)
        os.makedirs(folder, exist_ok=True)
        theme_icon("%s/%s.png" % (folder, APP_ID), n)
    os.makedirs(THEME + "/scalable/apps", exist_ok=True)
    svg("%s/scalable/apps/%s.svg" % (THEME, APP_ID))
