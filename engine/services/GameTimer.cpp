#include "engine/services/GameTimer.h"

#include "core/Time.h"
#include "platform/os/Clock.h"

namespace {
const GameTimer* gObservedTimer = nullptr;
GameTimer::TickObserver gTickObserver = nullptr;
}  // namespace

void GameTimer::ObserveTicks(const GameTimer* timer, TickObserver observer) {
    gObservedTimer = observer ? timer : nullptr;
    gTickObserver = timer ? observer : nullptr;
}

void GameTimer::Reset() {
    time = os::ReadCounter();
    lastDelta = 0.0f;
    tickCount = nonPausedTicks = pauseCount = 0;
    pauseDisabled = false;
}

void GameTimer::ResetTime(int64_t ticks) {
    time = ticks;
    lastDelta = 0.0f;
}

void GameTimer::Pause(bool pause) {
    if (pause)
        ++pauseCount;
    else if (pauseCount > 0)
        --pauseCount;
}

void GameTimer::Tick(float seconds) {
    if (this == gObservedTimer && gTickObserver) gTickObserver(seconds);
    ++tickCount;
    if (IsPaused()) {
        lastDelta = 0.0f;
        return;
    }
    ++nonPausedTicks;
    time = ::Time::Sum(::Time(time), ::Time::FromFloatSeconds(seconds)).ticks;
    lastDelta = seconds;
}
