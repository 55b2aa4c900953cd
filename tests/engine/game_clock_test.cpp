// GameClock: whole and variable steps and the correction against network time.
#include <gtest/gtest.h>

#include <string>

#include "CaptureLogSink.h"
#include "core/Time.h"
#include "engine/GameClock.h"
#include "platform/os/Clock.h"

namespace {

class GameClockTest : public testing::Test {
protected:
    void SetUp() override {
        clock.Install();
        Time::InitTimer(0, 0);  // counter ticks from 0: 10 per microsecond
        log.Attach();
    }
    void TearDown() override {
        log.Detach();
        clock.Uninstall();
        Time::InitTimer();
    }
    void SetRealMicroseconds(int64_t us) { clock.Set(us * (os::kCounterFrequency / 1000000)); }
    std::string Corrections() {
        std::string all;
        for (const auto& m : log.Messages()) all += std::to_string(m.category) + " " + m.text + ";";
        return all;
    }

    os::ManualClock clock;
    CaptureLogSink log;
};

TEST_F(GameClockTest, TickFromStart) {
    constexpr int64_t kStep = 66666;
    struct Case {
        int64_t real;
        int32_t steps;
        float divisor;
        int64_t accumulated, current;
        const char* logged;
    } cases[] = {
        {kStep, 1, 1.0f, 200000 + kStep, 200000 + kStep, ""},                 // network time exactly at the step
        {2 * kStep, 1, 1.0f, 200000 + kStep, 200000 + kStep, ""},             // a whole step behind still follows
        {2 * kStep + 1, 1, 1.0f, 333333, 333333, "66667 (66666)"},           // further behind snaps forward
        {kStep - 1, 1, 1.0f, 266665, 266665, "-1 (66666)"},                   // one microsecond ahead snaps back
        {0, 0, 0.0f, 200000, 200000, ""},                                     // no steps (0 / 0) add nothing
        {0, 2, 0.0f, 200000, 200000, ""},                                     // multiplier 0 adds nothing
        {0, 2, -1.0f, 200000, 200000, ""},                                    // neither does a negative one
        {6 * kStep, 3, 0.5f, 200000 + 6 * kStep, 200000 + 6 * kStep, ""},    // the multiplier divides
        {12345, -1, 1.0f, 200000, 212345, ""},                                // variable steps: network time
        {0, 1000000, 1.0e-30f, 200000, 200000, "-1152921504606846976 (66666)"},  // an absurd advance is a correction
    };
    for (const Case& c : cases) {
        GameClock gc;
        log.Clear();
        SetRealMicroseconds(c.real);
        gc.Tick(c.steps, c.divisor);
        SCOPED_TRACE(testing::Message() << c.real << " " << c.steps << " " << c.divisor);
        EXPECT_EQ(gc.GetRealTime(), c.real);
        EXPECT_EQ(gc.GetAccumulatedTime(), c.accumulated);
        EXPECT_EQ(gc.GetCurrentTime(), c.current);
        EXPECT_EQ(gc.GetPreviousTime(), 200000);
        EXPECT_EQ(GetNetworkTime(), c.real + 200000);
        EXPECT_EQ(Corrections(), *c.logged ? std::string("7 Multiplayer timer correction, difference: ") + c.logged + ";" : "");
    }
}

}  // namespace
