#!/usr/bin/env python3
"""Float32 reference values of the UI element tests, written from the element model.

Input, one command a line (floats as 8-hex-digit float32 bit patterns):
  C r g b a          colour to linear space: r, g, b raised to 2.2, a kept
  E easing t         eased progress (0 linear, 1 half sine, 2 inverse half sine, 3 sine,
                     4 half sine slow; pi = 3.1415927)
  V a b c d px py    the view transform's derived values:
                     1/a 1/b a/c b/d c/a d/b px*a py*b hx hy A B
Each answers one line of float bit patterns.
"""
import struct
import sys

import numpy as np

np.seterr(all="ignore")
F = np.float32
PI = F(3.1415927)


def fbits(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(F(v))))[0]


def bitsf(h):
    return F(struct.unpack("<f", struct.pack("<I", int(h, 16)))[0])


def ease(mode, t):
    if mode == 1:
        return np.sin(t * PI / F(2))
    if mode == 2:
        return F(1) - np.sin((F(1) - t) * PI / F(2))
    if mode == 3:
        return (np.sin((t - F(0.5)) * PI) + F(1)) / F(2)
    if mode == 4:
        return np.sqrt(np.sin(t * PI / F(2)))
    return t


def main():
    out = []
    for line in sys.stdin:
        w = line.split()
        if not w:
            continue
        if w[0] == "C":
            r, g, b, a = (bitsf(x) for x in w[1:5])
            e = F(2.2)
            out.append(" ".join(fbits(v) for v in (np.power(r, e), np.power(g, e), np.power(b, e), a)))
        elif w[0] == "E":
            out.append(fbits(ease(int(w[1]), bitsf(w[2]))))
        elif w[0] == "V":
            a, b, c, d, px, py = (bitsf(x) for x in w[1:7])
            hx = (c - F(1)) * (F(1) / c) * a * F(0.5)
            hy = (d - F(1)) * (F(1) / d) * b * F(0.5)
            vals = (F(1) / a, F(1) / b, a / c, b / d, c / a, d / b, px * a, py * b, hx, hy,
                    hx * F(-2) / (a / c), hy * F(2) / (b / d))
            out.append(" ".join(fbits(v) for v in vals))
    sys.stdout.write("\n".join(out) + "\n")


main()
