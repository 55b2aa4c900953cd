#!/usr/bin/env python3
# Reference of a character sphere's move among oriented boxes, by small sub-steps in
# float64 with numpy: above a 0.001 move the sphere is lifted by the step height, moved in
# 4000 equal steps, each followed by pushing it out of every box it overlaps (which slides
# it along what it touches), then lowered by the step height in 400 steps until it would
# overlap a box. Input: one case per line, "R STEP PX PY PZ DX DY DZ N" then N boxes of
# "CX CY CZ AX0 AY0 AZ0 AX1 AY1 AZ1 AX2 AY2 AZ2 H0 H1 H2" (unit axes, half sizes), each
# number a float32 bit pattern in hexadecimal. Output per case: the final centre.
import struct
import sys

import numpy as np


def f(h):
    return struct.unpack("<f", struct.pack("<I", int(h, 16)))[0]


def closest(p, box):
    c, axes, half = box
    local = np.clip(axes @ (p - c), -half, half)
    return c + axes.T @ local


def overlaps(p, boxes, r):
    return any(np.linalg.norm(p - closest(p, b)) < r - 1e-9 for b in boxes)


def push_out(p, boxes, r):
    for _ in range(4):
        for b in boxes:
            q = closest(p, b)
            v = p - q
            d = np.linalg.norm(v)
            if 1e-12 < d < r:
                p = q + v / d * r
    return p


for line in sys.stdin:
    w = [f(x) for x in line.split()]
    if not w:
        continue
    r, step = w[0], w[1]
    p = np.array(w[2:5])
    d = np.array(w[5:8])
    n = int(round(w[8]))
    boxes = []
    for i in range(n):
        b = w[9 + 15 * i:24 + 15 * i]
        boxes.append((np.array(b[0:3]), np.array(b[3:12]).reshape(3, 3), np.array(b[12:15])))
    if d @ d >= 1e-6:
        if step > 0:
            p = p + np.array([0.0, step, 0.0])
        for _ in range(4000):
            p = push_out(p + d / 4000.0, boxes, r)
    if step > 1e-6:
        for _ in range(400):
            q = p - np.array([0.0, step / 400.0, 0.0])
            if overlaps(q, boxes, r):
                break
            p = q
    print(" ".join("%.7f" % v for v in p))
