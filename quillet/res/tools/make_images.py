#!/usr/bin/env python3
"""Draws the program's images and writes them as PNG files.

Every image is drawn from simple vector shapes, sampled 4 x 4 times per
pixel, at the two sizes the screens use (low density and 192 dpi). Files are
named "<resource id>_<name>.png" in quillet/res/images; the build compiles
them into the program as resources of type "PNG". The few pictures the
program needs as bitmaps are written as "<resource id>_<name>.bmp" in
quillet/res/bitmaps and compiled in as bitmap resources.

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


# ---------------------------------------------------------------------------
# Shapes shared by the images of the headline list, the reading view and the
# new-channel wizard.

WHITE = (1.0, 1.0, 1.0, 1.0)
CLEAR = (0.0, 0.0, 0.0, 0.0)


def near_segment(u, v, a, b, width):
    """True within width / 2 of the segment a-b (round ends)."""
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((u - ax) * dx + (v - ay) * dy) / length2))
    return math.hypot(u - (ax + t * dx), v - (ay + t * dy)) <= width / 2


def near_polyline(u, v, points, width):
    return any(near_segment(u, v, points[i], points[i + 1], width) for i in range(len(points) - 1))


def in_rect(u, v, left, top, right, bottom):
    return left <= u <= right and top <= v <= bottom


def on_arc(u, v, cx, cy, r, width, start, end):
    """True on the ring of radius r between the angles start and end
    (degrees, counter-clockwise from the right; end may exceed 360)."""
    d = math.hypot(u - cx, v - cy)
    if abs(d - r) > width / 2:
        return False
    a = math.degrees(math.atan2(-(v - cy), u - cx)) % 360
    if a < start:
        a += 360
    return a <= end


def arc_head(u, v, cx, cy, r, angle, length, half_width):
    """An arrow head at the given angle of a circle, pointing
    counter-clockwise along it."""
    a = math.radians(angle)
    px, py = cx + r * math.cos(a), cy - r * math.sin(a)
    tx, ty = -math.sin(a), -math.cos(a)
    nx, ny = math.cos(a), -math.sin(a)
    tip = (px + tx * length, py + ty * length)
    return inside_triangle((u, v), tip, (px + nx * half_width, py + ny * half_width),
                           (px - nx * half_width, py - ny * half_width))


def first(*shaders):
    """The first shader that paints the point wins."""
    def shade(u, v):
        for s in shaders:
            c = s(u, v)
            if c is not None:
                return c
        return None
    return shade


def scale(colour, f):
    r, g, b, a = colour
    return (min(1.0, r * f), min(1.0, g * f), min(1.0, b * f), a)


def tile(colour, glyph):
    """A row icon: a rounded tile of the colour, lighter at the top, with a
    darker rim, and a glyph on it. glyph(u, v, ink) paints white parts and
    uses ink (a dark shade of the tile) for details over white."""
    rim = scale(colour, 0.68)
    ink = scale(colour, 0.62)

    def shade(u, v):
        if not rounded_square(u, v, 0.04, 0.2):
            return None
        if not rounded_square(u, v, 0.09, 0.16):
            return rim
        c = glyph(u, v, ink)
        if c is not None:
            return c
        return scale(colour, 1.18 - 0.3 * v)
    return shade


# Bar buttons: white glyphs for the dark button bar.

def bar_back(u, v):
    """Back: an arrow that turns round to the left."""
    if inside_triangle((u, v), (0.10, 0.34), (0.32, 0.16), (0.32, 0.52)):
        return WHITE
    if near_segment(u, v, (0.28, 0.34), (0.56, 0.34), 0.11):
        return WHITE
    if on_arc(u, v, 0.56, 0.55, 0.21, 0.11, 270, 450):
        return WHITE
    if near_segment(u, v, (0.56, 0.76), (0.30, 0.76), 0.11):
        return WHITE
    return None


def bar_arrow(direction):
    """Previous (-1) or next (+1): a straight arrow."""
    def shade(u, v):
        x = u if direction > 0 else 1.0 - u
        if near_segment(x, v, (0.18, 0.5), (0.56, 0.5), 0.14):
            return WHITE
        if inside_triangle((x, v), (0.86, 0.5), (0.52, 0.18), (0.52, 0.82)):
            return WHITE
        return None
    return shade


def envelope(u, v, body, ink_width=0.055):
    """A closed envelope: a filled body with the flap's two edges cut out."""
    if not in_rect(u, v, 0.12, 0.24, 0.88, 0.76):
        return None
    if near_polyline(u, v, [(0.14, 0.27), (0.5, 0.54), (0.86, 0.27)], ink_width):
        return CLEAR
    return body


