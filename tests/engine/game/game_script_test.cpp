// The Game's methods for scripts: the user pause, where scheduled script calls go and
// which schedulers lose them, the controller gate, the screen slots, and the camera ray
// through a screen point checked by projecting its points back onto the screen.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "core/config/ProjectConfig.h"
#include "core/math/Matrix.h"
#include "engine/EngineServices.h"
#include "engine/camera/GameCameraController.h"
#include "engine/game/Game.h"
#include "engine/input/InputManager.h"
#include "engine/script/ScriptScheduler.h"
#include "platform/input/Input.h"
#include "platform/os/Clock.h"

namespace {

// The texts a scheduler will still run (a cancelled call keeps its record, without text).
std::vector<std::string> Texts(const ScriptScheduler* scheduler) {
    std::vector<std::string> texts;
    for (uint32_t i = 0; scheduler && i < scheduler->Count(); ++i)
        if (scheduler->Record(i).text) texts.push_back(scheduler->Record(i).text);
    return texts;
}

class GameScriptTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(gGame, nullptr);
        gEngineServices = EngineServices();
        hid::ResetInputLayer();
        gGame->Init(0, 1280, 720, nullptr, nullptr, 0);
        ASSERT_NE(gGame->GetGameScheduler(), nullptr);
        // The engine's scheduler is the engine object's, which these tests do not start:
        // the engine clock's selection reaches a scheduler of the test's instead.
        gameSelection = gEngineServices.scriptScheduler;
        ASSERT_NE(gameSelection, nullptr);
        gEngineServices.scriptScheduler = [](uint32_t selection, int64_t* now) -> ScriptScheduler* {
            if ((selection & SCRIPTSCHEDULER_SELECTION) != 8) return gameSelection(selection, now);
            *now = kEngineNow;
            return engineScheduler;
        };
        engineScheduler = new ScriptScheduler();
    }
    void TearDown() override {
        gGame->SetUserPause(false);
        gGame->Close();
        delete engineScheduler;
        engineScheduler = nullptr;
        gEngineServices = EngineServices();
        hid::ResetInputLayer();
    }

    static constexpr int64_t kEngineNow = 777;
    static inline ScriptScheduler* engineScheduler = nullptr;
    static inline ScriptScheduler* (*gameSelection)(uint32_t, int64_t*) = nullptr;
};

TEST_F(GameScriptTest, UserPausePausesEachTimerOncePerChange) {
    GameTimer* timers[] = {&gGame->GetGameTimer(), &gGame->GetGameplayTimer(), &gGame->GetSmoothGameTimer(),
                           &gGame->GetSmoothGameplayTimer()};
    gGame->GetGameplayTimer().Pause(true);  // a pause of the scripts' own, kept throughout
    struct Step {
        bool pause;
        uint32_t counts[4];
    };
    const Step steps[] = {{true, {1, 2, 1, 1}}, {true, {1, 2, 1, 1}}, {false, {0, 1, 0, 0}},
                          {false, {0, 1, 0, 0}}, {true, {1, 2, 1, 1}}};
    for (const Step& s : steps) {
        gGame->SetUserPause(s.pause);
        EXPECT_EQ(gGame->IsUserPaused(), s.pause);
        for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(timers[i]->PauseCount(), s.counts[i]) << s.pause << " timer " << i;
    }
    gGame->SetUserPause(false);
    gGame->GetGameplayTimer().Pause(false);
}

