#!/usr/bin/env python3
# float32 reference of the game-controller arithmetic, written from the definitions:
#   stick RAW DZBITS        raw / 32767 (as raw * float32(1/32767)), dead zone DZ
#   axis VALUE              value * 0.001, dead zone 0.2
#   trigger BYTE            byte / 255 and whether it is above 30/255
#   recheck SEED FREQ N     the first N waits (ticks) of an absent pad after a seed
# Floats are read and written as their 32-bit patterns in hexadecimal.
import struct
import sys

import numpy as np

f32 = np.float32


def bits(x):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(f32(x))))[0]


def from_bits(h):
    return f32(struct.unpack("<f", struct.pack("<I", int(h, 16)))[0])


def dead_zone(c, d):
    c = f32(min(max(c, f32(-1)), f32(1)))
    one = f32(1)
    return f32(max(c - d, f32(0)) / (one - d)) - f32(max(-c - d, f32(0)) / (one - d))


def main():
    with np.errstate(all="raise"):
        for line in sys.stdin:
            w = line.split()
            if not w:
                continue
            if w[0] == "stick":
                scale = f32(1) / f32(32767)
                print(bits(dead_zone(f32(int(w[1])) * scale, from_bits(w[2]))))
            elif w[0] == "axis":
                print(bits(dead_zone(f32(int(w[1])) * f32(0.001), f32(0.2))))
            elif w[0] == "trigger":
                t = f32(int(w[1])) / f32(255)
                print(bits(t), int(t > f32(0.11764706)))
            elif w[0] == "recheck":
                state, freq, n = int(w[1]), int(w[2]), int(w[3])
                waits = []
                for _ in range(n):
                    state = (state * 214013 + 2531011) & 0xFFFFFFFF
                    r = (state >> 16) & 0x7FFF
                    seconds = f32(2.0) + f32(2.5) * f32(r) / f32(32767)
                    waits.append(str(int(float(seconds) * float(freq))))
                print(" ".join(waits))
            else:
                sys.exit("unknown case: " + line)


main()
