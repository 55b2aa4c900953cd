#include "engine/services/FrameTimer.h"

#include "core/Time.h"
#include "platform/os/Clock.h"

void FrameTimer::Reset() {
    lastStamp = accumulated = Now();
    delta = 0.0f;
}

void FrameTimer::SetStepTime(bool on) {
    if (on && !stepTime) lastStamp = os::ReadCounter();
    stepTime = on;
}

int64_t FrameTimer::Now() const { return stepTime ? lastStamp : os::ReadCounter(); }

void FrameTimer::Tick(bool zeroDelta) {
    const int64_t now = stepTime ? lastStamp + (zeroDelta ? 0 : kStepTicks) : os::ReadCounter();
    const int64_t elapsed = now - lastStamp;
    lastStamp = now;
    if (zeroDelta) {
        delta = 0.0f;
        return;
    }
    // Seconds in single precision, as every frame-time figure of the tick; the ticks
    // added are that figure turned back into ticks.
    const float frequency = static_cast<float>(os::kCounterFrequency);
    const float seconds = static_cast<float>(elapsed) / frequency;
    accumulated += Time::FromFloatSeconds(seconds).ticks;
    ++frameCount;
    delta = seconds;
}
