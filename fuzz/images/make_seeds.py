#!/usr/bin/env python3
"""Writes the seed folders of the picture fuzz targets:

  seeds/decode     small pictures of each format the decoders read: PNG
                   (colour, palette with transparency, grey, interlaced),
                   baseline JPEG (grey and colour), GIF (with a transparent
                   colour, and a frame smaller than the screen) and BMP in
                   every info header size and bit depth the reader takes,
                   plus the short BMPs with an in-between header size
  seeds/roundtrip  inputs that pick each written format

    python3 fuzz/images/make_seeds.py     (rewrites both folders)
"""
import os
import shutil
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png(width, height, colour_type, rows, palette=None, trns=None, depth=8, interlace=0):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    out = b"\x89PNG\r\n\x1a\n"
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, interlace))
    if palette:
        out += chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    if trns is not None:
        out += chunk(b"tRNS", trns)
    if interlace:
        # Adam7: the seven passes' sub-pictures one after the other, each
        # row with its filter byte. rows hold whole bytes a pixel here.
        pixel = len(rows[0]) // width
        raw = b""
        for x0, y0, dx, dy in ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
                               (0, 1, 1, 2)):
            for y in range(y0, height, dy):
                xs = range(x0, width, dx)
                if not xs:
                    continue
                raw += b"\x00" + b"".join(rows[y][x * pixel:(x + 1) * pixel] for x in xs)
    else:
        raw = b"".join(b"\x00" + r for r in rows)
    out += chunk(b"IDAT", zlib.compress(raw))
    out += chunk(b"IEND", b"")
    return out


