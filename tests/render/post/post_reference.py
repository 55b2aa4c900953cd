#!/usr/bin/env python3
"""Reference values for the post-processing tests, written from the design of the chain
independently of the renderer's code (single precision through numpy.float32).

  kernel SIGMA
      the 13-tap Gaussian's centre weight, pair weights p12 p34 p56 and pair offsets
      o12 o34 o56 (identity for a sigma not above 0 or not finite; a pair of weights
      summing to 0 gets weight 0 at its first tap)
  taps SIGMA
      the 13-tap kernel's weights of taps 0 to 6 (each tap k and -k alike)
  ramp START END
      scale and offset of a ramp (0 and 1 when |END - START| is not above 0.001)
  rgbshift TICKS OFFSET C0 .. C63
      the RGB-shift amount TICKS (10 MHz) after the renderer clock's start
  lookup N GAMMA
      the table entry (as a float, before truncation) of each of the N texels
  pack R G B A
      the texel 0xAARRGGBB of four floats (clamped, NaN as 0, x 255 truncated)
  uiblur M0..M15 X0 Y0 Z0 .. X3 Y3 Z3 VW VH TW TH BBW RW AW AH
      the UI blur copy of a panel whose corners go through M on a VW x VH viewport of a
      TW x TH bound target: the copied rectangle x0 y0 x1 y1, the copy size in A (AW x AH)
      at half the back buffer's scale, and the texture-coordinate scale x y and offset
      x y; "empty" when nothing is copied
  passconst W H THRESHOLD EXPOSITION SUBPIX EDGE EDGEMIN CSUBPIX CEDGE CEDGEMIN ZOOM BLURRED SOURCE AMOUNT SIGMA
      the registers of the glow source, the first (vertical) blur pass of step scale 1
      at quarter size, the downscaled luminance, FXAA, the RGB shift and the zoom blur
      (applied twice in one draw) on a W x H render, one a line: the pass, vs or ps, the register and
      its four values ("any" where the register's component is not read)
  options
      the 64 composite option strings, one a line, in brackets
  passes MODE QUALITY FXAA ZOOM SHIFT CONTRAST OUTLINES SCALED W H
      the chain's draws in order on a W x H render, one a line: the shader, the option
      mask or -, the target (A, B, N the outline target or S the bound one), the sRGB write, the
      viewport x y w h, the sampler flags of stages 0-5 (- when not bound by the pass)
      and vertex c0; then "output" and the light buffer holding the last image.
      OUTLINES 1: outlines on with one outlined object of category bit 2 covering the
      whole grid (the coverage draw into A and the dilation into the outline target N
      come first); 0: outlines off, or on with nothing outlined and a softness of 0 or
      more, which draws no outline pass
"""
import math
import sys

import numpy as np

f = np.float32
COVERAGE_C0 = (0, 0, 0, 0)  # not read: the coverage draw's fixed shader has its own constants


def kernel(sigma):
    s = f(sigma)
    ident = [1.0, 0.0, 0.0, 0.0, 1.0, 3.0, 5.0]
    if not (s > 0) or not np.isfinite(s):
        return ident
    with np.errstate(all='ignore'):
        norm = f(f(2.5066283) * s)
        g = [f(np.exp(f(-f(f(x) * f(x)) / f(f(2) * s * s))) / norm) for x in range(7)]
        total = f(0)
        for v in g:
            total = f(total + v)
        n = f(f(1) / f(f(2) * total - g[0]))
    if not np.isfinite(g[0]) or not np.isfinite(n) or not n > 0:
        return ident
    out = [float(f(n * g[0]))]
    weights, offsets = [], []
    for p in range(3):
        a, b = g[1 + 2 * p], g[2 + 2 * p]
        pair = f(a + b)
        if pair > 0:
            weights.append(float(f(n * pair)))
            offsets.append(float(f(f(1 + 2 * p) + f(b / pair))))
        else:
            weights.append(0.0)
            offsets.append(float(1 + 2 * p))
    return out + weights + offsets


