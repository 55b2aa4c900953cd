#pragma once
// GameClock (gGameClock): the game's clock in microseconds, kept in whole simulation steps
// so that two machines stamp the same step with the same time.
//
// The clock reads the high-resolution timer (os::ReadCounter through Time), so a test's
// os::ManualClock drives it, or the time its caller gives. Network time is the real time plus a fixed offset; the
// current time follows the accumulated step time while that stays within one step
// behind network time, and snaps to network time (with a log line) otherwise.
//
// Threads: Tick and the readers of the clock object on the main thread only;
// GetNetworkTime on any thread (it reads only the timer).
#include <cstdint>

#include "core/StaticInit.h"
#include "core/Time.h"

// Added to the real time to give network time (0.2 s). Fixed for the process.
constexpr int64_t kNetworkTimeOffset = 200000;
// One simulation step of the game clock (1/15 s, truncated).
constexpr int64_t kGameClockStep = kFixedStepMicroseconds;

// Real time in microseconds plus kNetworkTimeOffset.
int64_t GetNetworkTime();

class GameClock {
public:
    // The current and accumulated times start at the network offset.
    GameClock() = default;
    GameClock(const GameClock&) = delete;
    GameClock& operator=(const GameClock&) = delete;

    // Once per Game tick, before the delayed entity operations. steps < 0 (variable
    // time steps): current time = network time. Otherwise the accumulated time advances
    // by trunc(step x steps / divisor) - nothing when steps is 0 or divisor is not above
    // 0 - and the current time takes it while network time is 0 to one step ahead of it;
    // any other difference is logged and both snap to network time.
    void Tick(int32_t steps, float divisor);
    // The same against the given hardware time (Time::LoadHardwareTime's form): the Game
    // passes its frame timer's clock, which under step time moves one step per frame.
    void Tick(int32_t steps, float divisor, Time now);

    int64_t GetCurrentTime() const { return current; }
    // The current time before the last Tick.
    int64_t GetPreviousTime() const { return previous; }
    // Real time (microseconds, without the offset) read by the last Tick.
    int64_t GetRealTime() const { return real; }
    int64_t GetAccumulatedTime() const { return accumulated; }

private:
    int64_t current = kNetworkTimeOffset;
    int64_t real = 0;
    int64_t accumulated = kNetworkTimeOffset;
    int64_t previous = kNetworkTimeOffset;
};

extern GameClock* gGameClock;