def bar_email(u, v):
    """E-mail: an envelope."""
    return envelope(u, v, WHITE)


def bar_mark_unread(u, v):
    """Mark as unread: a closed envelope with the amber unread dot."""
    d = math.hypot(u - 0.80, v - 0.26)
    if d <= 0.14:
        h = max(0.0, 1.0 - math.hypot(u - 0.76, v - 0.22) / 0.1)
        r, g, b, a = AMBER
        return (r + (1 - r) * h * 0.5, g + (1 - g) * h * 0.5, b + (1 - b) * h * 0.5, a)
    if d <= 0.19:
        return None
    return envelope(u, v, WHITE)


def bar_mark_read(u, v):
    """Mark as read: an open envelope, its flap folded up and a letter in
    it."""
    if in_rect(u, v, 0.12, 0.46, 0.88, 0.84):
        if near_polyline(u, v, [(0.14, 0.82), (0.5, 0.60), (0.86, 0.82)], 0.055):
            return CLEAR
        return WHITE
    # The letter standing out of the envelope.
    if in_rect(u, v, 0.26, 0.22, 0.74, 0.46):
        if in_rect(u, v, 0.31, 0.27, 0.69, 0.43):
            if (0.30 <= v <= 0.34 or 0.37 <= v <= 0.41) and u <= 0.64:
                return WHITE
            return CLEAR
        return WHITE
    # The open flap behind it, half transparent.
    if inside_triangle((u, v), (0.12, 0.46), (0.88, 0.46), (0.5, 0.10)):
        return (1.0, 1.0, 1.0, 0.45)
    return None


def bar_delete(u, v):
    """Delete: a bin with a lid and three slots."""
    if in_rect(u, v, 0.41, 0.12, 0.59, 0.20) and not in_rect(u, v, 0.46, 0.16, 0.54, 0.20):
        return WHITE
    if in_rect(u, v, 0.20, 0.20, 0.80, 0.28):
        return WHITE
    if 0.32 <= v <= 0.86:
        t = (v - 0.32) / 0.54
        left, right = 0.26 + 0.05 * t, 0.74 - 0.05 * t
        if left <= u <= right:
            for x in (0.39, 0.5, 0.61):
                if abs(u - x) <= 0.03 and 0.42 <= v <= 0.76:
                    return CLEAR
            return WHITE
    return None


def cross(colour, width):
    def shade(u, v):
        if near_segment(u, v, (0.24, 0.24), (0.76, 0.76), width) or \
                near_segment(u, v, (0.76, 0.24), (0.24, 0.76), width):
            return colour
        return None
    return shade


TICK = [(0.20, 0.52), (0.41, 0.73), (0.82, 0.28)]


def tick(u, v):
    """OK / selected: a tick."""
    return WHITE if near_polyline(u, v, TICK, 0.13) else None


def reading_corner(u, v):
    """The corner tab of full-screen reading: a translucent dark quarter
    disc in the bottom-right corner with the three lines of a menu, which a
    tap turns into the task bar and the button bar for a while."""
    d = math.hypot(1.0 - u, 1.0 - v)
    if d > 0.98:
        return None
    if d > 0.92:
        return (1.0, 1.0, 1.0, 0.55)
    if 0.46 <= u <= 0.80:
        for c in (0.52, 0.66, 0.80):
            if abs(v - c) <= 0.04:
                return WHITE
    return (0.05, 0.12, 0.25, 0.6)


GREEN = (0.22, 0.68, 0.28, 1.0)


def tick_badge(u, v):
    """Selected on key devices: a white tick on a green disc."""
    d = math.hypot(u - 0.5, v - 0.5)
    if d > 0.46:
        return None
    if near_polyline(u, v, [(0.28, 0.52), (0.44, 0.67), (0.73, 0.34)], 0.11):
        return WHITE
    if d > 0.41:
        return scale(GREEN, 0.7)
    return scale(GREEN, 1.15 - 0.35 * v)


