#!/usr/bin/env python3
# Reference of the entity transform rules in float64 with numpy: row-vector matrices
# (a point p becomes p @ M, translation in the fourth row), global = local @ parent
# global, and with the "parent no scale" flag the parent's three axis rows normalised
# first. Input: one tree per line, "N" then N times "PARENT FLAG LOCAL16" (PARENT -1 for
# none, parents listed before children). Output per entity: GLOBAL16 MIRRORED SCALE3,
# where SCALE3 are the row lengths with z negated for a negative determinant.
import struct
import sys

import numpy as np


def f(h):
    return struct.unpack("<f", struct.pack("<I", int(h, 16)))[0]


def bits(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(np.float32(v))))[0]


for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    n = int(words[0])
    pos = 1
    globals_ = []
    for i in range(n):
        parent = int(words[pos])
        noscale = int(words[pos + 1])
        local = np.array([f(w) for w in words[pos + 2:pos + 18]], dtype=np.float64).reshape(4, 4)
        pos += 18
        if parent < 0:
            g = local
        else:
            p = globals_[parent].copy()
            if noscale:
                for r in range(3):
                    length = np.linalg.norm(p[r, :3])
                    if length > 0:
                        p[r] /= length
            g = local @ p
        globals_.append(g)
        det = np.linalg.det(g)
        scale = [np.linalg.norm(g[r, :3]) for r in range(3)]
        if det < 0:
            scale[2] = -scale[2]
        print(" ".join([bits(v) for v in g.flatten()] + [str(int(det < 0))] + [bits(v) for v in scale]))
