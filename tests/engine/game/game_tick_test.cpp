// test-sources: ../NumpyReference.cpp
// test-sanitize: address
// The Game tick: frame timing and step counts of both step modes against a float32 model
// written from the definitions (tick_reference.py), and the tick's edge cases: hitches,
// step sizes, multipliers, pauses, the background pass, scene switch and skipped frames,
// and the multiplayer step's catch-up.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/Time.h"
#include "engine/EngineServices.h"
#include "engine/GameClock.h"
#include "engine/NumpyReference.h"
#include "engine/game/Game.h"
#include "engine/game/GameDelegate.h"
#include "platform/os/Clock.h"

namespace {

constexpr int64_t kSecond = os::kCounterFrequency;
constexpr int64_t kStepTicks = 666666;  // trunc(0.06666667 x frequency) in float

class TickDelegate : public GameDelegate {
public:
    bool fixed = true, sleep = true, bigFrame = true;
    int ticks = 0, pauseTicks = 0, smoothTicks = 0;
    bool OnBeforeTick() override { return fixed; }
    bool CanSleep() override { return sleep; }
    bool OnBigFrameTick() override { return bigFrame; }
    void OnTick() override { ++ticks; }
    void OnPauseTick() override { ++pauseTicks; }
    void OnSmoothTick() override { ++smoothTicks; }
};

// A fresh Game (its own delta history and stamps) in gGame's place for one test.
class TickTest : public testing::Test {
protected:
    void SetUp() override {
        Time::InitTimer(0, kSecond);
        clock.Install();
        saved = gGame;
        gGame = game = new Game();
        game->Init(0, 1280, 720, &delegate, nullptr, 0);
    }
    void TearDown() override {
        game->Close();
        delete game;
        gGame = saved;
        clock.Uninstall();
        gEngineServices = EngineServices{};
        Time::InitTimer();
    }
    void Frame(int64_t ticks, bool focused = true) {
        clock.Advance(ticks);
        game->Tick(focused);
    }
    // Frames of the given length until the delta history holds only them.
    void Settle(int64_t ticks) {
        for (int i = 0; i < 4; ++i) Frame(ticks);
    }

