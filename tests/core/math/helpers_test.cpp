// test-sanitize: address
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/math/MathHelpers.h"
#include "platform/os/Clock.h"

TEST(VectorSinCos, MatchesLibmOverAWideRange) {
    Vector s, c;
    std::mt19937 rng(4);
    for (float range : {4.0f, 100.0f, 10000.0f}) {
        std::uniform_real_distribution<float> u(-range, range);
        double worst = 0;
        for (int n = 0; n < 20000; ++n) {
            Vector a(u(rng), u(rng), u(rng), u(rng));
            VectorSinCos(a, &s, &c);
            for (int i = 0; i < 4; ++i)  // reference in double from the same float angle
                worst = std::fmax(worst, std::fmax(std::fabs(s[i] - std::sin(double(a[i]))), std::fabs(c[i] - std::cos(double(a[i])))));
        }
        // Within a few float steps of the argument's own rounding.
        EXPECT_LT(worst, range <= 4 ? 3e-7 : range * 2e-8 + 3e-7) << range;
    }
}

TEST(RandomGenerator, StepsWordZeroAsTheClassicGenerator) {
    RandomGenerator g;
    g.SetState(1);
    // state 1 -> 2745024 -> ...; output is the old state >> 16.
    EXPECT_EQ(g.Next(), 0u);
    EXPECT_EQ(g.state[0], 2745024u);
    EXPECT_EQ(g.Next(), 41u);
    EXPECT_EQ(g.Next(), (2745024u * 214013u + 2531011u) >> 16);

    os::ManualClock clock(0x123456789ALL);
    clock.Install();
    g.Seed();
    const uint32_t seeded[5] = {0x3456789Au, 0x3456789Au, 0x1A2B3C4Du, 0x8D159E26u, 0x468ACF13u};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(g.state[i], seeded[i]) << i;
    SeedEngineRandomGenerators();  // every engine generator from the clock
    for (const RandomGenerator& e : gRandomGenerators) EXPECT_EQ(std::vector<uint32_t>(e.state, e.state + 5), std::vector<uint32_t>(seeded, seeded + 5));
    clock.Uninstall();
}

TEST(CatmullRom, EndpointsTangentAndNearestPoint) {
    Vector p0(-1, 0, 0, 1), p1(0, 0, 0, 1), p2(1, 1, 0, 1), p3(2, 3, 1, 1);
    EXPECT_EQ(CatmullRomPoint(0, p0, p1, p2, p3), p1);
    EXPECT_LT(CatmullRomPoint(1, p0, p1, p2, p3).DistanceSquaredXYZ(p2), 1e-12f);
    // The tangent matches a finite difference of the point.
    for (float t : {0.1f, 0.5f, 0.9f}) {
        Vector d = (CatmullRomPoint(t + 1e-3f, p0, p1, p2, p3) - CatmullRomPoint(t - 1e-3f, p0, p1, p2, p3)) * 500.0f;
        Vector tan = CatmullRomTangent(t, p0, p1, p2, p3);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(d[i], tan[i], 2e-3f);
    }

    // Evenly spaced collinear points give a straight, uniformly parametrised segment.
    Vector a(0, 0, 0, 1), b(10, 0, 0, 1), c(20, 0, 0, 1), d(30, 0, 0, 1);
    Vector point;
    float t = -1, length = -1;
    float d2 = CatmullRomNearestPoint(&point, &t, &length, Vector(13, 4, 0, 1), a, b, c, d);
    EXPECT_NEAR(point.x, 13.0f, 10.0f / 256);
    EXPECT_NEAR(t, 0.3f, 1.0f / 256);
    EXPECT_NEAR(length, point.x - 10.0f, 1e-4f);
    EXPECT_NEAR(d2, 16.0f + (point.x - 13) * (point.x - 13), 1e-3f);
    // Beyond the end: the last sample with the whole length.
    CatmullRomNearestPoint(&point, &t, &length, Vector(50, 0, 0, 1), a, b, c, d);
    EXPECT_EQ(t, 1.0f);
    EXPECT_NEAR(length, 10.0f, 1e-4f);
    EXPECT_NEAR(CatmullRomNearestPoint(nullptr, nullptr, nullptr, Vector(5, 0, 0, 1), a, b, c, d), 25.0f, 1e-4f);
}

TEST(DequantizeInt16Vector, MapsTheFullRangeOntoMinusOneToOne) {
    Vector v = DequantizeInt16Vector(Vector(-32768, 32767, 0, -16384));
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(v[i], (Vector(-1, 1, 0, -0.5f)[i]), 1e-7f) << i;
}

TEST(BezierSolveT, SolvesTheCurveParameter) {
    // Linear controls: the start value is already the answer.
    for (float x : {0.0f, 0.25f, 0.7f, 1.0f}) EXPECT_FLOAT_EQ(BezierSolveT(0, 1.0f / 3, 2.0f / 3, 1, x), x);
    // An ease curve: x(t) reaches x within the stop tolerance.
    const float x0 = 0, x1 = 0.05f, x2 = 0.95f, x3 = 1;
    for (float x = 0.05f; x < 1.0f; x += 0.1f) {
        float t = BezierSolveT(x0, x1, x2, x3, x);
        float u = 1 - t;
        float xt = u * u * u * x0 + 3 * u * u * t * x1 + 3 * u * t * t * x2 + t * t * t * x3;
        EXPECT_NEAR(xt, x, 0.011f) << x;
    }
    // Keys at one time: no division by zero.
    EXPECT_TRUE(BezierSolveT(2, 2, 2, 2, 1.5f) == 0.0f && BezierSolveT(2, 2, 2, 2, 2.0f) == 1.0f);
    // A flat derivative stops the iteration instead of dividing by it.
    EXPECT_TRUE(std::isfinite(BezierSolveT(0, 0, 1, 1, 0.001f)));
}
