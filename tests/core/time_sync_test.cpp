// test-sanitize: thread address
// test-timeout: 60
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "CaptureLogSink.h"
#include "core/CrtRand.h"
#include "core/Sync.h"
#include "core/Time.h"
#include "platform/os/Clock.h"

namespace {

struct TimerBaseScope {  // restores the real timer base afterwards
    TimerBaseScope(int64_t start, int64_t frequency) { Time::InitTimer(start, frequency); }
    ~TimerBaseScope() { Time::InitTimer(); }
};

TEST(Time, ConversionsKeepTheSignAndOneSecondIsAMillionMicroseconds) {
    for (int64_t f : {int64_t(1000), int64_t(3579545), int64_t(10000000), int64_t(1000000000), int64_t(2400000000)}) {
        TimerBaseScope base(0, f);
        EXPECT_EQ(Time(f).ToMicroseconds(), 1000000) << f;
        EXPECT_EQ(Time(-f).ToMicroseconds(), -1000000) << f;
        EXPECT_DOUBLE_EQ(Time(-f / 2 * 2).ToSeconds(), -static_cast<double>(f / 2 * 2) / f);
        EXPECT_NEAR(Time(-f).ToMilliseconds(), -1000.0, 1e-9);
    }
    TimerBaseScope base(0, 10000000);
    EXPECT_EQ(Time(-15).ToMicroseconds(), -1);  // truncates toward zero
    // Past 2^63 / 10^6 ticks the 64-bit product would overflow.
    const int64_t big = int64_t(1) << 62;
    EXPECT_EQ(Time(big).ToMicroseconds(), big / 10);
    EXPECT_EQ(Time(-big).ToMicroseconds(), -(big / 10));
}

TEST(Time, HardwareTimeFollowsTheInstalledClockAndLogPrintsSeconds) {
    os::ManualClock clock(5000);
    clock.Install();
    Time::InitTimer();
    {
        CaptureLogSink sink;
        sink.Attach();
        clock.AdvanceSeconds(1.5);
        Time t;
        t.LoadHardwareTime();
        EXPECT_EQ(t.ticks, 15000000);
        t.Log(LogSeverity::ScriptConsole, LogCategory::Script, nullptr);
        t.Log(LogSeverity::Information, LogCategory::Engine, "frame");
        Time::ZERO.Log(LogSeverity::Information, LogCategory::Engine, "");
        auto m = sink.Messages();
        ASSERT_EQ(m.size(), 3u);
        EXPECT_EQ(m[0].payload, (std::vector<uint8_t>{2, 4, '1', '.', '5', '0', '0', '0', '0', '0', 0}));
        EXPECT_EQ(m[1].text, "frame 1.500000");
        EXPECT_EQ(m[2].text, " 0.000000");
    }
    clock.Uninstall();
    Time::InitTimer();
}

TEST(Time, MulTruncatesAndSaturates) {
    Time t(10);
    t.Mul(0.55f);
    EXPECT_EQ(t.ticks, 5);
    Time u;
    u.Mul(Time(-7), 2.0f);
    EXPECT_EQ(u.ticks, -14);
    Time huge(int64_t(1) << 62);
    huge.Mul(1e10f);
    EXPECT_EQ(huge.ticks, std::numeric_limits<int64_t>::max());
    huge.Mul(std::nanf(""));
    EXPECT_EQ(huge.ticks, 0);
}

TEST(Time, FromSecondsTruncatesTowardZeroInItsPrecisionAndSaturates) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    TimerBaseScope base(0, os::kCounterFrequency);
    const struct {
        double seconds;
        int64_t ticks;
    } doubles[] = {
        {1.5, 15000000}, {-0.25, -2500000}, {1.9e-7, 1}, {-1.9e-7, -1}, {double(0.7f), 6999999},
        {9.2e11, 9200000000000000000}, {9.3e11, kMax}, {-9.3e11, kMin}, {kInf, kMax}, {-kInf, kMin},
        {std::nan(""), 0},
    };
    for (const auto& c : doubles) EXPECT_EQ(Time::FromSeconds(c.seconds).ticks, c.ticks) << c.seconds;
    // In single precision 0.7 s times the frequency rounds up to a whole 7000000 first.
    const struct {
        float seconds;
        int64_t ticks;
    } floats[] = {
        {0.7f, 7000000}, {1.5f, 15000000}, {-1.9e-7f, -1}, {1e30f, kMax}, {-1e30f, kMin},
        {float(kInf), kMax}, {std::nanf(""), 0},
    };
    for (const auto& c : floats) EXPECT_EQ(Time::FromFloatSeconds(c.seconds).ticks, c.ticks) << c.seconds;
    TimerBaseScope slow(0, 1000);  // the base's frequency, as ToSeconds
    EXPECT_EQ(Time::FromSeconds(1.5).ticks, 1500);
    EXPECT_EQ(Time::FromFloatSeconds(-2.0f).ticks, -2000);
    EXPECT_DOUBLE_EQ(Time::FromSeconds(-3.25).ToSeconds(), -3.25);
}