    os::ManualClock clock{1'000'000'000};
    TickDelegate delegate;
    Game* game = nullptr;
    Game* saved = nullptr;
};

TEST_F(TickTest, FrameTimingMatchesTheFloatModel) {
    struct Run {
        bool fixed;
        float multiplier;
        std::vector<int64_t> frames;
    };
    std::mt19937 random(23);
    std::vector<Run> runs;
    for (bool fixed : {true, false})
        for (float multiplier : {0.0f, 0.5f, 1.0f, 2.0f})
            for (int sequence = 0; sequence < 3; ++sequence) {
                Run run{fixed, multiplier, {}};
                for (int i = 0; i < 60; ++i) {
                    const uint32_t kind = random() % 20;
                    if (kind == 0)  // a hitch of 0.1 to 2.5 s
                        run.frames.push_back(kSecond / 10 + int64_t(random() % (24 * kSecond / 10)));
                    else if (kind == 1)
                        run.frames.push_back(0);
                    else
                        run.frames.push_back(int64_t(random() % 450'000) + 10'000);  // 1 to 46 ms
                }
                runs.push_back(run);
            }

    std::vector<std::string> actual;
    std::ostringstream input;
    for (const Run& run : runs) {
        TearDown();
        SetUp();
        delegate.fixed = run.fixed;
        game->SetTimeMultiplier(run.multiplier, 0.0f);
        input << (run.fixed ? "F " : "V ") << FloatBits(run.multiplier) << ' ' << clock.Now() << ' '
              << game->GetGameTimer().Time() << ' ' << game->GetSmoothGameTimer().Time();
        std::string frames;
        for (int64_t ticks : run.frames) {
            input << ' ' << ticks;
            Frame(ticks);
            std::ostringstream f;
            f << game->GetLastStepCount() << ' ' << FloatBits(game->GetFrameDelta()) << ' '
              << FloatBits(game->GetFrameGameDelta()) << ' ' << game->GetGameTimer().Time() << ' '
              << game->GetSmoothGameTimer().Time() << ' ' << game->GetFixedStepStamp() << ' '
              << game->GetLastFrameStamp();
            frames += (frames.empty() ? "" : " | ") + f.str();
        }
        input << '\n';
        actual.push_back(frames);
    }
    const std::vector<std::string> expected = RunNumpyReference("game/tick_reference.py", input.str());
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_EQ(actual[i], expected[i]) << (runs[i].fixed ? "fixed" : "variable") << " mode, multiplier "
                                          << runs[i].multiplier;
}

// A 2 s hitch counts one capped step; the dropped time moves both stamps, so no fixed
// steps catch it up.
TEST_F(TickTest, HitchIsDroppedFromBothStamps) {
    Settle(kSecond / 15);
    const int64_t before = game->GetFixedStepStamp();
    Frame(2 * kSecond);
    EXPECT_EQ(game->GetLastFrameStamp(), clock.Now());
    EXPECT_EQ(game->GetLastStepCount(), 1u);
    // The dropped 2 s less one step, then the one step the frame ran.
    EXPECT_EQ(game->GetFixedStepStamp() - before, (2 * kSecond - kStepTicks) + kStepTicks);
}

// Variable steps: 60 frames per second gives one short step; game deltas of 0.07 and
// 0.08 (frames of 35 and 40 ms at multiplier 2) give one whole step with the small
// remainder dropped, and a whole step plus the remainder.
TEST_F(TickTest, VariableStepsSplitTheGameDelta) {
    const struct {
        int64_t frame;
        float multiplier;
        uint32_t steps;
        int64_t lastStepTicks;  // the game time the last frame's steps add
    } cases[] = {
        {kSecond / 60, 1.0f, 1, int64_t(float(1.0f / 60.0f) * 1e7f)},
        {350'000, 2.0f, 1, kStepTicks},
        {400'000, 2.0f, 2, kStepTicks + int64_t((0.08f - 0.06666667f) * 1e7f)},
    };
    delegate.fixed = false;
    for (const auto& c : cases) {
        game->SetTimeMultiplier(c.multiplier, 0.0f);
        Settle(c.frame);
        const int64_t before = game->GetGameTimer().Time();
        Frame(c.frame);
        EXPECT_EQ(game->GetLastStepCount(), c.steps) << c.frame;
        EXPECT_NEAR(double(game->GetGameTimer().Time() - before), double(c.lastStepTicks), 2.0) << c.frame;
    }
}

// Fixed steps follow the multiplier: twice as many at 2, none at 0 (and the stamp stays).
TEST_F(TickTest, FixedStepsFollowTheMultiplier) {
    for (float multiplier : {1.0f, 2.0f}) {
        game->SetTimeMultiplier(multiplier, 0.0f);
        const uint32_t before = game->GetFixedStepCount();
        for (int i = 0; i < 30; ++i) Frame(kSecond / 30);
        EXPECT_NEAR(double(game->GetFixedStepCount() - before), 15.0 * multiplier, 1.0) << multiplier;
    }
    game->SetTimeMultiplier(0.0f, 0.0f);
    const int64_t stamp = game->GetFixedStepStamp();
    const uint32_t steps = game->GetFixedStepCount();
    for (int i = 0; i < 30; ++i) Frame(kSecond / 30);
    EXPECT_EQ(game->GetFixedStepCount(), steps);
    EXPECT_EQ(game->GetFixedStepStamp(), stamp);
}

// A paused game timer: fixed mode runs neither OnTick nor OnPauseTick; variable mode
// calls OnPauseTick once per sub-step. The smooth tick runs only in fixed mode.
TEST_F(TickTest, PausedGameTimerInBothModes) {
    game->GetGameTimer().Pause(true);
    for (bool fixed : {true, false}) {
        delegate.fixed = fixed;
        delegate.ticks = delegate.pauseTicks = delegate.smoothTicks = 0;
        const int64_t time = game->GetGameTimer().Time();
        uint32_t steps = 0;
        for (int i = 0; i < 10; ++i) {
            Frame(kSecond / 10);
            steps += game->GetLastStepCount();
        }
        EXPECT_GT(steps, 0u);
        EXPECT_EQ(delegate.ticks, 0);
        EXPECT_EQ(delegate.pauseTicks, fixed ? 0 : int(steps));
        EXPECT_EQ(delegate.smoothTicks, fixed ? 10 : 0);
        EXPECT_EQ(game->GetGameTimer().Time(), time);
    }
    game->GetGameTimer().Pause(false);
}

// The background pass needs an unfocused window, a delegate that lets the game sleep and
// no pending switch; it then moves no time but the (zero) smooth ticks.
TEST_F(TickTest, BackgroundPassConditions) {
    Settle(kSecond / 30);
    const struct {
        bool focused, sleep, switchPending, background;
    } cases[] = {
        {false, true, false, true},
        {true, true, false, false},
        {false, false, false, false},
        {false, true, true, false},
    };
    for (const auto& c : cases) {
        delegate.sleep = c.sleep;
        if (c.switchPending) game->SwitchScene("", 0, nullptr);
        const uint32_t frames = game->GetFrameCount();
        const uint32_t smoothTicks = game->GetSmoothGameTimer().TickCount();
        const int64_t smooth = game->GetSmoothGameTimer().Time();
        Frame(kSecond / 30, c.focused);
        EXPECT_EQ(game->GetFrameCount() == frames, c.background);
        EXPECT_GT(game->GetSmoothGameTimer().TickCount(), smoothTicks);
        if (c.background) EXPECT_EQ(game->GetSmoothGameTimer().Time(), smooth);
    }
}

// The frame that loads a pending scene advances no game time; a frame the delegate skips
// counts no time and puts both stamps at now.
TEST_F(TickTest, SwitchFrameAndSkippedFrameCountNoTime) {
    Settle(kSecond / 15);
    game->SwitchScene("", 0, nullptr);
    Frame(kSecond / 15);
    EXPECT_FALSE(game->IsSwitchPending());
    EXPECT_EQ(game->GetGameTimer().Time(), Time::Base().start);
    EXPECT_EQ(game->GetLastStepCount(), 0u);

    delegate.bigFrame = false;
    const uint32_t ticked = game->GetTickedFrameCount();
    Frame(kSecond);
    EXPECT_EQ(game->GetTickedFrameCount(), ticked);
    EXPECT_EQ(game->GetLastFrameStamp(), clock.Now());
    EXPECT_EQ(game->GetFixedStepStamp(), clock.Now());
    EXPECT_EQ(game->GetLastMultiplayerStepTime(), uint64_t(gGameClock->GetCurrentTime()));
}

// A clock 5 steps ahead of the last multiplayer step is caught up at once by one step.
TEST_F(TickTest, MultiplayerStepCatchesUpALaggingClock) {
    static std::vector<uint64_t> ends;
    ends.clear();
    gEngineServices.multiplayerEndFrame = [](MultiplayerEngine*, uint64_t time) { ends.push_back(time); };
    const uint64_t last = game->GetLastMultiplayerStepTime();
    const uint64_t clockTime = uint64_t(gGameClock->GetCurrentTime());
    const uint64_t offset = clockTime - (last + 5 * 66666);  // the clock minus offset is 5 steps on
    game->MultiplayerStep(1, uint32_t(offset), uint32_t(offset >> 32));
    EXPECT_EQ(game->GetLastMultiplayerStepTime(), last + 5 * 66666);
    EXPECT_EQ(game->GetReplicationTime(), last + 5 * 66666);
    // Two steps behind and one step asked: one step, the rest waits.
    const uint64_t now = game->GetLastMultiplayerStepTime();
    const uint64_t offset2 = clockTime - (now + 2 * 66666 + 10);
    game->MultiplayerStep(1, uint32_t(offset2), uint32_t(offset2 >> 32));
    EXPECT_EQ(game->GetLastMultiplayerStepTime(), now + 66666);
    EXPECT_TRUE(ends.empty());  // no multiplayer engine: nothing ends a frame
}

}  // namespace
