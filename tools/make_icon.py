#!/usr/bin/python3
"""Draws Talvo's icon (a heap of sand of both kinds under a trickle, on a
wall-coloured ledge) and writes it as src/resources/talvo.png (48 x 48) and
src/resources/talvo.ico (16, 32 and 48). Run it again only to change the
picture; both files are kept in the tree."""
import os
import struct
import zlib

WALL = (200, 160, 64)
SAND = [(0, 240, 220), (0, 160, 200), (255, 0, 0), (160, 0, 0)]
BACK = (0, 0, 0)


def pixel(size, x, y):
    """The colour at (x, y) of the icon drawn at `size`, or None (clear)."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    if u < 0.06 or u > 0.94 or v < 0.06 or v > 0.94:
        return None
    if v > 0.82:
        return WALL
    heap = 0.82 - 0.42 * max(0.0, 1 - abs(u - 0.5) / 0.36)
    grain = SAND[(int(u * size) * 7 + int(v * size) * 3) % 4]
    if v > heap:
        return grain
    if abs(u - 0.5) < 0.05 and (int(v * size) % 2 == 0) and v > 0.12:
        return grain
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


def png(size):
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rgba_rows(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


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
    images = [bmp_entry(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "resources")
    with open(os.path.join(here, "talvo.png"), "wb") as f:
        f.write(png(48))
    with open(os.path.join(here, "talvo.ico"), "wb") as f:
        f.write(ico([16, 32, 48]))
