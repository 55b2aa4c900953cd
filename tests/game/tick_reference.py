# The Game tick's frame timing in float32, written from its definition: for each case
# line "mode multiplier start game smooth dt..." (mode F fixed or V variable, the
# multiplier as float bits, the counter at start, the game and smooth game timers at
# start, then the counter ticks between frames) one line per frame:
# "steps frameDelta gameDelta gameTime smoothTime fixedStamp lastStamp" (floats as bits).
import struct
import sys

import numpy as np

f32 = np.float32
STEP = f32(0.06666667)
FREQ = f32(10000000)
FIXED_RATE = f32(14.999999)
VARIABLE_RATE = f32(15.0)
REMAINDER = f32(0.01)
QUARTER = f32(0.25)
ZERO = f32(0.0)


def bits(x):
    return "%08x" % struct.unpack("<I", struct.pack("<f", float(x)))[0]


def from_bits(h):
    return f32(struct.unpack("<f", struct.pack("<I", int(h, 16)))[0])


def trunc(x):
    return int(x) if x > ZERO else 0


def ticks(seconds):
    return int(f32(seconds) * FREQ)


for line in sys.stdin:
    w = line.split()
    if not w:
        continue
    fixed = w[0] == "F"
    mult = from_bits(w[1])
    now = int(w[2])
    game = int(w[3])
    smooth = int(w[4])
    last = stamp = now
    history = [ZERO] * 4
    out = []
    for dt in map(int, w[5:]):
        now += dt
        d = f32(now - last) / FREQ
        if d < ZERO:
            d = ZERO
        if d > STEP:
            d = STEP
            cap = int(FREQ * STEP)
            stamp += now - cap - last
            last = now - cap
        last += int(d * FREQ)
        history = history[1:] + [d]
        delta = (history[0] + history[1] + history[2] + history[3]) * QUARTER
        e = f32(last - stamp) / FREQ
        if e < ZERO:
            e = ZERO
        factor = f32(1.0)
        n = trunc(e * mult * factor * FIXED_RATE)
        if n:
            stamp += int(f32(n) * STEP / (mult * factor) * FREQ)
        elif not mult * factor > ZERO:
            stamp = last
        g = mult * factor * delta
        m = trunc(g * VARIABLE_RATE)
        r = g - f32(m) * STEP
        if r < ZERO:
            r = ZERO
        v = m + (1 if m == 0 or r > REMAINDER else 0)
        if fixed:
            steps = n
            smooth += ticks(g)
            game += n * ticks(STEP)
        else:
            steps = v
            for i in range(v):
                s = r if i == m else STEP
                game += ticks(s)
                smooth += ticks(s)
        out.append("%d %s %s %d %d %d %d" % (steps, bits(delta), bits(g), game, smooth, stamp, last))
    print(" | ".join(out))
