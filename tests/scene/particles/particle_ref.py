#!/usr/bin/env python3
"""Float32 model of the particle runtime's ring, integrator and shared spawners, written
from the runtime's description, for the particle runtime tests.

Input, one command a line (floats as 8-hex-digit float32 bit patterns, integers decimal):
  G <size> <seed0> <seed1> <seed2> <seed3>
      the globals: a ring of size records, no pause ring, the four generators' states.
  I <id> <rate> <life> <lifeVar> <emitter size xyz> <vel xyz> <velVar xyz>
    <global gravity xyz> <local gravity xyz> <damping> <local 0|1> <world 16 floats>
      a new instance of those definition values at that world matrix, linked last (a
      local-space instance has no global gravity).
  S <id>    starts emitting          T <id>    stops emitting
  D <id>    destroys the instance    M <id> <world 16 floats>   moves it
  U <dt>    one frame of dt on every clock; answers one line:
      <first run start> <live count> then per live instance "<id>:<run start>:<count>",
      then every live record in ring order from the first run start as 10 words
      (death, spawn, inverse lifetime, random bits, position xyz, velocity xyz).
Rules modelled: the time step in clock ticks of 2^-20 s, the rebase every 120 to 180 s,
the dead test on the time bit patterns, v' = (v + g dt) d^dt and p' = p + v' dt with g
from the global and world-transformed local gravity (world space) or local gravity
(local space, global gravity 0 here) times the world scale, the packing of the runs
behind each other, the budget of each instance (free minus one, then old minus new), the
spawn count from the time since the last spawn (catch-up limit, off-screen fade, cap and
budget), the even spread with the emitter blended from the previous to the current
matrix, and the pre-advance by each particle's age.
"""
import ctypes
import ctypes.util
import math
import struct
import sys

import numpy as np

np.seterr(all="ignore")
F = np.float32
TICKS = 1 << 20
# The damping power is the C library's single-precision pow (numpy's own rounds
# differently in the last place).
LIBM = ctypes.CDLL(ctypes.util.find_library("m"))
LIBM.powf.restype = ctypes.c_float
LIBM.powf.argtypes = [ctypes.c_float, ctypes.c_float]


def powf(x, y):
    return F(LIBM.powf(float(x), float(y)))


def bitsf(h):
    return struct.unpack("<f", struct.pack("<I", int(h, 16)))[0]


def fbits(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(F(v))))[0]


def ubits(v):
    return struct.unpack("<I", struct.pack("<f", float(F(v))))[0]


def ticks(seconds):
    # llround of a double
    x = float(seconds) * TICKS
    return int(math.floor(x + 0.5)) if x >= 0 else -int(math.floor(-x + 0.5))


class Gen:
    def __init__(self, state):
        self.state = state & 0xFFFFFFFF

    def next(self):
        old = self.state
        self.state = (old * 214013 + 2531011) & 0xFFFFFFFF
        return old >> 16

    def fraction(self):
        return F(self.next()) * F(1.0 / 65536.0)


def transform(m, v, w):
    """(v.x, v.y, v.z, w) times the row matrix m, left to right as the engine adds."""
    out = []
    for c in range(3):
        out.append(F(F(F(F(v[0] * m[0][c]) + F(v[1] * m[1][c])) + F(v[2] * m[2][c])) + F(F(w) * m[3][c])))
    return out


class Instance:
    def __init__(self, words, world):
        f = [F(bitsf(w)) for w in words[:19]]
        self.rate = f[0]
        life, var = f[1], f[2]
        self.shortest = max(F(life - var), F(0.0001))
        self.spread = F(F(2.0) * var)
        self.multiplier = F(1.0)
        self.emin = [F(-x) for x in f[3:6]]
        self.emax = list(f[3:6])
        self.vmin = [F(f[6 + i] - f[9 + i]) for i in range(3)]
        self.vspread = [F(F(2.0) * f[9 + i]) for i in range(3)]
        self.gg = f[12:15]
        self.lg = f[15:18]
        self.damping = f[18]
        self.local = int(words[19]) != 0
        self.set_matrix(world)
        self.previous = self.world
        self.clock = 0
        self.time_base = 0
        self.next_rebase = 0
        self.last_spawn = 0
        self.base_set = False
        self.spawning = False
        self.carried = F(0.0)
        self.run_start = 0
        self.count = 0
        self.last_drawn_time = 0.0
        self.accel = [F(0.0)] * 3

    def set_matrix(self, m):
        self.world = m
        self.scale = [F(np.sqrt(F(F(F(m[i][0] * m[i][0]) + F(m[i][1] * m[i][1])) + F(m[i][2] * m[i][2]))))
                      for i in range(3)]

    def now(self):
        return F((self.clock - self.time_base) / TICKS)

    def longest(self):
        return F(max(F(self.shortest * self.multiplier), F(0.0001)) + self.spread)


