#include "engine/tween/FadeCurve.h"

#include <cmath>

float FadeCurve(uint32_t curve, float t) {
    switch (curve) {
        case 1: return std::sin(t * kFadePi * 0.5f);
        case 2: return 1.0f - std::sin((1.0f - t) * kFadePi * 0.5f);
        case 3: return 0.5f * (std::sin((t - 0.5f) * kFadePi) + 1.0f);
        default: return t;
    }
}
