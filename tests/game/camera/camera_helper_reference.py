#!/usr/bin/env python3
# Reference model of the camera helper's framing in numpy.float32, written from the rules.
# The view is the inverse of the camera's rotation-and-position matrix and the projection
# the left-handed perspective of the field of view (degrees), aspect, near and far; the
# side planes are the columns of view x projection (row vectors), w + x, w - x, w + y,
# w - y, each divided by the length of its normal. Floats travel as 32-bit patterns in
# hexadecimal.
#
# One case per line:
#   QX QY QZ QW FOV MIN MAX MARGIN ASPECT NEAR FAR MAIN N P(4 x N)
#       MAIN: the main object's index, N or more for none.
# Answer: "false", or "true" LX LY LZ LW DISTANCE.
import struct
import sys

import numpy as np

F = np.float32


def f(h):
    return F(struct.unpack("<f", struct.pack("<I", int(h, 16)))[0])


def h(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(v)))[0]


def rotation(q):
    x, y, z, w = q
    return np.array([
        [1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)],
        [2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)],
        [2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)],
    ], dtype=F)


def side_planes(r, eye, fov, aspect, near, far):
    view = np.zeros((4, 4), dtype=F)
    view[:3, :3] = r.T
    view[3, :3] = -(eye[:3] @ r.T)
    view[3, 3] = 1
    half = F(np.radians(F(fov))) * F(0.5)
    ys = F(np.cos(half) / np.sin(half))
    proj = np.zeros((4, 4), dtype=F)
    proj[0, 0] = ys / F(aspect)
    proj[1, 1] = ys
    proj[2, 2] = F(far) / F(far - near)
    proj[2, 3] = 1
    proj[3, 2] = -F(near) * F(far) / F(far - near)
    m = (view @ proj).astype(F)
    x, y, w = m[:, 0], m[:, 1], m[:, 3]
    planes = []
    for p in (w + x, w - x, w + y, w - y):
        length = F(np.sqrt(F(p[:3] @ p[:3])))
        planes.append(p / length if length > 0 else p)
    return planes


def needed(plane, p, at, back, margin):
    s = F(F(plane[:3] @ p[:3]) + plane[3] - margin)
    along = F(plane[:3] @ back[:3])
    if along == 0:
        return s, None
    t = F(-(F(plane[:3] @ at[:3]) + F(plane[3] - s)) / along)
    return s, (t if np.isfinite(t) else None)


def fit(q, fov, mn, mx, margin, aspect, near, far, main, points):
    if not points:
        return None
    if len(points) == 1:
        return points[0], mn
    r = rotation(q)
    back = np.append(-r[2], F(0)).astype(F)
    pts = np.array(points, dtype=F)
    at = ((pts.min(axis=0) + pts.max(axis=0)) * F(0.5)).astype(F)
    at[1] = 0
    planes = side_planes(r, at + back * F(mn), fov, aspect, near, far)
    d = F(0)
    for p in pts:
        for plane in planes:
            _, t = needed(plane, p, at, back, margin)
            if t is not None:
                d = max(d, t)
    result = max(d, F(mn))
    if d > mx and main < len(points):
        result = F(mx)
        planes = side_planes(r, at + back * F(mx), fov, aspect, near, far)
        start = at.copy()
        for plane in planes:
            plane = plane.copy()
            plane[3] = F(plane[3] - F(plane[:3] @ (at - start)[:3]))
            s, t = needed(plane, pts[main], at, back, margin)
            if t is None or not t > mx:
                continue
            u = -plane[:3]
            u = u / F(np.sqrt(F(u @ u)))
            hz = np.array([u[0], 0, u[2]], dtype=F)
            hl = F(np.sqrt(F(hz @ hz)))
            if not hl > 0:
                continue
            hz = hz / hl
            hu = F(hz @ u)
            if hu == 0:
                continue
            at[:3] = at[:3] + hz * F(-s / hu)
    if not np.all(np.isfinite(at)) or not np.isfinite(result):
        return None
    return at, result


def main():
    with np.errstate(all="ignore"):
        for line in sys.stdin:
            v = line.split()
            if not v:
                continue
            q = [f(x) for x in v[0:4]]
            fov, mn, mx, margin, aspect, near, far = (f(x) for x in v[4:11])
            mainIndex, n = int(v[11]), int(v[12])
            points = [np.array([f(x) for x in v[13 + 4 * i:17 + 4 * i]], dtype=F) for i in range(n)]
            r = fit(q, fov, mn, mx, margin, aspect, near, far, mainIndex, points)
            if r is None:
                print("false")
            else:
                print("true " + " ".join(h(x) for x in r[0]) + " " + h(r[1]))


main()
