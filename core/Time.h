#pragma once
// Time: a signed 64-bit count of counter ticks since Time::InitTimer.
//
// The timer base is written once on the main thread during start-up, before any
// worker exists, and read freely afterwards. Conversions are pure functions of the
// tick count and the base.
#include <compare>
#include <cstdint>

enum class LogSeverity : uint8_t;
enum class LogCategory : uint8_t;

struct TimerBase {
    int64_t start;
    int64_t frequency;
    double frequencyDouble;
    int64_t frequencyInteger;  // frequencyDouble converted back; used by ToMicroseconds
    double ticksPerMs;
};

class Time {
public:
    int64_t ticks = 0;

    Time() = default;
    explicit constexpr Time(int64_t t) : ticks(t) {}

    static const Time ZERO;

    static void InitTimer();
    // Test hook: set the base to a given start and frequency (a frequency of 0 or less
    // keeps the counter's own).
    static void InitTimer(int64_t start, int64_t frequency);
    static const TimerBase& Base();

    void LoadHardwareTime();  // now - start
    // Seconds to ticks at the base's frequency, truncated toward zero. FromSeconds forms
    // the product in double precision; FromFloatSeconds in single precision, for values
    // that callers keep as float seconds (frame deltas, delays). Both saturate at the
    // int64 range, and NaN gives 0.
    static Time FromSeconds(double seconds);
    static Time FromFloatSeconds(float seconds);
    double ToSeconds() const;
    // (this - other) in seconds.
    double ElapsedTime(const Time& other) const { return Difference(*this, other).ToSeconds(); }
    // a + b and a - b, held at the int64 range where they would leave it (script
    // arithmetic takes any tick count).
    static Time Sum(const Time& a, const Time& b) {
        int64_t r;
        return Time(__builtin_add_overflow(a.ticks, b.ticks, &r) ? (b.ticks < 0 ? INT64_MIN : INT64_MAX) : r);
    }
    static Time Difference(const Time& a, const Time& b) {
        int64_t r;
        return Time(__builtin_sub_overflow(a.ticks, b.ticks, &r) ? (b.ticks > 0 ? INT64_MIN : INT64_MAX) : r);
    }
    double ToMilliseconds() const;
    int64_t ToMicroseconds() const;
    // One message through Log::Print: "%s %.6f" with a label, "%.6f" without.
    void Log(LogSeverity severity, LogCategory category, const char* label) const;
    // Scripts: ticks become the truncated product.
    // (Saturates at the int64 range; NaN gives 0.)
    void Mul(float factor);
    void Mul(const Time& other, float factor);

    Time operator-(const Time& o) const { return Time(ticks - o.ticks); }
    Time operator+(const Time& o) const { return Time(ticks + o.ticks); }
    Time& operator+=(const Time& o) { ticks += o.ticks; return *this; }
    Time& operator-=(const Time& o) { ticks -= o.ticks; return *this; }
    bool operator==(const Time& o) const = default;
    auto operator<=>(const Time& o) const = default;
};
