#!/usr/bin/env python3
"""Writes animation files ("Animations/<name>.bin") from float tracks.

A clip is a dict {"length": seconds, "header": 8 bytes (optional), "tracks": [track]};
a track is {"name": str, "rotation": [[t, x, y, z], ...], "translation": [...],
"scale": [...]}, t being normalised progress 0..1 and each list sorted by t. A rotation
key gives x, y, z of a unit quaternion whose w is not negative (w is rebuilt on reading).

Each channel (rotation, translation, scale) is quantised against its own box, the
bounds of that channel's x, y, z and t over all tracks (a channel without keys gets the
box 0..0). A span of 0 quantises to 0.

  anim_file.py write OUT          reads a clip as JSON on stdin, writes OUT and prints
                                  one line per key: x y z t (the stored int16 values)
  anim_file.py body               reads a clip as JSON on stdin, prints the body in hex
"""
import json
import struct
import sys

MAGIC = 0xA3B9550F
VERSION = 3
CHANNELS = ("rotation", "translation", "scale")


def quantise(value, lo, hi):
    """int16 of value in lo..hi: u in 0..1 maps to -1..1, scaled by 32767 above 0 and by
    32768 at or below it (the inverse of the reader's v / 32767, v / 32768)."""
    span = hi - lo
    x = 0.0 if span == 0 else ((value - lo) / span) * 2.0 - 1.0
    q = round(x * 32767.0) if x > 0 else round(x * 32768.0)
    return max(-32768, min(32767, int(q)))


def dequantise(q, lo, hi):
    v = q / 32768.0 if q < 0 else q / 32767.0
    u = v * 0.5 + 0.5
    return (1.0 - u) * lo + u * hi


def channel_box(tracks, channel):
    rows = [key for track in tracks for key in track.get(channel, [])]
    if not rows:
        return [0.0] * 4, [0.0] * 4
    # Stored order is x, y, z, t; the input rows are t, x, y, z.
    columns = [[r[1] for r in rows], [r[2] for r in rows], [r[3] for r in rows], [r[0] for r in rows]]
    return [min(c) for c in columns], [max(c) for c in columns]


def encode(clip):
    """(body bytes, stored keys as (x, y, z, t) tuples)."""
    tracks = clip["tracks"]
    boxes = [channel_box(tracks, c) for c in CHANNELS]
    out = struct.pack("<I", len(tracks))
    keys = []
    for track in tracks:
        name = track["name"].encode()
        out += struct.pack("<I", len(name)) + name
        out += struct.pack("<3H", *(len(track.get(c, [])) for c in CHANNELS))
        for c, (lo, hi) in zip(CHANNELS, boxes):
            for t, x, y, z in (row[:4] for row in track.get(c, [])):
                keys.append(tuple(quantise(v, lo[i], hi[i]) for i, v in enumerate((x, y, z, t))))
    out += struct.pack("<I", len(keys))
    for key in keys:
        out += struct.pack("<4h", *key)
    for lo, hi in boxes:
        out += struct.pack("<8f", *lo, *hi)
    out += struct.pack("<f", clip["length"])
    return out, keys


def encode_file(clip):
    body, keys = encode(clip)
    header = bytes(clip.get("header", [0] * 8))
    assert len(header) == 8
    return struct.pack("<II", MAGIC, VERSION) + header + body, keys


def write(path, clip):
    data, keys = encode_file(clip)
    with open(path, "wb") as f:
        f.write(data)
    return keys


def main(argv):
    if len(argv) == 3 and argv[1] == "write":
        for key in write(argv[2], json.load(sys.stdin)):
            print(*key)
    elif len(argv) == 2 and argv[1] == "body":
        print(encode(json.load(sys.stdin))[0].hex())
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