def taps(sigma):
    s = f(sigma)
    if not (s > 0) or not np.isfinite(s):
        return [1.0] + [0.0] * 6
    norm = f(f(2.5066283) * s)
    g = [f(np.exp(f(-f(f(x) * f(x)) / f(f(2) * s * s))) / norm) for x in range(7)]
    n = f(f(1) / f(f(2) * f(sum(g, f(0))) - g[0]))
    return [float(f(n * v)) for v in g]


def passconst(a):
    w, h = f(a[0]), f(a[1])
    t, e, sub, edge, edgemin, csub, cedge, cedgemin, zoom, blurred, source, amount, sigma = [f(v) for v in a[2:15]]
    one = f(1)
    q = (f((int(a[0]) + 3) >> 2), f((int(a[1]) + 3) >> 2))
    k = kernel(float(sigma))
    o12, o34, o56 = [f(v) for v in k[4:7]]
    out = []
    glow = [(0, (one, one, f(2) / w, f(2) / h)), (1, (one / w, one / h, f(-1) / w, one / h))]
    for r, v in glow:
        out.append(("GlowSource", "vs", r, v))
        out.append(("DownscaleLuminance", "vs", r, v))
    out.append(("GlowSource", "ps", 0, (t, t, t, t)))
    out.append(("DownscaleLuminance", "ps", 0, (e, e, e, e)))
    out.append(("GaussBlur", "vs", 1, (f(0), one / h, f(0), f(0))))
    out.append(("GaussBlur", "vs", 2, (-o56, -o34, -o12, "any")))
    out.append(("GaussBlur", "vs", 3, (o12, o34, o56, "any")))
    out.append(("GaussBlur", "ps", 0, (f(q[0] / w) - f(f(0.5) / w), f(q[1] / h) - f(f(0.5) / h), f(0), f(0))))
    n = csub
    fx = [(one / w, one / h, f(0), f(0)), (-n / w, -n / h, n / w, n / h),
          (f(-2) / w, f(-2) / h, f(2) / w, f(2) / h), (f(8) / w, f(8) / h, f(-4) / w, f(-4) / h),
          (one, -one, f(0.25), f(-0.25)), (sub, edge, edgemin, f(0)), (n, cedge, cedgemin, f(0))]
    for r, v in enumerate(fx):
        out.append(("FXAA", "ps", r, v))
    d = f(f(f(h * f(2)) / f(1080)) * amount)
    out.append(("RGBShift", "ps", 0, (d / w, d / h, f(0), f(0))))
    out.append(("ZoomBlur", "vs", 1, (f(f(zoom * one) * f(-0.005)), f(0), f(0), f(0))))
    # The zoom blur applied twice: one application mixes the source (ratio source) with
    # the mean of samples 0..7 steps towards the centre (ratio blurred); composing two,
    # with a sample of a sample taken at the sum of their steps, weighs each of 0..14.
    b, s = float(blurred), float(source)
    once = [b / 8 + (s if k == 0 else 0.0) for k in range(8)]
    twice = [0.0] * 16
    for k in range(8):
        for j in range(8):
            twice[k + j] += once[k] * once[j]
    # Drawn as eight reads: offset 0, then each pair (2k - 1, 2k) read once at the place
    # its two weights balance.
    places, weights = [0.0], [twice[0]]
    for k in range(1, 8):
        a, c = twice[2 * k - 1], twice[2 * k]
        places.append(2 * k - 1 + c / (a + c))
        weights.append(a + c)
    reads = places + weights
    for r in range(4):
        out.append(("ZoomBlur", "ps", r, tuple(reads[4 * r:4 * r + 4])))
    return out


def ramp(start, end):
    d = f(f(end) - f(start))
    if not abs(d) > f(0.001):
        return [0.0, 1.0]
    s = f(f(1) / d)
    return [float(s), float(f(-f(start) * s))]


