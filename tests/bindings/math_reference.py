#!/usr/bin/env python3
"""Reference values of the maths package's operations, computed with numpy in double
precision from float32 inputs. One case per input line: a kind and its numbers; one
output line per case with the expected numbers (%.9g)."""
import sys

import numpy as np


def normal(v):
    return v / np.linalg.norm(v)


def look_at(eye, target, up):
    z = normal(target - eye)
    x = normal(np.cross(up, z))
    y = np.cross(z, x)
    m = np.identity(4)
    m[0:3, 0] = x
    m[0:3, 1] = y
    m[0:3, 2] = z
    m[3, 0:3] = [-x.dot(eye), -y.dot(eye), -z.dot(eye)]
    return m


def rotation(axis, degrees):
    """The left-handed rotation of row vectors about one axis (0 x, 1 y, 2 z)."""
    a = np.radians(degrees)
    c, s = np.cos(a), np.sin(a)
    i, j = [(1, 2), (2, 0), (0, 1)][axis]
    m = np.identity(3)
    m[i, i], m[i, j], m[j, i], m[j, j] = c, s, -s, c
    return m


def slerp(a, b, t):
    """Spherical interpolation along the shorter arc between the rotations a and b."""
    d = a.dot(b)
    if d < 0:
        b, d = -b, -d
    theta = np.arccos(min(d, 1.0))
    if theta < 1e-6:  # the limit of the weights below as theta goes to 0
        return (1 - t) * a + t * b
    return (np.sin((1 - t) * theta) * a + np.sin(t * theta) * b) / np.sin(theta)


def answer(kind, n):
    if kind in ('inverse', 'det', 'transform', 'homogen', 'transform3d'):
        m = np.array(n[:16], dtype=np.float32).astype(np.float64).reshape(4, 4)
        if kind == 'inverse':
            return np.linalg.inv(m).flatten()
        if kind == 'det':
            return [np.linalg.det(m)]
        v = np.array(n[16:20], dtype=np.float32).astype(np.float64)
        if kind == 'transform3d':  # a point: w taken as 1
            v[3] = 1
        r = v.dot(m)  # a row vector times the matrix
        return r / r[3] if kind == 'homogen' else r
    p = np.array(n, dtype=np.float32).astype(np.float64)
    if kind == 'lookat':
        return look_at(p[0:3], p[3:6], p[6:9]).flatten()
    if kind == 'inverselookat':
        return np.linalg.inv(look_at(p[0:3], p[3:6], p[6:9])).flatten()
    if kind == 'perspective':
        w, h, zn, zf = p
        return [2 * zn / w, 0, 0, 0, 0, 2 * zn / h, 0, 0, 0, 0, zf / (zf - zn), 1, 0, 0, zn * zf / (zn - zf), 0]
    if kind == 'project':  # v minus its component along the normal, over x, y, z
        v, n = p[0:4], p[4:8]
        d = v[0:3].dot(n[0:3])
        return [v[0] - d * n[0], v[1] - d * n[1], v[2] - d * n[2], v[3]]
    if kind == 'reflect':  # v - 2 (v.n) n over x, y, z
        v, n = p[0:4], p[4:8]
        d = v[0:3].dot(n[0:3])
        return [v[0] - 2 * d * n[0], v[1] - 2 * d * n[1], v[2] - 2 * d * n[2], v[3]]
    if kind == 'boxtransform':  # the axis-aligned box around a box placed by a matrix
        mn, mx = p[0:3], p[3:6]
        m = p[6:22].reshape(4, 4)
        corners = [np.array([x, y, z, 1.0]).dot(m)[0:3] for x in (mn[0], mx[0]) for y in (mn[1], mx[1])
                   for z in (mn[2], mx[2])]
        return list(np.min(corners, axis=0)) + list(np.max(corners, axis=0))
    if kind == 'slerp':
        return slerp(p[0:4], p[4:8], p[8])
    if kind == 'decompose':  # the matrix of scale, then x, y, z rotations, then translation,
        # followed by what taking it apart gives back: translation, angles in 0..360, scale
        t, angles, scale = p[0:3], p[3:6], p[6:9]
        m = np.identity(4)
        m[0:3, 0:3] = np.diag(scale) @ rotation(0, angles[0]) @ rotation(1, angles[1]) @ rotation(2, angles[2])
        m[3, 0:3] = t
        return list(m.flatten()) + list(t) + [a % 360 for a in angles] + list(scale)
    raise ValueError(kind)


for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    values = answer(words[0], [float(w) for w in words[1:]])
    print(' '.join('%.9g' % v for v in values))