TEST(CriticalSection, TryEnterFailsWhileAnotherThreadHoldsItAndTheGuardHoldsItsScope) {
    CriticalSection cs;
    auto otherEnters = [&] {
        bool entered = false;
        std::thread([&] {
            entered = cs.Enter(false);
            if (entered) cs.Leave();
        }).join();
        return entered;
    };
    ASSERT_TRUE(cs.Enter(false));
    ASSERT_TRUE(cs.Enter(true));  // the owner re-enters
    EXPECT_FALSE(otherEnters());
    cs.Leave();
    EXPECT_FALSE(otherEnters());  // still held once
    cs.Leave();
    EXPECT_TRUE(otherEnters());
    {
        CriticalSectionGuard held(&cs);
        EXPECT_FALSE(otherEnters());
    }
    EXPECT_TRUE(otherEnters());
}

TEST(Semaphore, WaitSecondsPollsTruncatesAndClampsNegativeWaits) {
    Semaphore s(1);
    EXPECT_TRUE(s.WaitSeconds(0.0005f));  // 0 ms: a poll that finds the count
    EXPECT_FALSE(s.WaitSeconds(0.0005f));
    // Unclamped, these would be endless waits; the test's time-out catches that.
    EXPECT_FALSE(s.WaitSeconds(-1.0f));
    EXPECT_FALSE(s.WaitSeconds(std::nanf("")));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.WaitSeconds(0.0309f));  // 30 ms (a lower bound only)
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(29));
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        s.Release();
    });
    EXPECT_TRUE(s.WaitSeconds(10.0f));
    releaser.join();
}

TEST(CounterPair, DataWrittenBeforeTheCountIsVisibleToTheReader) {
    constexpr uint32_t kItems = 20000;
    std::vector<uint32_t> data(kItems);  // plain memory, published by the counters
    CounterPair ticket;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kItems; ++i) {
            data[i] = i * 3 + 1;
            ticket.IncrementFirst();
        }
    });
    uint32_t bad = 0;
    for (uint32_t i = 0; i < kItems; ++i) {
        while (ticket.First() <= i) std::this_thread::yield();
        bad += data[i] != i * 3 + 1;
        ticket.IncrementSecond();
    }
    producer.join();
    EXPECT_EQ(bad, 0u);
    EXPECT_FALSE(ticket.Pending());
}

TEST(CrtRand, ClassicSequencePerThread) {
    CrtSrand(1);
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
    for (int v : expected) EXPECT_EQ(CrtRand(), v);
    int otherFirst = -1;
    std::thread([&] { otherFirst = CrtRand(); }).join();  // a new thread starts at seed 1
    EXPECT_EQ(otherFirst, 41);
}

}  // namespace
