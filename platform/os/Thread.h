#pragma once
// Threads and the primitives that run between them: auto-reset events, counting
// semaphores, recursive locks, sleeping and fences. All calls are thread-safe.
#include <cstdint>

namespace os {

constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;

using ThreadId = uint64_t;
ThreadId CurrentThreadId();
unsigned ProcessorCount();

void Sleep(uint32_t milliseconds);
void SleepMicroseconds(uint64_t microseconds);
void YieldThread();
void FullFence();

// Names the calling thread (shortened to the platform's 15-character limit).
void SetCurrentThreadName(const char* name);
// Pins the calling thread to the processors whose bits are set; false when refused.
bool SetCurrentThreadAffinity(uint64_t mask);
// Gives the calling thread back every processor of the process (those a new thread gets);
// false when refused.
bool ResetCurrentThreadAffinity();

// A joinable thread. Start() fails cleanly (false) when the thread cannot be created.
class Thread {
public:
    using Entry = void (*)(void* argument);

    Thread() = default;
    ~Thread();  // joins a thread that is still running
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool Start(Entry entry, void* argument, const char* name = nullptr);
    void Join();
    bool Running() const { return started; }
    ThreadId Id() const { return id; }  // valid once Start returned true
    bool SetAffinity(uint64_t mask);
    // Priority as the original's relative levels (-2..2); accepted and ignored here.
    void SetPriority(int priority) {}

    // Fault switch for tests: while set, every Start() fails as if creation was refused.
    static void SetCreationFault(bool fail);

private:
    struct Launch;
    uint64_t handle = 0;
    ThreadId id = 0;
    bool started = false;
};

// Auto-reset event: Set() while nobody waits stays signalled; one Set wakes one Wait.
class Event {
public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when signalled within the time-out (kWaitInfinite waits for ever, 0 polls).
    bool Wait(uint32_t timeoutMs = kWaitInfinite);

private:
    alignas(16) unsigned char storage[128];
};

// Counting semaphore with a maximum count.
class Semaphore {
public:
    explicit Semaphore(int32_t initial = 0, int32_t maximum = 0x7FFFFFFF);
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // False when the count would pass the maximum (nothing is added then).
    bool Release(int32_t count = 1);
    bool Wait(uint32_t timeoutMs = kWaitInfinite);

private:
    alignas(16) unsigned char storage[128];
};

// Recursive lock; the owner may enter it again and must leave it as often.
class RecursiveLock {
public:
    RecursiveLock();
    ~RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void Lock();
    bool TryLock();
    void Unlock();

private:
    alignas(16) unsigned char storage[64];
};

}  // namespace os