class Runtime:
    def __init__(self, size, seeds):
        self.size = size
        self.ring = [None] * size
        self.gens = [Gen(s) for s in seeds]
        self.live = []
        self.live_count = 0
        self.first = 0
        self.factor = F(1.0)
        self.clocks = [0.0, 0.0, 0.0]

    def start(self, inst):
        if not inst.base_set:
            inst.time_base = inst.clock
            inst.next_rebase = inst.clock + ticks(120.0 + 60.0 * float(self.gens[3].fraction()))
            inst.base_set = True
        inst.previous = inst.world
        inst.spawning = bool(inst.rate > F(0.001))
        if inst.spawning:
            inst.last_spawn = inst.clock - int(math.ceil(F(F(TICKS) / inst.rate)))

    def update_all(self, dt):
        dt = F(dt)
        for i in range(3):
            self.clocks[i] += float(dt)
        free = self.size - self.live_count
        f = min(F(F(F(free) / F(self.size)) * F(5.0)), F(1.0))
        self.factor = F(f * F(1.0))
        write = (self.first + self.live_count) % self.size
        budget = free
        total = 0
        for inst in list(self.live):
            before = inst.count
            n = self.update(inst, write, budget - 1, dt)
            write = (write + n) % self.size
            budget += before - inst.count
            total += n
        self.first = self.live[0].run_start if self.live else 0
        self.live_count = total

    def update(self, inst, write, budget, frame):
        size = self.size
        dt = F(inst.carried + frame)
        dt = max(dt, F(0.0))
        inst.carried = F(0.0)
        inst.clock += ticks(float(dt))
        if inst.base_set and inst.clock > inst.next_rebase:
            new_base = inst.clock - ticks(float(inst.longest()) + 1.0)
            if new_base > inst.time_base:
                shift = F((new_base - inst.time_base) / TICKS)
                for i in range(inst.count):
                    r = self.ring[(inst.run_start + i) % size]
                    r[0] = F(r[0] - shift)
                    r[1] = F(r[1] - shift)
                inst.time_base = new_base
            inst.next_rebase = inst.clock + ticks(120.0 + 60.0 * float(self.gens[3].fraction()))
        if inst.local:
            # the global gravity through the inverse matrix is zero here
            a = [F(F(0.0) + inst.lg[c]) for c in range(3)]
        else:
            t = transform(inst.world, inst.lg, 0.0)
            a = [F(t[c] + inst.gg[c]) for c in range(3)]
        inst.accel = [F(a[c] * inst.scale[c]) for c in range(3)]
        kept = 0
        if inst.count:
            now_bits = ubits(inst.now())
            d = powf(inst.damping, dt)
            k = inst.accel
            src = [list(self.ring[(inst.run_start + i) % size]) for i in range(inst.count)]
            w = write
            for r in src:
                if ubits(r[0]) <= now_bits:
                    continue
                out = list(r)
                for c in range(3):
                    v = F(F(r[7 + c] + F(k[c] * dt)) * d)
                    out[7 + c] = v
                    out[4 + c] = F(r[4 + c] + F(v * dt))
                self.ring[w] = out
                w = (w + 1) % size
                kept += 1
        inst.run_start = write
        inst.count = kept
        if inst.spawning:
            self.spawn(inst, budget)
        return inst.count

    def spawn(self, inst, budget):
        t = (inst.clock - inst.last_spawn) / TICKS
        if t > float(inst.shortest):
            inst.last_spawn = inst.clock - ticks(float(inst.shortest))
            t = float(inst.shortest)
        since = self.clocks[1] - inst.last_drawn_time
        fade = min(max(F(F(1.0) - F(F(F(since) - F(3.0)) * F(0.2))), F(0.0)), F(1.0))
        rate = F(F(F(F(F(0.7) * fade) + F(0.3)) * inst.rate) * F(1.0))
        rate = F(rate * self.factor)
        longest = F(F(inst.shortest * inst.multiplier) + inst.spread)
        cap = min(int(F(F(longest * inst.rate) * F(1.0))), 65536)
        wanted = int(F(rate * F(t)))
        if cap < inst.count:
            return
        n = min(wanted, cap - inst.count, max(budget, 0))
        if n <= 0:
            return
        first = (inst.run_start + inst.count) % self.size
        start = F((inst.last_spawn - inst.time_base) / TICKS)
        spacing = F(t / n)
        blend = F(F(1.0) / F(n))
        step = blend
        now = inst.now()
        g0, g1, g2, g3 = self.gens
        k = inst.accel
        at = first
        for i in range(n):
            time = F(start + F(F(i + 1) * spacing))
            life = F(F(g0.fraction() * inst.spread) + F(inst.shortest * inst.multiplier))
            life = max(life, F(0.0001))
            rec = [F(time + life), time, F(F(1.0) / life), g0.next() & 0xFFFFFFFF]
            axis = (g1, g2, g3)
            p = [F(inst.emin[c] + F(axis[c].fraction() * F(inst.emax[c] - inst.emin[c]))) for c in range(3)]
            v = [F(inst.vmin[c] + F(axis[c].fraction() * inst.vspread[c])) for c in range(3)]
            if not inst.local:
                a = transform(inst.previous, p, 1.0)
                b = transform(inst.world, p, 1.0)
                p = [F(a[c] + F(F(b[c] - a[c]) * blend)) for c in range(3)]
                a = transform(inst.previous, v, 0.0)
                b = transform(inst.world, v, 0.0)
                v = [F(a[c] + F(F(b[c] - a[c]) * blend)) for c in range(3)]
            age = F(now - time)
            half = F(F(0.5) * age)
            p = [F(p[c] + F(F(v[c] + F(k[c] * half)) * age)) for c in range(3)]
            v = [F(v[c] + F(k[c] * age)) for c in range(3)]
            self.ring[at] = rec + p + v
            blend = F(blend + step)
            at = (at + 1) % self.size
        end = F(start + F(F(n) * spacing))
        inst.count += n
        inst.previous = inst.world
        inst.last_spawn = inst.time_base + ticks(float(end))

    def state(self):
        words = [str(self.first), str(self.live_count)]
        for inst in self.live:
            words.append("%d:%d:%d" % (inst.ident, inst.run_start, inst.count))
        for i in range(self.live_count):
            r = self.ring[(self.first + i) % self.size]
            words += [fbits(r[0]), fbits(r[1]), fbits(r[2]), "%08x" % r[3]] + [fbits(x) for x in r[4:10]]
        return " ".join(words)


def matrix(words):
    f = [F(bitsf(w)) for w in words]
    return [f[0:4], f[4:8], f[8:12], f[12:16]]


def main():
    rt = None
    instances = {}
    out = []
    for line in sys.stdin:
        w = line.split()
        if not w:
            continue
        c = w[0]
        if c == "G":
            rt = Runtime(int(w[1]), [int(x) for x in w[2:6]])
        elif c == "I":
            inst = Instance(w[2:22], matrix(w[22:38]))
            inst.ident = int(w[1])
            inst.last_drawn_time = rt.clocks[1]
            instances[inst.ident] = inst
            rt.live.append(inst)
        elif c == "S":
            rt.start(instances[int(w[1])])
        elif c == "T":
            instances[int(w[1])].spawning = False
        elif c == "D":
            rt.live.remove(instances.pop(int(w[1])))
        elif c == "M":
            instances[int(w[1])].set_matrix(matrix(w[2:18]))
        elif c == "U":
            rt.update_all(bitsf(w[1]))
            out.append(rt.state())
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