TEST_F(GameScriptTest, ScriptCallsGoToTheSchedulerOfTheirClock) {
    ScriptScheduler* game = gGame->GetGameScheduler();
    ScriptScheduler* gameplay = gGame->GetGameplayScheduler();
    struct Case {
        const char* text;
        uint32_t flags;
        ScriptScheduler* expected;
        int64_t now;
    };
    const Case cases[] = {
        {"A", 0, game, gGame->GetGameTimer().Time()},
        {"B", 4, gameplay, gGame->GetGameplayTimer().Time()},
        {"C", 8, engineScheduler, kEngineNow},
        {"D", 12, game, gGame->GetGameTimer().Time()},
        {"E", 4 | SCRIPTSCHEDULER_TEXT, gameplay, gGame->GetGameplayTimer().Time()},
        {"F", 2, game, gGame->GetGameTimer().Time()},
    };
    for (const Case& c : cases) {
        const uint32_t before = c.expected->Count();
        gGame->ScheduleScriptCall(c.text, 0.5f, c.flags);
        ASSERT_EQ(c.expected->Count(), before + 1) << c.text;
        const ScriptSchedulerRecord& r = c.expected->Record(c.expected->Count() - 1);
        EXPECT_STREQ(r.text, c.text);
        EXPECT_EQ(r.due, c.now + os::kCounterFrequency / 2) << c.text;
    }
    EXPECT_EQ(Texts(game), (std::vector<std::string>{"A", "D", "F"}));
    EXPECT_EQ(Texts(gameplay), (std::vector<std::string>{"B", "E"}));
    EXPECT_EQ(Texts(engineScheduler), (std::vector<std::string>{"C"}));
}

TEST_F(GameScriptTest, DeletingCallsLeavesTheGameplaySchedulerAlone) {
    for (uint32_t flags : {0u, 4u, 8u}) {
        gGame->ScheduleScriptCall("Tick()", 1.0f, flags);
        gGame->ScheduleScriptCall("Other()", 1.0f, flags);
    }
    gGame->DeleteScriptCalls("Tick()");
    EXPECT_EQ(Texts(gGame->GetGameScheduler()), std::vector<std::string>{"Other()"});
    EXPECT_EQ(Texts(engineScheduler), std::vector<std::string>{"Other()"});
    EXPECT_EQ(Texts(gGame->GetGameplayScheduler()), (std::vector<std::string>{"Tick()", "Other()"}));
}

TEST_F(GameScriptTest, ControllerQueriesFollowTheProjectSwitch) {
    hid::ConnectPad(0);
    gGame->GetInputManager()->InitDevices(0);
    gGame->EnableControllerInput(true, kAnyController);
    hid::PadState state;
    state.buttons = 0x1000;
    hid::SetPadState(0, state);
    gGame->GetInputManager()->Update();
    const bool saved = gProjectConfig->enableController;
    for (bool enabled : {false, true}) {
        gProjectConfig->enableController = enabled;
        EXPECT_EQ(gGame->IsXControllerPresent(kAnyController), enabled);
        EXPECT_EQ(gGame->IsXControllerKeyPressed(0x1000, 0), enabled);
        EXPECT_TRUE(gGame->IsXControllerKeyPressedForTheFirstTime(0x1000, 0)) << "a plain forward, not gated";
    }
    gProjectConfig->enableController = saved;
}

TEST_F(GameScriptTest, ScreenSlotsTellTheOldAndTheNewScreen) {
    static std::vector<std::pair<UIScreen*, bool>> told;
    told.clear();
    gEngineServices.uiScreenSlotChanged = [](UIScreen* s, bool entered) { told.emplace_back(s, entered); };
    auto* a = reinterpret_cast<UIScreen*>(0x1000);
    auto* b = reinterpret_cast<UIScreen*>(0x2000);
    Vector out(9.0f, 9.0f, 9.0f, 9.0f);
    EXPECT_FALSE(gGame->ScreenPointToUIPoint(Vector(0.5f, 0.5f, 0.0f), &out)) << "no active screen";
    gGame->SetActiveUIScreen(a);
    gGame->SetActiveUIScreen(b);
    gGame->SetPreFSEUIScreen(a);
    gGame->SetActiveUIScreen(nullptr);
    const std::vector<std::pair<UIScreen*, bool>> expected = {{a, true}, {a, false}, {b, true}, {a, true}, {b, false}};
    EXPECT_EQ(told, expected);
    EXPECT_EQ(gGame->GetScreen(GAMESCREEN_PRE_FSE), a);
    gGame->SetScreen(GAMESCREEN_PRE_FSE, nullptr);
}

