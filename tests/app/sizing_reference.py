#!/usr/bin/env python3
# The 16:9 sizing rule written from its definition in float32, one case per line:
#   EDGE LEFT TOP RIGHT BOTTOM FRAMEW FRAMEH  ->  LEFT TOP RIGHT BOTTOM
import sys

import numpy as np

H, W = np.float32(0.5625), np.float32(1.7777778)
for line in sys.stdin:
    e, l, t, r, b, fw, fh = (int(x) for x in line.split())
    w, h = max(r - l - fw, 800), max(b - t - fh, 450)
    if e in (1, 2):
        b = t + int(np.float32(w) * H) + fh
        l, r = (r - w - fw, r) if e == 1 else (l, l + w + fw)
    elif e in (3, 6):
        t, b = (b - h - fh, b) if e == 3 else (t, t + h + fh)
        r = l + int(np.float32(h) * W) + fw
    elif e in (4, 5, 7, 8):
        if np.float32(h) / np.float32(w) > H:
            w = int(np.float32(h) * W)
        else:
            h = int(np.float32(w) * H)
        t, b = (b - h - fh, b) if e in (4, 5) else (t, t + h + fh)
        l, r = (r - w - fw, r) if e in (4, 7) else (l, l + w + fw)
    print(l, t, r, b)
