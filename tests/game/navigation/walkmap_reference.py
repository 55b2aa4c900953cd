#!/usr/bin/env python3
# Brute-force reference of the walk-map corridor in numpy.float32, written from the rules:
# every row of the corridor is laid out tile by tile and tested against the map.
# Floats travel as 32-bit patterns in hexadecimal, integers in decimal.
#
# One case per line:
#   W H CELLSIZE OX OZ CELLS(W x H, decimal bytes, row by row) PX PY PZ DX DY DZ WIDTH LENGTH WIDE
# Answer: the corridor length.
import itertools
import struct
import sys

import numpy as np

F = np.float32


def f(h):
    return F(struct.unpack("<f", struct.pack("<I", int(h, 16)))[0])


def h(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(v)))[0]


def cell(grid, x, z):
    w, hgt, cs, ox, oz, _ = grid
    if not np.isfinite(x) or not np.isfinite(z) or cs == 0:
        return None
    fx = F(F(F(x - ox) / cs) + F(0.5))
    fz = F(F(F(z - oz) / cs) + F(0.5))
    if not (fx > -1 and fz > -1 and fx < w and fz < hgt):
        return None
    tx, tz = int(fx), int(fz)
    if tx < 0 or tz < 0 or tx >= w or tz >= hgt:
        return None
    return tx, tz


def walkable(grid, x, y):
    w, hgt, _, _, _, cells = grid
    return 0 <= x < w and 0 <= y < hgt and cells[y * w + x] & 1 != 0


def near(grid, x, y, wide):
    w, hgt = grid[0], grid[1]
    if not (0 <= x < w and 0 <= y < hgt):
        return False
    r = 1 if wide else 0
    return any(walkable(grid, x + i, y + j) for i in range(-r, r + 1) for j in range(-r, r + 1))


def sign_step(v):
    if not abs(v) >= 0.5:
        return 0
    return 1 if v > 0 else -1


def extrude(grid, p, d, width, length, wide):
    if not F(F(F(d[0] * d[0]) + F(d[1] * d[1])) + F(d[2] * d[2])) >= F(0.9):
        return F(0)
    side = (F(-d[2]), F(0), d[0])
    half = F(width * F(0.5))
    a = (F(p[0] + F(half * side[0])), F(p[2] + F(half * side[2])))
    b = (F(p[0] - F(half * side[0])), F(p[2] - F(half * side[2])))
    e = (F(b[0] + F(length * d[0])), F(b[1] + F(length * d[2])))
    ta, tb, te = cell(grid, *a), cell(grid, *b), cell(grid, *e)
    if ta is None or tb is None:
        return F(0)
    across = max(abs(ta[0] - tb[0]), abs(ta[1] - tb[1]))
    dx, dy = sign_step(d[0]), sign_step(d[2])
    sx, sy = sign_step(side[0]), sign_step(side[2])
    if dx == 0 and dy == 0:
        rows = range(1)
    elif te is not None:
        rows = range(max(abs(te[0] - tb[0]), abs(te[1] - tb[1])))
    elif across == 0:
        return length  # rows without tiles never fail
    else:
        rows = itertools.count()  # until a row fails, at the latest where it leaves the map
    for i in rows:
        row = [(tb[0] + i * dx + j * sx, tb[1] + i * dy + j * sy) for j in range(across)]
        if not all(near(grid, x, y, wide) for x, y in row):
            return F(F(i) * grid[2])
    return length


def main():
    with np.errstate(all="ignore"):
        for line in sys.stdin:
            v = line.split()
            if not v:
                continue
            w, hgt = int(v[0]), int(v[1])
            cs, ox, oz = f(v[2]), f(v[3]), f(v[4])
            cells = [int(x) for x in v[5:5 + w * hgt]]
            r = v[5 + w * hgt:]
            p = [f(x) for x in r[0:3]]
            d = [f(x) for x in r[3:6]]
            print(h(extrude((w, hgt, cs, ox, oz, cells), p, d, f(r[6]), f(r[7]), r[8] == "1")))


main()
