#!/usr/bin/env python3
"""Python's own IEEE half-precision conversions, for the pixel-format test: "H hhhh
ffffffff" gives every half's value as float bits; "F ffffffff hhhh" gives seeded
random floats (and the boundaries of the half range) rounded to half, nearest even."""
import random
import struct

for h in range(0x10000):
    value = struct.unpack('<e', struct.pack('<H', h))[0]
    print('H %04x %08x' % (h, struct.unpack('<I', struct.pack('<f', value))[0]))

rnd = random.Random(99)
floats = [0x00000000, 0x80000000, 0x3F800000, 0x477FE000, 0x477FEFFF, 0x477FF000, 0x387FC000,
          0x38800000, 0x33800000, 0x33000000, 0x33000001, 0x3F801000, 0x3F803000, 0x7F800000,
          0xFF800000, 0x7FC00000, 0x3EAAAAAB, 0x00000001]
floats += [rnd.getrandbits(32) for _ in range(4000)]
floats += [rnd.choice([0x33000000, 0x38800000, 0x47000000]) + rnd.randrange(0x1000000) for _ in range(2000)]
for bits in floats:
    value = struct.unpack('<f', struct.pack('<I', bits))[0]
    if value != value:
        half = 0x7E00 | (0x8000 if bits >> 31 else 0)  # a quiet NaN keeps its sign
    else:
        try:
            half = struct.unpack('<H', struct.pack('<e', value))[0]
        except OverflowError:
            half = 0x7C00 | (0x8000 if value < 0 else 0)
    print('F %08x %04x' % (bits, half))
