#!/usr/bin/env python3
"""Float32 envelope player, written from the envelope description, for the envelope tests.

Input, one command a line (floats as 8-hex-digit float32 bit patterns):
  E <V|C> <interp> <combine> <enabled> <nT> T.. <nK> keys.. <nL> (start end name).. constant
      a new envelope (V: key = 4 floats; C: key = r g b a intensity) and an all-zero state;
      a name "-" is the empty name. Answers nothing.
  A <dt>        advance;            answers: time key-index current-loop mask finished value..
  B <name|*>    break a loop (* = every loop);  answers the same with finished "-"
  R <name|*>    activate a loop (* = every loop) and restart;  the same
Data the player has to work around: loops with End <= Start are never current and never
wrap, only loops 0-31 take part, the key count is min(times, keys), an interpolation type
above 2 plays as "None".
"""
import struct
import sys

import numpy as np

np.seterr(all="ignore")
F = np.float32
ONE = F(1.0)
UNIT = F(1024.0)


def fbits(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(F(v))))[0]


def bitsf(h):
    return F(struct.unpack("<f", struct.pack("<I", int(h, 16)))[0])


def key_time(t):
    units = F(t) * UNIT
    if not units > 0:
        return 0
    if units >= F(4294967296.0):
        return 0xFFFFFFFF
    return int(units)


def seconds(kt):
    return F(kt) / UNIT


# --- colours: four 8-bit channels and a float intensity ------------------------------

def weight(f):
    v = F(f) * F(255.0) + F(0.5)
    if not v > F(-65536.0):
        v = F(-65536.0)
    if v > F(65536.0):
        v = F(65536.0)
    return int(v)  # toward zero


def sat(v):
    return 0 if v < 0 else (255 if v > 255 else v)


def tdiv(a, b):
    q = abs(a) // b
    return q if a >= 0 else -q


class Color:
    def __init__(self, c, i):
        self.c = list(c)
        self.i = F(i)

    def words(self):
        return ["%d" % x for x in self.c] + [fbits(self.i)]


def c_lerp(a, b, f):
    k = weight(f)
    return Color([sat(a.c[n] + tdiv((b.c[n] - a.c[n]) * k, 255)) for n in range(4)], a.i + (b.i - a.i) * F(f))


def c_set_scaled(d, f):
    k = weight(f)
    return Color([sat(tdiv(d.c[n] * k, 255)) for n in range(4)], d.i * F(f))


def c_add_scaled(r, d, f):
    k = weight(f)
    return Color([sat(r.c[n] + tdiv(d.c[n] * k, 255)) for n in range(4)], r.i + d.i * F(f))


