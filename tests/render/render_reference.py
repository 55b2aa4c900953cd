#!/usr/bin/env python3
"""Reference values for the renderer tests, written from the design independently of the
renderer's code.

  gamma B...            the gamma ramp (256 entries) for each brightness, one line each
  constants W H M0..M15 pixel registers c223, c218, c219 for a render size and a
                        projection matrix (row-major), one register per line
  mesh NAME             the vertex bytes and the solid and wire index lists of a
                        built-in mesh as hex, three lines ("-" for an empty list)
"""
import math
import struct
import sys


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def gamma(b):
    b = f32(b)
    e = f32(f32(f32(1.0 - b) * f32(1.4)) + f32(b * f32(0.6)))
    ramp = []
    for i in range(256):
        v = f32(f32(f32(math.pow(f32(i / 255.0), e)) * 65535.0) + 0.5)
        ramp.append(min(65535, max(0, int(v))))
    return ramp


def inverse(m):
    n = 4
    a = [list(m[r * 4:(r + 1) * 4]) + [1.0 if r == c else 0.0 for c in range(4)] for r in range(4)]
    for col in range(n):
        pivot = max(range(col, n), key=lambda r: abs(a[r][col]))
        a[col], a[pivot] = a[pivot], a[col]
        p = a[col][col]
        a[col] = [v / p for v in a[col]]
        for r in range(n):
            if r != col:
                f = a[r][col]
                a[r] = [x - f * y for x, y in zip(a[r], a[col])]
    return [row[4:] for row in a]


def constants(w, h, proj):
    p = inverse(proj)
    p00, p11, p23, p33 = p[0][0], p[1][1], p[2][3], p[3][3]
    return [
        (1 / w, 1 / h, 2 * p00 / w, -2 * p11 / h),
        (0.5 / w, 0.5 / h, (0.5 / w - 1) * p00, (0.5 / h + 1) * p11),
        (p00, p11, p23, p33),
    ]


# ---- Built-in meshes, from the design's description ----

class Mesh:
    def __init__(self):
        self.vertices = bytearray()
        self.solid = []
        self.wire = []

    def point(self, x, y, z):
        self.vertices += struct.pack('<3f', x, y, z)


def angle(k, n):
    return 2.0 * math.pi * k / n


def unit_box():
    m = Mesh()
    for i in range(8):
        m.point((i >> 2) & 1, (i >> 1) & 1, i & 1)
    m.solid = [0, 1, 2, 1, 3, 2, 1, 5, 3, 5, 7, 3, 5, 4, 7, 4, 6, 7, 0, 2, 4, 2, 6, 4, 2, 3, 7, 2, 7, 6, 0, 4, 1, 4, 5, 1]
    m.wire = [0, 1, 1, 3, 3, 2, 2, 0, 4, 5, 5, 7, 7, 6, 6, 4, 0, 4, 1, 5, 2, 6, 3, 7]
    return m


def unit_cone():
    m = Mesh()
    m.point(0, 0, 0)
    for k in range(128):
        m.point(math.cos(angle(k, 128)), math.sin(angle(k, 128)), 1)
    m.point(0, 0, 1)
    for k in range(128):
        n = (k + 1) % 128 + 1
        m.solid += [0, k + 1, n, k + 1, 129, n]
    return m


def wire_sphere():
    m = Mesh()
    for circle in range(3):
        for k in range(128):
            c, s = math.cos(angle(k, 128)), math.sin(angle(k, 128))
            m.point(*[(c, 0, s), (0, c, s), (c, s, 0)][circle])
    for circle in range(3):
        for k in range(128):
            m.wire += [128 * circle + k, 128 * circle + (k + 1) % 128]
    return m


