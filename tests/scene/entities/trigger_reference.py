#!/usr/bin/env python3
# Reference of the trigger volume test in float64 with numpy. Row-vector matrices: a point
# p becomes p @ M, translation in the fourth row.
# Input per case: MODE SHAPE RADIUS, the trigger's world matrix (16), its local box
# (min3 max3), the entity's world matrix (16), its local box (min3 max3); floats as
# 32-bit patterns in hexadecimal.
# Output per case: "INSIDE MARGIN", INSIDE 0 or 1 and MARGIN how far the deciding value
# lies from its threshold (cases within a rounding error of it are not compared).
import struct
import sys

import numpy as np


def f(h):
    return struct.unpack("<f", struct.pack("<I", int(h, 16)))[0]


def corners(lo, hi):
    return np.array([[hi[0] if i & 1 else lo[0], hi[1] if i & 2 else lo[1], hi[2] if i & 4 else lo[2]]
                     for i in range(8)])


def point(p, m):
    return np.append(p, 1.0) @ m


def closest_on_obb(center, axes, half, p):
    # axes: three direction rows scaled by the half sizes (as the engine's OBBox4).
    q = center.copy()
    d = p - center
    for a in axes:
        length = np.linalg.norm(a)
        if length == 0:
            continue
        u = a / length
        t = np.clip(d @ u, -length, length)
        q = q + u * t
    return q


def box_overlaps_solid(lo, hi, center, axes):
    # Separating-axis margin of the box [lo, hi] against the parallelepiped center +/- the
    # three edge half vectors in axes (sheared when the trigger scales unevenly): the box's
    # face normals, the solid's face normals and every edge-edge cross product.
    c1 = (lo + hi) / 2
    e1 = (hi - lo) / 2
    a1 = np.eye(3) * e1
    candidates = [np.eye(3)[i] for i in range(3)]
    candidates += [np.cross(axes[i], axes[(i + 1) % 3]) for i in range(3)]
    candidates += [np.cross(np.eye(3)[i], a) for i in range(3) for a in axes]
    margin = np.inf
    for c in candidates:
        n = np.linalg.norm(c)
        if n < 1e-9:
            continue
        u = c / n
        r1 = sum(abs(row @ u) for row in a1)
        r2 = sum(abs(row @ u) for row in axes)
        margin = min(margin, r1 + r2 - abs((center - c1) @ u))
    return margin


for line in sys.stdin:
    w = line.split()
    if not w:
        continue
    mode, shape = int(w[0]), int(w[1])
    v = [f(x) for x in w[2:]]
    radius = v[0]
    wt = np.array(v[1:17], dtype=np.float64).reshape(4, 4)
    tlo, thi = np.array(v[17:20]), np.array(v[20:23])
    we = np.array(v[23:39], dtype=np.float64).reshape(4, 4)
    elo, ehi = np.array(v[39:42]), np.array(v[42:45])
    inv = np.linalg.inv(wt)
    pos = we[3, :3]
    if mode == 0:
        p = point(pos, inv)[:3]
        value = 1 - p @ p if shape else min(np.min(p - tlo), np.min(thi - p))
    elif mode == 1:
        m = we @ inv
        c = np.array([point(x, m)[:3] for x in corners(elo, ehi)])
        lo, hi = c.min(axis=0), c.max(axis=0)
        if shape:
            value = 1 - max(x @ x for x in corners(lo, hi))
        else:
            value = min(np.min(lo - tlo), np.min(thi - hi))
    elif mode == 2:
        m = we @ inv
        center = point((elo + ehi) / 2, m)[:3]
        half = (ehi - elo) / 2
        axes = np.array([m[i, :3] * half[i] for i in range(3)])
        if shape:
            q = closest_on_obb(center, axes, half, np.zeros(3))
            value = 1 - q @ q
        else:
            value = box_overlaps_solid(tlo, thi, center, axes)
    else:
        if shape:
            d = pos - wt[3, :3]
            dist2 = d @ d
            if radius * radius >= dist2:
                value = radius * radius - dist2
            else:
                dist = np.sqrt(dist2)
                q = (d * (dist - radius) / dist) @ inv[:3, :3]
                value = 1 - q @ q
        else:
            half = (thi - tlo) / 2
            center = point((tlo + thi) / 2, wt)[:3]
            axes = np.array([wt[i, :3] * half[i] for i in range(3)])
            c = closest_on_obb(center, axes, half, pos)
            value = radius * radius - (pos - c) @ (pos - c)
    print("%d %.9g" % (1 if value >= 0 else 0, abs(value)))
