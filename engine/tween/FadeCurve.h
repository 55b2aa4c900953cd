#pragma once
// The shapes of timed fades, shared by every fade of the engine (FloatFade, the
// camera's timed position drive and its blends): t in 0..1 becomes
//   0 t (linear), 1 sin(t pi/2), 2 1 - sin((1 - t) pi/2), 3 (sin((t - 0.5) pi) + 1) / 2,
// any other curve linear. Computed in float.
#include <cstdint>

#include "core/math/Vector.h"

constexpr float kFadePi = 3.14159265f;

float FadeCurve(uint32_t curve, float t);

// A timed blend of one Vector along a fade curve, timed in counter ticks of whatever
// clock its owner reads. Update at a time before the start counts as the start.
struct VectorFade {
    bool running = false;
    Vector current;
    Vector start;
    Vector end;
    int64_t startTime = 0;
    float duration = 0.0f;  // seconds
    uint32_t curve = 0;

    // A duration of 0 or less ends at once with current = to.
    void Start(int64_t now, const Vector& from, const Vector& to, float seconds, uint32_t fadeCurve);
    // Past the duration the fade stops at its end.
    void Update(int64_t now);
};