def gif(width, height, palette, pixels, transparent=None, frame=None):
    """pixels: a list of indices of the frame (left, top, w, h), row by row."""
    bits = max(1, (len(palette) - 1).bit_length())
    table = list(palette) + [(0, 0, 0)] * ((1 << bits) - len(palette))
    out = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 | (bits - 1), 0, 0)
    out += b"".join(bytes(c) for c in table)
    if transparent is not None:
        out += b"\x21\xf9\x04\x01\x00\x00" + bytes([transparent]) + b"\x00"
    left, top, fw, fh = frame or (0, 0, width, height)
    out += b"\x2c" + struct.pack("<HHHHB", left, top, fw, fh, 0)
    # LZW with a clear code before every pixel keeps the code size fixed.
    size = max(2, bits)
    clear, end = 1 << size, (1 << size) + 1
    width_bits = size + 1
    acc, nbits, data = 0, 0, bytearray()

    def put(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width_bits
        while nbits >= 8:
            data.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    for p in pixels:
        put(clear)
        put(p)
    put(end)
    if nbits:
        data.append(acc & 0xFF)
    out += bytes([size])
    for i in range(0, len(data), 255):
        block = data[i:i + 255]
        out += bytes([len(block)]) + bytes(block)
    out += b"\x00;"
    return out


def jpeg(width, height, components, dc_values):
    """A baseline JPEG whose 8 x 8 blocks are flat: one DC value a block
    (difference coded) and no AC terms. Quantisation is 1 throughout; the
    DC table codes the 12 sizes in 4 bits each, the AC table only the end
    of a block (one bit, 0)."""
    def seg(marker, body):
        return bytes([0xFF, marker]) + struct.pack(">H", len(body) + 2) + body
    out = b"\xff\xd8"
    out += seg(0xDB, b"\x00" + b"\x01" * 64)
    comps = b"".join(bytes([i + 1, 0x11, 0]) for i in range(components))
    out += seg(0xC0, struct.pack(">BHHB", 8, height, width, components) + comps)
    dc_bits = [0] * 16
    dc_bits[3] = 12
    out += seg(0xC4, b"\x00" + bytes(dc_bits) + bytes(range(12)))
    ac_bits = [0] * 16
    ac_bits[0] = 1
    out += seg(0xC4, b"\x10" + bytes(ac_bits) + b"\x00")
    sos = bytes([components]) + b"".join(bytes([i + 1, 0x00]) for i in range(components)) + b"\x00\x3f\x00"
    out += seg(0xDA, sos)
    bits = []

    def put(value, n):
        for i in range(n - 1, -1, -1):
            bits.append((value >> i) & 1)
    blocks = ((width + 7) // 8) * ((height + 7) // 8)
    previous = [0] * components
    for b in range(blocks):
        for c in range(components):
            value = dc_values[(b * components + c) % len(dc_values)]
            diff = value - previous[c]
            previous[c] = value
            size = abs(diff).bit_length()
            put(size, 4)
            if size:
                put(diff if diff > 0 else diff + (1 << size) - 1, size)
            put(0, 1)  # end of block
    while len(bits) % 8:
        bits.append(1)
    scan = bytearray()
    for i in range(0, len(bits), 8):
        byte = int("".join(map(str, bits[i:i + 8])), 2)
        scan.append(byte)
        if byte == 0xFF:
            scan.append(0)
    out += bytes(scan) + b"\xff\xd9"
    return out


def bmp(width, height, bpp, header=40, bitfields=None, top_down=False, used=0):
    paletted = bpp <= 8
    colours = (used or (1 << bpp)) if paletted else 0
    masks = 12 if bitfields and header == 40 else 0
    table = 14 + header + masks
    pixels = table + 4 * colours
    stride = (width * bpp + 31) // 32 * 4
    out = bytearray(pixels + stride * height)
    out[0:2] = b"BM"
    struct.pack_into("<IHHI", out, 2, len(out), 0, 0, pixels)
    struct.pack_into("<IiiHHIIiiII", out, 14, header, width, -height if top_down else height, 1, bpp,
                     3 if bitfields else 0, stride * height, 2835, 2835, used, 0)
    if bitfields:
        struct.pack_into("<III", out, 54, *bitfields)
    for i in range(colours):
        struct.pack_into("<I", out, table + 4 * i, (i * 0x3A5F17) & 0xFFFFFF)
    for i in range(pixels, len(out)):
        out[i] = (i * 37 + 11) & 0xFF
    return bytes(out)


def short_bmp(total, header, bpp):
    out = bytearray(total)
    out[0:2] = b"BM"
    struct.pack_into("<IHHI", out, 2, total, 0, 0, total - 4)
    struct.pack_into("<IiiHHI", out, 14, header, 1, 1, 1, bpp, 3)
    return bytes(out)


def main():
    decode = {}
    rgb_rows = [bytes((x * 40 + y * 7) & 0xFF for x in range(12)) for y in range(4)]
    decode["colour.png"] = png(4, 4, 2, rgb_rows)
    decode["palette-trns.png"] = png(3, 2, 3, [b"\x00\x01\x02", b"\x02\x01\x00"],
                                     palette=[(255, 0, 0), (0, 255, 0), (0, 0, 255)], trns=b"\xff\x80")
    decode["grey2.png"] = png(5, 3, 0, [b"\x1b\xc0", b"\xe4\x00", b"\x55\x40"], depth=2)
    decode["grey-alpha16.png"] = png(2, 2, 4, [b"\x10\x00\x80\x00\xff\xff\x00\x00"] * 2, depth=16)
    decode["interlaced.png"] = png(9, 9, 6, [bytes(range(36))] * 9, interlace=1)
    decode["grey.jpg"] = jpeg(16, 8, 1, [0, 40, -40])
    decode["colour.jpg"] = jpeg(9, 17, 3, [100, -20, 20, -100, 0, 0])
    decode["transparent.gif"] = gif(3, 2, [(255, 0, 0), (0, 255, 0), (0, 0, 255)], [0, 1, 2, 1, 0, 1],
                                    transparent=2)
    decode["frame.gif"] = gif(6, 5, [(10, 20, 30), (200, 100, 0)], [1, 0, 1, 0], frame=(2, 1, 2, 2))
    for header in (40, 52, 56, 64, 108, 124):
        for bpp in (1, 4, 8, 24):
            decode["h%d-%d.bmp" % (header, bpp)] = bmp(5, 3, bpp, header, top_down=bpp == 8, used=3 if bpp == 8 else 0)
        decode["h%d-16.bmp" % header] = bmp(3, 2, 16, header)
        decode["h%d-32.bmp" % header] = bmp(3, 2, 32, header, top_down=True)
        if header != 64:
            decode["h%d-16-masks.bmp" % header] = bmp(3, 2, 16, header, bitfields=(0xF800, 0x07E0, 0x001F))
            decode["h%d-32-masks.bmp" % header] = bmp(2, 2, 32, header, bitfields=(0xFF000000, 0xFF00, 0xFF))
    for total, header in ((55, 41), (60, 46), (65, 51)):
        decode["short-%d-%d.bmp" % (total, header)] = short_bmp(total, header, 32)
    roundtrip = {}
    for kind in range(4):
        for n in range(3):
            roundtrip["pick%d-%d" % (kind, n)] = bytes([kind]) + bytes((kind * 31 + n * 17 + i * 13) & 0xFF
                                                                       for i in range(24 + 40 * n))
    for folder, files in (("decode", decode), ("roundtrip", roundtrip)):
        path = os.path.join(HERE, "seeds", folder)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        for name, data in files.items():
            with open(os.path.join(path, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
