#!/usr/bin/env python3
"""Independent writer and parser of the mesh block that follows a mesh template's
property list, for tests and sample data.

Written from the format tables, not from the engine's code. One description serves both
directions: a Codec either writes a model's fields or reads them into a model, for any
data version from 2 to 50, little-endian ('<') or big-endian ('>'). Fields a version does
not carry are neither written nor read; the parser leaves the tabled default in the
model. Obsolete fields are written with filler content (non-zero counts and sizes, so a
reader must skip exactly what they say) and skipped by their own counts when read.

Model (JSON-friendly):
  block = {"rd": rendering data or null, "hier": hierarchy or null,
           "metrics": [u32, u32, u32, f32]}
  rendering data: see RD_DEFAULTS; buffers are hex strings, descriptions lists of words
  part: see PART_DEFAULTS;  hierarchy: {"nodes": [{"name", "matrix", "parent", "bone"}],
           "bones": [matrix], "tree": [{"name", "first", "count", "parent", "child", "sibling"}]}

Commands:
  mesh_block.py write <out> <version> <endian> <json>   the block of the model
  mesh_block.py parse <in> <version> <endian>            the model as JSON on stdout
  mesh_block.py same <a> <version> <endian> <b>          "same" when block a (of that version
                 and byte order) and the version-50 little-endian block b give one model,
                 obsolete and derived fields aside; else the differing fields
"""
import json
import struct
import sys

IDENTITY = [1.0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1.0]
DECL_END = [255, 0, 17, 0, 0, 0]
# Element types' scalar widths, for swapping vertex bytes (1: bytes, never swapped).
DECL_WORDS = {0: (4, 1), 1: (4, 2), 2: (4, 3), 3: (4, 4), 4: (4, 1), 5: (1, 4), 6: (2, 2), 7: (2, 4), 8: (1, 4),
              9: (2, 2), 10: (2, 4), 11: (2, 2), 12: (2, 4), 13: (4, 1), 14: (4, 1), 15: (2, 2), 16: (2, 4)}

PART_DEFAULTS = {"palette": "", "params": "", "textures": [], "word0": 0, "family": "MeshSolid", "options": "",
                 "words": [0, 0, 0, 0, 0, 1], "flags": 0, "first": 0, "count": 0, "low": 0, "high": 0,
                 "sec_count": 0, "sec_first": 0, "w7": 2.0, "w8": 1.0, "base": 64.0, "pass": 0, "bone": 255,
                 "w9": 0.0, "vectors": [1.0, 1.0, 1.0, 1.0] + [0.0] * 8}
RD_DEFAULTS = {"storage": 0, "box": [0, 0, 0, 1, 1, 1, 1, 1], "box2": [0, 0, 0, 1, 1, 1, 1, 1], "declA": [],
               "declB": [], "vcount": 0, "stride": 0, "vdesc": [0, 4, 0, 1, 0], "vbytes": "", "mm_flags": 0,
               "mm_size": 0, "mm_bytes": "", "iwordA": 0, "idescA": [101, 7, 0, 1], "ibytesA": "", "iwordB": 0,
               "idescB": [101, 7, 0, 1], "ibytesB": "", "sec_words": [0, 0], "sec_vdesc": [0, 0, 0, 0, 0],
               "sec_vbytes": "", "sec_idesc": [0, 0, 0, 0], "sec_ibytes": "", "bones": 0, "presets": [],
               "legacy_parts": [], "render": [1, 0, 0, 0, 1, 0, 0, 0]}


def exponent_floats(x):
    x = struct.unpack("<f", struct.pack("<f", x))[0]
    a = struct.unpack("<f", struct.pack("<f", (x + 0.775) * 1.442695))[0]
    return [a, -a, x, 0.0]


class Codec:
    def __init__(self, version, endian, data=None):
        self.v, self.e = version, endian
        self.reading = data is not None
        self.data, self.pos, self.out = data, 0, bytearray()

    def scalar(self, fmt, value=0):
        if self.reading:
            size = struct.calcsize(self.e + fmt)
            if self.pos + size > len(self.data):
                raise ValueError("short block")
            r = struct.unpack_from(self.e + fmt, self.data, self.pos)[0]
            self.pos += size
            return r
        self.out += struct.pack(self.e + fmt, value)
        return value

    def raw(self, hex_text="", n=None):
        if self.reading:
            if self.pos + n > len(self.data):
                raise ValueError("short block")
            r = bytes(self.data[self.pos:self.pos + n])
            self.pos += n
            return r.hex()
        self.out += bytes.fromhex(hex_text)
        return hex_text

    def field(self, model, key, fmt):
        model[key] = self.scalar(fmt, model.get(key, 0))

    def floats(self, model, key, n):
        vals = model.get(key, [0.0] * n)
        model[key] = [self.scalar("f", vals[i] if not self.reading else 0) for i in range(n)]

    def text(self, model, key):
        value = model.get(key, "").encode() if not self.reading else b""
        n = self.scalar("I", len(value))
        stored = bytes.fromhex(self.raw(value.hex(), n))
        model[key] = stored.decode("latin-1") if self.reading else model.get(key, "")

    def words(self, model, key, n):
        vals = model.get(key, [0] * n)
        model[key] = [self.scalar("I", vals[i] if not self.reading else 0) for i in range(n)]

    def skip(self, n):
        self.raw("5a" * n, n)

    def skip_counted(self, count, unit):
        """An obsolete u32 count of unit-byte records: written as count filler records,
        read by the stored count."""
        n = self.scalar("I", count)
        self.skip(n * unit)


