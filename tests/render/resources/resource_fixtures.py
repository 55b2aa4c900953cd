#!/usr/bin/env python3
"""Builds the resource test files that no external tool writes.

  cube OUT            DDS cube map: six 4x4 A8R8G8B8 faces, one level, texel = face id
  volume OUT          DDS volume texture 4x4x4, A8R8G8B8
  xwma OUT            RIFF XWMA: "fmt " (tag 0x161), "dpds" of 4 u32 entries, "data"
  wave OUT TAG [between]  RIFF WAVE with that format tag and 16 data bytes; with
                      "between" a "LIST" chunk stands between "fmt " and "data"
  stripfact IN OUT    a WAV with its "fact" chunk removed (the engine's ADPCM layout)
"""
import struct
import sys

DDSD = 0x1 | 0x2 | 0x4 | 0x1000
PF_RGB_ALPHA = 0x41


def dds_header(width, height, flags_extra=0, depth=0, caps2=0, levels=1):
    header = struct.pack('<4sIIIIIII', b'DDS ', 124, DDSD | flags_extra, height, width, width * 4, depth, levels)
    header += b'\0' * 44
    header += struct.pack('<IIIIIIII', 32, PF_RGB_ALPHA, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)
    header += struct.pack('<IIIII', 0x1000 | (0x8 if caps2 else 0), caps2, 0, 0, 0)
    assert len(header) == 128
    return header


def cube():
    body = b''
    for face in range(6):
        body += struct.pack('<I', 0xFF000000 | face) * 16
    return dds_header(4, 4, caps2=0x200 | 0xFC00) + body


def volume():
    return dds_header(4, 4, flags_extra=0x800000, depth=4, caps2=0x200000) + struct.pack('<I', 0xFF00FF00) * 64


def chunk(cid, data):
    return cid + struct.pack('<I', len(data)) + data


def riff(form, chunks):
    body = form + b''.join(chunks)
    return b'RIFF' + struct.pack('<I', len(body)) + body


def xwma():
    fmt = struct.pack('<HHIIHHH', 0x161, 2, 44100, 12000, 4459, 16, 0)
    dpds = struct.pack('<4I', 4459, 8918, 13377, 17836)
    return riff(b'XWMA', [chunk(b'fmt ', fmt), chunk(b'dpds', dpds), chunk(b'data', bytes(range(64)))])


def wave(tag, between):
    fmt = struct.pack('<HHIIHH', tag, 1, 8000, 16000, 2, 16)
    chunks = [chunk(b'fmt ', fmt)]
    if between:
        chunks.append(chunk(b'LIST', b'INFOtest'))
    chunks.append(chunk(b'data', bytes(range(16))))
    return riff(b'WAVE', chunks)


def strip_fact(data):
    assert data[:4] == b'RIFF'
    out, p = [], 12
    while p + 8 <= len(data):
        cid = data[p:p + 4]
        size = struct.unpack('<I', data[p + 4:p + 8])[0]
        if cid != b'fact':
            out.append(data[p:p + 8 + size])
        p += 8 + size
    return riff(data[8:12], out)


def main():
    kind, out = sys.argv[1], sys.argv[2]
    if kind == 'cube':
        data = cube()
    elif kind == 'volume':
        data = volume()
    elif kind == 'xwma':
        data = xwma()
    elif kind == 'wave':
        data = wave(int(sys.argv[3]), len(sys.argv) > 4 and sys.argv[4] == 'between')
    elif kind == 'stripfact':
        with open(out, 'rb') as f:
            data = strip_fact(f.read())
        out = sys.argv[3]
    else:
        sys.exit('unknown fixture ' + kind)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
