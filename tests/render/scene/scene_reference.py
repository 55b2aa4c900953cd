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
  sun MODE SEPARATE MULT COLOR SECONDARY SIDE SPECULAR YAW PITCH SYAW SPITCH
      (colours as "r g b a intensity"): the light, secondary, side and specular colours
      as linear vectors and the light and specular directions, one vector per line
  proj CYAW CPITCH CSCALE CROT LSCALE LROT
      the cloud projection rows, then the layer projection rows
  envelope MODE N TIMES(N) KEYS(N x "r g b a intensity") QUERIES(INDEX T)...
      one "r g b a intensity" line per query; "-" where the sample leaves it unchanged
  hdrlerp A B T       the blend of two colours: channels in float rounded (x + 0.5)
  lpd FILE W H C0 C1 C2 C3 [VERSION]
      writes a probe map: index (layer, i) = (layer * 1000 + i) mod the layer's count (0 for
      an empty layer), record byte k of probe p
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
        out += struct.pack('<%dI' % (w * h), *[(layer * 1000 + i) % max(counts[layer], 1) for i in range(w * h)])
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


def linear_vector(c):
    r, gg, b, a, i = c
    v = [f32(f32(x / f32(255.0)) * i) for x in (r, gg, b)]
    return [f32(math.pow(x, f32(2.2))) for x in v] + [f32(a / f32(255.0))]


def rotate_direction(yaw, pitch):
    m = matmul(rotation(0, pitch), rotation(1, yaw))
    return [sum([0, 0, 1, 0][k] * m[k][c] for k in range(4)) for c in range(4)]


def scale_matrix(s):
    return [[s if r == c and r < 3 else (1.0 if r == c else 0.0) for c in range(4)] for r in range(4)]


def sun(a):
    mode, separate, mult = int(a[0]), int(a[1]), float(a[2])
    cols = [[float(x) for x in a[3 + 5 * k: 8 + 5 * k]] for k in range(4)]
    yaw, pitch, syaw, spitch = [float(x) for x in a[23:27]]
    light = linear_vector(cols[0])
    if separate:
        spec = [x * mult for x in linear_vector(cols[3])]
    else:
        spec = [x * mult for x in light[0:3] + [cols[0][4]]]
        syaw, spitch = yaw, pitch
    second = linear_vector(cols[1]) if mode in (1, 2) else [0.0] * 4
    side = [(p + q) * 0.5 for p, q in zip(light, second)] if mode == 2 else [0.0] * 4
    sc = linear_vector(cols[2])
    side = [x * (1 - sc[3]) + y * sc[3] for x, y in zip(side, sc)]
    for v in (light, second, side, spec, rotate_direction(yaw, pitch), rotate_direction(syaw, spitch)):
        print(' '.join(g(e) for e in v))


def proj(a):
    cy, cp, cs, cr, ls, lr = [float(x) for x in a]
    cloud = matmul(matmul(matmul(rotation(0, -cp), rotation(1, -cy)), rotation(2, cr)), scale_matrix(1 / cs))
    layer = matmul(scale_matrix(1 / ls), rotation(2, lr))
    for r in cloud + layer:
        print(' '.join(g(e) for e in r))


def cdiv(n, d):
    q = abs(n) // d
    return q if n >= 0 else -q


def weight(f):
    return int(f32(f32(f * f32(255.0)) + f32(0.5)))


def sat(v):
    return min(max(v, 0), 255)


def bezier_t(x0, x1, x2, x3, x):
    # Newton's method on the cubic through the four control times.
    if x3 == x0:
        return 1.0 if x >= x3 else 0.0
    a = f32(f32(f32(x3 - f32(3.0 * x2)) + f32(3.0 * x1)) - x0)
    b = f32(f32(f32(3.0 * x2) - f32(6.0 * x1)) + f32(3.0 * x0))
    c = f32(f32(3.0 * x1) - f32(3.0 * x0))
    s = f32(f32(x - x0) / f32(x3 - x0))
    for _ in range(4):
        fv = f32(f32(f32(f32(f32(a * s) * s) * s + f32(f32(b * s) * s)) + f32(c * s)) + x0)
        fv = f32(fv - x)
        df = f32(f32(f32(f32(3.0 * a) * s) * s) + f32(f32(2.0 * b) * s)) + c
        df = f32(df)
        if abs(fv) <= f32(0.01) or abs(df) <= f32(0.01):
            break
        s = f32(s - f32(fv / df))
    return s


def envelope(a):
    mode, n = int(a[0]), int(a[1])
    times = [int(x) for x in a[2:2 + n]]
    keys = [[float(x) for x in a[2 + n + 5 * k: 7 + n + 5 * k]] for k in range(n)]
    q = a[2 + 6 * n:]
    unit = f32(1.0 / 1024.0)

    def lerp(p, r, f):
        k = weight(f)
        return [sat(int(p[i]) + cdiv((int(r[i]) - int(p[i])) * k, 255)) for i in range(4)] + [f32(p[4] + f32(f32(r[4] - p[4]) * f))]

    def lin(i, t):
        t0, t1 = f32(times[i] * unit), f32(times[i + 1] * unit)
        if not t1 > t0:
            return keys[i + 1]
        return lerp(keys[i], keys[i + 1], min(max(f32(f32(t - t0) / f32(t1 - t0)), 0.0), 1.0))

    for j in range(0, len(q), 2):
        i, t = int(q[j]), f32(float(q[j + 1]))
        if n == 0 or mode > 2:
            print('-')
            continue
        if i >= n - 1:
            out = keys[n - 1]
        elif mode == 0:
            out = keys[i]
        elif mode == 1:
            out = lin(i, t)
        else:
            s0 = i - i % 3
            if s0 + 3 > n - 1 or times[s0 + 3] <= times[s0]:
                out = lin(i, t)
            else:
                x = [f32(times[s0 + k] * unit) for k in range(4)]
                u = bezier_t(x[0], x[1], x[2], x[3], min(max(t, x[0]), x[3]))
                w = f32(1.0 - u)
                fs = [f32(f32(w * w) * w), f32(f32(f32(3.0 * u) * w) * w), f32(f32(f32(3.0 * u) * u) * w), f32(f32(u * u) * u)]
                ch = [sat(cdiv(int(keys[s0][c]) * weight(fs[0]), 255)) for c in range(4)]
                it = f32(keys[s0][4] * fs[0])
                for k in range(1, 4):
                    ch = [sat(ch[c] + cdiv(int(keys[s0 + k][c]) * weight(fs[k]), 255)) for c in range(4)]
                    it = f32(it + f32(keys[s0 + k][4] * fs[k]))
                out = ch + [it]
        print(' '.join(g(e) for e in out))


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
    elif cmd == 'sun':
        sun(a)
    elif cmd == 'proj':
        proj(a)
    elif cmd == 'envelope':
        envelope(a)
    elif cmd == 'hdrlerp':
        p, q, t = [float(x) for x in a[0:5]], [float(x) for x in a[5:10]], f32(float(a[10]))
        ch = [min(max(int(f32(f32(f32(p[i] * f32(1 - t)) + f32(q[i] * t)) + f32(0.5))), 0), 255) for i in range(4)]
        print(' '.join(g(e) for e in ch + [f32(f32(p[4] * f32(1 - t)) + f32(q[4] * t))]))
    elif cmd == 'lpd':
        lpd(a)


main()
