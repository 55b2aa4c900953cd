#!/usr/bin/env python3
"""Independent writer and reader of the multiplayer wire formats, for tests.

Written from the format description, not from the engine's code.

Bit order: stream bit k is bit (k mod 8) of byte (k div 8); a value of n bits is its
low n bits, least significant first.

Game packet: a 26-byte little-endian header
  u8 5 | u32 frame time (10 ms units) | u32 acknowledged reliable sequence |
  u32 acknowledged text sequence | u16 packet id | u8 packets of the pass |
  u16 x 5 section item counts
then the sections 0 to 4 from bit 208, each directly behind the previous one, padded
with zero bits to a whole byte:
  0 dictionary entry: 8 slot, 128 GUID bytes
  2 acknowledgement:  16 packet id
  3 method call:      32 sequence, 8 method id, 4 argument count, per argument 3 type and
                      the value (bool 8, number 32, entity 16, vector 128, string 8-bit
                      length and 8 bits per byte, nil nothing)
  4 text:             32 sequence, 8 count n, 8 wide flag (1 when any unit >= 255),
                      n units of 16 bits when wide, else of 8
Time-sync frame, 14 bytes: u8 6 | i64 time | u32 sequence | u8 1 request, 0 response.

Peer-to-peer frames of the online driver (channel 0, byte 0 the type):
  1 connection request, 3 connection accepted: u8 type | u32 ticket length n | n bytes
  2 connection refused, 4 disconnect: u8 type
  5 game packet, 6 time sync: the packet or frame above, byte 0 set to the type

Entity record (section 1), least significant bit first:
  12 id | 4 flags (1 properties, 2 destroy, 4 create, 8 tear-off)
  create:     8 dictionary slot | 8 creation counter | 12 parent id | 1 owned by receiver
  properties: 8 byte mask M (bit i: dirty byte i non-zero) | 1 W (some snap byte under M
              non-zero) | per set bit i of M: 8 dirty byte i, then 8 snap byte i when W |
              1 L (T > 127) | T in 7 bits (11 when L) | the T field bits: the fields of
              the dirty mask in property order, each at its own width
Property fields (numpy.float32 arithmetic; round(x) = integer part of x + 0.5 for
x > 0, else 0; wrap(a) = fmod(fmod(a, 360) + 360, 360); box coordinates are clamped
to the box first):
  1 INT b bits: clamp to [min, max], q = v - min
  2 FLOAT b bits: clamp, q = round((v - min) / step)
  3 POSY 16: q = round((y - lo) * 65535 / (hi - lo)); decode lo + (hi - lo) * q * (1/65535)
  4 PROGRESS 8: q = round(v * 255); decode q / 255
  5 ANGLEY 10: q = round(wrap(y) * 1023 / 360); decode q * 360 / 1023
  6 ANGLEXY 16: round(wrap(x) * 255 / 360) | round(wrap(y) * 255 / 360) << 8
  7 SCALE 48: x, y, z clamped to [0, 200], round(c * 65535 / 200) each
  8 POS 48: x, z, y as for POSY;  9 POSXZ 32: x, z
  10 BOOL 1;  11 ANIM 16: index & 127 | loop << 7, round(progress * 255) << 8
  12 ENTITY 12: the id

Commands:
  netbits.py entities N SEED N seeded entity records, one per line: "hex id flags slot
                            counter parent owned dirty snap nfields (bits value)..."
  netbits.py props N SEED   N seeded property fields, one per line: "kind bits q in...
                            out..." with the box, ranges and values as float32 bit
                            patterns in hex
  netbits.py cases N SEED   N seeded cases, one per line: "S hex time seq request" or
                            "P hex header... items..." (see Case.describe)
  netbits.py p2p TYPE [HEX] the frame of TYPE: 1 and 3 carry HEX as the ticket, 5 is
                            the packet HEX with its type byte, 6 reads "TIME SEQ REQ"
  netbits.py fuzz SEED      fuzz seeds, one hex input per line: records of
                            u8 engine (0 host, 1 client), u8 kind (0 packet, 1 time sync),
                            u16 length, the bytes
"""
import random
import struct
import sys


