#!/usr/bin/env python3
"""Float32 reference values of the UI drawing tests, written from the drawing model.

Input, one command a line (floats as 8-hex-digit float32 bit patterns):
  Q m0..m15 r g b a mirrored px py pz pw su sv ou ov
      the four vertices of a quad (matrix rows m0-3, m4-7, ...; a point is a row vector)
      as 13 floats each: colour, position, parameter, texture coordinate
  S l t r b W H
      the scissor rectangle of a clip rectangle in a W x H viewport, clamped to it
  P m0..m15 w h
      the clip rectangle (left top right bottom) of the element rectangle (0, 0)-(w, h)
      through the matrix, divided by w
  B r g b a srgb
      the 8-bit red, green and blue of the linear colour alpha-blended over black, written
      through the sRGB encoding when srgb is 1 (floats in decimal here)
  M mode r g b a pr pg pb pa
      the colour of colour mode 0 (own), 1 (own, alpha times the parent's) or 2 (own times
      the parent's)
  F lr ud f ax px sx ay py sy pw ph alpha
      the alpha after the parent-border fades (lr, ud: 0 or 1) over width f
  A mode a b c d x y
      the UI point (x, y) through aspect scaling mode 1-3 about the UI centre
Each answers one line of float bit patterns (S and B: integers).
"""
import struct
import sys

import numpy as np

np.seterr(all="ignore")
F = np.float32
CORNERS = [(F(0), F(0)), (F(1), F(0)), (F(1), F(1)), (F(0), F(1))]
MIRRORED = [3, 2, 1, 0]


def fbits(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(F(v))))[0]


def bitsf(h):
    return F(struct.unpack("<f", struct.pack("<I", int(h, 16)))[0])


def transform(m, x, y, z, w):
    # Row vector times matrix, summed in row order.
    return [x * m[0][c] + y * m[1][c] + z * m[2][c] + w * m[3][c] for c in range(4)]


def matrix(words):
    v = [bitsf(x) for x in words]
    return [v[0:4], v[4:8], v[8:12], v[12:16]]


def main():
    out = []
    for line in sys.stdin:
        w = line.split()
        if not w:
            continue
        if w[0] == "Q":
            m = matrix(w[1:17])
            rest = [bitsf(x) for x in w[17:]]
            colour = rest[0:4]
            mirrored = rest[4] != 0
            param = rest[5:9]
            su, sv, ou, ov = rest[9:13]
            vals = []
            for i in range(4):
                k = MIRRORED[i] if mirrored else i
                cx, cy = CORNERS[k]
                p = transform(m, cx, cy, F(0), F(1))
                vals += colour + p[0:3] + param + [ou + cx * su, ov + cy * sv]
            out.append(" ".join(fbits(v) for v in vals))
        elif w[0] == "S":
            l, t, r, b = (bitsf(x) for x in w[1:5])
            W, H = int(w[5]), int(w[6])

            def px(v, lim):
                return int(min(max(float(v), 0.0), float(lim)))
            out.append("%d %d %d %d" % (px((l + F(1)) * F(0.5) * F(W), W), px((F(0.5) - t * F(0.5)) * F(H), H),
                                        px((r + F(1)) * F(0.5) * F(W), W), px((F(0.5) - b * F(0.5)) * F(H), H)))
        elif w[0] == "P":
            m = matrix(w[1:17])
            ww, hh = bitsf(w[17]), bitsf(w[18])
            pts = []
            for (x, y) in [(F(0), F(0)), (ww, F(0)), (F(0), hh), (ww, hh)]:
                p = transform(m, x, y, F(0), F(1))
                pts.append((p[0] / p[3], p[1] / p[3]))
            xs = [p[0] for p in pts]
            ys = [p[1] for p in pts]
            out.append(" ".join(fbits(v) for v in (min(xs), max(ys), max(xs), min(ys))))
        elif w[0] == "M":
            mode = int(w[1])
            own = [bitsf(x) for x in w[2:6]]
            parent = [bitsf(x) for x in w[6:10]]
            if mode == 0:
                res = own
            elif mode == 2:
                res = [o * p for o, p in zip(own, parent)]
            else:
                res = own[0:3] + [own[3] * parent[3]]
            out.append(" ".join(fbits(v) for v in res))
        elif w[0] == "F":
            lr, ud = int(w[1]), int(w[2])
            f, ax, px, sx, ay, py, sy, pw, ph, alpha = (bitsf(x) for x in w[3:13])

            def clamp(v):
                return min(max(v, F(0)), F(1))
            left, top = clamp((ax + px) / f), clamp((ay + py) / f)
            right, bottom = clamp((pw - (sx + ax + px)) / f), clamp((ph - (sy + ay + py)) / f)
            if lr:
                alpha = alpha * (left * right)
            if ud:
                alpha = alpha * (top * bottom)
            out.append(fbits(alpha))
        elif w[0] == "A":
            mode = int(w[1])
            a, b, c, d, x, y = (bitsf(v) for v in w[2:8])
            sx, sy = F(1), F(1)
            if mode == 1:
                sx = F(1) / c
            elif mode == 2:
                sy = F(1) / d
            elif mode == 3:
                sx, sy = (F(1) / a) * (a / c), (F(1) / a) * (b / d)
            out.append(" ".join(fbits(v) for v in ((x - a / F(2)) * sx + a / F(2), (y - b / F(2)) * sy + b / F(2))))
        elif w[0] == "B":
            r, g, b, a = (float(x) for x in w[1:5])
            srgb = w[5] == "1"

            def enc(c):
                c = min(max(c, 0.0), 1.0)
                if srgb:
                    c = c * 12.92 if c <= 0.0031308 else 1.055 * c ** (1 / 2.4) - 0.055
                return int(c * 255.0 + 0.5)
            out.append("%d %d %d" % (enc(r * a), enc(g * a), enc(b * a)))
    sys.stdout.write("\n".join(out) + "\n")


main()
