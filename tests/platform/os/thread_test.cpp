// test-sanitize: thread address
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "platform/os/Clock.h"
#include "platform/os/Thread.h"

TEST(OsThread, StartsJoinsAndReportsCreationFailure) {
    std::atomic<int> ran{0};
    os::Thread t;
    ASSERT_TRUE(t.Start([](void* p) { static_cast<std::atomic<int>*>(p)->fetch_add(1); }, &ran, "TestWorkerWithALongName"));
    EXPECT_NE(t.Id(), 0u);
    EXPECT_NE(t.Id(), os::CurrentThreadId());
    t.Join();
    EXPECT_EQ(ran.load(), 1);

    os::Thread::SetCreationFault(true);
    os::Thread f;
    EXPECT_FALSE(f.Start([](void*) {}, nullptr));
    os::Thread::SetCreationFault(false);
}

TEST(OsEvent, AutoResetKeepsOneSignalForOneWait) {
    os::Event e;
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
    EXPECT_FALSE(e.Wait(5));
}

TEST(OsSemaphore, CountsAndHonoursMaximum) {
    os::Semaphore s(0, 2);
    EXPECT_FALSE(s.Wait(0));
    EXPECT_TRUE(s.Release(2));
    EXPECT_FALSE(s.Release(1));
    EXPECT_TRUE(s.Wait(0));
    EXPECT_TRUE(s.Wait(0));
    EXPECT_FALSE(s.Wait(1));
}

TEST(OsClock, ManualClockReplacesAndRestoresTheSource) {
    const int64_t before = os::ReadCounter();
    {
        os::ManualClock clock(1000);
        clock.Install();
        EXPECT_EQ(os::ReadCounter(), 1000);
        clock.AdvanceSeconds(0.5);
        EXPECT_EQ(os::ReadCounter(), 1000 + os::kCounterFrequency / 2);
    }
    EXPECT_GE(os::ReadCounter(), before);
}

TEST(OsEvent, WakesSleepersAndMayBeDestroyedAsSoonAsTheWaitReturns) {
    // A waiter asleep in the kernel is woken by a Set from another thread.
    os::Event e;
    std::atomic<bool> woke{false};
    std::pair<os::Event*, std::atomic<bool>*> args(&e, &woke);
    os::Thread waiter;
    ASSERT_TRUE(waiter.Start(
        [](void* p) {
            auto* args = static_cast<std::pair<os::Event*, std::atomic<bool>*>*>(p);
            *args->second = args->first->Wait(5000);
        },
        &args));
    os::Sleep(20);
    e.Set();
    waiter.Join();
    EXPECT_TRUE(woke.load());

    // One-shot events on the waiter's stack, as the flush and stop commands use them.
    struct Shot {
        std::atomic<os::Event*> event{nullptr};
    } shot;
    os::Thread setter;
    ASSERT_TRUE(setter.Start(
        [](void* p) {
            auto* s = static_cast<Shot*>(p);
            for (int i = 0; i < 2000; ++i) {
                os::Event* ev;
                while (!(ev = s->event.exchange(nullptr))) os::YieldThread();
                ev->Set();
            }
        },
        &shot));
    for (int i = 0; i < 2000; ++i) {
        os::Event oneShot;
        shot.event.store(&oneShot);
        ASSERT_TRUE(oneShot.Wait(5000));
    }
    setter.Join();
}

TEST(OsEvent, TwoSleepersTwoSetsBothWake) {
    os::Event e;
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) waiters.emplace_back([&] { woke += e.Wait(5000); });
    os::Sleep(20);
    e.Set();
    while (woke.load() == 0) os::YieldThread();
    e.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woke.load(), 2);
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(OsRecursiveLock, TryLockFromAnotherThreadFails) {
    os::RecursiveLock lock;
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());
    bool other = true;
    std::thread([&] { other = lock.TryLock(); }).join();
    EXPECT_FALSE(other);
    lock.Unlock();
    lock.Unlock();
}
