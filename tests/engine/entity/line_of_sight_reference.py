#!/usr/bin/env python3
# Reference line of sight by brute force in float64 with numpy. Each entity is an oriented
# box (its local box under its row-vector global matrix) that blocks only on its core, the
# box halved about its centre; only hits over the 200 x 200 world count.
# Input lines: "E M16 MIN3 MAX3" adds an entity, "Q BINARY SKIP1 SKIP2 A3 B3" asks a query
# (SKIP -1 for none); input floats are 32-bit patterns in hexadecimal.
# Output per query: the blocker (the nearest core hit or, with BINARY, the blocker whose box
# the segment enters first; -1 for none), the hit's share of the segment, 1 when another
# blocker comes within 1e-4 of it (too close to call), then, without BINARY, the entities
# whose box the segment enters beyond the hit (which a query that stops early never tests).
import struct
import sys

import numpy as np


def f(h):
    return struct.unpack("<f", struct.pack("<I", int(h, 16)))[0]


def entries(a, b, inverse, lo, hi):
    """Share of segment a-b where it enters each local box lo-hi; inf where it misses."""
    pa = np.einsum("j,njk->nk", np.append(a, 1.0), inverse)[:, :3]
    d = np.einsum("j,njk->nk", np.append(b, 1.0), inverse)[:, :3] - pa
    with np.errstate(divide="ignore", invalid="ignore"):
        n, x = (lo - pa) / d, (hi - pa) / d
    inside = (pa >= lo) & (pa <= hi)
    near = np.where(d == 0, np.where(inside, -np.inf, np.inf), np.minimum(n, x))
    far = np.where(d == 0, np.where(inside, np.inf, -np.inf), np.maximum(n, x))
    t0 = np.maximum(near.max(axis=1), 0.0)
    return np.where(t0 <= np.minimum(far.min(axis=1), 1.0), t0, np.inf)


matrices, boxes = [], []
for line in sys.stdin:
    words = line.split()
    if words[0] == "E":
        matrices.append(np.array([f(w) for w in words[1:17]]).reshape(4, 4))
        boxes.append([f(w) for w in words[17:23]])
        continue
    binary, skip1, skip2 = (int(w) for w in words[1:4])
    a, b = np.array([f(w) for w in words[4:7]]), np.array([f(w) for w in words[7:10]])
    inverse = np.linalg.inv(np.array(matrices))
    lo, hi = np.array(boxes)[:, :3], np.array(boxes)[:, 3:]
    centre, half = (lo + hi) / 2, (hi - lo) / 4
    full = entries(a, b, inverse, lo, hi)
    core = entries(a, b, inverse, centre - half, centre + half)
    core[[s for s in (skip1, skip2) if s >= 0]] = np.inf
    with np.errstate(invalid="ignore"):
        points = a + np.outer(np.where(np.isfinite(core), core, 0.0), b - a)
    core[(np.abs(points[:, 0]) >= 100) | (np.abs(points[:, 2]) >= 100)] = np.inf
    key = np.where(np.isfinite(core), full, np.inf) if binary else core
    order = np.argsort(key)
    first = order[0]
    if not np.isfinite(key[first]):
        print("-1 0 0")
        continue
    ambiguous = len(order) > 1 and key[order[1]] - key[first] < 1e-4
    late = [] if binary else np.nonzero(np.isfinite(full) & (full > core[first] + 1e-4))[0].tolist()
    print(" ".join([str(first), "%.9g" % core[first], str(int(ambiguous))] + [str(i) for i in late]))