# Menu page rows: white glyphs on the dark menu pages.

def menu_plus(u, v):
    """New channel: a plus sign."""
    if near_segment(u, v, (0.5, 0.2), (0.5, 0.8), 0.14) or near_segment(u, v, (0.2, 0.5), (0.8, 0.5), 0.14):
        return WHITE
    return None


def menu_export(u, v):
    """Export: a page with an arrow leaving it to the right."""
    part = page_shape(u, v, 0.14, 0.14, 0.60, 0.86, 0.14)
    arrow = near_segment(u, v, (0.40, 0.56), (0.70, 0.56), 0.09) or \
        inside_triangle((u, v), (0.90, 0.56), (0.68, 0.38), (0.68, 0.74))
    if arrow:
        return WHITE if not part else CLEAR
    if part == "fold":
        return (1.0, 1.0, 1.0, 0.6)
    if part:
        return WHITE
    return None


def menu_language(u, v):
    """Language: a globe."""
    return glyph_globe(u, v, None)


def menu_exit(u, v):
    """Exit: the power sign."""
    if near_segment(u, v, (0.5, 0.14), (0.5, 0.50), 0.11):
        return WHITE
    if on_arc(u, v, 0.5, 0.55, 0.29, 0.10, 125, 415):
        return WHITE
    return None


def menu_general(u, v):
    """General options: a list of bulleted lines."""
    for y in (0.28, 0.5, 0.72):
        if math.hypot(u - 0.24, v - y) <= 0.07 or near_segment(u, v, (0.40, y), (0.80, y), 0.08):
            return WHITE
    return None


def menu_clock(u, v):
    """Auto update: a clock face."""
    d = math.hypot(u - 0.5, v - 0.5)
    if abs(d - 0.32) <= 0.05:
        return WHITE
    if near_segment(u, v, (0.5, 0.5), (0.5, 0.28), 0.07) or near_segment(u, v, (0.5, 0.5), (0.66, 0.58), 0.07):
        return WHITE
    return None


def menu_storage(u, v):
    """Data storage: a memory card with its contacts."""
    if not in_rect(u, v, 0.24, 0.14, 0.76, 0.86):
        return None
    if u - 0.24 + 0.86 - v < 0 or (0.76 - u) + (v - 0.14) < 0.12:
        return None
    if v <= 0.36 and any(abs(u - x) <= 0.03 for x in (0.38, 0.50, 0.62)) and v >= 0.2:
        return CLEAR
    return WHITE


def menu_network(u, v):
    """Network: signal bars."""
    for i, x in enumerate((0.22, 0.40, 0.58, 0.76)):
        top = 0.70 - i * 0.16
        if in_rect(u, v, x - 0.06, top, x + 0.06, 0.82):
            return WHITE
    return None


def menu_about(u, v):
    """About: an i in a circle."""
    d = math.hypot(u - 0.5, v - 0.5)
    if abs(d - 0.33) <= 0.05:
        return WHITE
    if math.hypot(u - 0.5, v - 0.33) <= 0.06 or in_rect(u, v, 0.45, 0.44, 0.55, 0.70):
        return WHITE
    return None


def menu_options(u, v):
    """Options: three sliders."""
    for y, knob in ((0.28, 0.36), (0.5, 0.64), (0.72, 0.46)):
        if math.hypot(u - knob, v - y) <= 0.09:
            return WHITE
        if near_segment(u, v, (0.16, y), (0.84, y), 0.05):
            return WHITE
    return None


def menu_categories(u, v):
    """Add / delete categories: a plus and a minus."""
    if near_segment(u, v, (0.32, 0.16), (0.32, 0.50), 0.11) or near_segment(u, v, (0.15, 0.33), (0.49, 0.33), 0.11):
        return WHITE
    if near_segment(u, v, (0.52, 0.70), (0.86, 0.70), 0.11):
        return WHITE
    return None


def folder_shape(u, v):
    if in_rect(u, v, 0.12, 0.24, 0.44, 0.34):
        return True
    return in_rect(u, v, 0.12, 0.32, 0.88, 0.80)