def rgbshift(ticks, offset, curve):
    period = 5 * 10000000
    m = ticks % period
    t = f(m / 10000000.0)
    i = int(f(f(t * f(0.2)) * f(63)))
    i = min(max(i, 0), 62)
    a, b = f(curve[i]), f(curve[i + 1])
    v = f(a + f(f(f(t - f(f(i) * f(0.07936508))) * f(12.6)) * f(b - a)))
    return float(f(v + f(offset)))


def lookup(n, gamma):
    if not gamma:
        return [float(i) for i in range(n)]
    q = f(f(n) * f(0.25))
    return [float(f(f(np.power(f(f(i) / q), f(0.45454544))) * f(0.25)) * f(n)) for i in range(n)]


def channel(v):
    v = f(v)
    c = v if v > 0 else f(0)
    c = c if c < 1 else f(1)
    return int(f(c * f(255)))


def pack(r, g, b, a):
    return channel(a) << 24 | channel(r) << 16 | channel(g) << 8 | channel(b)


def uiblur(a):
    m = [f(v) for v in a[0:16]]
    corners = [[f(v) for v in a[16 + 3 * i:19 + 3 * i]] for i in range(4)]
    vw, vh, tw, th, bbw, rw, aw, ah = [int(v) for v in a[28:36]]
    inf = float("inf")
    left, top, right, bottom = inf, inf, -inf, -inf
    whole = False
    for c in corners:
        col = lambda j: f(f(f(f(c[0] * m[j]) + f(c[1] * m[4 + j])) + f(c[2] * m[8 + j])) + m[12 + j])
        x, y, w = col(0), col(1), col(3)
        if not w > f(1e-6):
            whole = True
            break
        px = f(f(f(f(x / w) + f(1)) * f(0.5)) * f(vw))
        py = f(f(f(f(1) - f(y / w)) * f(0.5)) * f(vh))
        left, right = min(left, px), max(right, px)
        top, bottom = min(top, py), max(bottom, py)
    if whole:
        left, top, right, bottom = f(0), f(0), f(tw), f(th)

    def edge(v, limit):
        if not v > 0:
            return 0
        return int(v) if v < limit else limit
    x0, x1 = edge(math.floor(left), tw), edge(math.ceil(right), tw)
    y0, y1 = edge(math.floor(top), th), edge(math.ceil(bottom), th)
    if not (x1 > x0 and y1 > y0):
        return None
    twice = f(f(2) * f(f(bbw) / f(rw)))
    cw = min(int(f(f(f(x1 - x0) + twice) - f(1)) / twice), aw)
    ch = min(int(f(f(f(y1 - y0) + twice) - f(1)) / twice), ah)
    sx = f(f(cw) / f(f(x1 - x0) * f(aw)))
    sy = f(f(ch) / f(f(y1 - y0) * f(ah)))
    return [x0, y0, x1, y1, cw, ch, float(f(f(right - left) * sx)), float(f(f(bottom - top) * sy)),
            float(f(f(left - f(x0)) * sx)), float(f(f(top - f(y0)) * sy))]


WORDS = ["ENABLED", "OUTLINES", "LOCAL_CONTRAST", "LOW_SPEC_MODE", "LUM_IN_ALPHA", "SHARPEN"]


def option(mask):
    if not mask & 1:
        return ""
    return "".join(WORDS[b] + " " for b in range(6) if mask & (1 << b))


