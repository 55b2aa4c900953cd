#pragma once
// FrameTimer: the engine's real-time clock, advanced once per Game tick. It is the time
// source of the engine-level script scheduler, of fades and of the renderer's engine
// frame parameters (script global gEngineTimer).
//
// Times are signed 64-bit counter ticks (os::kCounterFrequency per second) read from
// os::ReadCounter(), so a manual clock drives whole frame sequences. Main thread only.
//
// Step time replaces the timer's clock only: it starts at the counter's reading when
// switched on and moves exactly kStepTicks (1/15 s, one simulation step) with every frame
// ticked with time, however long the frame really took. The Game's frame stamps and game
// clock read the timer's clock (Now), so each frame is one fixed step and a run replays
// step for step at any speed; workers, waits, the mixer and network time keep the counter.
#include <cstdint>

#include "core/Time.h"
#include "platform/os/Clock.h"

class FrameTimer {
public:
    // 1/15 s in counter ticks, to the nearest tick.
    static constexpr int64_t kStepTicks = (os::kCounterFrequency + 7) / 15;

    // Last stamp and accumulated time take the clock's present reading; the delta becomes 0.
    void Reset();
    // Measures the time since the last stamp and moves the stamp to now. With zeroDelta
    // the elapsed time is dropped: the delta is 0 and nothing else advances. Otherwise
    // the accumulated time grows by the elapsed ticks, the frame count by one and the
    // delta is the elapsed time in seconds.
    void Tick(bool zeroDelta);
    // Off by default; set before the engine starts (the Game's stamps follow the clock).
    void SetStepTime(bool on);
    bool IsStepTime() const { return stepTime; }
    // The timer's clock now: the counter, or under step time the last stamp.
    int64_t Now() const;

    int64_t LastStamp() const { return lastStamp; }
    int64_t Time() const { return accumulated; }
    float Delta() const { return delta; }
    uint32_t FrameCount() const { return frameCount; }
    // The script class's reads (EngineTimer).
    ::Time GetSystemTime() const { return ::Time(accumulated); }
    float GetElapsedSystemTime() const { return delta; }
    uint32_t GetSystemFrame() const { return frameCount; }

private:
    int64_t lastStamp = 0;
    int64_t accumulated = 0;
    float delta = 0.0f;
    uint32_t frameCount = 0;
    bool stepTime = false;
};
