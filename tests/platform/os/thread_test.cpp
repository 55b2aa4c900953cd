// test-sanitize: thread address
#include <gtest/gtest.h>

#include <atomic>

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
