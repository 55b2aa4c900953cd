#pragma once
// Mutual exclusion and signalling between threads: a recursive critical section with
// try-enter, a scope guard, a counting semaphore and a fenced counter pair used as a
// completion ticket. All thread-safe.
#include <atomic>
#include <cstdint>

#include "platform/os/Thread.h"

class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    // wait = false tries once and reports whether it entered. The owner may re-enter.
    bool Enter(bool wait = true) {
        if (wait) {
            lock.Lock();
            return true;
        }
        return lock.TryLock();
    }
    void Leave() { lock.Unlock(); }

private:
    os::RecursiveLock lock;
};

// Leaves the section on scope exit; a null section does nothing.
class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CriticalSection* cs) : section(cs) {
        if (section) section->Enter(true);
    }
    ~CriticalSectionGuard() {
        if (section) section->Leave();
    }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CriticalSection* section;
};

class Semaphore {
public:
    explicit Semaphore(int32_t initialCount = 0) : sem(initialCount, 0x7FFFFFFF) {}
    void Release() { sem.Release(1); }
    void Wait() { sem.Wait(os::kWaitInfinite); }
    // Waits at most seconds x 1000 ms, truncated; 0 polls; a negative wait polls too.
    bool WaitSeconds(float seconds);

private:
    os::Semaphore sem;
};

// Two counters: first counts work issued by one thread, second work completed by
// another. Each counter has exactly one writer; an increment publishes every earlier
// write of that thread (release) and a reader that sees the count sees that data.
class CounterPair {
public:
    void IncrementFirst() { first.store(first.load(std::memory_order_relaxed) + 1, std::memory_order_seq_cst); }
    void IncrementSecond() { second.store(second.load(std::memory_order_relaxed) + 1, std::memory_order_seq_cst); }
    uint32_t First() const { return first.load(std::memory_order_acquire); }
    uint32_t Second() const { return second.load(std::memory_order_acquire); }
    bool Pending() const { return First() != Second(); }

private:
    std::atomic<uint32_t> first{0};
    std::atomic<uint32_t> second{0};
};