def swap_vertices(hex_text, stride, decl, endian):
    """Vertex bytes are stored little-endian by the tool; '>' swaps each element's words."""
    data = bytearray(bytes.fromhex(hex_text))
    if endian == "<" or not stride:
        return data.hex()
    for base in range(0, len(data) - stride + 1, stride):
        for e in decl:
            if e[0] == 255:
                break
            word, n = DECL_WORDS[e[2]]
            for k in range(n):
                at = base + e[1] + k * word
                data[at:at + word] = data[at:at + word][::-1]
    return data.hex()


def swap_words(hex_text, word, endian):
    data = bytearray(bytes.fromhex(hex_text))
    if endian == ">":
        for at in range(0, len(data) - word + 1, word):
            data[at:at + word] = data[at:at + word][::-1]
    return data.hex()


def index_width(desc):
    return 4 if desc[0] == 102 else 2


def texture(c, t):
    c.text(t, "name")
    c.field(t, "sampler", "I")
    c.field(t, "flags", "I")


def part(c, p):
    v = c.v
    for k, d in PART_DEFAULTS.items():
        p.setdefault(k, list(d) if isinstance(d, list) else d)
    if v >= 14:
        n = c.scalar("I", len(p["palette"]) // 16)
        p["palette"] = c.raw(p["palette"], n * 8)
        n = c.scalar("I", len(p["params"]) // 32)
        p["params"] = c.raw(p["params"], n * 16)
        n = c.scalar("I", len(p["textures"]))
        if c.reading:
            p["textures"] = [{} for _ in range(n)]
        for t in p["textures"]:
            texture(c, t)
    else:
        c.skip(4)
    if v >= 16:
        c.field(p, "word0", "I")
    if v < 15:
        c.skip_counted(3, 1)
    if v >= 5:
        c.text(p, "family")
        c.text(p, "options")
    w = p["words"]
    if v >= 18:
        w[0:3] = [c.scalar("I", x) for x in w[0:3]]
    if v >= 19:
        w[3] = c.scalar("I", w[3])
    if v >= 37:
        w[4] = c.scalar("I", w[4])
    if v >= 38:
        w[5] = c.scalar("I", w[5])
    if v >= 17:
        c.field(p, "flags", "I")
    c.field(p, "first", "I")
    c.field(p, "count", "I")
    if v >= 37:
        c.field(p, "low", "H")
        c.field(p, "high", "H")
    if 39 <= v <= 49:
        c.skip(2)
    if 40 <= v <= 49:
        c.skip(2)
    if v >= 50:
        c.field(p, "sec_count", "H")
        c.field(p, "sec_first", "H")
    if v >= 41:
        c.field(p, "w7", "f")
        c.field(p, "w8", "f")
    if v >= 45:
        c.field(p, "base", "f")
    p["exponent"] = exponent_floats(p["base"]) if v >= 45 else [93.45057, -93.45057, 64.0, 0.0]
    if v in (13, 14):
        c.skip(16)
    if v >= 22:
        c.field(p, "pass", "B")
    if v >= 30:
        c.field(p, "bone", "B")
    if v >= 29:
        c.field(p, "w9", "f")
    if 29 <= v <= 45:
        c.skip(4)
    if v >= 21:
        c.floats(p, "vectors", 12)


def preset(c, s):
    s.setdefault("name", "")
    s.setdefault("parts", [])
    if c.v >= 12:
        c.text(s, "name")
    n = c.scalar("I", len(s["parts"]))
    if c.reading:
        s["parts"] = [{} for _ in range(n)]
    for p in s["parts"]:
        part(c, p)
    computed = 0
    for p in s["parts"]:
        if 1 <= p["pass"] <= 4:
            computed |= 1 << p["pass"]
    if c.v >= 34:
        s["mask"] = c.scalar("I", s.get("mask", computed))
    else:
        s["mask"] = computed


def decl(c, r, key):
    n = c.scalar("I", len(r[key]))
    if c.reading:
        r[key] = [[0] * 6 for _ in range(n)]
    r[key] = [[c.scalar("H", e[0]), c.scalar("H", e[1]), c.scalar("B", e[2]), c.scalar("B", e[3]),
               c.scalar("B", e[4]), c.scalar("B", e[5])] for e in r[key]]


def vbuffer(c, r, desc_key, bytes_key, swap):
    d = r[desc_key]
    size = len(bytes.fromhex(r[bytes_key])) if not c.reading else 0
    words = [c.scalar("I", x) for x in (d[0], d[1], d[2], d[3], size, d[4])] if not c.reading else \
        [c.scalar("I") for _ in range(6)]
    r[desc_key] = [words[0], words[1], words[2], words[3], words[5]]
    if c.reading:
        r[bytes_key] = swap(c.raw(n=words[4]))
    else:
        c.raw(swap(r[bytes_key]))


def ibuffer(c, r, desc_key, bytes_key):
    d = r[desc_key]
    size = len(bytes.fromhex(r[bytes_key])) if not c.reading else 0
    words = [c.scalar("I", x) for x in (d[0], d[1], d[2], d[3], size)] if not c.reading else \
        [c.scalar("I") for _ in range(5)]
    r[desc_key] = words[:4]
    width = index_width(words)
    if c.reading:
        r[bytes_key] = swap_words(c.raw(n=words[4]), width, c.e)
    else:
        c.raw(swap_words(r[bytes_key], width, c.e))


def rendering_data(c, r):
    v = c.v
    for k, d in RD_DEFAULTS.items():
        r.setdefault(k, list(d) if isinstance(d, list) else d)
    if v >= 36:
        c.field(r, "storage", "I")
    if v >= 25:
        c.floats(r, "box", 8)
    if 26 <= v <= 42:
        c.skip(64)
    if v >= 44:
        c.floats(r, "box2", 8)
    decl(c, r, "declA")
    if v >= 23:
        decl(c, r, "declB")
    c.field(r, "vcount", "I")
    c.field(r, "stride", "I")
    if not r["storage"] & 1:
        vbuffer(c, r, "vdesc", "vbytes", lambda h: swap_vertices(h, r["stride"], r["declA"], c.e))
    else:
        c.field(r, "mm_flags", "I")
        c.field(r, "mm_size", "I")
        layout = [[0, 0, 2, 0, 0, 0]] if r["mm_flags"] & 1 else [[0, 0, 10, 0, 0, 0]] if r["mm_flags"] & 4 else []
        n = r["vcount"] * r["mm_size"]
        if c.reading:
            r["mm_bytes"] = swap_vertices(c.raw(n=n), r["mm_size"], layout, c.e)
        else:
            c.raw(swap_vertices(r["mm_bytes"], r["mm_size"], layout, c.e))
    c.field(r, "iwordA", "I")
    ibuffer(c, r, "idescA", "ibytesA")
    c.field(r, "iwordB", "I")
    ibuffer(c, r, "idescB", "ibytesB")
    if 39 <= v <= 49:
        c.skip(4)
        desc = [c.scalar("I", x) for x in (0, 4, 0, 1, 5, 0)]
        c.skip(desc[4])
    if v >= 50:
        c.words(r, "sec_words", 2)
        vbuffer(c, r, "sec_vdesc", "sec_vbytes", lambda h: swap_words(h, 4, c.e))
        ibuffer(c, r, "sec_idesc", "sec_ibytes")
    if v == 6:
        c.skip(4)
    if v >= 6:
        c.field(r, "bones", "I")
    if v < 11:
        n = c.scalar("I", len(r["legacy_parts"]))
        if c.reading:
            r["legacy_parts"] = [{} for _ in range(n)]
        for p in r["legacy_parts"]:
            part(c, p)
    if 3 <= v <= 9:
        c.skip_counted(2, 12)
    elif 10 <= v <= 32:
        a = c.scalar("I", 3)
        c.scalar("I", 9)
        c.skip_counted(2, a)
    if 3 <= v <= 31:
        c.skip_counted(2, 6)
    if v >= 11:
        n = c.scalar("I", len(r["presets"]))
        if c.reading:
            r["presets"] = [{} for _ in range(n)]
        for s in r["presets"]:
            preset(c, s)
    b = r["render"]
    for byte, since in ((1, 20), (3, 20), (2, 27), (6, 49), (8, 31), (4, 22), (5, 24), (7, 48)):
        if v >= since:
            b[byte - 1] = c.scalar("B", b[byte - 1])
    if 28 <= v <= 34:
        c.skip(1)


def hierarchy(c, h):
    h.setdefault("nodes", [])
    h.setdefault("bones", [])
    h.setdefault("tree", [])
    n = c.scalar("I", len(h["nodes"]))
    b = c.scalar("I", len(h["bones"]))
    if c.reading:
        h["nodes"] = [{} for _ in range(n)]
        h["bones"] = [None] * b
    for node in h["nodes"]:
        c.floats(node, "matrix", 16)
    for node in h["nodes"]:
        c.text(node, "name")
        c.field(node, "parent", "B")
        c.field(node, "bone", "B")
    for i in range(b):
        holder = {"m": h["bones"][i] or IDENTITY}
        c.floats(holder, "m", 16)
        h["bones"][i] = holder["m"]
    if c.v >= 9:
        m = c.scalar("I", len(h["tree"]))
        if c.reading:
            h["tree"] = [{} for _ in range(m)]
        for t in h["tree"]:
            c.text(t, "name")
            for k in ("first", "count", "parent", "child", "sibling"):
                c.field(t, k, "I")


def block(c, model):
    v = c.v
    rd, hier = model.get("rd"), model.get("hier")
    has_rd = c.scalar("B", 1 if rd is not None else 0) if v >= 3 else 1
    if has_rd:
        rd = rd if rd is not None else {}
        rendering_data(c, rd)
    has_h = c.scalar("B", 1 if hier is not None else 0) if v >= 8 else 0
    if has_h:
        hier = hier if hier is not None else {}
        hierarchy(c, hier)
    metrics = list(model.get("metrics", [0, 0, 0, 0.0]))
    if v >= 42:
        metrics[0] = c.scalar("I", metrics[0])
        metrics[1] = c.scalar("I", metrics[1])
    if v >= 47:
        metrics[2] = c.scalar("I", metrics[2])
        metrics[3] = c.scalar("f", metrics[3])
    return {"rd": rd if has_rd else None, "hier": hier if has_h else None, "metrics": metrics}


def write(model, version=50, endian="<"):
    c = Codec(version, endian)
    block(c, json.loads(json.dumps(model)))
    return bytes(c.out)


def parse(data, version=50, endian="<"):
    c = Codec(version, endian, data)
    model = block(c, {})
    return model, c.pos


# --- procedural meshes ------------------------------------------------------------------

def box_mesh(size=1.0, presets=None):
    """A cube of 8 FLOAT3 positions and 12 triangles (16-bit indices), one part."""
    s = size
    corners = [(x, y, z) for z in (-s, s) for y in (-s, s) for x in (-s, s)]
    tris = [0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4, 2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7,
            5]
    decl_a = [[0, 0, 2, 0, 0, 0], DECL_END]
    return {"rd": {"declA": decl_a, "declB": decl_a, "vcount": 8, "stride": 12,
                   "vbytes": b"".join(struct.pack("<3f", *p) for p in corners).hex(),
                   "ibytesA": struct.pack("<36H", *tris).hex(), "iwordA": 36,
                   "presets": presets if presets is not None else
                   [{"name": "Default", "parts": [{"first": 0, "count": 12, "pass": 1}]}]},
            "hier": None, "metrics": [0, 0, 0, 0.0]}


def comparable(model):
    """The model without what a newer layout drops or recomputes."""
    model = json.loads(json.dumps(model))
    rd = model.get("rd")
    if rd:
        rd.pop("legacy_parts", None)
        if not rd["storage"] & 1:
            for k in ("mm_flags", "mm_size", "mm_bytes"):
                rd.pop(k, None)
        for s in rd["presets"]:
            for p in s["parts"]:
                p.pop("exponent", None)
    return model


def differences(a, b, path=""):
    if isinstance(a, dict) and isinstance(b, dict):
        out = []
        for k in sorted(set(a) | set(b)):
            out += differences(a.get(k), b.get(k), path + "." + k)
        return out
    if isinstance(a, list) and isinstance(b, list) and len(a) == len(b):
        return [d for i in range(len(a)) for d in differences(a[i], b[i], "%s[%d]" % (path, i))]
    if isinstance(a, float) or isinstance(b, float):
        return [] if a is not None and b is not None and abs(a - b) <= 1e-6 * max(1.0, abs(a)) else [path]
    return [] if a == b else [path]


def main(argv):
    if len(argv) == 6 and argv[1] == "same":
        with open(argv[2], "rb") as f:
            old, _ = parse(f.read(), int(argv[3]), argv[4])
        with open(argv[5], "rb") as f:
            new, used = parse(f.read(), 50, "<")
        diff = differences(comparable(old), comparable(new))
        print("same" if not diff else " ".join(diff))
        return 0
    if len(argv) == 6 and argv[1] == "write":
        with open(argv[2], "wb") as f:
            f.write(write(json.loads(argv[5]), int(argv[3]), argv[4]))
        return 0
    if len(argv) == 5 and argv[1] == "parse":
        with open(argv[2], "rb") as f:
            model, _ = parse(f.read(), int(argv[3]), argv[4])
        json.dump(model, sys.stdout)
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
