#!/usr/bin/env python3
# float32 simulation of the camera controller, written from the definitions:
# the strategy subcontroller's position drive, the fade and blend curves, shortest-arc
# slerp and the camera shake. One JSON case per input line, one output line per case;
# floats travel as 32-bit patterns in hexadecimal.
#
#   {"rts": {initial fields}, "ops": [[op, args...], ...]}   (times in counter ticks)
#       -> after each op: px py pz vx vy vz mode currentMax
#   {"blend": [curve, t, q0(4), q1(4), p0(3), p1(3), fov0, fov1]}
#       -> k, rotation(4), position(3), fov
#   {"shake": [e, D, p1, p2, p3, p4, p5, flags]} -> out1 out2 out3
import json
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


def vec(hexes):
    return np.array([f(h) for h in hexes] + [f32(0)] * (4 - len(hexes)), dtype=np.float32)


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
    def __init__(self, init):
        g = lambda k, d: f(init[k]) if k in init else f32(d)
        self.pos = vec(init.get("position", ["0", "0", "0"]))
        self.vel = vec(init.get("velocity", ["0", "0", "0"]))
        self.accel = g("acceleration", 10)
        self.brake = g("braking", 10)
        self.damping = g("damping", 1)
        self.tmax = g("targetMax", 1)
        self.cmax = g("currentMax", 1)
        self.lerp = f32(1)
        self.mode = 0
        self.target = vec(["0", "0", "0"])
        self.real_time = bool(init.get("realTime", False))
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

    def run(self, op):
        name, a = op[0], op[1:]
        if name == "update":
            self.update(f(a[0]), f(a[1]), int(a[2]), int(a[3]) if len(a) > 3 else 0)
        elif name == "setmax":
            v = f(a[0])
            self.tmax = v
            s = self.speed()
            self.cmax = s if s >= v else v
        elif name == "goto":
            target, mind, direction = vec(a[0]), f(a[1]), (vec(a[2]) if a[2] else None)
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
            self.mode, self.target, self.lerp, self.vel = 2, vec(a[0]), f(a[1]), vec([])
        elif name == "timelerp":
            target, duration, curve, now = vec(a[0]), f(a[1]), int(a[2]), int(a[3])
            self.mode, self.target, self.lerp, self.vel = 3, target, f32(0), vec([])
            if duration > 0:
                self.fade = (self.pos.copy(), target, now, duration, curve)
            else:
                self.pos = target
                self.fade = None
        elif name == "accel":
            acc, bounds, delta, multiplier = xyz(vec(a[0])), a[1], f(a[2]), f(a[3])
            if bounds:
                lo, hi = vec(bounds[0]), vec(bounds[1])
                stop = self.stopping_point() if self.speed() > f32(0.0001) else self.pos
                for i in range(3):
                    if (stop[i] < lo[i] and acc[i] <= 0) or (stop[i] > hi[i] and acc[i] >= 0):
                        acc[i] = f32(0)
            self.vel = self.vel + acc * self.step(delta, multiplier)
            self.limit()
        elif name == "setpos":
            self.pos, self.mode, self.vel = vec(a[0]), 0, vec([])
        else:
            sys.exit("unknown op " + name)
        return None


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
        if not line.strip():
            continue
        case = json.loads(line)
        if "rts" in case:
            r = RTS(case["rts"])
            words = []
            for op in case["ops"]:
                r.run(op)
                words += [bits(r.pos[0]), bits(r.pos[1]), bits(r.pos[2]), bits(r.vel[0]), bits(r.vel[1]),
                          bits(r.vel[2]), str(r.mode), bits(r.cmax)]
            print(" ".join(words))
        elif "blend" in case:
            c = case["blend"]
            curve, t = int(c[0]), f(c[1])
            q0, q1, p0, p1 = vec(c[2]), vec(c[3]), vec(c[4]), vec(c[5])
            fov0, fov1 = f(c[6]), f(c[7])
            k = t * t if (curve & 7) == 4 else fade_curve(curve & 7, t)
            q = slerp(q0, q1, k)
            p = p0 * (f32(1) - k) + p1 * k
            fov = fov0 * (f32(1) - k) + fov1 * k
            print(" ".join(bits(v) for v in [k, *q, *p[:3], fov]))
        elif "shake" in case:
            e, D, p1, p2, p3, p4, p5 = (f(x) for x in case["shake"][:7])
            flags = int(case["shake"][7])
            env = f32(1) if flags & 8 else f32(np.sin(f32(f32(e / D) * PI)))
            a = env * f32(np.sin(f32(f32(f32(f32(2) * PI) * p3) * e)))
            b = env * f32(np.sin(f32(f32(f32(f32(2) * PI) * p4) * e)))
            print(" ".join(bits(v) for v in [p1 * a, p2 * b, (a + b) * p5]))
        else:
            sys.exit("unknown case")


main()
