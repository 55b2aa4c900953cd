#include "engine/tween/FadeCurve.h"

#include <algorithm>
#include <cmath>

#include "core/Time.h"

float FadeCurve(uint32_t curve, float t) {
    switch (curve) {
        case 1: return std::sin(t * kFadePi * 0.5f);
        case 2: return 1.0f - std::sin((1.0f - t) * kFadePi * 0.5f);
        case 3: return 0.5f * (std::sin((t - 0.5f) * kFadePi) + 1.0f);
        default: return t;
    }
}

void VectorFade::Start(int64_t now, const Vector& from, const Vector& to, float seconds, uint32_t fadeCurve) {
    if (!(seconds > 0.0f)) {
        running = false;
        current = to;
        return;
    }
    running = true;
    current = start = from;
    end = to;
    startTime = now;
    duration = seconds;
    curve = fadeCurve;
}

void VectorFade::Update(int64_t now) {
    if (!running) return;
    const float elapsed = static_cast<float>(std::max(0.0, Time(now - startTime).ToSeconds()));
    const float t = elapsed / duration;
    if (t > 1.0f) {
        running = false;
        current = end;
        return;
    }
    const float s = FadeCurve(curve, t);
    current = start * (1.0f - s) + end * s;
}
