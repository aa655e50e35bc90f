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


def news_default(u, v):
    """The default headline picture: a folded newspaper page with a picture
    block and lines of text."""
    if not rounded_square(u, v, 0.08, 0.08):
        return None
    paper = (0.96, 0.95, 0.90, 1.0)
    ink = (0.35, 0.38, 0.45, 1.0)
    # Folded corner at the top right.
    if u + (1.0 - v) > 1.72:
        return None
    if u + (1.0 - v) > 1.64:
        return (0.78, 0.76, 0.70, 1.0)
    if not rounded_square(u, v, 0.12, 0.05):
        return (0.62, 0.62, 0.60, 1.0)
    # Headline bar.
    if 0.2 <= u <= 0.7 and 0.2 <= v <= 0.3:
        return (0.15, 0.18, 0.25, 1.0)
    # Picture block on the left.
    if 0.2 <= u <= 0.46 and 0.38 <= v <= 0.62:
        t = (v - 0.38) / 0.24
        return (0.25 + 0.2 * t, 0.55 - 0.1 * t, 0.85 - 0.3 * t, 1.0)
    # Text lines.
    for top in (0.38, 0.48, 0.58, 0.70, 0.80):
        right = 0.8
        left = 0.52 if top < 0.65 else 0.2
        if left <= u <= right and top <= v <= top + 0.045:
            return ink
    return paper


def dot(colour, hollow):
    def shade(u, v):
        d = math.hypot(u - 0.5, v - 0.5)
        if d > 0.46:
            return None
        if hollow:
            if d >= 0.30:
                return colour
            return (0.0, 0.0, 0.0, 0.25)
        # A little highlight at the upper left.
        h = max(0.0, 1.0 - math.hypot(u - 0.38, v - 0.36) / 0.22)
        r, g, b, a = colour
        return (r + (1 - r) * h * 0.6, g + (1 - g) * h * 0.6, b + (1 - b) * h * 0.6, a)
    return shade


def page(colour, filled):
    """A small page with a folded corner and two text lines: the full text
    is stored."""
    def shade(u, v):
        if u < 0.16 or u > 0.84 or v < 0.06 or v > 0.94:
            return None
        if u + (1.0 - v) > 1.58:
            return None
        edge = u < 0.26 or u > 0.74 or v < 0.16 or v > 0.84 or u + (1.0 - v) > 1.46
        if edge:
            return colour
        if 0.34 <= u <= 0.66 and (0.38 <= v <= 0.46 or 0.56 <= v <= 0.64):
            return colour if not filled else (0.2, 0.15, 0.05, 1.0)
        return colour if filled else (0.0, 0.0, 0.0, 0.25)
    return shade


AMBER = (1.0, 0.70, 0.12, 1.0)
GREY = (0.78, 0.80, 0.84, 1.0)


def button_glow(u, v):
    """The glow behind a pressed button: a soft white disc."""
    d = math.hypot(u - 0.5, v - 0.5) / 0.5
    if d >= 1.0:
        return None
    a = (1.0 - d) ** 1.6 * 0.85
    return (1.0, 1.0, 1.0, a)


def header_icon(u, v):
    """The header's icon: the channel tile, a little smaller."""
    return channel_icon(u, v)


def download_arrow(u, v):
    """The download image of the progress band: a white arrow pointing down
    onto a bar."""
    white = (1.0, 1.0, 1.0, 1.0)
    if 0.40 <= u <= 0.60 and 0.08 <= v <= 0.52:
        return white
    if inside_triangle((u, v), (0.18, 0.46), (0.82, 0.46), (0.5, 0.80)):
        return white
    if 0.14 <= u <= 0.86 and 0.86 <= v <= 0.96:
        return white
    return None


def bar_categories(u, v):
    """Bar button: the category chooser, a folder."""
    white = (1.0, 1.0, 1.0, 1.0)
    if 0.14 <= u <= 0.46 and 0.24 <= v <= 0.34:
        return white
    if rounded_square(u, v, 0.14, 0.06) and 0.32 <= v <= 0.78:
        if 0.20 <= u <= 0.80 and 0.40 <= v <= 0.72:
            return (1.0, 1.0, 1.0, 0.35)
        return white
    return None


def bar_refresh(u, v):
    """Bar button: Refresh, a circular arrow."""
    cx, cy = 0.5, 0.5
    dx, dy = u - cx, v - cy
    d = math.hypot(dx, dy)
    white = (1.0, 1.0, 1.0, 1.0)
    angle = math.degrees(math.atan2(-dy, dx)) % 360
    if 0.24 <= d <= 0.34 and not (0 <= angle < 50 or angle > 350):
        return white
    a = math.radians(50)
    tip = (cx + 0.29 * math.cos(a) + 0.14, cy - 0.29 * math.sin(a) + 0.04)
    p1 = (cx + 0.12 * math.cos(a), cy - 0.12 * math.sin(a))
    p2 = (cx + 0.46 * math.cos(a), cy - 0.46 * math.sin(a))
    if inside_triangle((u, v), tip, p1, p2):
        return white
    return None


def bar_cancel(u, v):
    """Bar button: Cancel, a cross in a ring."""
    d = math.hypot(u - 0.5, v - 0.5)
    white = (1.0, 1.0, 1.0, 1.0)
    if 0.34 <= d <= 0.41:
        return white
    if d < 0.30 and (abs((u - 0.5) - (v - 0.5)) < 0.06 or abs((u - 0.5) + (v - 0.5)) < 0.06):
        return white
    return None


def bar_menu(u, v):
    """Bar button: Menu, three lines."""
    white = (1.0, 1.0, 1.0, 1.0)
    if 0.2 <= u <= 0.8:
        for c in (0.30, 0.5, 0.70):
            if abs(v - c) <= 0.05:
                return white
    return None


IMAGES = [
    # (resource id, name, size, shader)
    (248, "channel_default", 16, channel_icon),
    (298, "channel_default_192", 32, channel_icon),
    (255, "refresh_pending", 12, refresh_pending),
    (280, "refresh_pending_192", 24, refresh_pending),
    (250, "news_default", 32, news_default),
    (272, "news_default_192", 64, news_default),
    (252, "news_unread", 12, dot(AMBER, False)),
    (271, "news_unread_192", 24, dot(AMBER, False)),
    (251, "news_unread_full", 12, page(AMBER, True)),
    (269, "news_unread_full_192", 24, page(AMBER, True)),
    (326, "news_read", 12, dot(GREY, True)),
    (327, "news_read_192", 24, dot(GREY, True)),
    (324, "news_read_full", 12, page(GREY, False)),
    (325, "news_read_full_192", 24, page(GREY, False)),
    (349, "button_pressed", 40, button_glow),
    (350, "button_pressed_192", 80, button_glow),
    (229, "header_icon", 24, header_icon),
    (275, "header_icon_192", 48, header_icon),
    (231, "download", 16, download_arrow),
    (274, "download_192", 32, download_arrow),
    (249, "bar_categories", 32, bar_categories),
    (284, "bar_categories_192", 64, bar_categories),
    (246, "bar_refresh", 32, bar_refresh),
    (288, "bar_refresh_192", 64, bar_refresh),
    (247, "bar_cancel", 32, bar_cancel),
    (289, "bar_cancel_192", 64, bar_cancel),
    (266, "bar_menu", 32, bar_menu),
    (286, "bar_menu_192", 64, bar_menu),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    for rid, name, size, shader in IMAGES:
        path = os.path.join(OUT, "%d_%s.png" % (rid, name))
        write_png(path, size, size, render(size, shader))
        print(path)


if __name__ == "__main__":
    main()
