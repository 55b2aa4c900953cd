#include "engine/tween/Fade.h"

#include <algorithm>

#include "core/Time.h"
#include "core/math/Vector.h"
#include "engine/tween/FadeCurve.h"

template <class T>
void Fade<T>::Start(int64_t now, const T& target, float seconds, uint32_t fadeCurve) {
    if (seconds > 0.0f) Update(now);
    Start(now, current, target, seconds, fadeCurve);
}

template <class T>
void Fade<T>::Start(int64_t now, const T& origin, const T& target, float seconds, uint32_t fadeCurve) {
    if (!(seconds > 0.0f)) {
        active = false;
        current = target;
        return;
    }
    current = from = origin;
    to = target;
    startTime = now;
    duration = seconds;
    curve = fadeCurve;
    active = true;
}

template <class T>
void Fade<T>::Update(int64_t now) {
    if (!active) return;
    const float elapsed = static_cast<float>(std::max(0.0, Time(now - startTime).ToSeconds()));
    const float t = elapsed / duration;
    if (t > 1.0f) {
        active = false;
        current = to;
        return;
    }
    const float s = FadeCurve(curve, t);
    current = from * (1.0f - s) + to * s;
}

template struct Fade<float>;
template struct Fade<Vector>;
