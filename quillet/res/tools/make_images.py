#!/usr/bin/env python3
"""Draws the program's images and writes them as PNG files.

Every image is drawn from simple vector shapes, sampled 4 x 4 times per
pixel, at the two sizes the screens use (low density and 192 dpi). Files are
named "<resource id>_<name>.png" in quillet/res/images; the build compiles
them into the program as resources of type "PNG".

Run:  python3 quillet/res/tools/make_images.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(os.path.dirname(HERE), "images")
SS = 4  # samples per pixel along each axis


def write_png(path, width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples, top row first."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def render(size, shade):
    """shade(u, v) -> (r, g, b, a) floats 0..1 or None, u and v in 0..1."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    u = (x + (sx + 0.5) / SS) / size
                    v = (y + (sy + 0.5) / SS) / size
                    c = shade(u, v)
                    if c is None:
                        continue
                    r, g, b, a = c
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SS * SS
            a = acc[3] / n
            if a <= 0:
                row.append((0, 0, 0, 0))
                continue
            # Straight (not premultiplied) colour.
            r, g, b = (acc[0] / acc[3], acc[1] / acc[3], acc[2] / acc[3])
            row.append(tuple(int(round(max(0.0, min(1.0, c)) * 255)) for c in (r, g, b, a)))
        rows.append(row)
    return rows


def rounded_square(u, v, margin, radius):
    """True inside a square of the given margin with rounded corners."""
    lo, hi = margin, 1.0 - margin
    if u < lo or u > hi or v < lo or v > hi:
        return False
    cx = min(max(u, lo + radius), hi - radius)
    cy = min(max(v, lo + radius), hi - radius)
    return (u - cx) ** 2 + (v - cy) ** 2 <= radius ** 2


def channel_icon(u, v):
    """The default channel icon: an amber tile with a dot and two
    broadcast arcs, drawn from the lower-left corner."""
    if not rounded_square(u, v, 0.04, 0.2):
        return None
    # Tile: amber, lighter at the top.
    t = v
    base = (1.0, 0.62 - 0.18 * t, 0.12 - 0.08 * t, 1.0)
    # Thin darker rim.
    if not rounded_square(u, v, 0.09, 0.16):
        return (0.78, 0.36, 0.02, 1.0)
    ox, oy = 0.24, 0.76
    d = math.hypot(u - ox, v - oy)
    white = (1.0, 1.0, 1.0, 1.0)
    if d <= 0.1:
        return white
    if u >= ox - 0.02 and v <= oy + 0.02:
        if 0.30 <= d <= 0.42 or 0.55 <= d <= 0.67:
            return white
    return base


def refresh_pending(u, v):
    """Refresh pending: a white circular arrow on a translucent dark disc."""
    cx, cy = 0.5, 0.5
    dx, dy = u - cx, v - cy
    d = math.hypot(dx, dy)
    if d > 0.49:
        return None
    angle = math.degrees(math.atan2(-dy, dx)) % 360  # 0 = right, counter-clockwise
    white = (1.0, 1.0, 1.0, 1.0)
    # Ring from 60 degrees round to 350 degrees (a gap at the upper right).
    if 0.22 <= d <= 0.34 and not (0 <= angle < 60 or angle > 350):
        return white
    # Arrow head at the ring's start (60 degrees), pointing clockwise.
    a = math.radians(60)
    tip = (cx + 0.28 * math.cos(a) + 0.13, cy - 0.28 * math.sin(a) + 0.02)
    p1 = (cx + 0.12 * math.cos(a), cy - 0.12 * math.sin(a))
    p2 = (cx + 0.44 * math.cos(a), cy - 0.44 * math.sin(a))
    if inside_triangle((u, v), tip, p1, p2):
        return white
    return (0.05, 0.12, 0.25, 0.55)


def inside_triangle(p, a, b, c):
    def side(p1, p2, p3):
        return (p1[0] - p3[0]) * (p2[1] - p3[1]) - (p2[0] - p3[0]) * (p1[1] - p3[1])

    d1, d2, d3 = side(p, a, b), side(p, b, c), side(p, c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


IMAGES = [
    # (resource id, name, size, shader)
    (248, "channel_default", 16, channel_icon),
    (298, "channel_default_192", 32, channel_icon),
    (255, "refresh_pending", 12, refresh_pending),
    (280, "refresh_pending_192", 24, refresh_pending),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    for rid, name, size, shader in IMAGES:
        path = os.path.join(OUT, "%d_%s.png" % (rid, name))
        write_png(path, size, size, render(size, shader))
        print(path)


if __name__ == "__main__":
    main()
