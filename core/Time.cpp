// High-resolution time: the process-wide timer base and the Time conversions.
#include "core/Time.h"

#include "core/Log.h"
#include "platform/os/Clock.h"

namespace {
TimerBase gTimerBase = {};
}

const Time Time::ZERO{0};

void Time::InitTimer() { InitTimer(os::ReadCounter(), os::kCounterFrequency); }

void Time::InitTimer(int64_t start, int64_t frequency) {
    gTimerBase.start = start;
    gTimerBase.frequency = frequency;
    gTimerBase.frequencyDouble = static_cast<double>(frequency);
    gTimerBase.frequencyInteger = static_cast<int64_t>(gTimerBase.frequencyDouble);
    gTimerBase.ticksPerMs = gTimerBase.frequencyDouble * 0.001;
}

const TimerBase& Time::Base() { return gTimerBase; }

void Time::LoadHardwareTime() { ticks = os::ReadCounter() - gTimerBase.start; }

double Time::ToSeconds() const { return static_cast<double>(ticks) / gTimerBase.frequencyDouble; }

double Time::ToMilliseconds() const { return static_cast<double>(ticks) / gTimerBase.ticksPerMs; }

int64_t Time::ToMicroseconds() const {
    // 128-bit product: exact for every tick count, identical to the 64-bit rule where
    // that one does not overflow.
    const __int128 product = static_cast<__int128>(ticks) * 1000000;
    return static_cast<int64_t>(product / gTimerBase.frequencyInteger);
}

void Time::Log(uint32_t severity, uint32_t category, const char* label) const {
    if (label)
        gLog.Print(severity, category, "%s %.6f", label, ToSeconds());
    else
        gLog.Print(severity, category, "%.6f", ToSeconds());
}
