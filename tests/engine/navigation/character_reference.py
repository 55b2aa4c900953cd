#!/usr/bin/env python3
# Reference of a character sphere's move among oriented boxes, by small sub-steps in
# float64 with numpy: above a 0.001 move the sphere is lifted by the step height, moved in
# 4000 equal steps, each followed by pushing it out of every box it overlaps (which slides
# it along what it touches), then lowered by the step height in 400 steps until it would
# overlap a box. Input: one case per line of float32 bit patterns in hexadecimal, "R STEP
# PX PY PZ DX DY DZ N" then N boxes of "CX CY CZ" (centre), nine numbers (three unit axes)
# and three half sizes. Output per case: the final centre.
import struct
import sys

import numpy as np


def closest(p, box):
    c, axes, half = box
    return c + axes.T @ np.clip(axes @ (p - c), -half, half)


def push_out(p, boxes, r):
    for _ in range(4):
        for b in boxes:
            v = p - closest(p, b)
            d = np.linalg.norm(v)
            if 1e-12 < d < r:
                p = p + v / d * (r - d)
    return p


for line in sys.stdin:
    w = [struct.unpack("<f", struct.pack("<I", int(x, 16)))[0] for x in line.split()]
    r, step, p, d, n = w[0], w[1], np.array(w[2:5]), np.array(w[5:8]), int(w[8])
    boxes = [(np.array(b[0:3]), np.array(b[3:12]).reshape(3, 3), np.array(b[12:15]))
             for b in (w[9 + 15 * i:24 + 15 * i] for i in range(n))]
    if d @ d >= 1e-6:
        p = p + np.array([0.0, max(step, 0.0), 0.0])
        for _ in range(4000):
            p = push_out(p + d / 4000.0, boxes, r)
    down = np.array([0.0, step / 400.0, 0.0])
    for _ in range(400 if step > 1e-6 else 0):
        if any(np.linalg.norm(p - down - closest(p - down, b)) < r - 1e-9 for b in boxes):
            break
        p = p - down
    print(" ".join("%.7f" % v for v in p))