class BitWriter:
    def __init__(self):
        self.bits = []

    def put(self, value, n):
        for i in range(n):
            self.bits.append((value >> i) & 1)

    def put_bytes(self, data):
        for b in data:
            self.put(b, 8)

    def tobytes(self):
        out = bytearray((len(self.bits) + 7) // 8)
        for k, bit in enumerate(self.bits):
            if bit:
                out[k // 8] |= 1 << (k % 8)
        return bytes(out)


class BitReader:
    def __init__(self, data, start=0):
        self.data = data
        self.pos = start

    def get(self, n):
        v = 0
        for i in range(n):
            k = self.pos + i
            if k >= 8 * len(self.data):
                raise ValueError("past the end")
            v |= ((self.data[k // 8] >> (k % 8)) & 1) << i
        self.pos += n
        return v


def call_bits(call):
    seq, method, args = call
    bits = 32 + 8 + 4
    for t, v in args:
        bits += 3 + {0: 0, 1: 8, 2: 32, 3: 16, 4: 128}.get(t, 0)
        if t == 5:
            bits += 8 + 8 * len(v)
    return bits


def text_bits(text):
    seq, units = text
    wide = any(u >= 255 for u in units)
    return 32 + 8 + 8 + len(units) * (16 if wide else 8)


def encode_packet(header, dictionary, acks, calls, texts):
    time10, ack_rel, ack_text, pid, count = header
    head = struct.pack("<BIIIHBHHHHH", 5, time10, ack_rel, ack_text, pid, count, len(dictionary), 0, len(acks), len(calls),
                       len(texts))
    assert len(head) == 26
    w = BitWriter()
    w.put_bytes(head)
    for slot, guid in dictionary:
        w.put(slot, 8)
        w.put_bytes(guid)
    for a in acks:
        w.put(a, 16)
    for seq, method, args in calls:
        w.put(seq, 32)
        w.put(method, 8)
        w.put(len(args), 4)
        for t, v in args:
            w.put(t, 3)
            if t == 1:
                w.put(v, 8)
            elif t == 2:
                w.put(v, 32)
            elif t == 3:
                w.put(v, 16)
            elif t == 4:
                for x in v:
                    w.put(x, 32)
            elif t == 5:
                w.put(len(v), 8)
                w.put_bytes(v)
    for seq, units in texts:
        wide = any(u >= 255 for u in units)
        w.put(seq, 32)
        w.put(len(units), 8)
        w.put(1 if wide else 0, 8)
        for u in units:
            w.put(u if wide else u & 0xFF, 16 if wide else 8)
    return w.tobytes()


def encode_timesync(time, seq, request):
    return struct.pack("<BqIB", 6, time, seq, 1 if request else 0)


def random_float_bits(rng):
    return struct.unpack("<I", struct.pack("<f", rng.uniform(-1e6, 1e6)))[0]


def random_call(rng, nargs=None, long_string=False):
    args = []
    data = 0
    n = rng.randint(0, 8) if nargs is None else nargs
    for i in range(n):
        t = rng.randint(0, 5)
        if long_string and i == 0:
            t = 5
        size = {0: 0, 1: 1, 2: 4, 3: 2, 4: 16}.get(t, 0)
        if t == 5:
            length = 255 if long_string and i == 0 else rng.choice([0, 1, 5, 17])
            size = 1 + length
        if data + size > 256:
            t, size = 0, 0
        if t == 0:
            v = None
        elif t == 1:
            v = rng.randint(0, 1)
        elif t == 2:
            v = random_float_bits(rng)
        elif t == 3:
            v = rng.randint(0, 4094)
        elif t == 4:
            v = [random_float_bits(rng) for _ in range(4)]
        else:
            v = bytes(rng.randint(0, 255) for _ in range(size - 1))
        data += size
        args.append((t, v))
    return (rng.choice([0, rng.randint(1, 0xFFFFFFFF)]), rng.randint(0, 255), args)


def random_text(rng, wide=None):
    n = rng.choice([0, 1, 10, 60, 127])
    if wide is None:
        wide = rng.random() < 0.5
    units = [rng.randint(32, 254) for _ in range(n)]
    if wide and n:
        units[rng.randrange(n)] = rng.randint(255, 0xFFFF)
    return (rng.randint(0, 0xFFFFFFFF), units)


def random_packet(rng, i):
    header = (rng.randint(0, 0xFFFFFFFF), rng.randint(0, 0xFFFFFFFF), rng.randint(0, 0xFFFFFFFF), rng.randint(1, 65535),
              rng.randint(0, 2))
    if i % 50 == 2:
        return header, [], [], [], []
    budget = 9600 - 208
    dictionary, acks, calls, texts = [], [], [], []
    for _ in range(rng.randint(0, 3)):
        if budget >= 136:
            dictionary.append((rng.randint(0, 255), bytes(rng.randint(0, 255) for _ in range(16))))
            budget -= 136
    for _ in range(rng.randint(0, 6)):
        if budget >= 16:
            acks.append(rng.randint(0, 65535))
            budget -= 16
    special = i % 7
    for k in range(rng.randint(0, 4) + (1 if special in (3, 4) else 0)):
        c = random_call(rng, nargs=8 if special == 3 and k == 0 else None, long_string=special == 4 and k == 0)
        if call_bits(c) <= budget:
            calls.append(c)
            budget -= call_bits(c)
    for _ in range(rng.randint(0, 3)):
        t = random_text(rng)
        if text_bits(t) <= budget:
            texts.append(t)
            budget -= text_bits(t)
    return header, dictionary, acks, calls, texts


def describe_packet(data, header, dictionary, acks, calls, texts):
    out = ["P", data.hex()] + [str(x) for x in header] + [str(len(dictionary)), str(len(acks)), str(len(calls)), str(len(texts))]
    for slot, guid in dictionary:
        out += [str(slot), guid.hex()]
    out += [str(a) for a in acks]
    for seq, method, args in calls:
        out += [str(seq), str(method), str(len(args))]
        for t, v in args:
            out.append(str(t))
            if t in (1, 2, 3):
                out.append(str(v))
            elif t == 4:
                out += [str(x) for x in v]
            elif t == 5:
                out += [str(len(v)), v.hex() if v else "-"]
    for seq, units in texts:
        out += [str(seq), str(len(units))] + [str(u) for u in units]
    return " ".join(out)


def decode_packet(data):
    """The packet's fields back from its bytes (checks the reader half)."""
    _, time10, ack_rel, ack_text, pid, count, n0, n1, n2, n3, n4 = struct.unpack_from("<BIIIHBHHHHH", data)
    r = BitReader(data, 208)
    dictionary = [(r.get(8), bytes(r.get(8) for _ in range(16))) for _ in range(n0)]
    acks = [r.get(16) for _ in range(n2)]
    calls = []
    for _ in range(n3):
        seq, method, argc = r.get(32), r.get(8), r.get(4)
        args = []
        for _ in range(argc):
            t = r.get(3)
            v = None
            if t == 1:
                v = r.get(8)
            elif t == 2:
                v = r.get(32)
            elif t == 3:
                v = r.get(16)
            elif t == 4:
                v = [r.get(32) for _ in range(4)]
            elif t == 5:
                v = bytes(r.get(8) for _ in range(r.get(8)))
            args.append((t, v))
        calls.append((seq, method, args))
    texts = []
    for _ in range(n4):
        seq, n, wide = r.get(32), r.get(8), r.get(8)
        texts.append((seq, [r.get(16 if wide == 1 else 8) for _ in range(n)]))
    return (time10, ack_rel, ack_text, pid, count), dictionary, acks, calls, texts


def cases(n, seed):
    rng = random.Random(seed)
    for i in range(n):
        if i % 10 == 0:
            time = rng.randint(-(1 << 63), (1 << 63) - 1)
            seq = rng.randint(0, 0xFFFFFFFF)
            req = rng.randint(0, 1)
            print("S", encode_timesync(time, seq, req).hex(), time, seq, req)
            continue
        fields = random_packet(rng, i)
        data = encode_packet(*fields)
        assert len(data) <= 1200
        assert decode_packet(data) == fields, "reader and writer disagree"
        print(describe_packet(data, *fields))


def fuzz(seed):
    rng = random.Random(seed)

    def record(engine, kind, data):
        return struct.pack("<BBH", engine, kind, len(data)) + data

    for s in range(12):
        out = b""
        for k in range(rng.randint(1, 16)):
            engine = rng.randint(0, 1)
            if rng.random() < 0.25:
                out += record(engine, 1, encode_timesync(rng.randint(0, 1 << 40), rng.randint(0, 8), rng.randint(0, 1)))
                continue
            header, dictionary, acks, calls, texts = random_packet(rng, s * 16 + k)
            header = (rng.randint(0, 1000), rng.randint(0, 4), rng.randint(0, 4), rng.randint(1, 30), rng.randint(0, 2))
            calls = [(rng.randint(0, 4), m, a) for (_, m, a) in calls]
            texts = [(rng.randint(0, 4), u) for (_, u) in texts]
            out += record(engine, 0, encode_packet(header, dictionary, acks, calls, texts))
        print(out.hex())


def entity_record_bits(rec):
    ident, flags, slot, counter, parent, owned, dirty, snap, fields = rec
    w = BitWriter()
    w.put(ident, 12)
    w.put(flags & 15, 4)
    if flags & 4:
        w.put(slot, 8)
        w.put(counter, 8)
        w.put(parent, 12)
        w.put(owned, 1)
    if flags & 1:
        m = 0
        for i in range(8):
            if (dirty >> (8 * i)) & 255:
                m |= 1 << i
        wide = any((m >> i) & 1 and (snap >> (8 * i)) & 255 for i in range(8))
        w.put(m, 8)
        w.put(1 if wide else 0, 1)
        for i in range(8):
            if (m >> i) & 1:
                w.put((dirty >> (8 * i)) & 255, 8)
                if wide:
                    w.put((snap >> (8 * i)) & 255, 8)
        present = [(b, v) for i, (b, v) in enumerate(fields) if (dirty >> i) & 1]
        total = sum(b for b, _ in present)
        assert total <= 2047
        w.put(1 if total > 127 else 0, 1)
        w.put(total, 11 if total > 127 else 7)
        for b, v in present:
            w.put(v, b)
    return w.tobytes()


def random_entity_record(rng, i):
    flags = i % 16
    nfields = rng.choice([0, 1, 3, 8, 20, 64]) if flags & 1 else 0
    special = (i // 16) % 4 if flags & 1 else 0
    # T of 127 (the short form's largest), 128 (the long form's smallest) and 2,047.
    sizes = {1: [64, 63], 2: [64, 64], 3: [64] * 31 + [63]}.get(special)
    if sizes is None:
        sizes = [rng.randint(0, 48) for _ in range(nfields)]
    fields = [(b, rng.getrandbits(b) if b else 0) for b in sizes]
    dirty = 0
    for k in range(len(fields)):
        if rng.random() < 0.7 or special:
            dirty |= 1 << k
    while sum(b for k, (b, _) in enumerate(fields) if (dirty >> k) & 1) > 2047:
        dirty &= dirty - 1
    snap = dirty & rng.getrandbits(64) if rng.random() < 0.5 else 0
    return (rng.randint(0, 4095), flags, rng.randint(0, 255), rng.randint(0, 254), rng.randint(0, 4095),
            rng.randint(0, 1), dirty, snap, fields)


def entities(n, seed):
    rng = random.Random(seed)
    for i in range(n):
        rec = random_entity_record(rng, i)
        ident, flags, slot, counter, parent, owned, dirty, snap, fields = rec
        out = [entity_record_bits(rec).hex() or "-", ident, flags, slot, counter, parent, owned, dirty, snap, len(fields)]
        for b, v in fields:
            out += [b, v]
        print(" ".join(str(x) for x in out))


def props(n, seed):
    import numpy as np

    f32 = np.float32

    def hexf(x):
        return struct.pack("<f", float(f32(x))).hex()

    def rnd(x):
        x = f32(x)
        return int(f32(x + f32(0.5))) if x > 0 else 0

    def wrap(a):
        a = f32(a)
        return f32(np.fmod(f32(np.fmod(a, f32(360)) + f32(360)), f32(360)))

    lo = [f32(-100), f32(-25), f32(-100)]
    hi = [f32(100), f32(200), f32(100)]
    inv = f32(1.5259022e-5)

    def boxq(c, a):
        c = min(max(f32(c), lo[a]), hi[a])
        return min(rnd(f32(f32(f32(c - lo[a]) * f32(65535)) / f32(hi[a] - lo[a]))), 65535)

    def boxd(q, a):
        return f32(lo[a] + f32(f32(f32(hi[a] - lo[a]) * f32(q)) * inv))

    rng = random.Random(seed)
    for i in range(n):
        kind = 1 + i % 12
        v = [f32(rng.uniform(-400, 400)) for _ in range(3)]
        params = []
        if kind == 1:
            mn = rng.randint(-1000, 1000)
            declared = mn + rng.randint(0, 5000)
            count = declared - mn + 1
            bits = min(max(count.bit_length(), 1), 24)
            mx = mn + (1 << bits) - 1
            iv = rng.randint(mn - 100, mx + 100)
            q = min(max(iv, mn), mx) - mn
            params = [mn, declared, iv]
            out = [mn + q]
        elif kind == 2:
            mn = f32(rng.uniform(-10, 10))
            mx = f32(mn + f32(rng.uniform(0.5, 50)))
            step = f32(rng.choice([0.01, 0.1, 0.5, 0.25]))
            count = int(f32(f32(mx - mn) / step)) + 1
            bits = min(max(count.bit_length(), 1), 24)
            step = f32(f32(mx - mn) / f32((1 << bits) - 1))
            c = min(max(v[0], mn), mx)
            q = min(rnd(f32(f32(c - mn) / step)), (1 << bits) - 1)
            params = [hexf(mn), hexf(mx), hexf(step), hexf(v[0])]
            out = [hexf(f32(f32(f32(q) * step) + mn))]
        elif kind == 3:
            bits, q = 16, boxq(v[1], 1)
            params, out = [hexf(v[1])], [hexf(boxd(q, 1))]
        elif kind == 4:
            x = f32(rng.uniform(0, 1))
            bits, q = 8, min(rnd(f32(x * f32(255))), 255)
            params, out = [hexf(x)], [hexf(f32(f32(q) / f32(255)))]
        elif kind == 5:
            bits, q = 10, rnd(f32(f32(wrap(v[1]) * f32(1023)) / f32(360)))
            params, out = [hexf(v[1])], [hexf(f32(f32(f32(q) * f32(360)) / f32(1023)))]
        elif kind == 6:
            x, y = v[0], v[1]
            if abs(float(wrap(x)) - 180.0) < 0.1:
                x, y = f32(x + f32(180)), f32(f32(180) - y)
            lo8 = rnd(f32(f32(wrap(x) * f32(255)) / f32(360)))
            hi8 = rnd(f32(f32(wrap(y) * f32(255)) / f32(360)))
            bits, q = 16, lo8 | hi8 << 8
            params = [hexf(v[0]), hexf(v[1])]
            out = [hexf(f32(f32(f32(lo8) * f32(360)) / f32(255))), hexf(f32(f32(f32(hi8) * f32(360)) / f32(255)))]
        elif kind == 7:
            s = [f32(abs(c) * f32(0.6)) for c in v]
            qs = [min(rnd(f32(f32(min(max(c, f32(0)), f32(200)) * f32(65535)) / f32(200))), 65535) for c in s]
            bits, q = 48, qs[0] | qs[1] << 16 | qs[2] << 32
            params = [hexf(c) for c in s]
            out = [hexf(f32(f32(f32(x) * f32(200)) / f32(65535))) for x in qs]
        elif kind == 8:
            qx, qy, qz = boxq(v[0], 0), boxq(v[1], 1), boxq(v[2], 2)
            bits, q = 48, qx | qz << 16 | qy << 32
            params = [hexf(c) for c in v]
            out = [hexf(boxd(qx, 0)), hexf(boxd(qy, 1)), hexf(boxd(qz, 2))]
        elif kind == 9:
            qx, qz = boxq(v[0], 0), boxq(v[2], 2)
            bits, q = 32, qx | qz << 16
            params = [hexf(v[0]), hexf(v[2])]
            out = [hexf(boxd(qx, 0)), hexf(boxd(qz, 2))]
        elif kind == 10:
            b = rng.randint(0, 1)
            bits, q, params, out = 1, b, [b], [b]
        elif kind == 11:
            index, loop, x = rng.choice([0, 5, 126, 127, 255]), rng.randint(0, 1), f32(rng.uniform(0, 1))
            bits = 16
            q = ((index & 127) | loop << 7) | (rnd(f32(x * f32(255))) & 255) << 8
            params = [index, loop, hexf(x)]
            b0 = q & 255
            out = [255 if b0 in (127, 255) else b0 & 127, loop, hexf(f32(f32((q >> 8) & 255) / f32(255)))]
        else:
            ident = rng.randint(0, 4095)
            bits, q, params, out = 12, ident, [ident], [ident]
        print(" ".join(str(x) for x in [kind, bits, q] + params + ["|"] + out))


def p2p(args):
    kind = int(args[0])
    if kind in (1, 3):
        ticket = bytes.fromhex(args[1])
        print((struct.pack("<BI", kind, len(ticket)) + ticket).hex())
    elif kind in (2, 4):
        print(bytes([kind]).hex())
    elif kind == 5:
        data = bytes.fromhex(args[1])
        print((bytes([5]) + data[1:]).hex())
    elif kind == 6:
        print(encode_timesync(int(args[1]), int(args[2]), int(args[3])).hex())
    else:
        sys.exit("unknown frame type")


if __name__ == "__main__":
    if sys.argv[1] == "p2p":
        p2p(sys.argv[2:])
    elif sys.argv[1] == "cases":
        cases(int(sys.argv[2]), int(sys.argv[3]))
    elif sys.argv[1] == "entities":
        entities(int(sys.argv[2]), int(sys.argv[3]))
    elif sys.argv[1] == "props":
        props(int(sys.argv[2]), int(sys.argv[3]))
    elif sys.argv[1] == "fuzz":
        fuzz(int(sys.argv[2]))
    else:
        sys.exit("unknown command")
