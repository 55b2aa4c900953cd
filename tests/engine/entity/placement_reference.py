#!/usr/bin/env python3
# Reference of the placements a binary scene holds, in float64 with numpy, read from the
# file by its layout (not by the engine). Input: one scene file path per line. Output,
# per entity record in file order: NAME WORLD16 CHAIN16, where WORLD is the record's
# "Global" position, rotation (quaternion x y z w) and scale composed (scale, then
# rotation, then translation; row vectors, a point is p @ M) and CHAIN the record's
# local matrix times its parent's CHAIN (the parent's axis rows normalised first under
# the "parent no scale" flag 0x10000). Floats as their 32-bit patterns in hexadecimal.
import struct
import sys

import numpy as np

PARENT_NO_SCALE = 0x10000


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, n):
        out = self.data[self.at:self.at + n]
        if len(out) != n:
            raise ValueError("cut short")
        self.at += n
        return out

    def u8(self):
        return self.take(1)[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def floats(self, n):
        return list(struct.unpack("<%df" % n, self.take(4 * n)))

    def name(self):
        if not self.u8():
            return ""
        end = self.data.index(b"\0", self.at)
        text = self.data[self.at:end].decode()
        self.at = end + 1
        return text


def compose(pos, q, scale):
    x, y, z, w = q
    r = np.array([[1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)],
                  [2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)],
                  [2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)]])
    m = np.eye(4)
    m[:3, :3] = r * np.array(scale[:3])[:, None]
    m[3, :3] = pos[:3]
    return m


def entities(data):
    r = Reader(data)
    r.take(4)
    r.take(16 + 1 + 1 + 4)  # scene root: active box GUID, two switches, universe bottom
    r.name()
    r.take(4 + 48)  # mode, three lightmap vectors
    out = []
    for _ in range(r.u32()):
        r.take(16)  # template
        size = r.u32()
        start = r.at
        flags = r.u32()
        name = r.name()
        own, parent = r.take(16), r.take(16)
        r.take(1 + 4 + 1)  # pass, sort offset, its template switch
        local = np.array(r.floats(16), dtype=np.float64).reshape(4, 4)
        r.floats(12)  # local position, rotation, scale
        gpos, grot, gscale = r.floats(4), r.floats(4), r.floats(4)
        out.append({"name": name, "flags": flags, "guid": own, "parent": parent, "local": local,
                    "world": compose(gpos, grot, gscale)})
        r.at = start + size
    return out


def bits(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(np.float32(v))))[0]


for line in sys.stdin:
    path = line.strip()
    if not path:
        continue
    with open(path, "rb") as f:
        records = entities(f.read())
    by_guid = {e["guid"]: e for e in records if any(e["guid"])}

    def chain(e, depth=0):
        if "chain" not in e:
            m = e["local"]
            p = by_guid.get(e["parent"])
            if p is not None and depth < len(records):
                pm = chain(p, depth + 1).copy()
                if e["flags"] & PARENT_NO_SCALE:
                    for i in range(3):
                        pm[i] /= np.linalg.norm(pm[i, :3])
                m = m @ pm
            e["chain"] = m
        return e["chain"]

    for e in records:
        print(" ".join([e["name"]] + [bits(v) for v in e["world"].flatten()] + [bits(v) for v in chain(e).flatten()]))
