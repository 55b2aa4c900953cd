#pragma once
// Private to render/: small formulas the post-processing passes share. Every value is
// computed in single precision, as the constants the passes upload.
#include <cmath>
#include <cstdint>
#include <string>

#include "core/math/Vector.h"

// The outline composite's softness pair (5 / (4f + 1), 5f / (4f + 1)); a softness at or
// below -0.25 counts as 0, so the pair never divides by zero or turns negative.
inline Vector OutlineSoftnessPair(float softness) {
    const float f = softness > -0.25f && std::isfinite(softness) ? softness : 0.0f;
    const float d = 4.0f * f + 1.0f;
    return Vector(5.0f / d, 5.0f * f / d, 0.0f, 0.0f);
}

// ---- Composite options ----
constexpr uint32_t kCompositeOptionBits = 6;
enum : uint32_t {
    COMPOSITE_ENABLED = 1,
    COMPOSITE_OUTLINES = 2,
    COMPOSITE_LOCAL_CONTRAST = 4,
    COMPOSITE_LOW_SPEC_MODE = 8,
    COMPOSITE_LUM_IN_ALPHA = 16,
    COMPOSITE_SHARPEN = 32,
};
// The option text of the composite variant of a 6-bit mask: the words of its set bits in
// bit order, each followed by one blank; empty for a mask without "ENABLED" (all those
// masks draw the plain copy).
inline std::string CompositeOptionString(uint32_t mask) {
    static const char* const kWords[kCompositeOptionBits] = {"ENABLED", "OUTLINES", "LOCAL_CONTRAST",
                                                             "LOW_SPEC_MODE", "LUM_IN_ALPHA", "SHARPEN"};
    std::string text;
    if (!(mask & COMPOSITE_ENABLED)) return text;
    for (uint32_t b = 0; b < kCompositeOptionBits; ++b)
        if (mask & (1u << b)) (text += kWords[b]) += ' ';
    return text;
}

// ---- Gaussian blur ----
// A 13-tap kernel read with 7 fetches: the centre weight, and for the tap pairs (1, 2),
// (3, 4), (5, 6) one weight and one offset in texels each (a bilinear fetch between the
// two taps). A sigma not above 0 or not finite gives the identity kernel; a pair whose
// weights underflow to 0 gets weight 0 at its first tap. No value is NaN or infinite.
struct GaussKernel {
    float centre;
    float weight[3];  // p12, p34, p56
    float offset[3];  // o12, o34, o56
};
inline GaussKernel ComputeGaussKernel(float sigma) {
    GaussKernel k{1.0f, {0.0f, 0.0f, 0.0f}, {1.0f, 3.0f, 5.0f}};
    if (!(sigma > 0.0f) || !std::isfinite(sigma)) return k;
    float g[7];
    float sum = 0.0f;
    const float norm = 2.5066283f * sigma;  // sqrt(2 pi) s
    for (uint32_t x = 0; x < 7; ++x) {
        const float fx = static_cast<float>(x);
        g[x] = std::exp(-(fx * fx) / (2.0f * sigma * sigma)) / norm;
        sum += g[x];
    }
    const float n = 1.0f / (2.0f * sum - g[0]);
    if (!std::isfinite(g[0]) || !std::isfinite(n) || !(n > 0.0f)) return k;
    k.centre = n * g[0];
    for (uint32_t p = 0; p < 3; ++p) {
        const float a = g[1 + 2 * p], b = g[2 + 2 * p];
        const float pair = a + b;
        const float first = static_cast<float>(1 + 2 * p);
        if (pair > 0.0f) {
            k.weight[p] = n * pair;
            k.offset[p] = first + b / pair;
        } else {
            k.weight[p] = 0.0f;
            k.offset[p] = first;
        }
    }
    return k;
}

// ---- Ramps ----
// scale 1 / (end - start) and offset -start x scale; (0, 1) when the two are within 0.001.
struct Ramp {
    float scale, offset;
};
inline Ramp ComputeRamp(float start, float end) {
    const float d = end - start;
    if (!(std::fabs(d) > 0.001f)) return Ramp{0.0f, 1.0f};
    const float s = 1.0f / d;
    return Ramp{s, -start * s};
}

// ---- RGB shift ----
constexpr uint32_t kRgbShiftCurvePoints = 64;
// The shift amount at elapsedTicks of the renderer clock (10 MHz ticks since the device
// was created): the 64-point curve over a 5-second cycle, linearly interpolated, plus
// the offset. The cycle is taken on the integer tick count, so a long run keeps its
// precision; the index stays within 0..62 so the next point is always inside the curve.
inline float RgbShiftAmount(const float* curve, int64_t elapsedTicks, int64_t ticksPerSecond, float offset) {
    const int64_t period = 5 * ticksPerSecond;
    int64_t m = period > 0 ? elapsedTicks % period : 0;
    if (m < 0) m += period;
    const float t = static_cast<float>(static_cast<double>(m) / static_cast<double>(ticksPerSecond));
    int32_t i = static_cast<int32_t>(t * 0.2f * 63.0f);
    if (i < 0) i = 0;
    if (i > 62) i = 62;
    const float a = curve[i], b = curve[i + 1];
    return a + (t - static_cast<float>(i) * 0.07936508f) * 12.6f * (b - a) + offset;
}

// ---- Lookup textures ----
// The table entry of texel i of an n-texel lookup: gamma-mapped (tone curve) or direct.
inline uint32_t LookupIndex(uint32_t i, uint32_t n, bool gammaMapped) {
    if (!gammaMapped) return i;
    const float quarter = static_cast<float>(n) * 0.25f;
    const float k = std::pow(static_cast<float>(i) / quarter, 0.45454544f) * 0.25f * static_cast<float>(n);
    const uint32_t index = static_cast<uint32_t>(k);
    return index < n ? index : n - 1;
}

// One channel: clamped to 0..1 (NaN as 0), times 255, truncated.
inline uint32_t LookupChannel(float v) {
    const float c = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
    return static_cast<uint32_t>(c * 255.0f);
}
// Four floats (R, G, B, A) as 0xAARRGGBB.
inline uint32_t PackLookupTexel(const Vector& v) {
    return LookupChannel(v.w) << 24 | LookupChannel(v.x) << 16 | LookupChannel(v.y) << 8 | LookupChannel(v.z);
}