def cylinder():
    m = Mesh()
    for z in (-1.0, 1.0):
        for k in range(128):
            m.point(math.cos(angle(k, 128)), math.sin(angle(k, 128)), z)
    m.point(0, 0, -1)
    m.point(0, 0, 1)
    for k in range(128):
        n = (k + 1) % 128
        m.solid += [k, 128 + n, n, k, 128 + k, 128 + n, 256, k, n, 257, 128 + n, 128 + k]
    for ring in range(2):
        for k in range(128):
            m.wire += [128 * ring + k, 128 * ring + (k + 1) % 128]
    for k in range(0, 128, 8):
        m.wire += [k, 128 + k]
    return m


def flag_marker():
    m = Mesh()
    m.point(0, 0, 0)
    for s in range(32):
        c, n = math.cos(angle(s, 32)), math.sin(angle(s, 32))
        m.point(1.5 * c, 0, 1.5 * n)
        m.point(0.01 * c, 0.9, 0.01 * n)
        m.point(0.01 * c, 4.8, 0.01 * n)
    for p in ((0, 4.8, 0), (0, 3.0, 0), (0, 4.8, 0), (0, 3.9, 1.95)):
        m.point(*p)
    for s in range(32):
        bs, bt = 1 + 3 * s, 1 + 3 * ((s + 1) % 32)
        ls, lt, ps, pt = bs + 1, bt + 1, bs + 2, bt + 2
        m.solid += [0, bs, bt, bs, ls, lt, bs, lt, bt, ls, ps, pt, ls, pt, lt, 97, ps, pt]
    m.solid += [98, 99, 100, 98, 100, 99]
    return m


def ground_grid():
    m = Mesh()
    for i in range(1024):
        m.point(i, 0, 0)
        m.point(i, 0, 1024)
        m.point(0, 0, i)
        m.point(1023, 0, i)
    return m


def axis_gizmo():
    m = Mesh()
    arrows = [((1, 0, 0), (0.8, 0, 0.2), (0.8, 0, -0.2), 0xFFFF0000),
              ((0, 0, 1), (0.2, 0, 0.8), (-0.2, 0, 0.8), 0xFF0000FF),
              ((0, 1, 0), (0.2, 0.8, 0.2), (-0.2, 0.8, -0.2), 0xFF00FF00)]
    for a, (tip, head_a, head_b, colour) in enumerate(arrows):
        for p in ((0, 0, 0), tip, head_a, head_b):
            m.point(*p)
            m.vertices += struct.pack('<I', colour)
        m.solid += [4 * a, 4 * a + 1, 4 * a + 1, 4 * a + 2, 4 * a + 1, 4 * a + 3]
    return m


def quad(corners):
    m = Mesh()
    for v in corners:
        m.vertices += struct.pack('<5f', *v)
    return m


def ramp_strip():
    m = Mesh()
    for i in range(64):
        t = i / 63.0
        m.point(t, t, t)
    return m


MESHES = {
    'box': unit_box,
    'cone': unit_cone,
    'wiresphere': wire_sphere,
    'cylinder': cylinder,
    'flag': flag_marker,
    'grid': ground_grid,
    'gizmo': axis_gizmo,
    'unitquad': lambda: quad([(0, 1, 0, 0, 1), (1, 1, 0, 1, 1), (1, 0, 0, 1, 0), (0, 0, 0, 0, 0)]),
    'fullquad': lambda: quad([(-1, 1, 0, 0, 0), (1, 1, 0, 1, 0), (1, -1, 0, 1, 1), (-1, -1, 0, 0, 1)]),
    'ramp': ramp_strip,
}


def hex_indices(indices):
    return struct.pack('<%dH' % len(indices), *indices).hex() if indices else '-'


def main(argv):
    if argv[1] == 'gamma':
        for b in argv[2:]:
            print(' '.join(str(v) for v in gamma(float(b))))
    elif argv[1] == 'constants':
        w, h = float(argv[2]), float(argv[3])
        for reg in constants(w, h, [float(v) for v in argv[4:20]]):
            print(' '.join('%.9g' % v for v in reg))
    elif argv[1] == 'mesh':
        m = MESHES[argv[2]]()
        print(m.vertices.hex())
        print(hex_indices(m.solid))
        print(hex_indices(m.wire))


if __name__ == '__main__':
    main(sys.argv)
