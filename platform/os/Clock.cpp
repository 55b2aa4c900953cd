#include "platform/os/Clock.h"

#include <atomic>
#include <ctime>
#include <thread>

namespace os {

namespace {
std::atomic<const ClockSource*> gSource{nullptr};
// Reads in progress through an installed source. A source that is replaced or
// uninstalled is waited out before the call returns, so its owner may destroy it at
// once: a thread preempted between taking the pointer and calling through it would
// otherwise call into a destroyed clock.
std::atomic<uint32_t> gSourceReaders{0};

void WaitForSourceReaders() {
    while (gSourceReaders.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
}
}  // namespace

int64_t ReadRealCounter() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kCounterFrequency + ts.tv_nsec / 100;
}

int64_t ReadCounter() {
    if (!gSource.load(std::memory_order_acquire)) return ReadRealCounter();
    // Counted before the pointer is taken again: whoever replaces the source either
    // sees this read in progress or this read sees the replacement.
    gSourceReaders.fetch_add(1, std::memory_order_seq_cst);
    const ClockSource* source = gSource.load(std::memory_order_seq_cst);
    const int64_t ticks = source ? source->read(source) : ReadRealCounter();
    gSourceReaders.fetch_sub(1, std::memory_order_release);
    return ticks;
}

void SetClockSource(const ClockSource* source) {
    gSource.store(source, std::memory_order_seq_cst);
    WaitForSourceReaders();
}

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
        gSource.compare_exchange_strong(expected, nullptr, std::memory_order_seq_cst);
        WaitForSourceReaders();
        installed = false;
    }
}

void ManualClock::Advance(int64_t ticks) { __atomic_fetch_add(&now, ticks, __ATOMIC_ACQ_REL); }
void ManualClock::AdvanceSeconds(double seconds) { Advance(static_cast<int64_t>(seconds * kCounterFrequency)); }
void ManualClock::Set(int64_t ticks) { __atomic_store_n(&now, ticks, __ATOMIC_RELEASE); }
int64_t ManualClock::Now() const { return __atomic_load_n(&now, __ATOMIC_ACQUIRE); }

}  // namespace os