def menu_change_category(u, v):
    """Change category: a folder with an arrow into it."""
    arrow = near_segment(u, v, (0.50, 0.44), (0.50, 0.62), 0.10) or \
        inside_triangle((u, v), (0.50, 0.76), (0.36, 0.58), (0.64, 0.58))
    if arrow:
        return CLEAR
    return WHITE if folder_shape(u, v) else None


def menu_properties(u, v):
    """Properties: a page with lines of text."""
    part = page_shape(u, v, 0.20, 0.12, 0.80, 0.88, 0.16)
    if part == "fold":
        return (1.0, 1.0, 1.0, 0.6)
    if part:
        if 0.30 <= u <= 0.70 and any(abs(v - y) <= 0.025 for y in (0.42, 0.54, 0.66, 0.78)):
            return CLEAR
        return WHITE
    return None


FOLDER = (0.93, 0.74, 0.30, 1.0)


def category_folder(u, v):
    """A category in the category editor's list: a yellow folder."""
    if folder_shape(u, v):
        return scale(FOLDER, 1.1 - 0.3 * v)
    return None



# Row icons of the choice page and the URL page: glyphs on coloured tiles.

def glyph_sync(u, v, ink):
    """Two arrows chasing each other round a circle."""
    if on_arc(u, v, 0.5, 0.5, 0.22, 0.085, 30, 150) or on_arc(u, v, 0.5, 0.5, 0.22, 0.085, 210, 330):
        return WHITE
    if arc_head(u, v, 0.5, 0.5, 0.22, 146, 0.16, 0.13) or arc_head(u, v, 0.5, 0.5, 0.22, 326, 0.16, 0.13):
        return WHITE
    return None


def glyph_catalog(u, v, ink):
    """A book: a cover with a spine and a title label."""
    if not in_rect(u, v, 0.27, 0.20, 0.73, 0.80):
        return None
    if u <= 0.36:
        return (0.86, 0.86, 0.86, 1.0)
    if in_rect(u, v, 0.44, 0.30, 0.65, 0.36) or in_rect(u, v, 0.44, 0.42, 0.60, 0.46):
        return ink
    return WHITE


def glyph_globe(u, v, ink):
    """A globe: its outline, the equator, two parallels and meridians."""
    cx, cy, r = 0.5, 0.5, 0.28
    d = math.hypot(u - cx, v - cy)
    w = 0.055
    if abs(d - r) <= w / 2:
        return WHITE
    if d > r:
        return None
    if abs(v - cy) <= w / 2 or abs(u - cx) <= w / 2:
        return WHITE
    # The meridian ellipse.
    e = math.hypot((u - cx) / (r * 0.5), (v - cy) / r)
    if abs(e - 1.0) <= w / (r * 0.5) / 2:
        return WHITE
    if abs(abs(v - cy) - r * 0.55) <= w / 2:
        return WHITE
    return None


def page_shape(u, v, left, top, right, bottom, fold):
    """A page with a folded top-right corner: 'page', 'fold' or None."""
    if not in_rect(u, v, left, top, right, bottom):
        return None
    corner = (u - (right - fold)) - (v - top)
    if corner > fold:
        return None
    if corner > 0 and u >= right - fold and v <= top + fold:
        return "fold"
    return "page"


def glyph_opml(u, v, ink):
    """An outline document with an arrow going into it."""
    arrow = near_segment(u, v, (0.14, 0.56), (0.46, 0.56), 0.09) or \
        inside_triangle((u, v), (0.62, 0.56), (0.44, 0.40), (0.44, 0.72))
    part = page_shape(u, v, 0.38, 0.18, 0.80, 0.82, 0.14)
    if arrow:
        return ink if part else WHITE
    if part == "fold":
        return (0.80, 0.80, 0.80, 1.0)
    if part:
        if 0.66 <= u <= 0.72 and any(abs(v - y) <= 0.025 for y in (0.40, 0.50, 0.60, 0.70)):
            return ink
        return WHITE
    return None


