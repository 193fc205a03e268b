#!/usr/bin/python3
"""Draws Talvo's icon (a heap of sand of both kinds under a trickle, on a
wall-coloured ledge) and writes every form of it into OUTDIR:

  talvo-SIZE.png  for the icon theme and the web page, SIZE in SIZES
  talvo.png       the 48 x 48 one, for the window and the web page
  talvo-maskable.png  512 x 512 for the installed web page: the drawing in
                  the middle of a full square, which a launcher may cut to
                  a circle or a rounded square
  talvo.svg       the same drawing as shapes, for the scalable theme folder
  talvo.ico       the Windows icon, in ICO_SIZES

The build runs it; a file whose bytes would not change is left alone, so
what depends on it is not made again.

Usage: make_icon.py OUTDIR"""
import os
import struct
import sys
import zlib

WALL = (200, 160, 64)
SAND = [(0, 240, 220), (0, 160, 200), (255, 0, 0), (160, 0, 0)]
BACK = (0, 0, 0)

# The drawing, in fractions of the icon's side.
GRAINS = 48            # grains across at most: larger icons have larger grains
MARGIN = 0.06          # clear all round
LEDGE = 0.82           # the ledge's top edge
HEAP_TOP = 0.40        # the heap's peak, at the middle
HEAP_HALF = 0.36       # half the heap's width at its foot
TRICKLE_HALF = 0.05    # half the trickle's width
TRICKLE_TOP = 0.12     # where the trickle starts

SIZES = [16, 22, 24, 32, 48, 64, 128, 192, 256, 512]
# Sizes from 256 up are kept as PNG inside the .ico, as Windows expects.
ICO_SIZES = [16, 24, 32, 48, 64, 256]


def grain(i, j):
    """The colour of the grain in column i, row j."""
    return SAND[(i * 7 + j * 3) % 4]


def heap_line(u):
    return LEDGE - (LEDGE - HEAP_TOP) * max(0.0, 1 - abs(u - 0.5) / HEAP_HALF)


def pixel(size, x, y):
    """The colour at (x, y) of the icon drawn at `size`, or None (clear).
    A grain is one pixel up to 48 x 48, and a 48th of the side above."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    n = min(size, GRAINS)
    if u < MARGIN or u > 1 - MARGIN or v < MARGIN or v > 1 - MARGIN:
        return None
    if v > LEDGE:
        return WALL
    g = grain(int(u * n), int(v * n))
    if v > heap_line(u):
        return g
    if abs(u - 0.5) < TRICKLE_HALF and (int(v * n) % 2 == 0) and v > TRICKLE_TOP:
        return g
    return BACK


def rgba_rows(size):
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            c = pixel(size, x, y)
            row.append((0, 0, 0, 0) if c is None else c + (255,))
        rows.append(row)
    return rows


# A maskable icon is cut to any shape that holds the circle of 40 % radius
# around its middle: the drawing, clear margin and all, fills the square in
# that circle, on the field's black to the edges.
MASK_SAFE = 0.56


def maskable_rows(size):
    inner = round(size * MASK_SAFE)
    at = (size - inner) // 2
    drawing = rgba_rows(inner)
    return [[drawing[y - at][x - at] if at <= x < at + inner and at <= y < at + inner and drawing[y - at][x - at][3]
             else BACK + (255,) for x in range(size)] for y in range(size)]


def png(size, rows=None):
    rows = rows or rgba_rows(size)
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def svg():
    """The drawing as shapes on a square of GRAINS units, a grain a unit."""
    n = GRAINS

    def at(f):
        return "%g" % round(f * n, 4)

    def hexa(c):
        return "#%02x%02x%02x" % c
    grains = "".join('<rect x="%d" y="%d" width="1" height="1" fill="%s"/>' % (i, j, hexa(grain(i, j)))
                     for j in range(4) for i in range(4))
    # Every other row of grains, from the trickle's top down into the heap.
    trickle = []
    for j in range(0, int(LEDGE * n), 2):
        top = max(j, TRICKLE_TOP * n)
        if top < j + 1:
            trickle.append('<rect x="%s" y="%g" width="%s" height="%g"/>' %
                           (at(0.5 - TRICKLE_HALF), round(top, 4), at(2 * TRICKLE_HALF), round(j + 1 - top, 4)))
    side = 1 - 2 * MARGIN
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n'
            '<title>Talvo</title>\n'
            '<defs><pattern id="sand" width="4" height="4" patternUnits="userSpaceOnUse">%s</pattern></defs>\n'
            '<rect x="%s" y="%s" width="%s" height="%s" fill="%s"/>\n'
            '<g fill="url(#sand)">%s</g>\n'
            '<polygon points="%s,%s %s,%s %s,%s" fill="url(#sand)"/>\n'
            '<rect x="%s" y="%s" width="%s" height="%s" fill="%s"/>\n'
            '</svg>\n' % (
                n, n, n, n, grains,
                at(MARGIN), at(MARGIN), at(side), at(side), hexa(BACK),
                "".join(trickle),
                at(0.5 - HEAP_HALF), at(LEDGE), at(0.5), at(HEAP_TOP), at(0.5 + HEAP_HALF), at(LEDGE),
                at(MARGIN), at(LEDGE), at(side), at(1 - MARGIN - LEDGE), hexa(WALL))).encode()


def bmp_entry(size):
    """A 32-bit icon image: header, bottom-up BGRA rows, then the AND mask."""
    rows = rgba_rows(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colour + mask


def ico(sizes):
    images = [png(s) if s >= 256 else bmp_entry(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def write(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    with open(path + ".new", "wb") as f:
        f.write(data)
    os.replace(path + ".new", path)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    pngs = {s: png(s) for s in SIZES}
    for s, data in pngs.items():
        write(os.path.join(out, "talvo-%d.png" % s), data)
    write(os.path.join(out, "talvo.png"), pngs[48])
    write(os.path.join(out, "talvo-maskable.png"), png(512, maskable_rows(512)))
    write(os.path.join(out, "talvo.svg"), svg())
    write(os.path.join(out, "talvo.ico"), ico(ICO_SIZES))


if __name__ == "__main__":
    main()
