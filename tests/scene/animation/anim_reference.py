#!/usr/bin/env python3
"""Reference of keyframed clip sampling, in float32 with numpy: key decoding against the
channel boxes, the key search at the quantised progress, interpolation inside the clip
and across the loop wrap, slerp (checked against scipy's rotations when present).

stdin: one JSON object {"clip": <anim_file.py clip>, "loop": bool, "scale": float,
"progress": [p, ...]}. Output: per progress, per track with keys, one line
"rx ry rz rw tx ty tz sx sy sz".
"""
import json
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "support"))
import anim_file  # noqa: E402

F = np.float32


def decode(key, box):
    v = np.array([k / 32768.0 if k < 0 else k / 32767.0 for k in key], dtype=F)
    u = v * F(0.5) + F(0.5)
    lo, hi = np.array(box[0], dtype=F), np.array(box[1], dtype=F)
    return (F(1) - u) * lo + u * hi  # x, y, z, t


def quantise_progress(p, box):
    span = F(box[1][3]) - F(box[0][3])
    if not span > 0:
        return 0
    x = min(max(float((F(p) - F(box[0][3])) * F(2) / span - F(1)), -2.0), 2.0)
    return int(x * 32767.0) if x > 0 else int(x * 32768.0)


def rotation(v):
    rest = 1.0 - v[0] ** 2 - v[1] ** 2 - v[2] ** 2
    return np.array([v[0], v[1], v[2], np.sqrt(rest) if rest > 0 else 0.0], dtype=np.float64)


def slerp(a, b, s):
    if np.dot(a, b) < 0:
        b = -b
    d = abs(float(np.dot(a, b)))
    if 1.0 - d <= 0.001:
        return (1 - s) * a + s * b
    theta = np.arccos(min(d, 1.0))
    return (np.sin((1 - s) * theta) * a + np.sin(s * theta) * b) / np.sin(theta)


def scipy_check(a, b, s, got):
    try:
        from scipy.spatial.transform import Rotation, Slerp
    except ImportError:
        return
    # Only unit keys away from the half-turn ambiguity (a key whose w was rebuilt as 0 is
    # not a unit quaternion).
    if not (0 <= s <= 1) or abs(np.linalg.norm(a) - 1) > 0.01 or abs(np.linalg.norm(b) - 1) > 0.01:
        return
    if abs(np.dot(a, b)) < 0.05:
        return
    want = Slerp([0, 1], Rotation.from_quat([a, b]))([s]).as_quat()[0]
    g = got / np.linalg.norm(got)
    assert min(np.abs(want - g).max(), np.abs(want + g).max()) < 2e-3, (a, b, s, got, want)


def sample(keys, box, p, q, loop):
    n = len(keys)
    if n == 1:
        k = decode(keys[0], box)
        return k, k, 0.0
    i = 0
    while i < n and keys[i][3] <= q:
        i += 1
    if i == 0 or i == n:
        if not loop:
            k = decode(keys[0 if i == 0 else n - 1], box)
            return k, k, 0.0
        a, b = decode(keys[n - 1], box), decode(keys[0], box)
        wrap = (1 - float(a[3])) + float(b[3])
        num = (p + 1 - float(a[3])) if i == 0 else (p - float(a[3]))
        return a, b, (num / wrap if wrap != 0 else 0.0)
    a, b = decode(keys[i - 1], box), decode(keys[i], box)
    span = float(b[3]) - float(a[3])
    return a, b, ((p - float(a[3])) / span if span != 0 else 0.0)


def main():
    spec = json.load(sys.stdin)
    clip = spec["clip"]
    _, keys = anim_file.encode(clip)
    boxes = [anim_file.channel_box(clip["tracks"], c) for c in anim_file.CHANNELS]
    neutral = [None, np.zeros(4), np.array([1, 1, 1, 0.0])]
    for p in spec["progress"]:
        offset = 0
        for track in clip["tracks"]:
            out = []
            for c, name in enumerate(anim_file.CHANNELS):
                n = len(track.get(name, []))
                ks, offset = keys[offset:offset + n], offset + n
                if n == 0:
                    out.append(np.array([0, 0, 0, 1.0]) if c == 0 else neutral[c])
                    continue
                a, b, s = sample(ks, boxes[c], p, quantise_progress(p, boxes[c]), spec["loop"])
                if c == 0:
                    qa, qb = rotation(a), rotation(b)
                    r = qa if n == 1 else slerp(qa, qb, s)
                    scipy_check(qa, qb, s, r)
                    out.append(r)
                else:
                    out.append((1 - s) * a.astype(np.float64) + s * b.astype(np.float64))
            t = out[1][:3] * spec.get("scale", 1.0)
            print(" ".join("%.7g" % v for v in list(out[0]) + list(t) + list(out[2][:3])))


if __name__ == "__main__":
    main()