// A world position on the screen through the camera, as the renderer would draw it.
Vector ToScreen(const Vector& world, const Matrix& view, const Matrix& projection) {
    Vector clip;
    clip.Transform(view, Vector(world.x, world.y, world.z, 1.0f));
    clip.Transform(projection);
    return Vector((clip.x / clip.w + 1.0f) * 0.5f, (1.0f - clip.y / clip.w) * 0.5f, 0.0f, 0.0f);
}

TEST_F(GameScriptTest, RayThroughAScreenPointProjectsBackOntoIt) {
    GameCameraController* camera = gGame->GetCameraController();
    ASSERT_NE(camera, nullptr);
    const Matrix& view = camera->GetCameraViewMatrix();
    const Matrix& projection = camera->GetCameraProjectionMatrix();
    Vector forward = camera->GetCameraInvViewMatrix().r[2];
    forward.w = 0.0f;
    forward.NormalizeXYZ();
    const Vector eye = camera->GetCameraPosition();
    // Planes facing the camera 20 units ahead of it and 20 units behind it.
    const Vector target = eye + forward * 20.0f;
    const Vector ahead(forward.x, forward.y, forward.z, -forward.Dot3(target));
    const Vector behindPoint = eye - forward * 20.0f;
    const Vector behind(forward.x, forward.y, forward.z, -forward.Dot3(behindPoint));

    const float points[][2] = {{0.5f, 0.5f}, {0.0f, 0.0f}, {1.0f, 1.0f}, {0.25f, 0.8f}, {0.9f, 0.1f}};
    for (const auto& p : points) {
        const Vector screen(p[0], p[1], 0.0f, 0.0f);
        Vector origin, direction;
        gGame->ScreenPointToWorld(screen, &origin, &direction);
        EXPECT_EQ(origin.w, 1.0f);
        EXPECT_EQ(direction.w, 0.0f);
        EXPECT_NEAR(direction.Length3(), 1.0f, 1e-5f);
        EXPECT_GT(direction.Dot3(forward), 0.0f) << "the ray leaves the camera forwards";
        for (float t : {0.0f, 5.0f, 50.0f}) {
            const Vector back = ToScreen(origin + direction * t, view, projection);
            EXPECT_NEAR(back.x, p[0], 1e-3f) << t;
            EXPECT_NEAR(back.y, p[1], 1e-3f) << t;
        }
        Vector hit(7.0f, 7.0f, 7.0f, 7.0f);
        ASSERT_TRUE(gGame->LoadScreenPointProjectedOnWorldPlane(screen, ahead, &hit));
        EXPECT_NEAR(hit.Dot3(ahead) + ahead.w, 0.0f, 1e-3f);
        const Vector back = ToScreen(hit, view, projection);
        EXPECT_NEAR(back.x, p[0], 1e-3f);
        EXPECT_NEAR(back.y, p[1], 1e-3f);
        Vector untouched(7.0f, 7.0f, 7.0f, 7.0f);
        EXPECT_FALSE(gGame->LoadScreenPointProjectedOnWorldPlane(screen, behind, &untouched));
        EXPECT_EQ(untouched, Vector(7.0f, 7.0f, 7.0f, 7.0f));
    }

    // Without a camera controller: the fixed ray.
    gGame->Close();
    Vector origin, direction;
    gGame->ScreenPointToWorld(Vector(0.3f, 0.3f, 0.0f), &origin, &direction);
    EXPECT_EQ(origin, Vector(0.0f, 0.0f, 0.0f, 1.0f));
    EXPECT_EQ(direction, Vector(0.0f, 0.0f, 1.0f, 0.0f));
    gGame->Init(0, 1280, 720, nullptr, nullptr, 0);
}

}  // namespace
