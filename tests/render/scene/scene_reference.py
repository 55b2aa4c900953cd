#!/usr/bin/env python3
"""Reference values of the render-side scene tests, from the design, not the engine's
code; single-precision steps are rounded through struct.

  grid MINX MINY MINZ MAXX MAXY MAXZ SIZE
      "columns rows", then one line per cell (column-major: all rows of column 0
      first): "minx miny minz maxx maxy maxz value"
  ease MODE T...      the blend factor of each t for easing mode bits MODE
  range A B...        "scale offset" of the range factors of each pair
  faces               six lines, one per cube face: "a b a x b" (twelve values)
  cube KIND D4 C1_4 C2_4 C3_4 S0 S1 AX AY AZ
      pixel constants c0-c4 of an ambient light (one register per line), then the four
      rows of the mask matrix: a scale by (1, -1, 1), then the rotations about x, y, z
  atten TYPE R0 R1 R2 (x y z each) INNER OUTER ANGLE FALLOFF
      "range-scale range-offset cone-scale cone-offset" of a light's attenuation: the
      scale is the length of row 2 (row 0 for the tube, type 2); the inner range stays
      0.01 inside the outer; a ramp whose span is below 1e-6 is scale 0, offset 1
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


FACES = [((1, 0, 0), (0, 1, 0)), ((-1, 0, 0), (0, 1, 0)), ((0, 1, 0), (0, 0, -1)),
         ((0, -1, 0), (0, 0, 1)), ((0, 0, 1), (0, 1, 0)), ((0, 0, -1), (0, 1, 0))]


def matmul(a, b):
    return [[sum(a[r][k] * b[k][c] for k in range(4)) for c in range(4)] for r in range(4)]


def rotation(axis, degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    m = [[1.0 if r == k else 0.0 for k in range(4)] for r in range(4)]
    i, j = [(1, 2), (2, 0), (0, 1)][axis]
    m[i][i], m[i][j], m[j][i], m[j][j] = c, s, -s, c
    return m


def cube(a):
    v = [float(x) for x in a[1:]]
    kind, d, c1, c2, c3, sc, ang = int(a[0]), v[0:4], v[4:8], v[8:12], v[12:16], v[16:18], v[18:21]
    n = math.sqrt(d[0] ** 2 + d[1] ** 2 + d[2] ** 2)
    q1 = [x * 0.25 for x in c1]
    q2 = [x * 0.25 for x in c2]
    x = [0.5 * p + 0.5 * q for p, q in zip(q1, q2)] if kind == 2 else [0.0] * 4
    w = c3[3]
    rows = [[e / n for e in d], q1, q2 if kind != 0 else [0.0] * 4,
            [(1 - w) * p + w * 0.25 * q for p, q in zip(x, c3)], [sc[0], sc[1], 0.0, 0.0]]
    flip = [[1, 0, 0, 0], [0, -1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1]]
    m = matmul(flip, matmul(rotation(0, ang[0]), matmul(rotation(1, ang[1]), rotation(2, ang[2]))))
    for r in rows + m:
        print(' '.join(g(e) for e in r))


def atten(a):
    kind = int(a[0])
    v = [f32(float(x)) for x in a[1:]]
    rows, inner, outer, angle, falloff = [v[0:3], v[3:6], v[6:9]], v[9], v[10], v[11], v[12]
    axis = rows[0] if kind == 2 else rows[2]
    scale = f32(math.sqrt(f32(f32(f32(axis[0] * axis[0]) + f32(axis[1] * axis[1])) + f32(axis[2] * axis[2]))))
    outer = f32(outer * scale)
    inner = min(f32(inner * scale), f32(outer - f32(0.01)))
    span = f32(f32(inner * inner) - f32(outer * outer))
    if abs(span) < 1e-6:
        rs, ro = 0.0, 1.0
    else:
        rs = f32(1.0 / span)
        ro = f32(-f32(outer * outer) * rs)
    cs, co = 0.0, 0.0
    if kind == 1:
        k = f32(0.017453292)
        c = f32(math.cos(f32(angle * k)))
        f = min(max(f32(1.0 - falloff), 0.0), f32(0.999))
        ci = f32(math.cos(f32(f32(angle * f) * k)))
        if abs(f32(ci - c)) < 1e-6:
            cs, co = 0.0, 1.0
        else:
            cs = f32(1.0 / f32(ci - c))
            co = f32(-c * cs)
    print(g(rs), g(ro), g(cs), g(co))


def main():
    cmd, a = sys.argv[1], sys.argv[2:]
    if cmd == 'grid':
        grid(a)
    elif cmd == 'ease':
        print(' '.join(g(ease(int(a[0]), float(t))) for t in a[1:]))
    elif cmd == 'range':
        for i in range(0, len(a), 2):
            x, y = f32(float(a[i])), f32(float(a[i + 1]))
            d = f32(y - x)
            s = f32(1.0 / d) if abs(d) > f32(0.001) else 0.0
            print(g(s), g(f32(-x * s)) if s else g(1.0))
    elif cmd == 'faces':
        for fa, fb in FACES:
            c = (fa[1] * fb[2] - fa[2] * fb[1], fa[2] * fb[0] - fa[0] * fb[2], fa[0] * fb[1] - fa[1] * fb[0])
            print(' '.join(g(e) for e in fa + fb + c))
    elif cmd == 'cube':
        cube(a)
    elif cmd == 'atten':
        atten(a)
    elif cmd == 'lpd':
        lpd(a)


main()