def passes(mode, quality, fxaa_on, zoom, shift, contrast, outlines, scaled, W, H):
    """The draws of one run at render size W x H (the viewport bound on entry has the
    same size)."""
    chain = bool(mode & 1)
    draws = []
    q = ((W + 3) >> 2, (H + 3) >> 2)
    none = ['-'] * 6

    def samplers(**stages):
        s = list(none)
        for k, v in stages.items():
            s[int(k[1:])] = str(v)
        return s

    w, h = f(W), f(H)
    glow_c0 = (1.0, 1.0, f(2) / w, f(2) / h)
    blur_c0 = (f(q[0]) / w, f(q[1]) / h, f(0.5) / w, f(0.5) / h)
    full_c0 = (f(W) / w, f(H) / h, f(0.5) / w, f(0.5) / h)
    if chain and outlines:
        draws.append(("Coverage", '-', 'A', 0, (0, 0, W, H), none, COVERAGE_C0))
        draws.append(("Dilate", '-', 'N', 0, (0, 0, W, H), samplers(s0=6),
                      (0.5, -0.5, 0.5 + f(0.5) / w, 0.5 + f(0.5) / h)))
    if chain:
        draws.append(("GlowSource", '-', 'A', 1, (0, 0) + q, samplers(s0=6), glow_c0))
        for _ in range(2):
            draws.append(("GaussBlur", '-', 'B', 1, (0, 0) + q, samplers(s0=7), blur_c0))
            draws.append(("GaussBlur", '-', 'A', 1, (0, 0) + q, samplers(s0=7), blur_c0))
        if abs(contrast - 1.0) > 0.0001:
            draws.append(("DownscaleLuminance", '-', 'A', 1, (0, 0, (W + 3) >> 2, (H + 3) >> 2),
                          samplers(s0=6, s1=7), glow_c0))
    zoom_on = chain and zoom > 0.0001 and quality >= 2
    shift_on = chain and shift and quality >= 2
    fxaa = chain and fxaa_on and (mode & 4) != 0 and quality >= 3
    optional = zoom_on or shift_on or fxaa
    mask = 0
    if chain:
        mask = 1 | (2 if outlines else 0) | (4 if abs(contrast - 1.0) > 0.0001 else 0) | \
               (16 if fxaa else 0) | (8 if quality < 2 else 0)
    into_b = optional or scaled
    comp_samplers = samplers(s0=6, s1=7, s2=6, s3=6, s5=1) if chain else samplers(s0=6)
    draws.append(("Postprocess", mask, 'B' if into_b else 'S', 1, (0, 0, W, H), comp_samplers, full_c0))
    count = (1 if fxaa else 0) + (1 if shift_on else 0) + (1 if zoom_on else 0)
    source, done = 'B', 0
    names = (["FXAA"] if fxaa else []) + (["RGBShift"] if shift_on else []) + (["ZoomBlur"] if zoom_on else [])
    for name in names:
        done += 1
        dest = 'A' if source == 'B' else 'B'
        target = 'S' if done == count and not scaled else dest
        draws.append((name, '-', target, 0, (0, 0, W, H), samplers(s0=6), full_c0))
        source = dest
    return draws, source


def main(argv):
    cmd = argv[1]
    if cmd == "kernel":
        print(" ".join("%.9g" % v for v in kernel(float(argv[2]))))
    elif cmd == "taps":
        print(" ".join("%.9g" % v for v in taps(float(argv[2]))))
    elif cmd == "ramp":
        print(" ".join("%.9g" % v for v in ramp(float(argv[2]), float(argv[3]))))
    elif cmd == "rgbshift":
        print("%.9g" % rgbshift(int(argv[2]), float(argv[3]), [float(v) for v in argv[4:68]]))
    elif cmd == "lookup":
        print(" ".join("%.9g" % v for v in lookup(int(argv[2]), argv[3] == "1")))
    elif cmd == "pack":
        print(pack(*[float(v) for v in argv[2:6]]))
    elif cmd == "uiblur":
        r = uiblur([float(v) for v in argv[2:]])
        print("empty" if r is None else " ".join("%.9g" % v for v in r))
    elif cmd == "passconst":
        for name, stage, reg, v in passconst([float(x) for x in argv[2:17]]):
            print(name, stage, reg, *(x if isinstance(x, str) else "%.9g" % float(x) for x in v))
    elif cmd == "options":
        for m in range(64):
            print("[%s]" % option(m))
    elif cmd == "passes":
        a = argv[2:]
        draws, output = passes(int(a[0]), int(a[1]), a[2] == "1", float(a[3]), a[4] == "1", float(a[5]),
                               a[6] == "1", a[7] == "1", int(a[8]), int(a[9]))
        for name, mask, target, srgb, vp, s, c0 in draws:
            print(name, mask, target, srgb, *vp, *s, *("%.9g" % float(v) for v in c0))
        print("output", output)
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main(sys.argv)
