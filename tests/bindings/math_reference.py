#!/usr/bin/env python3
"""Reference values of the maths package's operations, computed with numpy in double
precision from float32 inputs. One case per input line: a kind and its numbers; one
output line per case with the expected numbers (%.9g), or "skip" where the answer
hangs on float rounding."""
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


# Margins this close to a decision boundary (but not on it) are left to float rounding.
AMBIGUOUS = 1e-4
# The parallel threshold of the plane projections, as the float the engine compares with.
PARALLEL = float(np.float32(0.001))


def flag(b):
    return 1 if b else 0


def near(margin):
    return 0 < abs(margin) < AMBIGUOUS


def along_onto_plane(direction, point, plane, forward):
    """The point moved along the direction onto the plane n.p + w = 0: [hit, x, y, z],
    or [0, 7, 7, 7] (the sentinel left alone) when parallel or, going forward only, behind."""
    dn = direction[0:3].dot(plane[0:3])
    if 0 < abs(abs(dn) - PARALLEL) < 1e-6:
        return None
    if abs(dn) <= PARALLEL:
        return [0, 7, 7, 7]
    t = -(point[0:3].dot(plane[0:3]) + plane[3]) / dn
    if forward and near(t):
        return None
    if forward and t < 0:
        return [0, 7, 7, 7]
    return [1] + list(point[0:3] + direction[0:3] * t)


def placed(mn, mx, m):
    """A box placed by a matrix: centre and the three half-edge vectors."""
    c = np.append((mn + mx) / 2, 1).dot(m)[0:3]
    return c, [m[i, 0:3] * (mx[i] - mn[i]) / 2 for i in range(3)]


def overlap_margin(a, b):
    """Largest gap between two parallelepipeds over the separating axes (<= 0: overlap)."""
    (ca, ea), (cb, eb) = a, b
    axes = [np.cross(e[(i + 1) % 3], e[(i + 2) % 3]) for e in (ea, eb) for i in range(3)]
    axes += [np.cross(u, v) for u in ea for v in eb]
    gap = -np.inf
    for axis in axes:
        length = np.linalg.norm(axis)
        if length < 1e-9:
            continue
        radius = sum(abs(e.dot(axis)) for e in ea) + sum(abs(e.dot(axis)) for e in eb)
        gap = max(gap, (abs((cb - ca).dot(axis)) - radius) / length)
    return gap


def segment_entry(mn, mx, a, b):
    """Entry parameter of the segment a..b into the box (bounds inclusive) and the
    margin by which it hits (> 0) or misses (< 0)."""
    d = b - a
    t0, t1, inside = 0.0, 1.0, np.inf
    for i in range(3):
        if d[i] == 0:
            inside = min(inside, a[i] - mn[i], mx[i] - a[i])
            continue
        ta, tb = sorted(((mn[i] - a[i]) / d[i], (mx[i] - a[i]) / d[i]))
        t0, t1 = max(t0, ta), min(t1, tb)
    length = np.linalg.norm(d)
    margin = min(inside, (t1 - t0) * length if length > 0 else np.inf)
    return t0, margin


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
    if kind == 'projectalong':  # direction, point, plane
        return along_onto_plane(p[0:4], p[4:8], p[8:12], False)
    if kind == 'projectforward':  # plane, origin, direction
        return along_onto_plane(p[8:12], p[4:8], p[0:4], True)
    if kind == 'transformplane':  # the plane as a row vector times the matrix
        return p[0:4].dot(p[4:20].reshape(4, 4))
    if kind == 'planefrompoints':  # normal = unit (c - b) x (a - b), a on the plane
        a, b, c = p[0:3], p[4:7], p[8:11]
        normal = np.cross(c - b, a - b)
        square = normal.dot(normal)
        if 0 < abs(square - 1e-6) < 1e-8:
            return None
        if square < 1e-6:
            return [0]
        normal = normal / np.sqrt(square)
        return [1] + list(normal) + [-normal.dot(a)]
    if kind == 'expand3d':  # an empty or given box grown by a box placed by a matrix
        empty, own, mn, mx, m = p[0], p[1:7], p[7:10], p[10:13], p[13:29].reshape(4, 4)
        corners = [np.array([x, y, z, 1.0]).dot(m)[0:3] for x in (mn[0], mx[0]) for y in (mn[1], mx[1])
                   for z in (mn[2], mx[2])]
        if not empty:
            corners += [own[0:3], own[3:6]]
        return list(np.min(corners, axis=0)) + list(np.max(corners, axis=0))
    if kind == 'boxcollide':  # box, its matrix, other box, its matrix
        gap = overlap_margin(placed(p[0:3], p[3:6], p[6:22].reshape(4, 4)),
                             placed(p[22:25], p[25:28], p[28:44].reshape(4, 4)))
        return None if near(gap) else [flag(gap <= 0)]
    if kind == 'segment':  # box min, max, a, b: both forms, then the entry point
        mn, mx, a, b = p[0:4], p[4:8], p[8:12], p[12:16]
        t, margin = segment_entry(mn, mx, a, b)
        if near(margin):
            return None
        if margin < 0:
            return [0, 0]
        return [1, 1] + list(a[0:3] + (b[0:3] - a[0:3]) * t)
    if kind == 'inside':  # box min, max, point, other min, other max
        mn, mx, q, omn, omx = p[0:4], p[4:8], p[8:12], p[12:16], p[16:20]

        def within(v, k):
            return all(mn[i] <= v[i] <= mx[i] for i in range(k))
        return [flag(within(q, 3)), flag(within(q, 4)), flag(within(omn, 3) and within(omx, 3)),
                flag(within(omn, 4) and within(omx, 4))]
    if kind == 'nearest':  # the point clamped into the box
        return list(np.minimum(np.maximum(p[8:11], p[0:3]), p[4:7]))
    if kind == 'obb':  # centre, three half-axes, point: inside, then the closest point
        c, axes, q = p[0:3], [p[4:7], p[8:11], p[12:15]], p[16:19]
        coords = [(q - c).dot(e) / e.dot(e) for e in axes]
        if any(near(1 - abs(t)) for t in coords):
            return None
        closest = c + sum(np.clip(t, -1, 1) * e for t, e in zip(coords, axes))
        return [flag(all(abs(t) <= 1 for t in coords))] + list(closest)
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
    print('skip' if values is None else ' '.join('%.9g' % v for v in values))
