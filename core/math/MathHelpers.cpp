// Numeric helpers: Cephes-style sine/cosine, random seeding, Catmull-Rom segments,
// dequantisation and the Bezier parameter solver.
#include "core/math/MathHelpers.h"

#include <cmath>
#include <cstring>

#include "platform/os/Clock.h"

namespace {

uint32_t FloatBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

float BitsFloat(uint32_t u) {
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// The octant index as the SSE conversion gives it: truncation, with the "integer
// indefinite" value for magnitudes that do not fit.
int32_t OctantOf(float y) {
    if (!(y < 2147483520.0f)) return INT32_MIN;
    return static_cast<int32_t>(y);
}

void SinCosLane(float angle, float* sine, float* cosine) {
    constexpr float kFourOverPi = 1.27323954473516f;
    constexpr float kDp1 = -0.78515625f, kDp2 = -2.4187564849853515625e-4f, kDp3 = -3.77489497744594108e-8f;
    constexpr float kS0 = -1.9515295891e-4f, kS1 = 8.3321608736e-3f, kS2 = -1.6666654611e-1f;
    constexpr float kC0 = 2.443315711809948e-5f, kC1 = -1.388731625493765e-3f, kC2 = 4.166664568298827e-2f;

    uint32_t signSin = FloatBits(angle) & 0x80000000u;
    float x = std::fabs(angle);
    int32_t j = OctantOf(x * kFourOverPi);
    j = static_cast<int32_t>((static_cast<uint32_t>(j) + 1u) & ~1u);
    float y = static_cast<float>(j);
    uint32_t swapSin = (static_cast<uint32_t>(j) & 4u) << 29;
    bool sinPolyForSin = (j & 2) == 0;
    uint32_t signCos = (~(static_cast<uint32_t>(j) - 2u) & 4u) << 29;
    signSin ^= swapSin;

    x = ((x + y * kDp1) + y * kDp2) + y * kDp3;
    float z = x * x;
    float polyCos = ((kC0 * z + kC1) * z + kC2) * z * z - 0.5f * z + 1.0f;
    float polySin = ((kS0 * z + kS1) * z + kS2) * z * x + x;

    float s = sinPolyForSin ? polySin : polyCos;
    float c = sinPolyForSin ? polyCos : polySin;
    *sine = BitsFloat(FloatBits(s) ^ signSin);
    *cosine = BitsFloat(FloatBits(c) ^ signCos);
}

}  // namespace

void VectorSinCos(const Vector& angles, Vector* sines, Vector* cosines) {
    Vector s, c;
    for (int i = 0; i < 4; ++i) SinCosLane(angles[i], &s[i], &c[i]);
    if (sines) *sines = s;
    if (cosines) *cosines = c;
}

RandomGenerator gRandomGenerators[3];
RandomGenerator gSharedRandomState;

void SeedEngineRandomGenerators() {
    for (RandomGenerator& g : gRandomGenerators) g.Seed();
    gSharedRandomState.Seed();
}

void RandomGenerator::Seed() {
    state[0] = static_cast<uint32_t>(os::ReadCounter());
    state[1] = static_cast<uint32_t>(os::ReadCounter());
    state[2] = static_cast<uint32_t>(os::ReadCounter() >> 1);
    state[3] = static_cast<uint32_t>(os::ReadCounter() >> 2);
    state[4] = static_cast<uint32_t>(os::ReadCounter() >> 3);
}

uint32_t RandomGenerator::Next() {
    uint32_t old = state[0];
    state[0] = old * 214013u + 2531011u;
    return old >> 16;
}

Vector CatmullRomPoint(float t, const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3) {
    float t2 = t * t, t3 = t2 * t;
    return (p1 * 2.0f + (p2 - p0) * t + (p0 * 2.0f - p1 * 5.0f + p2 * 4.0f - p3) * t2 +
            (p1 * 3.0f - p0 - p2 * 3.0f + p3) * t3) *
           0.5f;
}

Vector CatmullRomTangent(float t, const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3) {
    return ((p2 - p0) + (p0 * 4.0f - p1 * 10.0f + p2 * 8.0f - p3 * 2.0f) * t +
            (p1 * 9.0f - p0 * 3.0f - p2 * 9.0f + p3 * 3.0f) * (t * t)) *
           0.5f;
}

float CatmullRomNearestPoint(Vector* point, float* t, float* length, const Vector& query, const Vector& p0,
                             const Vector& p1, const Vector& p2, const Vector& p3) {
    Vector previous = p1;
    float travelled = 0.0f;
    float best = kFloatMax;
    Vector bestPoint = p1;
    float bestT = 0.0f, bestLength = 0.0f;
    for (int i = 0; i <= 128; ++i) {
        float s = static_cast<float>(i) / 128.0f;
        Vector p = CatmullRomPoint(s, p0, p1, p2, p3);
        travelled += std::sqrt(p.DistanceSquaredXYZ(previous));
        previous = p;
        float d = p.DistanceSquaredXYZ(query);
        if (d < best) {
            best = d;
            bestPoint = p;
            bestT = s;
            bestLength = travelled;
        }
    }
    if (point) *point = bestPoint;
    if (t) *t = bestT;
    if (length) *length = bestLength;
    return best;
}

Vector DequantizeInt16Vector(const Vector& v) {
    Vector out;
    for (int i = 0; i < 4; ++i) out[i] = v[i] * (v[i] < 0.0f ? 3.0517578e-5f : 3.051851e-5f);
    return out;
}

float BezierSolveT(float x0, float x1, float x2, float x3, float x) {
    if (x3 == x0) return x >= x3 ? 1.0f : 0.0f;
    float a = x3 - 3.0f * x2 + 3.0f * x1 - x0;
    float b = 3.0f * x2 - 6.0f * x1 + 3.0f * x0;
    float c = 3.0f * x1 - 3.0f * x0;
    float s = (x - x0) / (x3 - x0);
    for (int i = 0; i < 4; ++i) {
        float f = a * s * s * s + b * s * s + c * s + x0 - x;
        float df = 3.0f * a * s * s + 2.0f * b * s + c;
        if (std::fabs(f) <= 0.01f || std::fabs(df) <= 0.01f) break;
        s -= f / df;
    }
    return s;
}
