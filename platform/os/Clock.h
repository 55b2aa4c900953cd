#pragma once
// Monotonic counter at a fixed 10 MHz (one tick = 100 ns).
//
// Every component that measures or schedules time reads ReadCounter(). Tests can
// replace its source (ManualClock) so that fades, time-outs and schedules run fast
// and deterministically. Timed waits on events and semaphores always use real time.
#include <cstdint>

namespace os {

constexpr int64_t kCounterFrequency = 10'000'000;

// Ticks since an arbitrary fixed point, from the installed source. Thread-safe.
int64_t ReadCounter();

// Ticks from the real monotonic clock, whatever source is installed.
int64_t ReadRealCounter();

// A counter source: returns ticks. Installing null restores the real clock. Installing
// another source returns once no thread reads through the previous one any more.
struct ClockSource {
    int64_t (*read)(const ClockSource* self);
};
void SetClockSource(const ClockSource* source);

// A clock that moves only when told to. Install() makes it the counter source for
// the whole process until Uninstall() or destruction.
class ManualClock : public ClockSource {
public:
    explicit ManualClock(int64_t start = 0);
    ~ManualClock();
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    void Install();
    void Uninstall();
    void Advance(int64_t ticks);
    void AdvanceSeconds(double seconds);
    void Set(int64_t ticks);
    int64_t Now() const;

private:
    alignas(8) int64_t now;  // accessed atomically
    bool installed = false;
};

}  // namespace os
