#!/usr/bin/env python3
# float32 simulation of the camera controller, written from the definitions:
# the strategy subcontroller's position drive, the fade and blend curves, shortest-arc
# slerp and the camera shake. One case per input line, one output line per case.
#
#   FIELDS(12) ; OP ; OP ...   the subcontroller's fields and operations, in decimals
#                              (see the test) -> after each op: p3 v3 mode currentMax
#   blend CURVE T Q0(4) Q1(4) P0(3) P1(3) FOV0 FOV1  -> k rotation(4) position(3) fov
#   shake E D P1 P2 P3 P4 P5 FLAGS                   -> out1 out2 out3
# Floats of blend and shake, and every output float, travel as 32-bit patterns in
# hexadecimal.
import math
import struct
import sys

import numpy as np

f32 = np.float32
PI = f32(3.14159265)
TICKS_PER_SECOND = 10000000.0


def f(h):
    return f32(struct.unpack("<f", struct.pack("<I", int(h, 16)))[0])


def bits(x):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(f32(x))))[0]


def vec(values):
    return np.array([f32(v) for v in values] + [f32(0)] * (4 - len(values)), dtype=np.float32)


def dec(words):
    return [f32(float(w)) for w in words]


def length3(v):
    return f32(np.sqrt(f32(f32(v[0] * v[0] + v[1] * v[1]) + v[2] * v[2])))


def dot3(a, b):
    return f32(f32(a[0] * b[0] + a[1] * b[1]) + a[2] * b[2])


def xyz(v):
    return np.array([v[0], v[1], v[2], f32(0)], dtype=np.float32)


def fade_curve(curve, t):
    if curve == 1:
        return f32(np.sin(f32(f32(t * PI) * f32(0.5))))
    if curve == 2:
        return f32(1) - f32(np.sin(f32(f32((f32(1) - t) * PI) * f32(0.5))))
    if curve == 3:
        return f32(0.5) * f32(np.sin(f32((t - f32(0.5)) * PI)) + f32(1))
    return t


class RTS:
    def __init__(self, fields):
        v = dec(fields)
        self.pos, self.vel = vec(v[0:3]), vec(v[3:6])
        self.accel, self.brake, self.damping, self.tmax, self.cmax = v[6:11]
        self.real_time = v[11] != 0
        self.lerp = f32(1)
        self.mode = 0
        self.target = vec([])
        self.fade = None

    def step(self, delta, multiplier):
        if not self.real_time:
            return delta
        return delta / multiplier if multiplier != 0 else f32(0)

    def speed(self):
        return length3(self.vel)

    def stopping_point(self):
        s = self.speed()
        b = self.brake
        with np.errstate(all="ignore"):
            k = s / b
            return self.pos + self.vel * k - self.vel * (b / s) * (k * k) * f32(0.5)

    def limit(self):
        s = self.speed()
        if s > self.cmax:
            self.vel = self.vel * f32(self.cmax / s)

    def update(self, dt_game, multiplier, substep, now_ticks):
        if substep != 0:
            return
        dt = self.step(dt_game, multiplier)
        if self.cmax < self.tmax:
            self.cmax = min(self.tmax, f32(self.cmax + self.accel * dt))
        elif self.cmax > self.tmax:
            self.cmax = max(self.tmax, f32(self.cmax - self.brake * dt))
        if self.mode == 1:
            d = xyz(self.target - self.pos)
            s = self.speed()
            if s > f32(0.001):
                with np.errstate(all="ignore"):
                    if dot3(self.stopping_point() - self.target, d) >= 0:
                        self.mode = 0
            s = max(s, f32(0.001))
            self.vel = self.vel * f32(max(f32(0), f32(s - self.brake * dt)) / s)
            if self.mode == 1:
                dist = length3(d)
                if dist <= f32(1):
                    self.mode = 0
                else:
                    direction = np.array([d[0] / dist, d[1] / dist, d[2] / dist, f32(0)], dtype=np.float32)
                    self.vel = self.vel + direction * self.accel * dt
                    self.limit()
        elif self.mode == 2:
            k = f32(1) - f32(np.power(f32(0.98), f32(self.lerp * dt)))
            self.pos = self.pos * (f32(1) - k) + self.target * k
            return
        elif self.mode == 3:
            if self.fade is None:  # put there at once
                self.mode = 0
                return
            start, end, t0, duration, curve = self.fade
            t = f32(f32(max(0.0, (now_ticks - t0) / TICKS_PER_SECOND)) / duration)
            if t > f32(1):
                self.pos = end
                self.mode = 0
            else:
                s = fade_curve(curve, t)
                self.pos = start * (f32(1) - s) + end * s
            return
        else:
            s = max(self.speed(), f32(0.001))
            factor = f32(f32(np.power(self.damping, dt)) * max(f32(0), f32(s - self.brake * dt))) / s
            self.vel = self.vel * f32(factor)
        self.pos = self.pos + self.vel * dt

    def run(self, w):
        name, a = w[0], dec(w[1:])
        if name == "u":
            self.update(a[0], a[1], int(w[3]), int(w[4]))
        elif name == "max":
            self.tmax = a[0]
            s = self.speed()
            self.cmax = s if s >= a[0] else a[0]
        elif name == "goto":
            target, mind, direction = vec(a[0:3]), a[3], (vec(a[4:7]) if len(a) > 4 else None)
            if self.mode == 1:
                if direction is None or dot3(xyz(target - self.target), direction) > 0:
                    self.target = target
                return
            to = xyz(target - self.pos)
            if length3(to) >= mind and (direction is None or dot3(to, direction) > 0):
                self.mode, self.target = 1, target
            else:
                self.mode = 0
        elif name == "lerp":
            self.mode, self.target, self.lerp, self.vel = 2, vec(a[0:3]), a[3], vec([])
        elif name == "tlerp":
            target, duration, curve, now = vec(a[0:3]), a[3], int(w[5]), int(w[6])
            self.mode, self.target, self.lerp, self.vel = 3, target, f32(0), vec([])
            if duration > 0:
                self.fade = (self.pos.copy(), target, now, duration, curve)
            else:
                self.pos = target
                self.fade = None
        elif name == "acc":
            acc, delta, multiplier = xyz(vec(a[0:3])), a[3], a[4]
            if len(a) > 5:
                lo, hi = vec(a[5:8]), vec(a[8:11])
                stop = self.stopping_point() if self.speed() > f32(0.0001) else self.pos
                for i in range(3):
                    if (stop[i] < lo[i] and acc[i] <= 0) or (stop[i] > hi[i] and acc[i] >= 0):
                        acc[i] = f32(0)
            self.vel = self.vel + acc * self.step(delta, multiplier)
            self.limit()
        elif name == "pos":
            self.pos, self.mode, self.vel = vec(a[0:3]), 0, vec([])
        else:
            sys.exit("unknown op " + name)


