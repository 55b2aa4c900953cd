#include "engine/tween/Fade.h"

#include <algorithm>

#include "core/Time.h"
#include "engine/tween/FadeCurve.h"

void FloatFade::Start(int64_t now, float target, float seconds, uint32_t fadeCurve) {
    if (!(seconds > 0.0f)) {
        active = false;
        current = target;
        return;
    }
    Update(now);
    from = current;
    to = target;
    startTime = now;
    duration = seconds;
    curve = fadeCurve;
    active = true;
}

void FloatFade::Update(int64_t now) {
    if (!active) return;
    const float elapsed = static_cast<float>(std::max(0.0, Time(now - startTime).ToSeconds()));
    const float t = elapsed / duration;
    if (t > 1.0f) {
        active = false;
        current = to;
        return;
    }
    const float s = FadeCurve(curve, t);
    current = (1.0f - s) * from + s * to;
}
