#!/usr/bin/env python3
"""Prints seeded random UTF-8 and UTF-16 inputs with Python's own conversion of each,
for the text test to compare: "D <utf-8 hex> <utf-16 units hex>" for decoding (each
maximal invalid subpart becomes U+FFFD) and "E <utf-16 units hex> <utf-8 hex>" for
encoding (each unpaired surrogate becomes U+FFFD)."""
import random
import struct

rnd = random.Random(1234)
# Bytes near every boundary of the encoding: ASCII, continuations, every lead range.
BYTES = [0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
         0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF]
UNITS = [0x0000, 0x0041, 0x007F, 0x0080, 0x07FF, 0x0800, 0xD7FF, 0xD800, 0xDBFF, 0xDC00,
         0xDFFF, 0xE000, 0xFFFD, 0xFFFF]

for _ in range(3000):
    data = bytes(rnd.choice(BYTES) if rnd.random() < 0.8 else rnd.randrange(256)
                 for _ in range(rnd.randrange(1, 9)))
    text = data.decode('utf-8', 'replace')
    units = text.encode('utf-16-le')
    print('D', data.hex(), units.hex() if units else '-')
for _ in range(3000):
    units = [rnd.choice(UNITS) if rnd.random() < 0.8 else rnd.randrange(0x10000)
             for _ in range(rnd.randrange(1, 7))]
    raw = struct.pack('<%dH' % len(units), *units)
    text = raw.decode('utf-16-le', 'replace')
    print('E', raw.hex(), text.encode('utf-8').hex())
