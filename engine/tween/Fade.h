#pragma once
// Fade<T>: the timed blend of a value along a fade curve (0 linear, 1 half sine,
// 2 inverse half sine, 3 sine; see FadeCurve.h), timed in counter ticks of whatever clock
// its owner reads. FloatFade (the Game's time multiplier, entity blenders, sounds) and
// Fade<Vector> (the camera's timed position drive) are its two kinds; both are
// instantiated in Fade.cpp.
//
// Threads: one user at a time.
#include <cstdint>
#include <type_traits>

template <class T>
struct Fade {
    bool active = false;
    T current = Rest();
    T from{};
    T to{};
    int64_t startTime = 0;
    float duration = 0.0f;  // seconds
    uint32_t curve = 0;

    // From the current value, brought up to now first. A duration of 0 or less ends the
    // fade at once with current = target.
    void Start(int64_t now, const T& target, float seconds, uint32_t fadeCurve);
    // From the given value (as above otherwise).
    void Start(int64_t now, const T& origin, const T& target, float seconds, uint32_t fadeCurve);
    // A time before the start counts as the start; past the duration the fade stops at
    // its target.
    void Update(int64_t now);

private:
    // The value of a fade never started: 1 for a float (a multiplier at rest), else T{}.
    static T Rest() {
        if constexpr (std::is_floating_point_v<T>) return T(1);
        else return T{};
    }
};

using FloatFade = Fade<float>;
