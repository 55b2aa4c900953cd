// High-resolution time: the process-wide timer base and the Time conversions.
#include "core/Time.h"

#include "core/Log.h"
#include "platform/os/Clock.h"

#include <cstdint>

namespace {
// Constant-initialised at the counter's frequency, so that a conversion made before
// InitTimer (or after a test installs frequency 0) can never divide by zero.
TimerBase gTimerBase = {0, os::kCounterFrequency, double(os::kCounterFrequency), os::kCounterFrequency,
                        double(os::kCounterFrequency) * 0.001};

// Saturating conversion of a scaled tick count (scripts and data may pass any number).
int64_t ToTicks(double v) {
    if (!(v == v)) return 0;
    if (v >= 9.2233720368547758e18) return INT64_MAX;
    if (v <= -9.2233720368547758e18) return INT64_MIN;
    return static_cast<int64_t>(v);
}
}  // namespace

const Time Time::ZERO{0};

void Time::InitTimer() { InitTimer(os::ReadCounter(), os::kCounterFrequency); }

void Time::InitTimer(int64_t start, int64_t frequency) {
    if (frequency <= 0) frequency = os::kCounterFrequency;
    gTimerBase.start = start;
    gTimerBase.frequency = frequency;
    gTimerBase.frequencyDouble = static_cast<double>(frequency);
    gTimerBase.frequencyInteger = static_cast<int64_t>(gTimerBase.frequencyDouble);
    gTimerBase.ticksPerMs = gTimerBase.frequencyDouble * 0.001;
}

const TimerBase& Time::Base() { return gTimerBase; }

void Time::LoadHardwareTime() { ticks = os::ReadCounter() - gTimerBase.start; }

Time Time::FromSeconds(double seconds) { return Time(ToTicks(seconds * gTimerBase.frequencyDouble)); }

Time Time::FromFloatSeconds(float seconds) {
    // The float product widens to double exactly, so truncation is unchanged.
    return Time(ToTicks(static_cast<double>(seconds * static_cast<float>(gTimerBase.frequency))));
}

double Time::ToSeconds() const { return static_cast<double>(ticks) / gTimerBase.frequencyDouble; }

double Time::ToMilliseconds() const { return static_cast<double>(ticks) / gTimerBase.ticksPerMs; }

int64_t Time::ToMicroseconds() const {
    // 128-bit product: exact for every tick count, identical to the 64-bit rule where
    // that one does not overflow.
    const __int128 product = static_cast<__int128>(ticks) * 1000000;
    return static_cast<int64_t>(product / gTimerBase.frequencyInteger);
}

void Time::Mul(float factor) { ticks = ToTicks(static_cast<double>(factor) * static_cast<double>(ticks)); }
void Time::Mul(const Time& other, float factor) {
    ticks = ToTicks(static_cast<double>(factor) * static_cast<double>(other.ticks));
}

void Time::Log(LogSeverity severity, LogCategory category, const char* label) const {
    if (label)
        gLog.Print(severity, category, "%s %.6f", label, ToSeconds());
    else
        gLog.Print(severity, category, "%.6f", ToSeconds());
}
