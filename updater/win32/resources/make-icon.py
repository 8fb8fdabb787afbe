#!/usr/bin/env python3
"""Draws the updater's icon (AppUpdate.ico): a circular arrow on a rounded
blue square, at 16, 24, 32, 48 and 256 pixels (the small ones as bitmaps,
256 as PNG, which Windows reads from Vista on).
Usage: make-icon.py <out.ico>"""
import math
import struct
import sys
import zlib

SAMPLES = 4  # per axis, for smooth edges


def coverage(x, y, size):
    """RGBA of the point (x, y) in 0..1 units of a size-pixel icon."""
    c = 0.5
    # The rounded square, 1/16 margin, corner radius 3/16.
    m, r = 1 / 16, 3 / 16
    dx = max(abs(x - c) - (c - m - r), 0)
    dy = max(abs(y - c) - (c - m - r), 0)
    if math.hypot(dx, dy) > r:
        return None
    # Blue, lighter at the top.
    top, bottom = (52, 132, 228), (18, 74, 168)
    bg = tuple(int(a + (b - a) * y) for a, b in zip(top, bottom))
    # The arrow: a ring from 60 to 330 degrees, clockwise, a head at its end.
    px, py = x - c, c - y
    dist, ang = math.hypot(px, py), math.degrees(math.atan2(py, px)) % 360
    r_in, r_out = 0.20, 0.30
    on_ring = r_in <= dist <= r_out and not (330 < ang or ang < 60)
    # Head: a triangle at 60 degrees pointing along the clockwise direction.
    a0 = math.radians(60)
    mid = (r_in + r_out) / 2
    hx, hy = mid * math.cos(a0), mid * math.sin(a0)
    tx, ty = math.sin(a0), -math.cos(a0)  # clockwise tangent
    nx, ny = math.cos(a0), math.sin(a0)   # outward normal
    w, length = 0.13, 0.17
    p1 = (hx + nx * w, hy + ny * w)
    p2 = (hx - nx * w, hy - ny * w)
    p3 = (hx + tx * length, hy + ty * length)

    def side(a, b, p):
        return (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0])

    s1, s2, s3 = side(p1, p2, (px, py)), side(p2, p3, (px, py)), side(p3, p1, (px, py))
    on_head = (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)
    if on_ring or on_head:
        return (255, 255, 255)
    return bg


def render(size):
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            acc, n = [0, 0, 0], 0
            for sj in range(SAMPLES):
                for si in range(SAMPLES):
                    col = coverage((i + (si + 0.5) / SAMPLES) / size, (j + (sj + 0.5) / SAMPLES) / size, size)
                    if col is not None:
                        acc = [a + b for a, b in zip(acc, col)]
                        n += 1
            if n == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(a // n for a in acc) + (255 * n // SAMPLES ** 2,))
        rows.append(row)
    return rows


def bitmap(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = b"".join(
        bytes(
            sum(0x80 >> k for k in range(8) if i * 8 + k < size and row[i * 8 + k][3] == 0) for i in range(mask_row)
        )
        for row in reversed(rows))
    return header + pixels + mask


def png(rows):
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rows)
    size = len(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    images = [(s, bitmap(render(s)) if s < 256 else png(render(s))) for s in (16, 24, 32, 48, 256)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
