// test-sources: ../engine/NumpyReference.cpp
// test-sanitize: address
// The Game tick against a float32 model (tick_reference.py) and its edge cases; the clocks it reads:
// GameClock's whole and variable steps and its correction against network time, the engine frame
// timer's ticks with and without the zero-delta flag.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "core/Log.h"
#include "core/Time.h"
#include "engine/services/FrameTimer.h"
#include "engine/services/GameClock.h"
#include "engine/NumpyReference.h"
#include "engine/camera/GameCameraController.h"
#include "game/Game.h"
#include "net/MultiplayerEngine.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/entity/ScriptScheduler.h"
#include "platform/os/Clock.h"

namespace {

constexpr int64_t kSecond = os::kCounterFrequency;

// No multiplayer engine unless a test asks for one.
MultiplayerEngine* NoEngine() { return nullptr; }
void DeleteEngine(MultiplayerEngine* engine) { delete engine; }
const Game::MultiplayerEngineFactory kNoMultiplayerEngine = {&NoEngine, &DeleteEngine};

class TickDelegate : public GameDelegate {
public:
    bool fixed = true, sleep = true, bigFrame = true;
    int ticks = 0, pauseTicks = 0, smoothTicks = 0, configChanges = 0;
    bool OnBeforeTick() override { return fixed; }
    void OnInputConfigChanged() override { ++configChanges; }
    bool CanSleep() override { return sleep; }
    bool OnBigFrameTick() override { return bigFrame; }
    void OnTick() override { ++ticks; }
    void OnPauseTick() override { ++pauseTicks; }
    void OnSmoothTick() override { ++smoothTicks; }
};

class TickTest : public testing::Test {
protected:
    void SetUp() override {
        Time::InitTimer(0, kSecond);
        clock.Install();
        saved = gGame;
        gGame = game = new Game();
        if (!ownEngine) Game::SetMultiplayerEngineFactory(&kNoMultiplayerEngine);
        game->Init(0, 1280, 720, &delegate, nullptr, 0);
    }
    void TearDown() override {
        game->Close();
        delete game;
        gGame = saved;
        clock.Uninstall(), Time::InitTimer();
        Game::SetMultiplayerEngineFactory(nullptr);
    }
    void Frame(int64_t ticks, bool focused = true) {
        clock.Advance(ticks);
        game->Tick(focused);
    }
    void Settle(int64_t ticks) {  // until the delta history holds only such frames
        for (int i = 0; i < 4; ++i) Frame(ticks);
    }

