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


def answer(kind, n):
    if kind in ('inverse', 'det', 'transform'):
        m = np.array(n[:16], dtype=np.float32).astype(np.float64).reshape(4, 4)
        if kind == 'inverse':
            return np.linalg.inv(m).flatten()
        if kind == 'det':
            return [np.linalg.det(m)]
        v = np.array(n[16:20], dtype=np.float32).astype(np.float64)
        return v.dot(m)  # a row vector times the matrix
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
    raise ValueError(kind)


for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    values = answer(words[0], [float(w) for w in words[1:]])
    print(' '.join('%.9g' % v for v in values))
