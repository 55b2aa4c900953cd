#!/usr/bin/env python3
# Reference model of the rotating shield's aiming in numpy.float32, written from the rules
# (not from the C++). Floats travel as 32-bit patterns in hexadecimal, integers in decimal.
#
# One case per line, its first word the mode:
#   bearing DX DZ
#       the bearing of an offset. Answer: the angle.
#   best ANGLE SECTOR N B(N) K M(K)
#       the best shield angle for bearings B and the cover mask M. Answer: the angle.
import math
import struct
import sys

import numpy as np

F = np.float32


def f(h):
    return F(struct.unpack("<f", struct.pack("<I", int(h, 16)))[0])


def h(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(v)))[0]


def fmod(a, b):
    return F(np.fmod(F(a), F(b)))


def bearing(dx, dz):
    a = F(np.arctan2(F(dx), F(dz)))
    return fmod(F(a * F(57.29578)) + F(3600), F(360))


def best(angle, s, bearings, mask):
    if not (s > 0) or not math.isfinite(s):
        return angle
    bearings = bearings[:1024]
    mask = mask[:360]
    result, result_score = angle, F(0)
    live = [b for b in bearings if math.isfinite(b)]
    for b in live:
        for j, m in enumerate(mask):
            if m == 0:
                continue
            c = fmod(F(b - F(F(F(j) + F(0.5)) * s)) + F(3600), F(360))
            cover = 0
            for t in live:
                q = F(fmod(F(t - c) + F(3600), F(360)) / s)
                if q > -1 and q < len(mask):
                    cover += mask[int(q)]
            d = F(c - angle)
            if d > 180:
                d = F(d - F(360))
            elif d < -180:
                d = F(d + F(360))
            score = F(F(F(0.5) - F(abs(d) * F(0.0027777778))) + F(cover))
            if score > result_score:
                result, result_score = c, score
    return result


def main():
    with np.errstate(all="ignore"):
        for line in sys.stdin:
            w = line.split()
            if not w:
                continue
            if w[0] == "bearing":
                print(h(bearing(f(w[1]), f(w[2]))))
            elif w[0] == "best":
                angle, s, n = f(w[1]), f(w[2]), int(w[3])
                bearings = [f(x) for x in w[4:4 + n]]
                k = int(w[4 + n])
                mask = [int(x) for x in w[5 + n:5 + n + k]]
                print(h(best(angle, s, bearings, mask)))
            else:
                print("unknown mode " + w[0])


main()
