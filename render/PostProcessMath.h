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

// ---- Zoom blur ----
// One application of the zoom blur mixes the source (ratio s) with the mean of eight
// samples at 0..7 steps towards the centre (ratio b). Applied twice, sample n of 0..14
// steps weighs b^2 x (ways to write n as a sum of two of 0..7) / 64, plus b s / 4 for n
// up to 7, plus s^2 for n = 0. weights[15] is 0.
inline void ZoomBlurTwiceWeights(float blurred, float source, float weights[16]) {
    for (uint32_t n = 0; n < 16; ++n) {
        const float ways = n < 8 ? static_cast<float>(n + 1) : n < 15 ? static_cast<float>(15 - n) : 0.0f;
        float w = blurred * blurred * ways / 64.0f;
        if (n < 8) w += blurred * source / 4.0f;
        if (n == 0) w += source * source;
        weights[n] = w;
    }
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

// The tone curve and the colour lookup folded into one table, so the composite reads
// each channel once. The two source tables are read as a composite reading them would:
// through sRGB conversion with linear filtering. The tone curve's texels are
// gamma-mapped (texel i holds the curve at (i / 256)^(1 / 2.2)), so the curve works on
// the gamma-encoded input: it is read at the texel whose position is the input's sRGB
// encoding, and its sRGB read gives back linear light (the default straight curve is the
// identity). The
// lookup is read at the tone value sRGB-encoded (its position in the 64 texels is that
// value x 63), so the default straight lookup is the identity too. The fold's texel j
// stands for the input (j / (n - 1) x kToneLookupTop)^2, spaced evenly over the input's
// square root (the composite reaches it with one square root, and the dark end gets as
// many texels as the gamma-mapped curve gives it), and holds, per channel, that input's
// result sRGB-encoded and rounded to a byte; its alpha holds the square root of the tone
// curve's green there, rounded to a byte (the composite's local contrast squares it).
// Inputs and output are 0xAARRGGBB texels.
constexpr float kToneLookupTop = 2.0f;  // the square root of the tone curve's top input 4; the composite has it too
inline float SrgbEncodeValue(float v) {
    const double c = v <= 0.0031308f ? v * 12.92 : 1.055 * std::pow(static_cast<double>(v), 1.0 / 2.4) - 0.055;
    return static_cast<float>(c);
}
inline void FoldToneCurveAndLookup(const uint32_t* tone, uint32_t toneTexels, const uint32_t* lookup,
                                   uint32_t lookupTexels, uint32_t* fold, uint32_t foldTexels) {
    static const auto decoded = [] {
        struct Table {
            float v[256];
        } t{};
        for (uint32_t i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            t.v[i] = static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        return t;
    }();
    auto encode = [](float v) -> uint32_t {
        const double b = static_cast<double>(SrgbEncodeValue(v)) * 255.0 + 0.5;
        return b <= 0.0 ? 0u : b >= 255.0 ? 255u : static_cast<uint32_t>(b);
    };
    // A clamped, linearly filtered read of channel `shift` of an n-texel table at x texels.
    auto read = [&](const uint32_t* table, uint32_t n, float x, uint32_t shift) {
        const float last = static_cast<float>(n - 1);
        x = x > 0.0f ? (x < last ? x : last) : 0.0f;
        uint32_t i = static_cast<uint32_t>(x);
        if (i + 1 >= n) i = n > 1 ? n - 2 : 0;
        const float a = decoded.v[(table[i] >> shift) & 0xFF];
        const float b = decoded.v[(table[n > 1 ? i + 1 : i] >> shift) & 0xFF];
        return a + (b - a) * (x - static_cast<float>(i));
    };
    const float step = foldTexels > 1 ? kToneLookupTop / static_cast<float>(foldTexels - 1) : 0.0f;
    for (uint32_t j = 0; j < foldTexels; ++j) {
        const float root = static_cast<float>(j) * step;
        // The tone texel whose gamma-mapped position is the input's sRGB encoding: the
        // curve's value there, read through sRGB, is the input itself for the straight
        // curve (at the dark end too, where sRGB departs from the power 2.2).
        const float at = std::pow(SrgbEncodeValue(root * root), 2.2f) * 0.25f * static_cast<float>(toneTexels);
        uint32_t texel = 0;
        for (uint32_t shift = 0; shift <= 16; shift += 8) {
            const float toned = read(tone, toneTexels, at, shift);
            const float looked =
                read(lookup, lookupTexels, SrgbEncodeValue(toned) * static_cast<float>(lookupTexels - 1), shift);
            texel |= encode(looked) << shift;
            if (shift == 8) texel |= static_cast<uint32_t>(std::sqrt(toned) * 255.0f + 0.5f) << 24;
        }
        fold[j] = texel;
    }
}
