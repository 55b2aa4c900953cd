#pragma once
// GameTimer: one of the Game's four clocks (game, gameplay, smooth game, smooth
// gameplay; also the script class "GameTimer"). Its time is a signed 64-bit count of
// counter ticks (os::kCounterFrequency per second) that only Tick advances, by the
// seconds it is given, and only while the timer is not paused. Pauses nest; a timer
// with pausing disabled ignores them. Besides the ticks it sees, it counts the ticks that
// found it running.
//
// Main thread only.
#include <cstdint>

#include "core/Time.h"

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
    // otherwise the time grows by trunc(seconds x frequency), computed in float (held
    // at the int64 range).
    void Tick(float seconds);

    bool IsPaused() const { return !pauseDisabled && pauseCount > 0; }
    int64_t Time() const { return time; }
    float LastDelta() const { return lastDelta; }
    uint32_t TickCount() const { return tickCount; }
    uint32_t PauseCount() const { return pauseCount; }

    // Script reads: the time as a Time, the last delta (seconds), the game time since
    // `since` (seconds), the ticks seen and the ticks that advanced the time.
    ::Time GetGameTime() const { return ::Time(time); }
    float GetElapsedGameTime() const { return lastDelta; }
    double GetElapsedGameTime(const ::Time& since) const { return ::Time(time).ElapsedTime(since); }
    uint32_t GetCurrentFrame() const { return tickCount; }
    uint32_t GetNonPausedFrame() const { return nonPausedTicks; }
    bool IsPauseDisabled() const { return pauseDisabled; }

    // One timer's ticks may be watched: the observer hears every Tick of that timer (by
    // address, so a copy is not watched), paused or not, with the seconds it was given,
    // before they count. The program's stepped sound follows the Game's game timer so.
    // Null stops watching.
    using TickObserver = void (*)(float seconds);
    static void ObserveTicks(const GameTimer* timer, TickObserver observer);

private:
    int64_t time = 0;
    float lastDelta = 0.0f;
    uint32_t tickCount = 0;
    uint32_t nonPausedTicks = 0;
    bool pauseDisabled = false;
    uint32_t pauseCount = 0;
};