def glyph_search(u, v, ink):
    """A magnifier."""
    d = math.hypot(u - 0.44, v - 0.44)
    if abs(d - 0.17) <= 0.045:
        return WHITE
    if d < 0.14:
        return (1.0, 1.0, 1.0, 0.35)
    if near_segment(u, v, (0.57, 0.57), (0.76, 0.76), 0.12):
        return WHITE
    return None


def glyph_templates(u, v, ink):
    """Three sheets stacked with an offset, the front one with text."""
    if in_rect(u, v, 0.22, 0.38, 0.62, 0.82):
        if 0.30 <= u <= 0.54 and any(abs(v - y) <= 0.025 for y in (0.50, 0.60, 0.70)):
            return ink
        return WHITE
    if in_rect(u, v, 0.30, 0.28, 0.70, 0.72):
        return ink if (u <= 0.33 or v <= 0.31) else WHITE
    if in_rect(u, v, 0.38, 0.18, 0.78, 0.62):
        return ink if (u <= 0.41 or v <= 0.21) else WHITE
    return None


def glyph_online(u, v, ink):
    """A cloud with an arrow pointing down out of it."""
    cloud = math.hypot(u - 0.36, v - 0.50) <= 0.13 or math.hypot(u - 0.54, v - 0.42) <= 0.17 or \
        math.hypot(u - 0.68, v - 0.52) <= 0.12 or in_rect(u, v, 0.36, 0.50, 0.68, 0.63)
    arrow = in_rect(u, v, 0.465, 0.40, 0.555, 0.66) or \
        inside_triangle((u, v), (0.37, 0.62), (0.65, 0.62), (0.51, 0.82))
    if arrow:
        return ink if cloud else WHITE
    if cloud:
        return WHITE
    return None


def glyph_chain(u, v, ink):
    """Two links of a chain, interlocked on the diagonal."""
    def link(a, b):
        ax, ay = a
        bx, by = b
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((u - ax) * dx + (v - ay) * dy) / (dx * dx + dy * dy)))
        d = math.hypot(u - (ax + t * dx), v - (ay + t * dy))
        return abs(d - 0.1) <= 0.04
    if link((0.27, 0.73), (0.45, 0.55)) or link((0.55, 0.45), (0.73, 0.27)):
        return WHITE
    return None


def glyph_title(u, v, ink):
    """A capital T beside lines of text."""
    if in_rect(u, v, 0.20, 0.22, 0.56, 0.32) or in_rect(u, v, 0.33, 0.22, 0.43, 0.78):
        return WHITE
    for y in (0.46, 0.62, 0.76):
        if in_rect(u, v, 0.52, y - 0.035, 0.80, y + 0.035):
            return WHITE
    return None


def glyph_fetch(u, v, ink):
    """An arrow coming down onto a page."""
    part = page_shape(u, v, 0.26, 0.46, 0.74, 0.82, 0.10)
    arrow = in_rect(u, v, 0.45, 0.14, 0.55, 0.44) or \
        inside_triangle((u, v), (0.33, 0.40), (0.67, 0.40), (0.5, 0.62))
    if arrow:
        return ink if part else WHITE
    if part == "fold":
        return (0.80, 0.80, 0.80, 1.0)
    if part:
        if 0.34 <= u <= 0.66 and abs(v - 0.72) <= 0.025:
            return ink
        return WHITE
    return None


def glyph_save(u, v, ink):
    """A disk: a body with a cut corner, its metal shutter and its label."""
    if not in_rect(u, v, 0.22, 0.20, 0.78, 0.80):
        return None
    if (u - 0.68) - (v - 0.20) > 0:
        return None
    if in_rect(u, v, 0.33, 0.20, 0.62, 0.41):
        if in_rect(u, v, 0.51, 0.25, 0.58, 0.37):
            return WHITE
        return ink
    if in_rect(u, v, 0.30, 0.52, 0.70, 0.80):
        if any(abs(v - y) <= 0.02 for y in (0.62, 0.70)) and 0.36 <= u <= 0.64:
            return ink
        return (0.92, 0.92, 0.92, 1.0)
    return WHITE


