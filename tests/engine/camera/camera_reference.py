#!/usr/bin/env python3
# Reference of the camera formulas in float64, written from the definitions with
# numpy's own matrix algebra: left-handed row-vector matrices (a point p becomes
# p @ M; translation in the fourth row), angles in degrees.
#   perspective EYE3 YAW PITCH W H                       -> view16 proj16
#   target TARGET3 YAW PITCH DIST FOV ZN ZF W H          -> view16 proj16, their
#                                                           inverses invview16 invviewproj16
#   game POS3 QUAT4 FOV ZN ZF W H                        -> view16 proj16
#   focus MIN3 MAX3 M16 FOV                              -> target3 distance
#   rotate YAW PITCH DYAW DPITCH                         -> yaw pitch
#   movelocal YAW PITCH OFFSET3                          -> offset3 in the world
#   listener WORLD16 ALTITUDE                            -> listener16, or "renderer"
#   frustum VIEW16 PROJ16                                -> six normalised planes
# Floats travel as 32-bit patterns in hexadecimal.
import math
import struct
import sys

import numpy as np

DEG = 0.017453292


def f(h):
    return struct.unpack("<f", struct.pack("<I", int(h, 16)))[0]


def out(values):
    print(" ".join("%08x" % struct.unpack("<I", struct.pack("<f", float(np.float32(v))))[0] for v in values))


def rot_x(deg):
    a = deg * DEG
    c, s = math.cos(a), math.sin(a)
    return np.array([[1, 0, 0, 0], [0, c, s, 0], [0, -s, c, 0], [0, 0, 0, 1]], dtype=np.float64)


def rot_y(deg):
    a = deg * DEG
    c, s = math.cos(a), math.sin(a)
    return np.array([[c, 0, -s, 0], [0, 1, 0, 0], [s, 0, c, 0], [0, 0, 0, 1]], dtype=np.float64)


def translation(t):
    m = np.identity(4)
    m[3, :3] = t
    return m


def aspect(w, h):
    return 1.0 if w == 0 or h == 0 else w / h


def perspective_lh(w, h, zn, zf):
    return np.array([[2 * zn / w, 0, 0, 0], [0, 2 * zn / h, 0, 0], [0, 0, zf / (zf - zn), 1],
                     [0, 0, zn * zf / (zn - zf), 0]])


def perspective_fov_lh(fov_deg, a, zn, zf):
    ys = 1.0 / math.tan(fov_deg * DEG / 2)
    return np.array([[ys / a, 0, 0, 0], [0, ys, 0, 0], [0, 0, zf / (zf - zn), 1], [0, 0, -zn * zf / (zf - zn), 0]])


def view_rotation(yaw, pitch):
    return rot_y(-yaw) @ rot_x(-pitch)


def quat_matrix(q, t):
    x, y, z, w = q
    m = np.array([
        [1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w), 0],
        [2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w), 0],
        [2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y), 0],
        [t[0], t[1], t[2], 1]])
    return m


def plane(p):
    return p / np.linalg.norm(p[:3])


def main():
    for line in sys.stdin:
        w = line.split()
        if not w:
            continue
        a = [f(x) for x in w[1:]]
        op = w[0]
        if op == "perspective":
            eye, yaw, pitch, vw, vh = a[0:3], a[3], a[4], a[5], a[6]
            view = translation(np.negative(eye)) @ view_rotation(yaw, pitch)
            proj = perspective_lh(0.01, 0.01 / aspect(vw, vh), 0.01, 100.0)
            out(list(view.flat) + list(proj.flat))
        elif op == "target":
            target, yaw, pitch, dist, fov, zn, zf, vw, vh = a[0:3], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10]
            forward = np.array([0, 0, 1, 0]) @ view_rotation(yaw, pitch).T
            eye = np.array(target) - forward[:3] * dist
            view = translation(-eye) @ view_rotation(yaw, pitch)
            proj = perspective_fov_lh(fov, aspect(vw, vh), zn, zf)
            inverses = list(np.linalg.inv(view).flat) + list(np.linalg.inv(view @ proj).flat)
            out(list(view.flat) + list(proj.flat) + inverses)
        elif op == "game":
            pos, q, fov, zn, zf, vw, vh = a[0:3], a[3:7], a[7], a[8], a[9], a[10], a[11]
            view = np.linalg.inv(quat_matrix(q, pos))
            proj = perspective_fov_lh(fov, aspect(vw, vh), zn, zf)
            out(list(view.flat) + list(proj.flat))
        elif op == "focus":
            mn, mx, m, fov = np.array(a[0:3]), np.array(a[3:6]), np.array(a[6:22]).reshape(4, 4), a[22]
            centre = np.append((mn + mx) / 2, 1) @ m
            corner = np.append(mx, 1) @ m
            out(list(centre[:3]) + [np.linalg.norm(corner[:3] - centre[:3]) / math.tan(fov * DEG / 2)])
        elif op == "rotate":
            yaw = math.fmod(a[0] + a[2], 360.0)
            pitch = min(max(math.fmod(a[1] + a[3], 360.0), -90.0), 90.0)
            out([yaw, pitch])
        elif op == "movelocal":
            out(list((np.append(a[2:5], 0) @ view_rotation(a[0], a[1]).T)[:3]))
        elif op == "listener":
            world, altitude = np.array(a[0:16]).reshape(4, 4), a[16]
            up, forward, eye = world[1], world[2], world[3]
            if forward[1] > -0.05:
                print("renderer")
                continue
            ground = eye + forward * (eye[1] / abs(forward[1]))
            ground[1], ground[3] = altitude, 1
            source = forward if forward[1] >= -0.707 else up
            lf = np.array([source[0], 0, source[2], 0])
            lf /= np.linalg.norm(lf)
            lu = np.array([0, -1, 0, 0])
            side = np.append(np.cross(lf[:3], lu[:3]), 0)
            out(list(side) + list(lu) + list(lf) + list(ground))
        elif op == "frustum":
            m = np.array(a[0:16]).reshape(4, 4) @ np.array(a[16:32]).reshape(4, 4)
            c = [m[:, j] for j in range(4)]
            planes = [c[2], c[3] - c[2], c[3] + c[0], c[3] - c[0], c[3] + c[1], c[3] - c[1]]
            out([v for p in planes for v in plane(p)])
        else:
            sys.exit("unknown case: " + line)


main()