def c_modulate(a, d):
    return Color([a.c[n] * d.c[n] // 255 for n in range(4)], a.i * d.i)


def c_add(a, d):
    return Color([sat(a.c[n] + d.c[n]) for n in range(4)], a.i + d.i)


# --- vectors ----------------------------------------------------------------------

class Vec:
    def __init__(self, v):
        self.v = [F(x) for x in v]

    def words(self):
        return [fbits(x) for x in self.v]


def v_lerp(a, b, u):
    u = F(u)
    return Vec([(ONE - u) * a.v[n] + u * b.v[n] for n in range(4)])


def v_bezier(k, w):
    acc = [k[0].v[n] * w[0] for n in range(4)]
    for j in range(1, 4):
        acc = [acc[n] + k[j].v[n] * w[j] for n in range(4)]
    return Vec(acc)


# --- the curve solver: Newton on x(s) from s = (x - x0) / (x3 - x0) ------------------

def bezier_solve(x0, x1, x2, x3, x):
    if x3 == x0:
        return ONE if x >= x3 else F(0.0)
    three = F(3.0)
    a = x3 - three * x2 + three * x1 - x0
    b = three * x2 - F(6.0) * x1 + three * x0
    c = three * x1 - three * x0
    s = (x - x0) / (x3 - x0)
    for _ in range(4):
        f = a * s * s * s + b * s * s + c * s + x0 - x
        df = three * a * s * s + F(2.0) * b * s + c
        if abs(f) <= F(0.01) or abs(df) <= F(0.01):
            break
        s = s - f / df
    return s


# --- the envelope -------------------------------------------------------------------

class Envelope:
    def __init__(self, words):
        it = iter(words)
        self.kind = next(it)
        self.interp = int(next(it))
        self.combine = int(next(it))
        self.enabled = next(it) == "1"
        self.times = [int(next(it)) for _ in range(int(next(it)))]
        self.keys = [self.read_value(it) for _ in range(int(next(it)))]
        self.loops = []
        for _ in range(int(next(it))):
            start, end, name = int(next(it)), int(next(it)), next(it)
            self.loops.append((start, end, "" if name == "-" else name))
        self.constant = self.read_value(it)
        self.n = min(len(self.times), len(self.keys))
        self.played_loops = min(len(self.loops), 32)

    def read_value(self, it):
        if self.kind == "V":
            return Vec([bitsf(next(it)) for _ in range(4)])
        c = [int(next(it)) for _ in range(4)]
        return Color(c, bitsf(next(it)))

    def find_interval(self, kt):
        T, n = self.times, self.n
        if n == 0:
            return 0, 0
        if kt <= T[0]:
            return 2, 0
        if kt >= T[n - 1]:
            return 1, n - 1
        lo, hi = 0, n - 1
        while lo < hi:
            mid = lo + (hi - lo) // 2
            if T[mid] < kt:
                lo = mid + 1
            else:
                hi = mid
        return 3, lo - 1

    def find_loop(self, name):
        for i, l in enumerate(self.loops):
            if l[2] and l[2] == name:
                return i
        return -1

    def advance(self, st, dt):
        if dt > 0:
            st.time = F(st.time + dt)
        kt = key_time(st.time)
        n, T = self.n, self.times
        finished = n == 0 or T[n - 1] < kt
        c = st.current
        while c < self.played_loops and not self.loops[c][1] > self.loops[c][0]:
            c += 1
            while c < 32 and (st.mask >> c) & 1:
                c += 1
        st.current = c
        if n > 0 and c < self.played_loops:
            start, end, _ = self.loops[c]
            finished = False
            if end <= kt:
                kt = start + (kt - start) % (end - start)
                st.time = seconds(kt)
                res, prev = self.find_interval(kt)
                st.k = prev if res in (1, 3) else 0
                return False
        while st.k + 1 < n and T[st.k + 1] < kt:
            st.k += 1
        return finished

    def break_loop(self, st, name):
        if name is None:
            st.mask = 0xFFFFFFFF
            st.current = 32
            return
        i = self.find_loop(name)
        if 0 <= i < 32:
            st.mask |= 1 << i
            while st.current < 32 and (st.mask >> st.current) & 1:
                st.current += 1

    def activate_loop(self, st, name):
        if name is None:
            st.mask = 0
        else:
            i = self.find_loop(name)
            if 0 <= i < 32:
                st.mask &= ~(1 << i) & 0xFFFFFFFF
        st.time = F(0.0)
        st.k = 0
        st.current = 0
        while st.current < 32 and (st.mask >> st.current) & 1:
            st.current += 1

    def lerp(self, a, b, u):
        return v_lerp(a, b, u) if self.kind == "V" else c_lerp(a, b, u)

    def linear(self, k, t):
        t0, t1 = seconds(self.times[k]), seconds(self.times[k + 1])
        if t1 > t0:
            return self.lerp(self.keys[k], self.keys[k + 1], min((t - t0) / (t1 - t0), F(1)))
        return self.keys[k + 1]

    def interpolate(self, k, t):
        interp = self.interp if self.interp <= 2 else 0
        if interp == 0:
            return self.keys[k]
        if interp == 1:
            return self.linear(k, t)
        g = k - k % 3
        if g + 3 >= self.n or self.times[g + 3] <= self.times[g]:
            return self.linear(k, t)
        x = [seconds(self.times[g + j]) for j in range(4)]
        s = bezier_solve(x[0], x[1], x[2], x[3], max(x[0], min(t, x[3])))
        w = ONE - s
        three = F(3.0)
        weights = [w * w * w, three * s * w * w, three * s * s * w, s * s * s]
        ks = self.keys[g:g + 4]
        if self.kind == "V":
            return v_bezier(ks, weights)
        r = c_set_scaled(ks[0], weights[0])
        for j in range(1, 4):
            r = c_add_scaled(r, ks[j], weights[j])
        return r

    def evaluate(self, st):
        m = self.n
        if m == 0 or not self.enabled:
            return self.constant
        kt = key_time(st.time)
        if kt <= self.times[0]:
            v = self.keys[0]
        elif kt >= self.times[m - 1]:
            v = self.keys[m - 1]
        else:
            v = self.interpolate(min(st.k, m - 2), st.time)
        if self.combine == 1:
            v = Vec([v.v[n] * self.constant.v[n] for n in range(4)]) if self.kind == "V" else c_modulate(v, self.constant)
        elif self.combine == 2:
            v = Vec([v.v[n] + self.constant.v[n] for n in range(4)]) if self.kind == "V" else c_add(v, self.constant)
        return v


class State:
    def __init__(self):
        self.time = F(0.0)
        self.mask = 0
        self.current = 0
        self.k = 0


def main():
    env, st = None, None
    out = []
    for line in sys.stdin:
        w = line.split()
        if not w:
            continue
        if w[0] == "E":
            env, st = Envelope(w[1:]), State()
            continue
        fin = "-"
        if w[0] == "A":
            fin = "1" if env.advance(st, bitsf(w[1])) else "0"
        elif w[0] == "B":
            env.break_loop(st, None if w[1] == "*" else w[1])
        elif w[0] == "R":
            env.activate_loop(st, None if w[1] == "*" else w[1])
        value = env.evaluate(st)
        out.append(" ".join([fbits(st.time), str(st.k), str(st.current), "%08x" % st.mask, fin] + value.words()))
    sys.stdout.write("\n".join(out) + ("\n" if out else ""))


if __name__ == "__main__":
    main()
