#!/usr/bin/env python3
"""Draws the About box's logo: the channel tile of make_images.py on pure
red, the colour the About box draws transparently. Two sizes: 48 x 48 for
screens below 192 dpi (resource 390) and 96 x 96 for 192 dpi (391).

    python3 quillet/res/tools/make_logo.py
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_images as mi  # noqa: E402

RED = (255, 0, 0)
LOGOS = [(390, "about_logo", 48), (391, "about_logo_192", 96)]


def main():
    os.makedirs(mi.BITMAPS_OUT, exist_ok=True)
    for rid, name, size in LOGOS:
        path = os.path.join(mi.BITMAPS_OUT, "%d_%s.bmp" % (rid, name))
        mi.write_bmp24(path, size, size, mi.flatten(mi.render(size, mi.channel_icon), RED, RED))
        print(path)


if __name__ == "__main__":
    main()