    os::ManualClock clock{1'000'000'000};
    TickDelegate delegate;
    bool ownEngine = false;  // a test's factory is installed
    Game* game = nullptr;
    Game* saved = nullptr;
};

// Fixed cases and random frame sequences: every frame's figures match the float32 model exactly.
TEST_F(TickTest, FrameTimingMatchesTheFloatModel) {
    struct Run {
        bool fixed;
        float multiplier;
        std::vector<int64_t> frames;
        int lastSteps = -1;  // the last frame's step count, where the case fixes it
    };
    std::vector<Run> runs = {
        {true, 1.0f, {kSecond / 15, kSecond / 15, kSecond / 15, kSecond / 15, 2 * kSecond}, 1},
        {false, 1.0f, std::vector<int64_t>(8, kSecond / 60), 1},
        {false, 2.0f, std::vector<int64_t>(8, 350'000), 1},
        {false, 2.0f, std::vector<int64_t>(8, 400'000), 2},
        {true, 2.0f, std::vector<int64_t>(8, kSecond / 15), 2},
        {true, 0.0f, std::vector<int64_t>(8, kSecond / 15), 0},
    };
    std::mt19937 random(23);
    for (bool fixed : {true, false})
        for (float multiplier : {0.0f, 0.5f, 1.0f, 2.0f})
            for (int sequence = 0; sequence < 3; ++sequence) {
                Run run{fixed, multiplier, {}};
                for (int i = 0; i < 60; ++i) {
                    const uint32_t kind = random() % 20;  // hitches of 0.1 to 2.5 s, empty frames, 1 to 46 ms
                    run.frames.push_back(kind == 0   ? kSecond / 10 + int64_t(random() % (24 * kSecond / 10))
                                         : kind == 1 ? 0
                                                     : int64_t(random() % 450'000) + 10'000);
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
        if (run.lastSteps >= 0) {
            EXPECT_EQ(int(game->GetLastStepCount()), run.lastSteps) << actual.size();
        }
    }
    // The log's frame suffix shows the fixed-step and ticked-frame counts of the last tick.
    EXPECT_EQ(GetLogFrameNumberA(), int32_t(game->GetFixedStepCount()));
    EXPECT_EQ(GetLogFrameNumberB(), int32_t(game->GetTickedFrameCount()));
    const std::vector<std::string> expected = RunNumpyReference("../game/tick_reference.py", input.str());
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_EQ(actual[i], expected[i]) << (runs[i].fixed ? "fixed" : "variable") << " mode, multiplier "
                                          << runs[i].multiplier << ", run " << i;
}

// Real time spent at multiplier 0 is not caught up when the multiplier comes back.
TEST_F(TickTest, TimeAtMultiplierZeroIsNotCaughtUp) {
    game->SetTimeMultiplier(0.0f, 0.0f);
    EXPECT_EQ(game->GetTimeMultiplier(), 0.0f);  // without a fade at once
    for (int i = 0; i < 150; ++i) Frame(kSecond / 15);
    EXPECT_EQ(game->GetFixedStepCount(), 0u);
    game->SetTimeMultiplier(1.0f, 0.0f);
    Frame(kSecond / 15);
    EXPECT_LE(game->GetLastStepCount(), 1u);
}

// A paused game timer: OnPauseTick per sub-step in variable mode only; smooth ticks and the
// camera once a frame in fixed mode, the camera once a sub-step in variable mode.
TEST_F(TickTest, PausedGameTimerInBothModes) {
    game->GetGameTimer().Pause(true);
    int cameraUpdates = 0;
    game->GetCameraController()->SetFrameCallback([](GameCameraController&, void* n) { ++*static_cast<int*>(n); },
                                                  &cameraUpdates);
    for (bool fixed : {true, false}) {
        delegate.fixed = fixed;
        delegate.ticks = delegate.pauseTicks = delegate.smoothTicks = cameraUpdates = 0;
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
        EXPECT_EQ(cameraUpdates, fixed ? 10 : int(steps));
        EXPECT_EQ(delegate.configChanges, 0);
        EXPECT_EQ(game->GetGameTimer().Time(), time);
    }
    game->GetGameTimer().Pause(false);
}

// The background pass (unfocused, may sleep, no switch pending) moves no time.
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
        if (c.background) {
            EXPECT_EQ(game->GetSmoothGameTimer().Time(), smooth);
        }
    }
}

// A game-time call runs in the step whose game time reaches it, not before.
TEST_F(TickTest, GameTimeCallsRunWhenTheGameTimerReachesThem) {
    ScriptScheduler* scheduler = game->GetGameScheduler();
    ASSERT_NE(scheduler, nullptr);
    scheduler->ScheduleString(nullptr, "", game->GetGameTimer().Time(), 0.5f, 0);
    Frame(kSecond / 15);
    EXPECT_EQ(scheduler->Count(), 1u);
    for (int i = 0; i < 10; ++i) Frame(kSecond / 15);  // 11/15 s of game time
    EXPECT_EQ(scheduler->Count(), 0u);
}

// Gameplay-time calls run while the gameplay timer runs and wait while it is paused, in
// both modes; the smooth gameplay timer moves with the smooth game timer in both modes.
TEST_F(TickTest, GameplayCallsAndSmoothGameplayTimeInBothModes) {
    for (bool fixed : {true, false}) {
        SCOPED_TRACE(fixed ? "fixed" : "variable");
        TearDown();
        SetUp();
        delegate.fixed = fixed;
        Settle(kSecond / 15);
        ScriptScheduler* scheduler = game->GetGameplayScheduler();
        ASSERT_NE(scheduler, nullptr);
        const int64_t smoothGame = game->GetSmoothGameTimer().Time();
        const int64_t smoothGameplay = game->GetSmoothGameplayTimer().Time();
        game->GetGameplayTimer().Pause(true);
        scheduler->ScheduleString(nullptr, "", game->GetGameplayTimer().Time(), 0.1f, 0);
        for (int i = 0; i < 10; ++i) Frame(kSecond / 15);
        EXPECT_EQ(scheduler->Count(), 1u);  // paused: not run
        game->GetGameplayTimer().Pause(false);
        for (int i = 0; i < 10; ++i) Frame(kSecond / 15);
        EXPECT_EQ(scheduler->Count(), 0u);  // running: run
        const int64_t gameAdvance = game->GetSmoothGameTimer().Time() - smoothGame;
        EXPECT_GT(gameAdvance, 0);
        EXPECT_EQ(game->GetSmoothGameplayTimer().Time() - smoothGameplay, gameAdvance);
    }
}

// A switch frame advances no game time; a skipped frame puts both stamps at now.
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

// A clock 5 steps ahead of the last multiplayer step is caught up at once by one step; the
// multiplayer engine ends each frame that stepped, and a tick hands it the replicated calls unforced.
TEST_F(TickTest, MultiplayerStepCatchesUpALaggingClock) {
    // A client's engine stepped on the test thread; the calls it runs reach its delegate.
    static struct : GameDelegate {
        void OnReplicatedMethodCall(Player*, const MPMethodCall* call) override { ran.push_back(call->methodId); }
        std::vector<uint32_t> ran;
    } calls;
    static const Game::MultiplayerEngineFactory threadless = {
        [] {
            MultiplayerEngine::Options o;
            o.delegate = &calls;
            o.startThread = false;
            return new MultiplayerEngine(o);
        },
        &DeleteEngine};
    TearDown();
    Game::SetMultiplayerEngineFactory(&threadless);
    ownEngine = true;
    SetUp();
    MultiplayerEngine& engine = *game->GetMultiplayerEngine();
    const uint32_t ok = NETERROR_OK;
    ASSERT_TRUE(engine.CallbackQueue().BeginWrite(NETCB_JOIN_RESULT, 4));
    engine.CallbackQueue().Write(&ok, 4);
    engine.CallbackQueue().EndWrite();
    engine.ProcessMessages();
    ASSERT_EQ(engine.GetMainThreadState(), uint32_t(NETSTATE_IN_GAME));
    // The frame ends the engine posts, in order.
    const auto frameEnds = [&] {
        std::vector<uint64_t> out;
        CommandRingBuffer& ring = engine.Ring();
        while (ring.BeginRead()) {
            uint64_t time = 0;
            if (ring.RecordId() == NETCMD_END_FRAME) ring.Read(&time, sizeof time), out.push_back(time);
            ring.EndRead();
        }
        return out;
    };
    frameEnds();
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
    EXPECT_EQ(frameEnds(), (std::vector<uint64_t>{last + 5 * 66666, now + 2 * 66666 + 10}));
    // A tick runs the due call and keeps the one not due yet (unforced).
    MPMethodCall due, later;
    due.methodId = 1, later.methodId = 2;
    const uint64_t clockNow = uint64_t(gGameClock->GetCurrentTime());
    engine.OnReceivedMethodCall(kServerCallerId, 0, due);
    engine.OnReceivedMethodCall(kServerCallerId, clockNow + 1'000'000'000, later);
    Frame(0);
    EXPECT_EQ(calls.ran, std::vector<uint32_t>{1});
    EXPECT_EQ(engine.PendingCallCount(), 1u);
}

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
