#include "platform/os/Thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace os {

ThreadId CurrentThreadId() { return static_cast<ThreadId>(syscall(SYS_gettid)); }

unsigned ProcessorCount() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1u;
}

void Sleep(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SleepMicroseconds(uint64_t microseconds) { std::this_thread::sleep_for(std::chrono::microseconds(microseconds)); }
void YieldThread() { sched_yield(); }
void FullFence() { std::atomic_thread_fence(std::memory_order_seq_cst); }

void SetCurrentThreadName(const char* name) {
    if (!name) return;
    char shortName[16];
    std::strncpy(shortName, name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = 0;
    pthread_setname_np(pthread_self(), shortName);
}

static bool ApplyAffinity(pthread_t thread, uint64_t mask) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned i = 0; i < 64; ++i)
        if (mask & (uint64_t(1) << i)) CPU_SET(i, &set);
    return pthread_setaffinity_np(thread, sizeof set, &set) == 0;
}

bool SetCurrentThreadAffinity(uint64_t mask) { return ApplyAffinity(pthread_self(), mask); }

// ---------------------------------------------------------------------------------------
namespace {
std::atomic<bool> gCreationFault{false};
}

struct Thread::Launch {
    Entry entry;
    void* argument;
    char name[16];
    std::atomic<ThreadId> id{0};

    static void* Run(void* p) {
        auto* s = static_cast<Launch*>(p);
        if (s->name[0]) SetCurrentThreadName(s->name);
        Entry entry = s->entry;
        void* argument = s->argument;
        s->id.store(CurrentThreadId(), std::memory_order_release);  // the starter frees s after this
        entry(argument);
        return nullptr;
    }
};

void Thread::SetCreationFault(bool fail) { gCreationFault.store(fail); }

bool Thread::Start(Entry entry, void* argument, const char* name) {
    if (started || gCreationFault.load()) return false;
    auto* s = new (std::nothrow) Launch;
    if (!s) return false;
    s->entry = entry;
    s->argument = argument;
    s->name[0] = 0;
    if (name) {
        std::strncpy(s->name, name, sizeof s->name - 1);
        s->name[sizeof s->name - 1] = 0;
    }
    pthread_t t;
    if (pthread_create(&t, nullptr, &Launch::Run, s) != 0) {
        delete s;
        return false;
    }
    ThreadId tid;
    while ((tid = s->id.load(std::memory_order_acquire)) == 0) sched_yield();
    delete s;
    handle = static_cast<uint64_t>(t);
    id = tid;
    started = true;
    return true;
}

void Thread::Join() {
    if (!started) return;
    pthread_join(static_cast<pthread_t>(handle), nullptr);
    started = false;
    handle = 0;
    id = 0;
}

Thread::~Thread() { Join(); }

bool Thread::SetAffinity(uint64_t mask) { return started && ApplyAffinity(static_cast<pthread_t>(handle), mask); }

// ---------------------------------------------------------------------------------------
namespace {

struct EventState {
    std::mutex mutex;
    std::condition_variable cv;
    bool signalled = false;
};

struct SemaphoreState {
    std::mutex mutex;
    std::condition_variable cv;
    int32_t count;
    int32_t maximum;
};

template <class Pred>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint32_t timeoutMs, Pred ready) {
    if (timeoutMs == kWaitInfinite) {
        cv.wait(lock, ready);
        return true;
    }
    return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

}  // namespace

static_assert(sizeof(EventState) <= 128 && sizeof(SemaphoreState) <= 128 && sizeof(std::recursive_mutex) <= 64);

Event::Event() { new (storage) EventState; }
Event::~Event() { reinterpret_cast<EventState*>(storage)->~EventState(); }

void Event::Set() {
    auto* s = reinterpret_cast<EventState*>(storage);
    // Notified under the lock: a waiter may destroy the event as soon as it sees the signal.
    std::lock_guard<std::mutex> lock(s->mutex);
    s->signalled = true;
    s->cv.notify_one();
}

void Event::Reset() {
    auto* s = reinterpret_cast<EventState*>(storage);
    std::lock_guard<std::mutex> lock(s->mutex);
    s->signalled = false;
}

bool Event::Wait(uint32_t timeoutMs) {
    auto* s = reinterpret_cast<EventState*>(storage);
    std::unique_lock<std::mutex> lock(s->mutex);
    if (!WaitFor(s->cv, lock, timeoutMs, [s] { return s->signalled; })) return false;
    s->signalled = false;  // auto-reset: this wait consumes the signal
    return true;
}

Semaphore::Semaphore(int32_t initial, int32_t maximum) {
    auto* s = new (storage) SemaphoreState;
    s->count = initial < 0 ? 0 : initial;
    s->maximum = maximum;
}

Semaphore::~Semaphore() { reinterpret_cast<SemaphoreState*>(storage)->~SemaphoreState(); }

bool Semaphore::Release(int32_t count) {
    auto* s = reinterpret_cast<SemaphoreState*>(storage);
    std::lock_guard<std::mutex> lock(s->mutex);
    if (count <= 0 || s->count > s->maximum - count) return false;
    s->count += count;
    if (count == 1)
        s->cv.notify_one();
    else
        s->cv.notify_all();
    return true;
}

bool Semaphore::Wait(uint32_t timeoutMs) {
    auto* s = reinterpret_cast<SemaphoreState*>(storage);
    std::unique_lock<std::mutex> lock(s->mutex);
    if (!WaitFor(s->cv, lock, timeoutMs, [s] { return s->count > 0; })) return false;
    --s->count;
    return true;
}

RecursiveLock::RecursiveLock() { new (storage) std::recursive_mutex; }
RecursiveLock::~RecursiveLock() { reinterpret_cast<std::recursive_mutex*>(storage)->~recursive_mutex(); }
void RecursiveLock::Lock() { reinterpret_cast<std::recursive_mutex*>(storage)->lock(); }
bool RecursiveLock::TryLock() { return reinterpret_cast<std::recursive_mutex*>(storage)->try_lock(); }
void RecursiveLock::Unlock() { reinterpret_cast<std::recursive_mutex*>(storage)->unlock(); }

}  // namespace os