def slerp(a, b, t):
    d = f32(f32(f32(a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]) + a[3] * b[3])
    if d < 0:
        b, d = -b, -d
    if f32(1) - d <= f32(0.001):
        return a * (f32(1) - t) + b * t
    angle = np.arccos(np.float64(d))
    s = math.sin(angle)
    return a * f32(math.sin((1 - float(t)) * angle) / s) + b * f32(math.sin(float(t) * angle) / s)


def main():
    for line in sys.stdin:
        w = line.split()
        if not w:
            continue
        if w[0] == "blend":
            curve, t = int(w[1]), f(w[2])
            h = [f(x) for x in w[3:]]
            q0, q1, p0, p1, fov0, fov1 = vec(h[0:4]), vec(h[4:8]), vec(h[8:11]), vec(h[11:14]), h[14], h[15]
            k = t * t if (curve & 7) == 4 else fade_curve(curve & 7, t)
            q = slerp(q0, q1, k)
            p = p0 * (f32(1) - k) + p1 * k
            fov = fov0 * (f32(1) - k) + fov1 * k
            print(" ".join(bits(v) for v in [k, *q, *p[:3], fov]))
        elif w[0] == "shake":
            e, D, p1, p2, p3, p4, p5 = (f(x) for x in w[1:8])
            env = f32(1) if int(w[8]) & 8 else f32(np.sin(f32(f32(e / D) * PI)))
            a = env * f32(np.sin(f32(f32(f32(f32(2) * PI) * p3) * e)))
            b = env * f32(np.sin(f32(f32(f32(f32(2) * PI) * p4) * e)))
            print(" ".join(bits(v) for v in [p1 * a, p2 * b, (a + b) * p5]))
        else:
            parts = line.split(";")
            r = RTS(parts[0].split())
            out = []
            for op in parts[1:]:
                r.run(op.split())
                out += [bits(r.pos[0]), bits(r.pos[1]), bits(r.pos[2]), bits(r.vel[0]), bits(r.vel[1]),
                        bits(r.vel[2]), str(r.mode), bits(r.cmax)]
            print(" ".join(out))


main()
