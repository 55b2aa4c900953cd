#pragma once
// GameTimer: one of the Game's four clocks (game, gameplay, smooth game, smooth
// gameplay; also the script class "GameTimer"). Its time is a signed 64-bit count of
// counter ticks (os::kCounterFrequency per second) that only Tick advances, by the
// seconds it is given, and only while the timer is not paused. Pauses nest; a timer
// with pausing disabled ignores them.
//
// Main thread only.
#include <cstdint>

class GameTimer {
public:
    // Time = the present counter; every other field 0.
    void Reset();
    // Time = the given tick count; the last delta 0.
    void ResetTime(int64_t ticks);
    // True adds one pause request; false removes one (never below 0).
    void Pause(bool pause);
    void DisablePause(bool disable) { pauseDisabled = disable; }
    // Counts the tick; while paused the last delta becomes 0 and nothing else changes,
    // otherwise the time grows by trunc(seconds x frequency), computed in float.
    void Tick(float seconds);

    bool IsPaused() const { return !pauseDisabled && pauseCount > 0; }
    int64_t Time() const { return time; }
    float LastDelta() const { return lastDelta; }
    uint32_t TickCount() const { return tickCount; }
    uint32_t PauseCount() const { return pauseCount; }

private:
    int64_t time = 0;
    float lastDelta = 0.0f;
    uint32_t tickCount = 0;
    uint32_t reserved = 0;  // zeroed by Reset, otherwise unused
    bool pauseDisabled = false;
    uint32_t pauseCount = 0;
};
