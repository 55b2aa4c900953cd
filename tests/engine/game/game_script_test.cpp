// The Game's methods for scripts: user pause, scheduled calls, the camera ray.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/math/Matrix.h"
#include "engine/EngineServices.h"
#include "engine/camera/GameCameraController.h"
#include "engine/game/Game.h"
#include "engine/script/ScriptScheduler.h"
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
        gGame->Init(0, 1280, 720, nullptr, nullptr, 0);
        ASSERT_NE(gGame->GetGameScheduler(), nullptr);
        // The engine object (and its scheduler) is not started: the engine clock's selection
        // reaches the test's own scheduler.
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
        delete std::exchange(engineScheduler, nullptr);
        gEngineServices = EngineServices();
    }

    static constexpr int64_t kEngineNow = 777;
    static inline ScriptScheduler* engineScheduler = nullptr;
    static inline ScriptScheduler* (*gameSelection)(uint32_t, int64_t*) = nullptr;
};

TEST_F(GameScriptTest, UserPausePausesEachTimerOncePerChange) {
    GameTimer* timers[] = {&gGame->GetGameTimer(), &gGame->GetGameplayTimer(), &gGame->GetSmoothGameTimer(),
                           &gGame->GetSmoothGameplayTimer()};
    gGame->GetGameplayTimer().Pause(true);  // a pause of the scripts' own, kept throughout
    const bool steps[] = {true, true, false, false, true};
    for (bool pause : steps) {
        gGame->SetUserPause(pause);
        EXPECT_EQ(gGame->IsUserPaused(), pause);
        for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(timers[i]->PauseCount(), (pause ? 1u : 0u) + (i == 1)) << i;
    }
    gGame->SetUserPause(false);
    gGame->GetGameplayTimer().Pause(false);
}

TEST_F(GameScriptTest, ScriptCallsGoToTheSchedulerOfTheirClockAndAreDeletedByText) {
    ScriptScheduler* game = gGame->GetGameScheduler();
    ScriptScheduler* gameplay = gGame->GetGameplayScheduler();
    const int64_t gameNow = gGame->GetGameTimer().Time(), gameplayNow = gGame->GetGameplayTimer().Time();
    const struct {
        const char* text;
        uint32_t flags;
        ScriptScheduler* expected;
        int64_t now;
    } cases[] = {{"A", 0, game, gameNow}, {"B", 4, gameplay, gameplayNow}, {"C", 8, engineScheduler, kEngineNow},
                 {"D", 12, game, gameNow}, {"E", 6, gameplay, gameplayNow}, {"F", 2, game, gameNow}};
    for (const auto& c : cases) {
        gGame->ScheduleScriptCall(c.text, 0.5f, c.flags);
        ASSERT_GT(c.expected->Count(), 0u) << c.text;
        const ScriptSchedulerRecord& r = c.expected->Record(c.expected->Count() - 1);
        EXPECT_STREQ(r.text, c.text);
        EXPECT_EQ(r.due, c.now + os::kCounterFrequency / 2) << c.text;
    }
    // Deleting calls leaves the gameplay scheduler alone.
    for (const char* text : {"A", "B", "C", "D"}) gGame->DeleteScriptCalls(text);
    EXPECT_EQ(Texts(game), std::vector<std::string>{"F"});
    EXPECT_EQ(Texts(engineScheduler), std::vector<std::string>{});
    EXPECT_EQ(Texts(gameplay), (std::vector<std::string>{"B", "E"}));
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
    // Planes facing the camera 20 units ahead of it and behind it.
    const Vector ahead(forward.x, forward.y, forward.z, -forward.Dot3(eye + forward * 20.0f));
    const Vector behind(forward.x, forward.y, forward.z, -forward.Dot3(eye - forward * 20.0f));

    const float points[][2] = {{0.5f, 0.5f}, {0.0f, 0.0f}, {1.0f, 1.0f}, {0.25f, 0.8f}, {0.9f, 0.1f}};
    for (const auto& p : points) {
        const Vector screen(p[0], p[1], 0.0f, 0.0f);
        Vector origin, direction;
        gGame->ScreenPointToWorld(screen, &origin, &direction);
        EXPECT_EQ(std::make_pair(origin.w, direction.w), std::make_pair(1.0f, 0.0f));
        EXPECT_NEAR(direction.Length3(), 1.0f, 1e-5f);
        EXPECT_GT(direction.Dot3(forward), 0.0f) << "the ray leaves the camera forwards";
        Vector hit;
        ASSERT_TRUE(gGame->LoadScreenPointProjectedOnWorldPlane(screen, ahead, &hit));
        EXPECT_NEAR(hit.Dot3(ahead) + ahead.w, 0.0f, 1e-3f);
        for (const Vector& at : {origin, origin + direction * 50.0f, hit}) {
            const Vector back = ToScreen(at, view, projection);
            EXPECT_NEAR(back.x, p[0], 1e-3f);
            EXPECT_NEAR(back.y, p[1], 1e-3f);
        }
        EXPECT_FALSE(gGame->LoadScreenPointProjectedOnWorldPlane(screen, behind, &hit));
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
