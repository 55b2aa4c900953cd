#!/usr/bin/env python3
"""Reference values for the frame pass tests, written from the design independently of
the renderer's code (single precision through numpy.float32).

  sortkey CX CY CZ FX FY FZ MINX MINY MINZ MAXX MAXY MAXZ TX TY TZ BIAS
      the sort key (unsigned bits) of a box translated by T, seen from camera C looking
      along F: the box point nearest to C, its distance along F, + 10000 + the bias;
      0 when the result is not above 0 or not finite
"""
import struct
import sys

import numpy as np

f = np.float32


def sortkey(a):
    c = [f(v) for v in a[0:3]]
    fw = [f(v) for v in a[3:6]]
    lo = [f(a[6 + i]) + f(a[12 + i]) for i in range(3)]
    hi = [f(a[9 + i]) + f(a[12 + i]) for i in range(3)]
    bias = f(a[15])
    p = [min(max(c[i], lo[i]), hi[i]) for i in range(3)]
    with np.errstate(all='ignore'):
        d = f(f(f((p[0] - c[0]) * fw[0]) + f((p[1] - c[1]) * fw[1])) + f((p[2] - c[2]) * fw[2]))
        k = f(f(d + f(10000.0)) + bias)
    if not np.isfinite(k) or not k > 0:
        return 0
    return struct.unpack('<I', struct.pack('<f', float(k)))[0]


def main():
    cmd, args = sys.argv[1], [float(v) for v in sys.argv[2:]]
    if cmd == 'sortkey':
        print(sortkey(args))


if __name__ == '__main__':
    main()
