#pragma once
// Numeric helpers with fixed constants: four-lane sine/cosine, the engine's random
// generators, Catmull-Rom curve segments, 16-bit dequantisation and the cubic Bezier
// parameter solver. Pure functions, safe on any thread; a RandomGenerator belongs to
// one thread at a time.
#include <cstdint>

#include "core/math/Vector.h"

// Sine and cosine of four angles (radians) at once, single precision.
void VectorSinCos(const Vector& angles, Vector* sines, Vector* cosines);

// Five state words. Seed fills them from the platform counter, read anew for each
// word; Next steps word 0 as the classic linear congruential generator.
class RandomGenerator {
public:
    uint32_t state[5] = {};

    void Seed();
    void SetState(uint32_t s) { state[0] = s; }
    // state = state x 214013 + 2531011; returns the old state >> 16.
    uint32_t Next();
};

// The three engine-wide generators of particle and animation code; seeded by the
// start-up sequence through SeedEngineRandomGenerators.
extern RandomGenerator gRandomGenerators[3];
// The engine's one shared linear-congruential state (state word 0), read and stepped
// directly by online services; main thread only. Seeded with the three above.
extern RandomGenerator gSharedRandomState;
void SeedEngineRandomGenerators();

// The segment p1..p2 of a Catmull-Rom spline through p0..p3, t in 0..1; all four
// components.
Vector CatmullRomPoint(float t, const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3);
Vector CatmullRomTangent(float t, const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3);

// The sample nearest to query among 129 samples t = i / 128 of the segment p1..p2:
// writes the point, its parameter and the arc length along the sampled curve from p1
// to it (each output may be null) and returns the squared x, y, z distance.
float CatmullRomNearestPoint(Vector* point, float* t, float* length, const Vector& query, const Vector& p0,
                             const Vector& p1, const Vector& p2, const Vector& p3);

// Each component holds a 16-bit integer value: negative ones x 1/32768, others x 1/32767.
Vector DequantizeInt16Vector(const Vector& v);

// The parameter t at which the cubic Bezier with control values x0..x3 reaches x:
// Newton's method from (x - x0) / (x3 - x0), at most 4 steps, stopping when |f| or
// |f'| is at most 0.01. When x3 = x0 it returns 0, or 1 when x >= x3.
float BezierSolveT(float x0, float x1, float x2, float x3, float x);
