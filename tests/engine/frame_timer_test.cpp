// The engine frame timer on a manual clock: ticks with and without the zero-delta flag.
#include <gtest/gtest.h>

#include "engine/FrameTimer.h"
#include "platform/os/Clock.h"

namespace {

TEST(FrameTimerTest, ZeroDeltaTicksDropTheirTimeAndNormalTicksAccumulate) {
    os::ManualClock clock(5'000'000'000);
    clock.Install();
    FrameTimer timer;
    timer.Reset();
    EXPECT_EQ(timer.Time(), 5'000'000'000);
    EXPECT_EQ(timer.Delta(), 0.0f);
    struct Step {
        int64_t advance;  // ticks before the tick
        bool zeroDelta;
        int64_t time;     // accumulated afterwards
        float delta;
        uint32_t frames;
    } steps[] = {
        {166'667, false, 5'000'166'666, 0.0166667f, 1},  // the seconds figure loses a tick
        {2'000'000, true, 5'000'166'666, 0.0f, 1},       // a dropped interval never comes back
        {0, false, 5'000'166'666, 0.0f, 2},
        {10'000'000, false, 5'010'166'666, 1.0f, 3},
        {20'000'001, false, 5'030'166'666, 2.0f, 4},     // whole ticks of the single-precision figure
        {3, true, 5'030'166'666, 0.0f, 4},
    };
    for (const Step& s : steps) {
        clock.Advance(s.advance);
        timer.Tick(s.zeroDelta);
        EXPECT_EQ(timer.Time(), s.time) << s.advance;
        EXPECT_FLOAT_EQ(timer.Delta(), s.delta) << s.advance;
        EXPECT_EQ(timer.FrameCount(), s.frames) << s.advance;
        EXPECT_EQ(timer.LastStamp(), clock.Now());
    }
    clock.Uninstall();
}

}  // namespace
