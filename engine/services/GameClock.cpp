#include "engine/services/GameClock.h"

#include "core/Log.h"
#include "core/Time.h"

GameClock* gGameClock = nullptr;

namespace {

int64_t RealMicroseconds() {
    Time now;
    now.LoadHardwareTime();
    return now.ToMicroseconds();
}

// Larger advances than this are corrections anyway; the cap keeps the float-to-integer
// conversion defined for huge step counts over tiny divisors.
constexpr float kMaxAdvance = 1152921504606846976.0f;  // 2^60

}  // namespace

int64_t GetNetworkTime() { return RealMicroseconds() + kNetworkTimeOffset; }

void GameClock::Tick(int32_t steps, float divisor) {
    Time now;
    now.LoadHardwareTime();
    Tick(steps, divisor, now);
}

void GameClock::Tick(int32_t steps, float divisor, Time now) {
    previous = current;
    real = now.ToMicroseconds();
    const int64_t network = real + kNetworkTimeOffset;
    if (steps < 0) {
        current = network;
        return;
    }
    if (steps != 0 && divisor > 0.0f) {
        float advance = float(kGameClockStep * steps) / divisor;
        if (advance > kMaxAdvance) advance = kMaxAdvance;
        accumulated += int64_t(advance);
    }
    const int64_t difference = network - accumulated;
    if (difference >= 0 && difference <= kGameClockStep) {
        current = accumulated;
        return;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Multiplayer timer correction, difference: %lld (%lld)",
               static_cast<long long>(difference), static_cast<long long>(kGameClockStep));
    accumulated = current = network;
}
