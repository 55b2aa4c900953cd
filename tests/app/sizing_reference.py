#!/usr/bin/env python3
# The 16:9 sizing rule written from its definition in float32, one case per line:
#   EDGE LEFT TOP RIGHT BOTTOM FRAMEW FRAMEH  ->  LEFT TOP RIGHT BOTTOM
import sys

import numpy as np

F = np.float32


def trunc(v):
    return int(np.trunc(v))


for line in sys.stdin:
    if not line.strip():
        continue
    edge, l, t, r, b, fw, fh = (int(w) for w in line.split())
    w = max(r - l - fw, 800)
    h = max(b - t - fh, 450)
    if edge == 1:
        b = t + trunc(F(w) * F(0.5625)) + fh
        l = r - w - fw
    elif edge == 2:
        b = t + trunc(F(w) * F(0.5625)) + fh
        r = l + w + fw
    elif edge == 3:
        t = b - h - fh
        r = l + trunc(F(h) * F(1.7777778)) + fw
    elif edge == 6:
        b = t + h + fh
        r = l + trunc(F(h) * F(1.7777778)) + fw
    elif edge in (4, 5, 7, 8):
        if F(h) / F(w) > F(0.5625):
            w = trunc(F(h) * F(1.7777778))
        else:
            h = trunc(F(w) * F(0.5625))
        if edge in (4, 5):
            t = b - h - fh
        else:
            b = t + h + fh
        if edge in (4, 7):
            l = r - w - fw
        else:
            r = l + w + fw
    print(l, t, r, b)