CHOICE_SYNC = tile((0.20, 0.62, 0.28, 1.0), glyph_sync)
CHOICE_CATALOG = tile((0.66, 0.36, 0.20, 1.0), glyph_catalog)
CHOICE_URL = tile((0.18, 0.44, 0.84, 1.0), glyph_globe)
CHOICE_OPML = tile((0.96, 0.55, 0.10, 1.0), glyph_opml)
CHOICE_SEARCH = tile((0.10, 0.58, 0.64, 1.0), glyph_search)
CHOICE_TEMPLATES = tile((0.52, 0.30, 0.74, 1.0), glyph_templates)
CHOICE_ONLINE = tile((0.86, 0.28, 0.44, 1.0), glyph_online)
INPUT_URL = tile((0.18, 0.44, 0.84, 1.0), glyph_chain)
INPUT_TITLE = tile((0.40, 0.46, 0.56, 1.0), glyph_title)
INPUT_FETCH = tile((0.20, 0.62, 0.28, 1.0), glyph_fetch)
INPUT_SAVE = tile((0.52, 0.30, 0.74, 1.0), glyph_save)


# ---------------------------------------------------------------------------
# Bitmap resources: 24-bit (or 8-bit) device-independent bitmaps written as
# .bmp files in quillet/res/bitmaps; the build drops the 14-byte file header
# and compiles the rest in as resources of type 2 (bitmap).

BITMAPS_OUT = os.path.join(os.path.dirname(HERE), "bitmaps")


def write_bmp24(path, width, height, pixels):
    """pixels: rows of (r, g, b), top row first."""
    stride = (width * 3 + 3) // 4 * 4
    body = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        body += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(body), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + body)


def write_bmp8_solid(path, colour):
    """A 1 x 1 8-bit bitmap of one colour (a one-entry colour table)."""
    r, g, b = colour
    table = bytes((b, g, r, 0))
    body = bytes(4)
    info = struct.pack("<IiiHHIIiiII", 40, 1, 1, 1, 8, 0, len(body), 3780, 3780, 1, 1)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(table) + len(body), 0, 0,
                         14 + len(info) + len(table))
    with open(path, "wb") as f:
        f.write(header + info + table + body)


def flatten(rows, background, key=None):
    """Composes the rendered RGBA rows over a background colour. With a key
    colour, pixels that are mostly transparent become the key (the drawing
    code leaves them out) and the others are composed over the background."""
    out = []
    for row in rows:
        line = []
        for r, g, b, a in row:
            if key is not None and a < 96:
                line.append(key)
                continue
            f = a / 255.0
            line.append(tuple(int(round(c * f + bc * (1 - f))) for c, bc in zip((r, g, b), background)))
        out.append(line)
    return out


def news_read_mark(u, v):
    """The article page's read mark: a grey open envelope."""
    grey = (0.58, 0.60, 0.64, 1.0)
    light = (0.86, 0.87, 0.89, 1.0)
    if in_rect(u, v, 0.06, 0.44, 0.94, 0.90):
        if near_polyline(u, v, [(0.06, 0.88), (0.5, 0.62), (0.94, 0.88)], 0.08):
            return grey
        if u <= 0.12 or u >= 0.88 or v >= 0.84:
            return grey
        return light
    if inside_triangle((u, v), (0.06, 0.46), (0.94, 0.46), (0.5, 0.08)):
        d = inside_triangle((u, v), (0.18, 0.44), (0.82, 0.44), (0.5, 0.18))
        return (0.95, 0.95, 0.96, 1.0) if d else grey
    return None


def news_unread_mark(u, v):
    """The article page's unread mark: a blue closed envelope with an
    orange dot."""
    blue = (0.16, 0.40, 0.78, 1.0)
    d = math.hypot(u - 0.80, v - 0.22)
    if d <= 0.18:
        return (1.0, 0.55, 0.08, 1.0)
    if d <= 0.25:
        return None
    if in_rect(u, v, 0.02, 0.30, 0.92, 0.86):
        if near_polyline(u, v, [(0.04, 0.33), (0.47, 0.62), (0.90, 0.33)], 0.09):
            return WHITE
        return scale(blue, 1.25 - 0.35 * v)
    return None


def news_error_mark(u, v):
    """The error mark: a red warning triangle with an exclamation mark."""
    red = (0.86, 0.12, 0.10, 1.0)
    if not inside_triangle((u, v), (0.5, 0.04), (0.97, 0.92), (0.03, 0.92)):
        return None
    if in_rect(u, v, 0.44, 0.34, 0.56, 0.64) or math.hypot(u - 0.5, v - 0.77) <= 0.065:
        return WHITE
    return red


