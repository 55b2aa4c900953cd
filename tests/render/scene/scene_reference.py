#!/usr/bin/env python3
"""Reference values for the render-side scene tests, written from the design
independently of the engine's code. Single-precision steps are rounded through struct.

  grid MINX MINY MINZ MAXX MAXY MAXZ SIZE
      "columns rows", then one line per cell (column-major: all rows of column 0
      first): "minx miny minz maxx maxy maxz value"
  ease MODE T...      the blend factor of each t for easing mode bits MODE
  range A B           "scale offset" of the range factors
  lpd FILE W H C0 C1 C2 C3 [VERSION]
      writes a probe map: index (layer, i) = layer * 1000 + i, record byte k of probe p
      of layer l = (l * 31 + p * 7 + k) & 255, area vector (1.5, -2, 3.25, 4)
"""
import math
import struct
import sys


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def g(x):
    return '%.9g' % x


def grid(a):
    mn = [f32(float(v)) for v in a[0:3]]
    mx = [f32(float(v)) for v in a[3:6]]
    size = f32(float(a[6]))
    if not size > 0:
        print('0 0')
        return
    cx = math.trunc(f32(f32(f32(mx[0] - mn[0]) / size) + 0.5))
    cz = math.trunc(f32(f32(f32(mx[2] - mn[2]) / size) + 0.5))
    cx, cz = max(cx, 0), max(cz, 0)
    if cx == 0 or cz == 0:
        cx = cz = 0
    print(cx, cz)
    for i in range(cx):
        for j in range(cz):
            x0 = f32(mn[0] + f32(i * size))
            z0 = f32(mn[2] + f32(j * size))
            print(' '.join(g(v) for v in (x0, mn[1], z0, f32(x0 + size), mx[1], f32(z0 + size), size)))


def ease(mode, t):
    t = f32(t)
    pi = f32(math.pi)
    if mode == 0:
        return f32(f32(0.5) * f32(f32(math.sin(f32(f32(t - 0.5) * pi))) + 1.0))
    if mode == 16:
        return f32(math.sin(f32(f32(t * pi) / 2.0)))
    if mode == 32:
        return f32(1.0 - f32(math.sin(f32(f32(f32(1.0 - t) * pi) / 2.0))))
    return t


def lpd(a):
    path, w, h = a[0], int(a[1]), int(a[2])
    counts = [int(v) for v in a[3:7]]
    version = int(a[7]) if len(a) > 7 else 3
    out = struct.pack('<IHHHH', 0x4C504400, version, 4, w, h)
    out += struct.pack('<4I', *counts) + b'\0' * 4 + struct.pack('<4f', 1.5, -2.0, 3.25, 4.0)
    for layer in range(4):
        out += struct.pack('<%dI' % (w * h), *[layer * 1000 + i for i in range(w * h)])
        out += bytes((layer * 31 + p * 7 + k) & 255 for p in range(counts[layer]) for k in range(18))
    with open(path, 'wb') as f:
        f.write(out)


def main():
    cmd, a = sys.argv[1], sys.argv[2:]
    if cmd == 'grid':
        grid(a)
    elif cmd == 'ease':
        print(' '.join(g(ease(int(a[0]), float(t))) for t in a[1:]))
    elif cmd == 'range':
        x, y = f32(float(a[0])), f32(float(a[1]))
        d = f32(y - x)
        if abs(d) > f32(0.001):
            s = f32(1.0 / d)
            print(g(s), g(f32(-x * s)))
        else:
            print(g(0.0), g(1.0))
    elif cmd == 'lpd':
        lpd(a)


main()
