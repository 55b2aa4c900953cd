#!/usr/bin/env python3
"""Independent writer and reader of binary font files and of the font table, for tests
and the sample data.

Written from the format description, not from the engine's code. A binary font file
(little-endian): u32 magic 0x23F20AE3, u32 version 6, u8 texel format (0: one byte per
texel, else two), u32 page count N, N x u32 page heights, the pages (height x 1024 x
texel bytes each, row by row), u32 glyph count G, G glyph records of 14 bytes (u16 code,
u8 page, s8 x offset, s8 y offset, u8 advance, u16 left, right, top, bottom; sorted by
code), u32 line height. The swapped form is big-endian: every u32 and each record's
five u16 are swapped.

"Fonts.Config" is a Solid blob (u32 size, then the payload) of the font table: an array
of embedded records "Font" (NameString), "Outline width" (u32), "Supported sizes"
(array of u8).

Commands:
  binfont.py font <out> <json>      a font file from {"texel": 0|1, "line": n,
                                    "pages": [{"height": h, "fill": "boxes"|"ramp"|"zero"}],
                                    "glyphs": [[code, page, x, y, advance, L, R, T, B], ...],
                                    "swapped": false}; "boxes" pages are 255 inside every
                                    glyph rectangle of the page (the outline byte 128 around),
                                    0 elsewhere; "ramp" pages hold byte i % 251.
  binfont.py boxfont <out> <json>   a font whose glyphs are solid boxes laid out in a row
                                    of page 0: {"line": n, "glyphs": [[code, width, height,
                                    x, y, advance], ...], "texel": 0}
  binfont.py config <out> <json>    "Fonts.Config" from [[font, outline, [sizes...]], ...]
  binfont.py read <file>            the file's header and glyphs as JSON, with each glyph's
                                    coverage sum (the glyph byte of its texels)
  binfont.py layout <file> <spacing> <code,code,...>
                                    one line "measure <width> <line height> <full width>",
                                    then per drawn glyph "quad <page> <left> <top> <right>
                                    <bottom> <L> <T> <R> <B> <coverage>" (pixels from the pen origin,
                                    y down: top = -y offset, bottom = height - y offset; the
                                    pen moves by advance + spacing, missing codes are skipped;
                                    the measured width counts the last glyph's width, not its
                                    advance and spacing, unless full)
"""
import json
import struct
import sys

sys.path.insert(0, __import__("os").path.dirname(__file__))
import proplist  # noqa: E402

MAGIC = 0x23F20AE3
VERSION = 6
PAGE_WIDTH = 1024


def glyph_bytes(g, swapped=False):
    code, page, x, y, advance, left, right, top, bottom = g
    e = ">" if swapped else "<"
    return (struct.pack(e + "H", code) + struct.pack("<BbbB", page, x, y, advance) +
            struct.pack(e + "HHHH", left, right, top, bottom))


def font_bytes(texel, pages, glyphs, line, swapped=False):
    """pages: list of (height, bytes); glyphs: records sorted by code."""
    e = ">" if swapped else "<"
    out = struct.pack(e + "II", MAGIC, VERSION) + bytes([texel])
    out += struct.pack(e + "I", len(pages))
    out += b"".join(struct.pack(e + "I", h) for h, _ in pages)
    for h, data in pages:
        assert len(data) == h * PAGE_WIDTH * (2 if texel else 1)
        out += data
    out += struct.pack(e + "I", len(glyphs)) + b"".join(glyph_bytes(g, swapped) for g in glyphs)
    return out + struct.pack(e + "I", line)


def glyph_texel(texel):
    """The byte order of a texel: one byte of coverage, or (outline, glyph)."""
    return 2 if texel else 1


def page_bytes(texel, height, fill, glyphs, page):
    bpt = glyph_texel(texel)
    data = bytearray(height * PAGE_WIDTH * bpt)
    if fill == "ramp":
        for i in range(len(data)):
            data[i] = i % 251
    elif fill == "boxes":
        for g in glyphs:
            if g[1] != page:
                continue
            _, _, _, _, _, left, right, top, bottom = g
            for row in range(top, bottom):
                for col in range(left, right):
                    at = (row * PAGE_WIDTH + col) * bpt
                    data[at + bpt - 1] = 255
                    if bpt == 2:
                        data[at] = 128
    return bytes(data)


