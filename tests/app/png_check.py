#!/usr/bin/env python3
# Reads a PNG with Python's zlib and the PNG chunk layout (no image
# library), checks every chunk's CRC and the pixel data's size, and prints
# "width height distinct-colours"; given a point as two fractions of the width and
# height, also the red, green and blue of the pixel there.
import struct
import sys
import zlib


def main(path, point=None):
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        sys.exit('not a PNG signature')
    pos, idat, header, ended = 8, b'', None, False
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc, = struct.unpack('>I', data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            sys.exit('bad CRC in chunk %r' % kind)
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
        elif kind == b'IEND':
            ended = True
        pos += 12 + length
    if not header or not ended:
        sys.exit('missing IHDR or IEND')
    width, height, depth, colour_type = header[:4]
    channels = {2: 3, 6: 4}.get(colour_type)
    if depth != 8 or not channels:
        sys.exit('unexpected pixel format %d/%d' % (depth, colour_type))
    raw = zlib.decompress(idat)
    stride = width * channels
    if len(raw) != height * (stride + 1):
        sys.exit('pixel data of %d bytes for %dx%d' % (len(raw), width, height))
    colours, previous, sample = set(), bytearray(stride), None
    px = py = -1
    if point:
        px, py = int(float(point[0]) * width), int(float(point[1]) * height)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
            elif kind != 0:
                sys.exit('bad filter %d' % kind)
        if y == py:
            sample = tuple(line[px * channels:px * channels + 3])
        if y % 8 == 0:
            for x in range(0, width, 8):
                colours.add(bytes(line[x * channels:(x + 1) * channels]))
        previous = line
    print(width, height, len(colours), *(sample or ()))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2:4] if len(sys.argv) >= 4 else None)
