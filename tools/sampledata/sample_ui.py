#!/usr/bin/env python3
"""Writes the textures of the sample's menu and loading screen, and its strings.

  sample_ui.py <textures folder> [<common folder>]

"UI/MenuBackground.dds": a 64 x 64 vertical gradient from dark blue to teal, opaque.
"UI/ButtonCorner.dds": a 32 x 32 quarter disc of radius 32 around texel (0, 0), white,
transparent outside, the corner texture of the rounded button.

Both are uncompressed A8R8G8B8 DDS files written from the documented header: "DDS ", a
124-byte header (flags caps | height | width | pitch | pixel format, pitch = width * 4,
one level), a 32-byte pixel format (RGB with alpha, 32 bits, masks R 0x00FF0000,
G 0x0000FF00, B 0x000000FF, A 0xFF000000), caps "texture", then the texels row by row,
each as the bytes B, G, R, A.

"L01n.bin" in the common folder: the menu's strings, "Menu/Title" (English "Sample", German
"Beispiel") and "Menu/Start" ("Start", "Starten"), written by the tests' writer l01n.py.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
import l01n  # noqa: E402

MENU_STRINGS = [
    {"path": "Menu/Title", "texts": {"English": "Sample", "German": "Beispiel"}},
    {"path": "Menu/Start", "texts": {"English": "Start", "German": "Starten"}},
]

DDSD_CAPS, DDSD_HEIGHT, DDSD_WIDTH, DDSD_PITCH, DDSD_PIXELFORMAT = 0x1, 0x2, 0x4, 0x8, 0x1000
DDPF_ALPHAPIXELS, DDPF_RGB = 0x1, 0x40
DDSCAPS_TEXTURE = 0x1000


def dds(width, height, texels):
    """texels: width * height (r, g, b, a) tuples, row by row."""
    pixel_format = struct.pack("<8I", 32, DDPF_RGB | DDPF_ALPHAPIXELS, 0, 32, 0x00FF0000, 0x0000FF00, 0x000000FF,
                               0xFF000000)
    header = struct.pack("<7I", 124, DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT, height,
                         width, width * 4, 0, 1)
    header += b"\0" * 44 + pixel_format + struct.pack("<5I", DDSCAPS_TEXTURE, 0, 0, 0, 0)
    assert len(header) == 124
    body = b"".join(struct.pack("<4B", b, g, r, a) for (r, g, b, a) in texels)
    return b"DDS " + header + body


def background():
    size = 64
    texels = []
    for y in range(size):
        t = y / (size - 1)
        texels += [(int(20 + 10 * t), int(40 + 100 * t), int(110 + 40 * t), 255)] * size
    return dds(size, size, texels)


def corner():
    size = 32
    texels = []
    for y in range(size):
        for x in range(size):
            inside = (x + 0.5) ** 2 + (y + 0.5) ** 2 <= size * size
            texels.append((255, 255, 255, 255) if inside else (255, 255, 255, 0))
    return dds(size, size, texels)


def main(folder, common=None):
    out = os.path.join(folder, "UI")
    os.makedirs(out, exist_ok=True)
    for name, data in (("MenuBackground.dds", background()), ("ButtonCorner.dds", corner())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    if common:
        os.makedirs(common, exist_ok=True)
        with open(os.path.join(common, "L01n.bin"), "wb") as f:
            f.write(l01n.l01n(MENU_STRINGS))


if __name__ == "__main__":
    main(*sys.argv[1:3])
