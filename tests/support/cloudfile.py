#!/usr/bin/env python3
"""Independent writer and checker of the gamer profile's cloud files, for tests.

Written from the file description, not from the engine's code. A cloud file is, all
words little-endian u32:
  tag (0xEA53DEEB "progress", 0x7FAAC432 "results"), layout value, stamp,
  the payload (the data object's binary property list), CRC-32 of the payload
  (polynomial 0x04C11DB7, MSB first, initial value 0, no final XOR; empty gives 0).

Payloads (property lists, see proplist.py): an array of embedded object pointers is
u32 count, then per element byte 1 and the element's list, or byte 0 for none; an array
of names is u32 count and each name.
  progress: "LastUnlockedMissionNumericalId", "LastFinishedMissionNumericalId",
    "LastPresentedMissionNumericalId" (16 bytes each), "UnlockedEndlessModesIds",
    "Flags" (name arrays), "LocalData" (entries "Name", u32 "UVal")
  results: "MissionsData": mission entries "Id", u32 "Score", "Distinctions" (entries
    "Type", u8 "Level"), "Flags" (name array)

Commands:
  cloudfile.py payload <spec> <out>       a payload: progress-default, results-default,
                                          results-m01, results-huge-count, empty
  cloudfile.py make <out> progress|results <layout> <stamp> <spec> [--bad-crc]
  cloudfile.py check <file> progress|results <layout> <stamp>
                                          exit 0 when tag, layout, stamp and CRC match;
                                          prints "tag layout stamp size crc-ok"
  cloudfile.py show <file> progress|results
                                          exit 0 when tag and CRC match and the payload
                                          decodes whole; prints its values, a line each:
                                          "finished|unlocked|presented w0 w1 w2 w3",
                                          "flags ..." (progress); per mission
                                          "mission <id> score <n> <medal>=<level>... flags ..."
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from proplist import u32, name, u8  # noqa: E402

TAGS = {"progress": 0xEA53DEEB, "results": 0x7FAAC432}
MISSIONS = ["M%02d" % i for i in range(1, 16)]
MEDALS = ["Celerity", "Ruthlessness", "Efficiency"]


def crc32(data):
    crc = 0
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else (crc << 1)
            crc &= 0xFFFFFFFF
    return crc


def names(values):
    return u32(len(values)) + b"".join(name(v) for v in values)


def pointers(elements):
    return u32(len(elements)) + b"".join(b"\x01" + e for e in elements)


def medal(kind, level):
    return name(kind) + u8(level)


def mission(mid, score, medals, flags):
    return name(mid) + u32(score) + pointers([medal(k, l) for k, l in medals]) + names(flags)


def progress(unlocked=(1, 0, 0, 0), finished=(0, 0, 0, 0), presented=(1, 0, 0, 0), endless=(), flags=(), local=()):
    block = lambda words: b"".join(u32(w) for w in words)  # noqa: E731
    entries = [name(n) + u32(v) for n, v in local]
    return block(unlocked) + block(finished) + block(presented) + names(endless) + names(flags) + pointers(entries)


def payload(spec):
    if spec == "empty":
        return b""
    if spec == "progress-default":
        return progress()
    if spec == "progress-sample":
        return progress((3, 0, 0, 0), (2, 0, 0, 0), (3, 1, 0, 0), ["E1"], ["intro", "tutorial"], [("volume", 7)])
    if spec == "results-default":
        return pointers([mission(m, 0, [(k, 0) for k in MEDALS], []) for m in MISSIONS])
    if spec == "results-m01":
        return pointers([mission("M01", 1234, [("Celerity", 2)], ["boss"])])
    if spec == "results-huge-count":
        return u32(0x80000000) + b"\x01"
    raise SystemExit("unknown payload " + spec)


def make(kind, layout, stamp, body, bad_crc=False):
    crc = crc32(body) ^ (1 if bad_crc else 0)
    return u32(TAGS[kind]) + u32(layout) + u32(stamp) + body + u32(crc)


def check(data, kind, layout, stamp):
    if len(data) < 16:
        print("short %d" % len(data))
        return False
    tag, lay, stp = struct.unpack_from("<III", data, 0)
    body = data[12:-4]
    (crc,) = struct.unpack_from("<I", data, len(data) - 4)
    ok = crc32(body) == crc
    print("%08x %u %u %d %s" % (tag, lay, stp, len(body), "crc-ok" if ok else "crc-bad"))
    return ok and tag == TAGS[kind] and lay == layout and stp == stamp


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, n):
        if self.at + n > len(self.data):
            raise ValueError("payload ends inside a value at %d" % self.at)
        self.at += n
        return self.data[self.at - n:self.at]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def u8(self):
        return self.take(1)[0]

    def name(self):
        if self.u8() == 0:
            return ""
        end = self.data.find(b"\0", self.at)
        if end < 0:
            raise ValueError("unterminated name at %d" % self.at)
        value = self.take(end - self.at + 1)[:-1]
        return value.decode()

    def count(self):
        n = self.u32()
        if n > len(self.data) - self.at:
            raise ValueError("count %d past the payload's end" % n)
        return n

    def names(self):
        return [self.name() for _ in range(self.count())]

    def pointers(self, element):
        return [element(self) if self.u8() else None for _ in range(self.count())]


def show_progress(r):
    lines = ["%s %s" % (kind, " ".join(str(r.u32()) for _ in range(4)))
             for kind in ("unlocked", "finished", "presented")]
    r.names()
    lines.append("flags " + " ".join(r.names()))
    r.pointers(lambda e: (e.name(), e.u32()))
    return lines


def show_results(r):
    lines = []
    for entry in r.pointers(lambda e: (e.name(), e.u32(), e.pointers(lambda d: (d.name(), d.u8())), e.names())):
        if entry is not None:
            mid, score, medals, flags = entry
            lines.append("mission %s score %d %s flags %s" % (
                mid, score, " ".join("%s=%d" % m for m in medals if m is not None), " ".join(flags)))
    return lines


def show(data, kind):
    if len(data) < 16 or struct.unpack_from("<I", data, 0)[0] != TAGS[kind]:
        print("not a %s file" % kind)
        return False
    body = data[12:-4]
    if crc32(body) != struct.unpack_from("<I", data, len(data) - 4)[0]:
        print("crc-bad")
        return False
    r = Reader(body)
    try:
        lines = show_progress(r) if kind == "progress" else show_results(r)
    except (ValueError, UnicodeDecodeError) as e:
        print("undecodable: %s" % e)
        return False
    if r.at != len(body):
        print("%d bytes after the payload" % (len(body) - r.at))
        return False
    print("\n".join(lines))
    return True


def main(argv):
    if len(argv) >= 3 and argv[0] == "payload":
        open(argv[2], "wb").write(payload(argv[1]))
        return 0
    if len(argv) >= 6 and argv[0] == "make":
        data = make(argv[2], int(argv[3], 0), int(argv[4], 0), payload(argv[5]), "--bad-crc" in argv[6:])
        open(argv[1], "wb").write(data)
        return 0
    if len(argv) == 5 and argv[0] == "check":
        return 0 if check(open(argv[1], "rb").read(), argv[2], int(argv[3], 0), int(argv[4], 0)) else 1
    if len(argv) == 3 and argv[0] == "show":
        return 0 if show(open(argv[1], "rb").read(), argv[2]) else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
