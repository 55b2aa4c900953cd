#pragma once
// The shapes of timed fades, shared by every fade of the engine (Fade<T>, the
// camera's blends): t in 0..1 becomes
//   0 t (linear), 1 sin(t pi/2), 2 1 - sin((1 - t) pi/2), 3 (sin((t - 0.5) pi) + 1) / 2,
// any other curve linear. Computed in float.
#include <cstdint>

constexpr float kFadePi = 3.14159265f;

float FadeCurve(uint32_t curve, float t);
