#pragma once
// FloatFade: the timed blend of one float along a fade curve (0 linear, 1 half sine,
// 2 inverse half sine, 3 sine; see FadeCurve), timed in counter ticks of whatever clock
// its owner reads. Used for the Game's time multiplier, entity blenders and sounds.
#include <cstdint>

struct FloatFade {
    bool active = false;
    float current = 1.0f;
    float from = 0.0f;
    float to = 0.0f;
    int64_t startTime = 0;
    float duration = 0.0f;  // seconds
    uint32_t curve = 0;

    // A duration of 0 or less ends the fade at once with current = target; otherwise
    // the fade is brought up to now and runs from its current value.
    void Start(int64_t now, float target, float seconds, uint32_t fadeCurve);
    // A time before the start counts as the start; past the duration the fade stops at
    // its target.
    void Update(int64_t now);
};
