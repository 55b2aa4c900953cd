#!/usr/bin/env python3
"""Reference of a segment against triangles in float64 with numpy (Moller-Trumbore):
a triangle counts when the segment crosses it against its normal (b - a) x (c - a), or
from either side when two-sided; the nearest t in [0, 1] wins, or with "binary" the
first triangle hit in order.

stdin: {"vertices": [[x, y, z]], "triangles": [[a, b, c]], "rays": [[fx, fy, fz, tx, ty, tz]],
        "twoSided": bool, "binary": bool}
Output per ray: "miss", "edge" (within 1e-4 of an edge, or of t = 0 or 1: not compared),
or "hit t nx ny nz".
"""
import json
import sys

import numpy as np


def main():
    request = json.load(sys.stdin)
    v = np.array(request["vertices"], dtype=np.float64)
    tris = request["triangles"]
    for ray in request["rays"]:
        o, e = np.array(ray[:3]), np.array(ray[3:])
        d = e - o
        best, normal, edge = 1.0, None, False
        for a, b, c in tris:
            pa, pb, pc = v[a], v[b], v[c]
            n = np.cross(pb - pa, pc - pa)
            side = np.dot(n, d)
            if side == 0 or (side > 0 and not request["twoSided"]):
                continue
            e1, e2 = pb - pa, pc - pa
            p = np.cross(d, e2)
            det = np.dot(e1, p)
            s = o - pa
            u = np.dot(s, p) / det
            q = np.cross(s, e1)
            w = np.dot(d, q) / det
            t = np.dot(e2, q) / det
            scale = max(1.0, np.linalg.norm(d))
            near = min(abs(u), abs(w), abs(1 - u - w)) < 1e-4 * scale
            inside = u >= 0 and w >= 0 and u + w <= 1
            if near and (-1e-4 <= t <= best + 1e-4):
                edge = True
            if not inside or t < 0 or t > best:
                if abs(t) < 1e-4 or abs(t - best) < 1e-4:
                    edge = edge or inside
                continue
            if abs(t) < 1e-4 or abs(t - best) < 1e-4:
                edge = True
            best, normal = t, n
            if request["binary"]:
                break
        if edge:
            print("edge")
        elif normal is None:
            print("miss")
        else:
            print("hit %.9g %.9g %.9g %.9g" % (best, normal[0], normal[1], normal[2]))


if __name__ == "__main__":
    main()
