#!/usr/bin/env python3
# Reference model of the path renderer's route and instance records in numpy.float32.
# Floats travel as 32-bit patterns in hexadecimal; a point is four floats (x, y, z, w).
#
# One case per line, its first word the mode:
#   sample LENGTH ROOM
#       where a connection is sampled. Answer: the distances.
#   route SMOOTHNESS N P(4 x N)
#       the raw route (with its end point) smoothed and offset. Answer: N points.
#   reset CLOSED N P(4 x N) POSITION(3) DIRECTION(3)
#       the squad placed from scratch. Answer: DISTANCE SEGMENT SEGMENT_START.
#   update N P(4 x N) SEGMENT SEGMENT_START POSITION(3)
#       the squad moved forward. Answer: DISTANCE SEGMENT SEGMENT_START.
#   records N P(4 x N) BYTES
#       BYTES: the instance buffer a draw used, in hexadecimal. The records are decoded
#       with struct and compared with the ones computed here. Answer: "ok" or the first
#       difference.
import struct
import sys

import numpy as np

F = np.float32


def f(h):
    return F(struct.unpack("<f", struct.pack("<I", int(h, 16)))[0])


def h(v):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(v)))[0]


def length3(v):
    return F(np.sqrt(F(v[0] * v[0] + v[1] * v[1] + v[2] * v[2])))


def dot3(a, b):
    return F(a[0] * b[0] + a[1] * b[1] + a[2] * b[2])


def side_vector(d):
    # (0, 1, 0) x d in the ground plane, normalised; zero when it has no length.
    s = np.array([d[2], F(0), -d[0]], dtype=F)
    l2 = F(s[0] * s[0] + s[2] * s[2])
    if not l2 > 0:
        return np.zeros(3, dtype=F)
    return s * (F(1) / F(np.sqrt(l2)))


def closed_route(p):
    return len(p) >= 2 and dot3(p[-1] - p[0], p[-1] - p[0]) < F(0.01)


def sample(length, room):
    n = min(int(F(length) * F(0.4)), 65536, room)
    half = n // 2
    rest = F(length) - F(2.5) * F(n)
    out = []
    for j in range(n):
        d = F(2.5) * F(j)
        out.append(d if j < half else F(d + rest))
    return out


def route(s, p):
    n = len(p)
    if n < 2:
        return p.copy()
    g = np.zeros(10, dtype=F)
    g[0] = F(1)
    if s > 0 and np.isfinite(s):
        norm = F(1) / (F(np.sqrt(F(2) * F(3.14159265))) * F(s))
        if np.isfinite(norm) and norm > 0:
            g[0] = norm
            with np.errstate(divide="ignore", over="ignore", under="ignore"):
                for k in range(1, 10):
                    g[k] = F(np.exp(F(-(k * k)) / (F(2) * F(s) * F(s)))) * norm
    closed = closed_route(p)
    a = p.copy()
    a[:, 3] = np.abs(a[:, 3])
    out = np.zeros_like(p)
    for i in range(n):
        total = a[i] * g[0]
        weight = g[0]
        pairs = 0
        ks = range(1, 10) if closed else range(1, min(i + 1, n - i, 10))
        for k in ks:
            lo = a[(i - k) % n] if closed else a[i - k]
            hi = a[(i + k) % n] if closed else a[i + k]
            if not dot3(hi - a[i], a[i] - lo) > F(-0.3):
                continue
            total = total + (lo + hi) * g[k]
            weight = F(weight + F(2) * g[k])
            pairs += 1
        out[i] = total * (F(1) / weight)
        out[i, 3] = out[i, 3] * F(min(1.0, pairs / 3.0))
    side = np.zeros(3, dtype=F)
    for i in range(n - 1):
        side = side_vector(out[i + 1] - out[i])
        out[i, :3] = out[i, :3] + out[i, 3] * side
        out[i, 3] = p[i, 3]
    if closed:
        out[n - 1] = out[0]
    else:
        out[n - 1, :3] = out[n - 1, :3] + out[n - 1, 3] * side
        out[n - 1, 3] = p[n - 1, 3]
    return out


def length_to(p, last):
    total = F(0)
    for i in range(min(last, len(p) - 1)):
        total = F(total + length3(p[i + 1] - p[i]))
    return total


def reset(closed, p, pos, direction):
    n = len(p)
    if closed or n < 2:
        return F(0), 0, F(0)
    best, best_d = None, None
    for i in range(n - 1):
        if not dot3(p[i + 1] - p[i], direction) > 0:
            continue
        d = dot3(p[i, :3] - pos, p[i, :3] - pos)
        if best is None or d < best_d:
            best, best_d = i, d
    if best is None:
        return F(0), 0, F(0)
    k = best
    if 0 < k < n - 1 and length3(p[k + 1, :3] - pos) > length3(p[k - 1, :3] - pos):
        k -= 1
    start = length_to(p, k)
    a = length3(p[k, :3] - pos)
    b = length3(p[k + 1, :3] - pos)
    distance = start
    if a + b > 0:
        distance = F(start + length3(p[k + 1] - p[k]) * F(a / F(a + b)))
    return distance, k, start


