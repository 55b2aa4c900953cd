#include "platform/os/Clock.h"

#include <atomic>
#include <ctime>

namespace os {

namespace {
std::atomic<const ClockSource*> gSource{nullptr};
}

int64_t ReadRealCounter() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kCounterFrequency + ts.tv_nsec / 100;
}

int64_t ReadCounter() {
    const ClockSource* source = gSource.load(std::memory_order_acquire);
    return source ? source->read(source) : ReadRealCounter();
}

void SetClockSource(const ClockSource* source) { gSource.store(source, std::memory_order_release); }

ManualClock::ManualClock(int64_t start) : now(start) {
    read = [](const ClockSource* self) { return static_cast<const ManualClock*>(self)->Now(); };
}

ManualClock::~ManualClock() { Uninstall(); }

void ManualClock::Install() {
    installed = true;
    SetClockSource(this);
}

void ManualClock::Uninstall() {
    if (installed) {
        const ClockSource* expected = this;
        gSource.compare_exchange_strong(expected, nullptr);
        installed = false;
    }
}

void ManualClock::Advance(int64_t ticks) { __atomic_fetch_add(&now, ticks, __ATOMIC_ACQ_REL); }
void ManualClock::AdvanceSeconds(double seconds) { Advance(static_cast<int64_t>(seconds * kCounterFrequency)); }
void ManualClock::Set(int64_t ticks) { __atomic_store_n(&now, ticks, __ATOMIC_RELEASE); }
int64_t ManualClock::Now() const { return __atomic_load_n(&now, __ATOMIC_ACQUIRE); }

}  // namespace os
