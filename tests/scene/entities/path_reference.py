#!/usr/bin/env python3
# Reference of path flags and compound boxes in float64 with numpy. Row-vector matrices: a
# point p becomes p @ M, translation in the fourth row. Floats travel as 32-bit patterns in
# hexadecimal; every answer line is floats in the same form.
#
# One case per line, its first word the mode:
#   box OUTER(16) INNER(16) MIN(3) MAX(3)
#       the box of an element and its child, both with the element template's box: the
#       child's box goes through INNER then OUTER. Answer: MIN(3) MAX(3).
#   length S(3) D(3) N C(3 x N)
#       a connection's length, S and D repeated as the outer points, 255 steps a segment.
#       Answer: LENGTH, then each control point's distance.
#   place WRAP DIST P0(3) S(3) D(3) P3(3) LENGTH N (C(3) CDIST) x N
#       the placement at DIST. Answer: POSITION(3) FORWARD(3), forward normalised.
#   nearest Q(3) P0(3) S(3) D(3) P3(3) N (C(3) CDIST) x N
#       the distance along the path nearest to Q. Answer: DISTANCE.
#   mid P0(3) P1(3) P2(3) P3(3)
#       a graph arrow: the segment's point and normalised tangent at t = 0.5. Answer: 3 + 3.
#   ui WORLD(16)
#       an in-game UI square: the world points of its local corners (-1, 1, 1), where UI
#       (0, 0) lands, and (1, 1, -1), where UI (Size.x, Size.y) lands. Answer: both (3 + 3).
import math
import struct
import sys

import numpy as np


def f(h):
    return struct.unpack("<f", struct.pack("<I", int(h, 16)))[0]


def h(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(v)))[0]


def cr_point(t, p0, p1, p2, p3):
    return 0.5 * (2 * p1 + (p2 - p0) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t * t
                  + (-p0 + 3 * p1 - 3 * p2 + p3) * t ** 3)


def cr_tangent(t, p0, p1, p2, p3):
    return 0.5 * ((p2 - p0) + 2 * (2 * p0 - 5 * p1 + 4 * p2 - p3) * t + 3 * (-p0 + 3 * p1 - 3 * p2 + p3) * t * t)


def box(words):
    v = [f(w) for w in words]
    outer = np.array(v[0:16]).reshape(4, 4)
    inner = np.array(v[16:32]).reshape(4, 4)
    lo, hi = np.array(v[32:35]), np.array(v[35:38])
    corners = np.array([[hi[0] if i & 1 else lo[0], hi[1] if i & 2 else lo[1], hi[2] if i & 4 else lo[2], 1.0]
                        for i in range(8)])
    pts = np.vstack([corners @ outer, corners @ inner @ outer])[:, :3]
    return list(pts.min(axis=0)) + list(pts.max(axis=0))


def length(words):
    v = [f(w) for w in words[:6]]
    s, d = np.array(v[0:3]), np.array(v[3:6])
    n = int(words[6])
    cs = [np.array([f(w) for w in words[7 + 3 * i:10 + 3 * i]]) for i in range(n)]
    if n == 0:
        return [np.linalg.norm(d - s)]
    chain = [s] + cs + [d]
    total, out = 0.0, []
    for k in range(n + 1):
        p0, p1, p2, p3 = chain[max(k - 1, 0)], chain[k], chain[k + 1], chain[min(k + 2, n + 1)]
        ts = np.arange(0, 256) / 255.0
        pts = np.array([cr_point(t, p0, p1, p2, p3) for t in ts])
        total += np.linalg.norm(np.diff(pts, axis=0), axis=1).sum()
        if k < n:
            out.append(total)
    return [total] + out


def parse_path(words, at):
    n = int(words[at])
    cs, dists = [], []
    for i in range(n):
        w = words[at + 1 + 4 * i:at + 5 + 4 * i]
        cs.append(np.array([f(x) for x in w[:3]]))
        dists.append(f(w[3]))
    return n, cs, dists


def place(words):
    wrap = words[0] == "1"
    dist = f(words[1])
    p0, s, d, p3 = (np.array([f(w) for w in words[2 + 3 * i:5 + 3 * i]]) for i in range(4))
    total = f(words[14])
    n, cs, dists = parse_path(words, 15)
    dist = math.fmod(max(dist, 0.0), total) if wrap else min(max(dist, 0.0), total)
    if n == 0:
        frac = dist / total
        pos, fwd = s * (1 - frac) + d * frac, d - s
    else:
        k = sum(1 for x in dists if x <= dist)
        lo = 0.0 if k == 0 else dists[k - 1]
        hi = total if k == n else dists[k]
        u = min(max((dist - lo) / (hi - lo), 0.0), 1.0)
        chain = [p0, s] + cs + [d, p3]
        pts = chain[k:k + 4]
        # Arc-length parameter from 256 samples of the segment, linear between them.
        samples = np.array([cr_point(t, *pts) for t in np.arange(256) / 255.0])
        table = np.concatenate([[0.0], np.cumsum(np.linalg.norm(np.diff(samples, axis=0), axis=1))])
        table /= table[-1]
        j = int(np.searchsorted(table[1:], u, side="left")) + 1
        t = (j - 1 + (u - table[j - 1]) / (table[j] - table[j - 1])) / 255.0 if j < 256 else u
        pos, fwd = cr_point(t, *pts), cr_tangent(t, *pts)
    fwd = fwd / np.linalg.norm(fwd)
    return list(pos) + list(fwd)


def nearest(words):
    q, p0, s, d, p3 = (np.array([f(w) for w in words[3 * i:3 + 3 * i]]) for i in range(5))
    n, cs, dists = parse_path(words, 15)
    if n == 0:
        return [0.0]
    chain = [p0, s] + cs + [d, p3]
    best, result = None, 0.0
    for k in range(n + 1):
        pts = chain[k:k + 4]
        samples = np.array([cr_point(t, *pts) for t in np.arange(129) / 128.0])
        along = np.concatenate([[0.0], np.cumsum(np.linalg.norm(np.diff(samples, axis=0), axis=1))])
        d2 = ((samples - q) ** 2).sum(axis=1)
        i = int(np.argmin(d2))
        if best is None or d2[i] < best:
            best, result = d2[i], along[i] + (0.0 if k == 0 else dists[k - 1])
    return [result]


def mid(words):
    pts = [np.array([f(w) for w in words[3 * i:3 + 3 * i]]) for i in range(4)]
    t = cr_tangent(0.5, *pts)
    return list(cr_point(0.5, *pts)) + list(t / np.linalg.norm(t))


def ui(words):
    world = np.array([f(w) for w in words[:16]]).reshape(4, 4)
    return list((np.array([-1.0, 1.0, 1.0, 1.0]) @ world)[:3]) + list((np.array([1.0, 1.0, -1.0, 1.0]) @ world)[:3])


MODES = {"mid": mid, "ui": ui, "box": box, "length": length, "place": place, "nearest": nearest}

for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    print(" ".join(h(x) for x in MODES[words[0]](words[1:])))