def update(p, segment, start, pos):
    n = len(p)
    if n == 0:
        return F(0), segment, start
    while segment < n - 2:
        here = p[segment, :3] - pos
        ahead = p[segment + 1, :3] - pos
        if not dot3(ahead, ahead) < dot3(here, here):
            break
        start = F(start + length3(p[segment + 1] - p[segment]))
        segment += 1
    distance = start
    if segment + 1 < n:
        d = (p[segment + 1] - p[segment])[:3]
        dd = dot3(d, d)
        if dd > F(0.001):
            t = F(dot3(pos - p[segment, :3], d) / dd)
            distance = F(distance + F(np.sqrt(dd)) * t)
    return distance, segment, start


def side_bytes(p):
    n = len(p)
    out = np.zeros((n, 2), dtype=np.int64)
    for i in range(n - 1):
        s = side_vector(p[i + 1] - p[i])
        for c, v in enumerate((s[0], s[2])):
            out[i, c] = int(F(min(max(F(v * F(0.5) + F(0.5)), F(0)), F(1)) * F(255)))
    out[n - 1] = out[0] if closed_route(p) else out[n - 2]
    return out


def marker_bytes(p):
    n = len(p)
    closed = closed_route(p)
    out = []
    for i in range(n):
        if p[i, 3] < 0:
            out.append(0)
            continue
        d = F(40)
        for k in range(1, 5):
            for j in (i - k, i + k):
                if closed:
                    j %= n
                elif j < 0 or j >= n:
                    continue
                if p[j, 3] < 0:
                    d = min(d, length3(p[j] - p[i]))
        out.append(min(255, int(F(F(6.375) * d + F(0.5)))))
    return out


def records(p, data):
    n = len(p)
    if n < 3:
        return "ok" if not data else "records for fewer than 3 points"
    if len(data) != (n - 1) * 24:
        return "buffer of %d bytes for %d points" % (len(data), n)
    lo = p[:, :3].min(axis=0) - F(1)
    hi = p[:, :3].max(axis=0) + F(1)
    scale = F(32767) / (hi - lo)
    sides = side_bytes(p)
    markers = marker_bytes(p)
    lengths = [F(0)]
    for i in range(n - 1):
        lengths.append(F(lengths[-1] + length3(p[i + 1] - p[i])))

    def q(i):
        xyz = [int(F((p[i, a] - lo[a]) * scale[a])) for a in range(3)]
        return xyz + [int(min(F(lengths[i] * F(2.5)), F(32767)))]

    for i in range(n - 1):
        got = struct.unpack_from("<4h4h4B2B2B", data, 24 * i)
        s0, s1 = list(sides[i]), list(sides[i + 1])
        after = min(i + 2, n - 1)
        if dot3(p[after] - p[i + 1], p[i + 1] - p[i]) < 0:
            s1 = [255 - v for v in s1]
        want = q(i) + q(i + 1) + s0 + s1 + [markers[i], markers[i + 1], 0, 0]
        for field, (g, w) in enumerate(zip(got, want)):
            exact = field >= 8  # the side, marker and padding bytes
            if (g != w) if exact else abs(g - w) > 1:
                return "record %d field %d: got %d, want %d" % (i, field, g, w)
    return "ok"


def points(words, n):
    return np.array([f(x) for x in words[:4 * n]], dtype=F).reshape(n, 4), words[4 * n:]


for line in sys.stdin:
    w = line.split()
    if not w:
        continue
    mode = w[0]
    if mode == "sample":
        print(" ".join(h(d) for d in sample(f(w[1]), int(w[2]))))
    elif mode == "route":
        s = f(w[1])
        p, _ = points(w[3:], int(w[2]))
        print(" ".join(h(v) for v in route(s, p).reshape(-1)))
    elif mode == "reset":
        p, rest = points(w[3:], int(w[2]))
        pos = np.array([f(x) for x in rest[:3]], dtype=F)
        direction = np.array([f(x) for x in rest[3:6]], dtype=F)
        d, k, start = reset(w[1] == "1", p, pos, direction)
        print(h(d), h(F(k)), h(start))
    elif mode == "update":
        p, rest = points(w[2:], int(w[1]))
        pos = np.array([f(x) for x in rest[2:5]], dtype=F)
        d, k, start = update(p, int(rest[0]), f(rest[1]), pos)
        print(h(d), h(F(k)), h(start))
    elif mode == "records":
        p, rest = points(w[2:], int(w[1]))
        print(records(p, bytes.fromhex(rest[0]) if rest else b""))
    else:
        print("unknown mode " + mode)
