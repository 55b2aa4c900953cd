#pragma once
// FrameTimer: the engine's real-time clock, advanced once per Game tick. It is the time
// source of the engine-level script scheduler, of fades and of the renderer's engine
// frame parameters (script global gEngineTimer).
//
// Times are signed 64-bit counter ticks (os::kCounterFrequency per second) read from
// os::ReadCounter(), so a manual clock drives whole frame sequences. Main thread only.
#include <cstdint>

#include "core/Time.h"

class FrameTimer {
public:
    // Last stamp and accumulated time take the present counter; the delta becomes 0.
    void Reset();
    // Measures the time since the last stamp and moves the stamp to now. With zeroDelta
    // the elapsed time is dropped: the delta is 0 and nothing else advances. Otherwise
    // the accumulated time grows by the elapsed ticks, the frame count by one and the
    // delta is the elapsed time in seconds.
    void Tick(bool zeroDelta);

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
};