def file_up(u, v):
    """The file chooser's up-folder button: a yellow folder with a dark
    arrow pointing up."""
    edge = (0.70, 0.52, 0.08, 1.0)
    if in_rect(u, v, 0.06, 0.14, 0.44, 0.30):
        return edge if (u <= 0.11 or v <= 0.19) else (0.98, 0.80, 0.30, 1.0)
    if in_rect(u, v, 0.06, 0.26, 0.94, 0.88):
        arrow = in_rect(u, v, 0.44, 0.46, 0.56, 0.78) or \
            inside_triangle((u, v), (0.5, 0.32), (0.28, 0.54), (0.72, 0.54))
        if arrow:
            return (0.10, 0.28, 0.55, 1.0)
        if u <= 0.11 or u >= 0.89 or v <= 0.31 or v >= 0.83:
            return edge
        return (1.0, 0.86, 0.38 - 0.2 * v, 1.0)
    return None


PAGE = (255, 255, 255)
KEY = (0, 255, 0)

BITMAPS = [
    # (resource id, name, size, shader, background, transparent key or None)
    (157, "news_read", 16, news_read_mark, PAGE, None),
    (158, "news_unread", 16, news_unread_mark, PAGE, None),
    (160, "news_error", 16, news_error_mark, PAGE, None),
    (306, "file_up", 20, file_up, PAGE, KEY),
    (307, "file_up_192", 40, file_up, PAGE, KEY),
    (163, "category_folder", 16, category_folder, PAGE, None),
    (182, "category_folder_192", 32, category_folder, PAGE, None),
]


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
    # The headline list and the reading view.
    (245, "news_title_icon", 24, news_default),
    (299, "news_title_icon_192", 48, news_default),
    (234, "bar_back", 32, bar_back),
    (273, "bar_back_192", 64, bar_back),
    (267, "bar_previous", 32, bar_arrow(-1)),
    (287, "bar_previous_192", 64, bar_arrow(-1)),
    (263, "bar_next", 32, bar_arrow(1)),
    (285, "bar_next_192", 64, bar_arrow(1)),
    (341, "bar_email", 32, bar_email),
    (340, "bar_email_192", 64, bar_email),
    (261, "cancel", 32, cross(WHITE, 0.13)),
    (282, "cancel_192", 64, cross(WHITE, 0.13)),
    (265, "ok", 32, tick),
    (301, "ok_192", 64, tick),
    (332, "mark_read", 32, bar_mark_read),
    (338, "mark_read_192", 64, bar_mark_read),
    (333, "mark_unread", 32, bar_mark_unread),
    (339, "mark_unread_192", 64, bar_mark_unread),
    (330, "delete_article", 32, bar_delete),
    (336, "delete_article_192", 64, bar_delete),
    # Full-screen reading's corner tab, and the reading menu's mark of the
    # size chosen on key devices.
    (343, "reading_corner", 32, reading_corner),
    (344, "reading_corner_192", 64, reading_corner),
    (378, "font_selected_key", 32, tick_badge),
    # The new-channel wizard's choice page (touch low, touch 192, key device).
    (310, "choice_sync", 32, CHOICE_SYNC),
    (309, "choice_sync_192", 64, CHOICE_SYNC),
    (357, "choice_sync_key", 32, CHOICE_SYNC),
    (235, "choice_catalog", 32, CHOICE_CATALOG),
    (292, "choice_catalog_192", 64, CHOICE_CATALOG),
    (358, "choice_catalog_key", 32, CHOICE_CATALOG),
    (236, "choice_url", 32, CHOICE_URL),
    (290, "choice_url_192", 64, CHOICE_URL),
    (359, "choice_url_key", 32, CHOICE_URL),
    (316, "choice_opml", 32, CHOICE_OPML),
    (317, "choice_opml_192", 64, CHOICE_OPML),
    (360, "choice_opml_key", 32, CHOICE_OPML),
    (303, "choice_search", 32, CHOICE_SEARCH),
    (304, "choice_search_192", 64, CHOICE_SEARCH),
    (356, "choice_search_key", 32, CHOICE_SEARCH),
    (237, "choice_templates", 32, CHOICE_TEMPLATES),
    (293, "choice_templates_192", 64, CHOICE_TEMPLATES),
    (361, "choice_templates_key", 32, CHOICE_TEMPLATES),
    (238, "choice_online", 32, CHOICE_ONLINE),
    (294, "choice_online_192", 64, CHOICE_ONLINE),
    (362, "choice_online_key", 32, CHOICE_ONLINE),
    # The URL page's rows and the key devices' selected mark.
    (396, "input_url", 32, INPUT_URL),
    (394, "input_url_192", 64, INPUT_URL),
    (395, "input_url_key", 32, INPUT_URL),
    (393, "input_title", 32, INPUT_TITLE),
    (391, "input_title_192", 64, INPUT_TITLE),
    (392, "input_title_key", 32, INPUT_TITLE),
    (390, "input_fetch", 32, INPUT_FETCH),
    (388, "input_fetch_192", 64, INPUT_FETCH),
    (389, "input_fetch_key", 32, INPUT_FETCH),
    (244, "input_save", 32, INPUT_SAVE),
    (300, "input_save_192", 64, INPUT_SAVE),
    (367, "input_save_key", 32, INPUT_SAVE),
    (371, "input_selected_key", 32, tick_badge),
    # The menu pages' rows and bars.
    (242, "menu_new", 32, menu_plus),
    (295, "menu_new_192", 64, menu_plus),
    (254, "menu_export", 32, menu_export),
    (281, "menu_export_192", 64, menu_export),
    (345, "menu_language", 32, menu_language),
    (346, "menu_language_192", 64, menu_language),
    (253, "menu_exit", 32, menu_exit),
    (297, "menu_exit_192", 64, menu_exit),
    (258, "menu_general", 32, menu_general),
    (277, "menu_general_192", 64, menu_general),
    (257, "menu_auto_update", 32, menu_clock),
    (276, "menu_auto_update_192", 64, menu_clock),
    (259, "menu_storage", 32, menu_storage),
    (278, "menu_storage_192", 64, menu_storage),
    (260, "menu_network", 32, menu_network),
    (279, "menu_network_192", 64, menu_network),
    (256, "menu_about", 32, menu_about),
    (268, "menu_about_192", 64, menu_about),
    (264, "menu_options", 32, menu_options),
    (296, "menu_options_192", 64, menu_options),
    (262, "menu_categories", 32, menu_categories),
    (283, "menu_categories_192", 64, menu_categories),
    (328, "menu_change_category", 32, menu_change_category),
    (334, "menu_change_category_192", 64, menu_change_category),
    (331, "menu_delete_channel", 32, bar_delete),
    (337, "menu_delete_channel_192", 64, bar_delete),
    (329, "menu_properties", 32, menu_properties),
    (335, "menu_properties_192", 64, menu_properties),
    (378, "menu_checked_key", 32, tick_badge),
    # The templates page's rows: a group, a channel (key device; the touch
    # edition shows the headline icon) and the way back out of a group.
    (241, "list_folder", 32, category_folder),
    (291, "list_folder_192", 64, category_folder),
    (369, "list_folder_key", 32, category_folder),
    (373, "list_feed_key", 32, news_default),
    (322, "list_back", 32, file_up),
    (323, "list_back_192", 64, file_up),
    (368, "list_back_key", 32, file_up),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    for rid, name, size, shader in IMAGES:
        path = os.path.join(OUT, "%d_%s.png" % (rid, name))
        write_png(path, size, size, render(size, shader))
        print(path)
    os.makedirs(BITMAPS_OUT, exist_ok=True)
    for rid, name, size, shader, background, key in BITMAPS:
        path = os.path.join(BITMAPS_OUT, "%d_%s.bmp" % (rid, name))
        write_bmp24(path, size, size, flatten(render(size, shader), background, key))
        print(path)
    # The filler that stands in for a picture the article page does not show.
    path = os.path.join(BITMAPS_OUT, "174_news_filler.bmp")
    write_bmp8_solid(path, PAGE)
    print(path)


if __name__ == "__main__":
    main()