def font_from_json(desc):
    texel = 1 if desc.get("texel") else 0
    glyphs = sorted([list(g) for g in desc["glyphs"]], key=lambda g: g[0])
    pages = [(p["height"], page_bytes(texel, p["height"], p.get("fill", "zero"), glyphs, i))
             for i, p in enumerate(desc["pages"])]
    return font_bytes(texel, pages, glyphs, desc["line"], desc.get("swapped", False))


def box_font(desc):
    """Solid boxes in a row on one page, one texel apart."""
    glyphs = []
    x = 1
    height = 1
    for code, w, h, xo, yo, adv in desc["glyphs"]:
        glyphs.append([code, 0, xo, yo, adv, x, x + w, 1, 1 + h])
        x += w + 1
        height = max(height, h + 2)
    return font_from_json({"texel": desc.get("texel", 0), "line": desc["line"],
                           "pages": [{"height": height, "fill": "boxes"}], "glyphs": glyphs})


def read_font(data):
    magic, version, = struct.unpack_from("<II", data, 0)
    assert magic == MAGIC and version == VERSION, "not a binary font file"
    texel = data[8]
    bpt = 2 if texel else 1
    (n,) = struct.unpack_from("<I", data, 9)
    heights = list(struct.unpack_from("<%dI" % n, data, 13))
    at = 13 + 4 * n
    pages = []
    for h in heights:
        pages.append(data[at:at + h * PAGE_WIDTH * bpt])
        at += h * PAGE_WIDTH * bpt
    (count,) = struct.unpack_from("<I", data, at)
    at += 4
    glyphs = []
    for _ in range(count):
        code, page, x, y, adv, left, right, top, bottom = struct.unpack_from("<HBbbBHHHH", data, at)
        at += 14
        cover = 0
        for row in range(top, bottom):
            base = row * PAGE_WIDTH * bpt
            cover += sum(pages[page][base + col * bpt + bpt - 1] for col in range(left, right))
        glyphs.append({"code": code, "page": page, "x": x, "y": y, "advance": adv, "left": left, "right": right,
                       "top": top, "bottom": bottom, "coverage": cover})
    (line,) = struct.unpack_from("<I", data, at)
    return {"texel": texel, "heights": heights, "line": line, "glyphs": glyphs}


def layout(font, spacing, codes):
    by_code = {g["code"]: g for g in font["glyphs"]}
    pen = 0
    quads = []
    last = None
    for c in codes:
        g = by_code.get(c)
        last = g
        if g is None:
            continue
        left = pen + g["x"]
        quads.append((g["page"], left, -g["y"], left + g["right"] - g["left"], g["bottom"] - g["top"] - g["y"],
                      g["left"], g["top"], g["right"], g["bottom"], g["coverage"]))
        pen += g["advance"] + spacing
    width = pen
    if last is not None:
        width += (last["right"] - last["left"]) - last["advance"] - spacing
    lines = ["measure %d %d %d" % (width, font["line"], pen)]
    lines += ["quad " + " ".join(str(v) for v in q) for q in quads]
    return "\n".join(lines)


def font_table(defs):
    records = [proplist.name(font) + proplist.u32(outline) + proplist.u32(len(sizes)) + bytes(sizes)
               for font, outline, sizes in defs]
    return proplist.solid_blob(proplist.array(records))


def main(argv):
    cmd = argv[1]
    if cmd == "read":
        with open(argv[2], "rb") as f:
            print(json.dumps(read_font(f.read())))
        return 0
    if cmd == "layout":
        with open(argv[2], "rb") as f:
            font = read_font(f.read())
        codes = [int(c) for c in argv[4].split(",") if c]
        print(layout(font, int(argv[3]), codes))
        return 0
    out, desc = argv[2], json.loads(argv[3])
    data = {"font": font_from_json, "boxfont": box_font, "config": font_table}[cmd](desc)
    with open(out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
