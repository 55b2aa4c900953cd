#!/usr/bin/env python3
"""Reference values for the frame pass tests, written from the design independently of
the renderer's code (single precision through numpy.float32).

  sortkey CX CY CZ FX FY FZ MINX MINY MINZ MAXX MAXY MAXZ TX TY TZ BIAS
      the sort key (unsigned bits) of a box translated by T, seen from camera C looking
      along F: the box point nearest to C, its distance along F, + 10000 + the bias;
      0 when the result is not above 0 or not finite
  cells W H VP0..VP15 WORLD0..WORLD15 MINX MINY MINZ MAXX MAXY MAXZ
      the outline grid's cell range (first column, end column, first row, end row,
      clamped to 40 x 24) of the box placed by WORLD and seen through VP (row-major,
      row vectors) on a W x H render; a corner at w <= 1e-6 covers the whole screen
  ssao H RADIUS INTENSITY
      the ambient occlusion's first pixel register on a render H pixels high: the radius
      in pixels r (RADIUS at 1080 lines, in proportion), r squared, r kept within 1..20,
      and the intensity term INTENSITY x 0.625 / r^4 (0 when r^4 is 0 or the term is not
      finite)
"""
import math
import struct
import sys

import numpy as np

f = np.float32


def sortkey(a):
    c = [f(v) for v in a[0:3]]
    fw = [f(v) for v in a[3:6]]
    lo = [f(a[6 + i]) + f(a[12 + i]) for i in range(3)]
    hi = [f(a[9 + i]) + f(a[12 + i]) for i in range(3)]
    bias = f(a[15])
    p = [min(max(c[i], lo[i]), hi[i]) for i in range(3)]
    with np.errstate(all='ignore'):
        d = f(f(f((p[0] - c[0]) * fw[0]) + f((p[1] - c[1]) * fw[1])) + f((p[2] - c[2]) * fw[2]))
        k = f(f(d + f(10000.0)) + bias)
    if not np.isfinite(k) or not k > 0:
        return 0
    return struct.unpack('<I', struct.pack('<f', float(k)))[0]


def cells(a):
    w, h = f(a[0]), f(a[1])
    vp = np.array(a[2:18], dtype=np.float32).reshape(4, 4)
    world = np.array(a[18:34], dtype=np.float32).reshape(4, 4)
    lo, hi = a[34:37], a[37:40]
    m = (world.astype(np.float64) @ vp.astype(np.float64)).astype(np.float32)
    xs, ys = [], []
    whole = False
    for i in range(8):
        p = np.array([hi[0] if i & 1 else lo[0], hi[1] if i & 2 else lo[1], hi[2] if i & 4 else lo[2], 1.0],
                     dtype=np.float32)
        q = p.astype(np.float64) @ m.astype(np.float64)
        if not q[3] > 1e-6:
            whole = True
            break
        xs.append(q[0] / q[3])
        ys.append(q[1] / q[3])
    if whole:
        x0, x1, y0, y1 = -1.0, 1.0, -1.0, 1.0
    else:
        x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)
    x0 = max(x0 - 3.0 / w, -1.0)
    x1 = min(x1 + 3.0 / w, 1.0)
    y0 = max(y0 - 3.0 / h, -1.0)
    y1 = min(y1 + 3.0 / h, 1.0)
    c0 = max(math.floor((x0 + 1) * 0.5 * 40), 0)
    c1 = min(math.ceil((x1 + 1) * 0.5 * 40), 40)
    r0 = max(math.floor((y0 + 1) * 0.5 * 24), 0)
    r1 = min(math.ceil((y1 + 1) * 0.5 * 24), 24)
    return c0, c1, r0, r1


def ssao(a):
    h, radius, intensity = f(a[0]), f(a[1]), f(a[2])
    with np.errstate(all='ignore'):
        r = f(f(h / f(1080.0)) * radius)
        r2 = f(r * r)
        r4 = f(r2 * r2)
        term = f(f(intensity * f(0.625)) / r4) if r4 != 0 else f(0.0)
    if not np.isfinite(term):
        term = f(0.0)
    clamped = min(max(r, f(1.0)), f(20.0))
    return r, r2, clamped, term


def main():
    cmd, args = sys.argv[1], [float(v) for v in sys.argv[2:]]
    if cmd == 'sortkey':
        print(sortkey(args))
    elif cmd == 'cells':
        print(*cells(args))
    elif cmd == 'ssao':
        print(*('%.9g' % v for v in ssao(args)))


if __name__ == '__main__':
    main()
