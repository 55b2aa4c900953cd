// Threads, events with timed waits, semaphores, recursive locks and the clock.
// test-sanitize: thread address
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/os/Clock.h"
#include "platform/os/Thread.h"

namespace {

int64_t ElapsedMs(int64_t since) { return (os::ReadRealCounter() - since) / (os::kCounterFrequency / 1000); }

// What the system reports for a thread of this process.
std::string TaskFile(os::ThreadId id, const char* file) {
    std::ifstream in("/proc/self/task/" + std::to_string(id) + "/" + file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string AllowedCpus(os::ThreadId id) {
    const std::string status = TaskFile(id, "status");
    const size_t at = status.find("Cpus_allowed_list:");
    return at == std::string::npos ? "" : status.substr(at + 19, status.find('\n', at) - at - 19);
}

struct Probe { std::atomic<os::ThreadId> id{0}; std::string name; };

TEST(OsThread, StartsNamedJoinsAndReportsCreationFailure) {
    Probe probe;
    os::Thread t;
    EXPECT_FALSE(t.Running());
    ASSERT_TRUE(t.Start(
        [](void* p) {
            auto* probe = static_cast<Probe*>(p);
            probe->name = TaskFile(os::CurrentThreadId(), "comm");
            probe->id = os::CurrentThreadId();
        },
        &probe, "TestWorkerWithALongName"));
    EXPECT_TRUE(t.Running());
    EXPECT_FALSE(t.Start([](void*) {}, nullptr));  // already started
    const os::ThreadId id = t.Id();
    t.Join();
    EXPECT_TRUE(!t.Running() && t.Id() == 0 && probe.id.load() == id && id != os::CurrentThreadId());
    EXPECT_EQ(probe.name, "TestWorkerWithA\n");  // the platform's 15 characters
    t.Join();  // a second join does nothing

    // A joined thread object starts again.
    std::atomic<int> ran{0};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(t.Start([](void* p) { ++*static_cast<std::atomic<int>*>(p); }, &ran));
        t.Join();
    }
    EXPECT_EQ(ran.load(), 2);

    os::Thread::SetCreationFault(true);
    os::Thread f;
    EXPECT_FALSE(f.Start([](void*) {}, nullptr) || f.Running());
    os::Thread::SetCreationFault(false);
}

TEST(OsThread, NamesAndAffinityReachTheSystem) {
    struct Args { std::string shortName, exactName, kept, pinned; bool emptyMaskRefused = false; } a;
    std::thread([&a] {
        const os::ThreadId self = os::CurrentThreadId();
        os::SetCurrentThreadName("exactly15chars!");
        a.exactName = TaskFile(self, "comm");
        os::SetCurrentThreadName("w");
        a.shortName = TaskFile(self, "comm");
        os::SetCurrentThreadName(nullptr);
        a.kept = TaskFile(self, "comm");
        if (os::SetCurrentThreadAffinity(1)) a.pinned = AllowedCpus(self);
        a.emptyMaskRefused = !os::SetCurrentThreadAffinity(0);
    }).join();
    EXPECT_EQ(std::make_tuple(a.exactName, a.shortName, a.kept, a.pinned, a.emptyMaskRefused),
              std::make_tuple("exactly15chars!\n", "w\n", "w\n", "0", true));

    // A started thread is pinned from outside; a thread not started cannot be.
    os::Event release;
    os::Thread t;
    ASSERT_TRUE(t.Start([](void* p) { static_cast<os::Event*>(p)->Wait(10000); }, &release));
    EXPECT_TRUE(t.SetAffinity(1));
    EXPECT_EQ(AllowedCpus(t.Id()), "0");
    release.Set();
    t.Join();
    EXPECT_FALSE(t.SetAffinity(1));
}

// The id a thread keeps is not inherited by a forked child, whose one thread is new.
TEST(OsThread, AForkedChildHasItsOwnId) {
    const os::ThreadId parent = os::CurrentThreadId();
    const pid_t child = fork();
    if (child == 0) _exit(os::CurrentThreadId() == os::ThreadId(getpid()) && parent != os::ThreadId(getpid()) ? 0 : 1);
    ASSERT_GT(child, 0);
    int status = -1;
    const int64_t start = os::ReadRealCounter();
    while (waitpid(child, &status, WNOHANG) == 0 && ElapsedMs(start) < 10000) os::Sleep(1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(parent, os::CurrentThreadId());
}

// A pinned thread starts its threads on every processor of the process, not on its own.
TEST(OsThread, APinnedThreadStartsThreadsOnEveryProcessor) {
    std::string before, started;
    std::thread([&] {
        before = AllowedCpus(os::CurrentThreadId());
        ASSERT_TRUE(os::SetCurrentThreadAffinity(1));
        os::Thread t;
        ASSERT_TRUE(t.Start([](void* p) { *static_cast<std::string*>(p) = AllowedCpus(os::CurrentThreadId()); },
                            &started));
        t.Join();
    }).join();
    EXPECT_EQ(started, before);
}

TEST(OsEvent, AutoResetKeepsOneSignalForOneWaitAndTimedWaitsLastTheirTimeOut) {
    // Two Sets before a Wait are one signal; Reset clears a signal and keeps a clear event clear.
    os::Event e;
    EXPECT_FALSE(e.Wait(0));
    e.Set(), e.Set();
    EXPECT_TRUE(e.Wait(0) && !e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(os::kWaitInfinite));
    e.Set(), e.Reset();
    EXPECT_FALSE(e.Wait(0));
    e.Reset(), e.Set();
    EXPECT_TRUE(e.Wait(5));
    // Whole seconds and the millisecond part both count, and no wait is cut short.
    for (uint32_t ms : {1u, 30u, 1100u}) {
        const int64_t start = os::ReadRealCounter();
        EXPECT_FALSE(e.Wait(ms));
        EXPECT_GE(ElapsedMs(start), ms);
    }
    os::Semaphore s;
    const int64_t start = os::ReadRealCounter();
    EXPECT_FALSE(s.Wait(30));
    EXPECT_GE(ElapsedMs(start), 30);
}

TEST(OsEvent, MayBeDestroyedAsSoonAsTheWaitReturns) {
    // One-shot events on the waiter's stack, as the flush and stop commands use them.
    // A failed wait stops the setter, so the test fails instead of hanging.
    struct Shot {
        std::atomic<os::Event*> event{nullptr};
        std::atomic<bool> stop{false};
    } shot;
    os::Thread setter;
    ASSERT_TRUE(setter.Start(
        [](void* p) {
            auto* s = static_cast<Shot*>(p);
            for (int i = 0; i < 2000 && !s->stop; ++i) {
                os::Event* ev;
                while (!(ev = s->event.exchange(nullptr)) && !s->stop) os::YieldThread();
                if (ev) ev->Set();
            }
        },
        &shot));
    for (int i = 0; i < 2000 && !shot.stop; ++i) {
        os::Event oneShot;
        shot.event.store(&oneShot);
        if (!oneShot.Wait(5000)) {
            ADD_FAILURE() << "wait " << i;
            shot.stop = true;
            setter.Join();  // while the event still exists
        }
    }
    setter.Join();
}

TEST(OsEvent, OneSetWakesOneOfTwoSleepers) {
    os::Event e;
    std::atomic<int> woke{0}, done{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) waiters.emplace_back([&] {
        woke += e.Wait(5000);
        ++done;
    });
    os::Sleep(20);
    e.Set();
    while (woke.load() == 0 && done.load() < 2) os::YieldThread();
    os::Sleep(20);
    EXPECT_TRUE(woke.load() == 1 && done.load() == 1);
    e.Set();
    for (auto& t : waiters) t.join();
    EXPECT_TRUE(woke.load() == 2 && !e.Wait(0));
}

TEST(OsSemaphore, CountsAndHonoursMaximum) {
    // Release n (n > 0) or Wait (n = 0) in turn; past the maximum nothing is added.
    os::Semaphore s(0, 2);
    const std::pair<int32_t, bool> steps[] = {{0, false}, {-1, false}, {3, false}, {2, true}, {1, false}, {0, true},
                                              {1, true},  {0, true},   {0, true},  {0, false}};
    for (const auto& [n, ok] : steps) EXPECT_EQ(n == 0 ? s.Wait(0) : s.Release(n), ok) << n;
    EXPECT_FALSE(s.Release(0));

    os::Semaphore negative(-5);
    EXPECT_TRUE(!negative.Wait(0) && negative.Release(1) && negative.Wait(0));

    // Near the top of the range the check cannot overflow.
    os::Semaphore full(INT32_MAX - 1);
    EXPECT_TRUE(!full.Release(2) && full.Release(1) && !full.Release(INT32_MAX));

    os::Semaphore several;  // releasing several wakes as many waiters
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { woke += several.Wait(5000); });
    os::Sleep(20);
    EXPECT_TRUE(several.Release(3));
    for (auto& t : waiters) t.join();
    EXPECT_TRUE(woke.load() == 3 && !several.Wait(0));
}

TEST(OsRecursiveLock, OwnerReentersOthersWaitUntilTheLastUnlock) {
    os::RecursiveLock lock;
    auto otherTries = [&] {
        bool got = false;
        std::thread([&] {
            got = lock.TryLock();
            if (got) lock.Unlock();
        }).join();
        return got;
    };
    EXPECT_TRUE(otherTries());
    lock.Lock();
    EXPECT_TRUE(lock.TryLock() && !otherTries());
    lock.Unlock();
    EXPECT_FALSE(otherTries());  // until the last unlock
    lock.Unlock();
    EXPECT_TRUE(otherTries());

    // A blocked Lock proceeds once the owner leaves.
    lock.Lock();
    std::atomic<bool> entered{false};
    std::thread blocked([&] {
        lock.Lock();
        entered = true;
        lock.Unlock();
    });
    os::Sleep(20);
    EXPECT_FALSE(entered.load());
    lock.Unlock();
    blocked.join();
    EXPECT_TRUE(entered.load());
}

TEST(OsClock, RealCounterIsTheMonotonicClockInTenthsOfAMicrosecond) {
    using std::chrono::steady_clock;
    for (int i = 0; i < 3; ++i) {
        const int64_t before = steady_clock::now().time_since_epoch().count() / 100;
        const int64_t ticks = os::ReadRealCounter();
        const int64_t after = steady_clock::now().time_since_epoch().count() / 100;
        EXPECT_TRUE(ticks >= before && ticks <= after) << before << " " << ticks << " " << after;
        os::Sleep(i * 7);
    }
    for (uint32_t ms : {1u, 20u}) {
        const int64_t start = os::ReadRealCounter();
        os::Sleep(ms);
        EXPECT_GE(ElapsedMs(start), ms);
    }
}

TEST(OsClock, ManualClockReplacesAndRestoresTheSource) {
    const int64_t before = os::ReadCounter();
    {
        os::ManualClock clock(1000);
        EXPECT_GE(os::ReadCounter(), before);  // not installed yet
        clock.Install();
        clock.AdvanceSeconds(0.5);
        EXPECT_EQ(os::ReadCounter(), 1000 + os::kCounterFrequency / 2);
        clock.Advance(-1);
        clock.Set(clock.Now() + 2);
        EXPECT_EQ(os::ReadCounter(), 1001 + os::kCounterFrequency / 2);

        // Uninstalling a clock that is no longer the source leaves the newer one.
        os::ManualClock newer(7);
        newer.Install();
        clock.Uninstall();
        EXPECT_EQ(os::ReadCounter(), 7);
        newer.Uninstall();
        EXPECT_GE(os::ReadCounter(), before);
        clock.Install();
        EXPECT_EQ(os::ReadCounter(), clock.Now());
    }
    EXPECT_GE(os::ReadCounter(), before);  // the destructor uninstalled it
}

// A source may be destroyed as soon as it is replaced: replacing it waits for a read
// that is still calling through it.
TEST(OsClock, ReplacingASourceWaitsForTheReadsInProgress) {
    struct HeldSource : os::ClockSource {
        std::atomic<bool> entered{false}, release{false};
        HeldSource() {
            read = [](const os::ClockSource* self) -> int64_t {
                auto* s = const_cast<HeldSource*>(static_cast<const HeldSource*>(self));
                s->entered = true;
                while (!s->release) std::this_thread::yield();
                return 42;
            };
        }
    };
    os::ManualClock next(7);
    for (const os::ClockSource* replacement : {static_cast<const os::ClockSource*>(nullptr),
                                               static_cast<const os::ClockSource*>(&next)}) {
        SCOPED_TRACE(replacement ? "another source" : "the real clock");
        HeldSource held;
        os::SetClockSource(&held);
        int64_t read = 0;
        std::thread reader([&] { read = os::ReadCounter(); });
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!held.entered && std::chrono::steady_clock::now() < end) std::this_thread::yield();
        if (!held.entered) {
            held.release = true;
            reader.join();
            os::SetClockSource(nullptr);
            FAIL() << "the reader never reached the source";
        }
        std::atomic<bool> replaced{false};
        std::thread replacer([&] { os::SetClockSource(replacement), replaced = true; });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(replaced);  // the read is still inside the held source
        held.release = true;
        reader.join();
        replacer.join();
        EXPECT_TRUE(replaced);
        EXPECT_EQ(read, 42);
    }
    EXPECT_EQ(os::ReadCounter(), 7);
    os::SetClockSource(nullptr);
}

}  // namespace
