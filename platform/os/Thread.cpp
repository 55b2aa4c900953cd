#include "platform/os/Thread.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace os {

namespace {
// The id is asked for on every thread check of the loaders' hot paths: each thread asks
// the kernel once. A forked child's thread is a new thread, so it asks again.
thread_local ThreadId tCurrentId = 0;
void ForgetCurrentIdInChild() { tCurrentId = 0; }
const int gForgetRegistered = pthread_atfork(nullptr, nullptr, &ForgetCurrentIdInChild);
}  // namespace

ThreadId CurrentThreadId() {
    if (tCurrentId == 0) tCurrentId = static_cast<ThreadId>(syscall(SYS_gettid));
    return tCurrentId;
}

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
    char shortName[16];  // the platform's limit: 15 characters and the NUL
    const size_t n = strnlen(name, sizeof shortName - 1);
    std::memcpy(shortName, name, n);
    shortName[n] = 0;
    pthread_setname_np(pthread_self(), shortName);
}

namespace {
// The processors a new thread may use: the set in force before the first pin. The system
// hands a new thread its creator's set, so without this every thread a pinned thread
// starts would share its one processor; threads start on all of the process's instead.
std::once_flag gProcessSetOnce;
cpu_set_t gProcessSet;
bool gProcessSetKnown = false;

void KeepProcessSet() {
    std::call_once(gProcessSetOnce,
                   [] { gProcessSetKnown = sched_getaffinity(0, sizeof gProcessSet, &gProcessSet) == 0; });
}
}  // namespace

static bool ApplyAffinity(pthread_t thread, uint64_t mask) {
    KeepProcessSet();
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned i = 0; i < 64; ++i)
        if (mask & (uint64_t(1) << i)) CPU_SET(i, &set);
    return pthread_setaffinity_np(thread, sizeof set, &set) == 0;
}

bool SetCurrentThreadAffinity(uint64_t mask) { return ApplyAffinity(pthread_self(), mask); }

bool ResetCurrentThreadAffinity() {
    KeepProcessSet();
    return gProcessSetKnown && sched_setaffinity(0, sizeof gProcessSet, &gProcessSet) == 0;
}

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
        const size_t n = strnlen(name, sizeof s->name - 1);
        std::memcpy(s->name, name, n);
        s->name[n] = 0;
    }
    KeepProcessSet();
    pthread_attr_t attributes;
    bool created = false;
    pthread_t t;
    if (gProcessSetKnown && pthread_attr_init(&attributes) == 0) {
        created = pthread_attr_setaffinity_np(&attributes, sizeof gProcessSet, &gProcessSet) == 0 &&
                  pthread_create(&t, &attributes, &Launch::Run, s) == 0;
        pthread_attr_destroy(&attributes);
    }
    // A set the system no longer allows (narrowed from outside) leaves the creator's.
    if (!created && pthread_create(&t, nullptr, &Launch::Run, s) != 0) {
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

// Auto-reset event on one futex word: 0 unsignalled, 1 signalled, 2 unsignalled with
// sleepers. A Set that finds the event signalled or nobody asleep is one atomic
// exchange, no system call. Set's last touch of the object is that exchange (the wake
// call only names the address), so a waiter may destroy the event as soon as its Wait
// returns, as the stop and flush commands do with their one-shot events.
enum : uint32_t { kEventClear = 0, kEventSignalled = 1, kEventSleepers = 2 };

long Futex(std::atomic<uint32_t>* word, int op, uint32_t value, const timespec* deadline) {
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op | FUTEX_PRIVATE_FLAG, value, deadline, nullptr,
                   FUTEX_BITSET_MATCH_ANY);
}

timespec DeadlineAfter(uint32_t timeoutMs) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ns = uint64_t(now.tv_nsec) + uint64_t(timeoutMs % 1000) * 1000000u;
    timespec d;
    d.tv_sec = now.tv_sec + timeoutMs / 1000 + static_cast<time_t>(ns / 1000000000u);
    d.tv_nsec = static_cast<long>(ns % 1000000000u);
    return d;
}

struct EventState {
    std::atomic<uint32_t> word{kEventClear};
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
    // Every sleeper wakes; one of them takes the signal and the others sleep again.
    if (s->word.exchange(kEventSignalled, std::memory_order_acq_rel) == kEventSleepers)
        Futex(&s->word, FUTEX_WAKE, INT32_MAX, nullptr);
}

void Event::Reset() {
    auto* s = reinterpret_cast<EventState*>(storage);
    uint32_t expected = kEventSignalled;
    s->word.compare_exchange_strong(expected, kEventClear, std::memory_order_acq_rel);
}

bool Event::Wait(uint32_t timeoutMs) {
    auto* s = reinterpret_cast<EventState*>(storage);
    timespec deadline{};
    if (timeoutMs != kWaitInfinite && timeoutMs != 0) deadline = DeadlineAfter(timeoutMs);
    uint32_t c = s->word.load(std::memory_order_acquire);
    for (;;) {
        if (c == kEventSignalled) {
            // auto-reset: this wait consumes the signal
            if (s->word.compare_exchange_weak(c, kEventClear, std::memory_order_acq_rel)) return true;
            continue;
        }
        if (timeoutMs == 0) return false;
        if (c == kEventClear && !s->word.compare_exchange_weak(c, kEventSleepers, std::memory_order_acq_rel)) continue;
        const long r = Futex(&s->word, FUTEX_WAIT_BITSET, kEventSleepers,
                             timeoutMs == kWaitInfinite ? nullptr : &deadline);
        if (r != 0 && errno == ETIMEDOUT) {
            // One last look: a Set may have landed just at the deadline.
            c = kEventSignalled;
            return s->word.compare_exchange_strong(c, kEventClear, std::memory_order_acq_rel);
        }
        c = s->word.load(std::memory_order_acquire);
    }
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
