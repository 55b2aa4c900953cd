// test-sanitize: thread address
// test-depends: shader_data
// test-timeout: 900
// A headless run of 10,000 frames on a generated scene.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/EngineDataSet.h"
#include "engine/entity/SceneFiles.h"
#include "CaptureLogSink.h"
#include "engine/VornexEngine.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/entity/SceneGrid.h"
#include "platform/os/Clock.h"
#include "platform/window/Window.h"

namespace {

constexpr int64_t kFrame = os::kCounterFrequency / 60;
constexpr int kFrames = 10'000;

class CountingDelegate : public GameDelegate {
public:
    int ticks = 0, ready = 0;
    void OnTick() override { ++ticks; }
    void OnSceneReady() override { ++ready; }
};

TEST(GameRunTest, EngineStartsSwitchesToASceneTicksAndCloses) {
    enginetest::EngineDataSet set;
    set.WriteProjectConfig();
    const std::vector<uint8_t> scene = scenefiles::Write(
        "{\"entities\":[],\"grid\":{\"width\":4,\"height\":3,\"origin\":[0,0,0,1],\"cell\":1.0}}", "run");
    ASSERT_FALSE(scene.empty());
    enginetest::EngineDataSet::WriteFile(set.data + "/scenes/Level.BinaryScene", scene);
    const uint32_t window = enginetest::MakeWindow();
    ASSERT_TRUE(gVornexEngine.Init(window, "Run Test", gGameConfig, true));

    // Static: the render thread may still read the clock after the test's frame.
    static os::ManualClock clock(os::ReadCounter());
    clock.Install();
    CountingDelegate delegate;
    gGame->Init(window, 256, 144, &delegate, nullptr, 0);
    gGame->SwitchScene("Level", 0, nullptr);
    for (int i = 0; i < kFrames; ++i) {
        clock.Advance(kFrame);
        gGame->Tick(true);
    }
    EXPECT_STREQ(gEntityManager->GetSceneFileName(), "Level");
    ASSERT_NE(gEntityManager->GetSceneGrid(), nullptr);
    EXPECT_EQ(gEntityManager->GetSceneGrid()->Width(), 4u);
    EXPECT_EQ(delegate.ready, 1);
    // The switch frame counts no time; then 15 steps a second.
    const int expectedSteps = (kFrames - 1) / 4;
    EXPECT_NEAR(double(gGame->GetFixedStepCount()), double(expectedSteps), 1.0);
    EXPECT_EQ(delegate.ticks, int(gGame->GetFixedStepCount()));
    EXPECT_EQ(gGame->GetTickedFrameCount(), uint32_t(kFrames));  // the load zeroes it before its own frame counts

    gGame->Close();
    gVornexEngine.Shutdown();
    gVornexEngine.SetConfiguration(nullptr);
    clock.Uninstall();
    wnd::ResetWindowLayer();
}

// A scene load on the running engine: the loader reads the scene file and the scene's
// optimized templates (one job, in file order), the scene's entities come from those
// templates; a scene that is missing, empty or cut short is reported and marked failed.
TEST(GameRunTest, ScenesLoadThroughTheLoaderAndFailedOnesAreReported) {
    enginetest::EngineDataSet set;
    set.WriteProjectConfig();
    const std::string guid = "00000000-0000-0000-0000-0000000000C1";
    const std::string opt = set.data + "/scenes/Built.opt";
    const std::string tpl = "{\"guid\":\"" + guid + "\",\"type\":0,\"props\":{\"lua_class\":\"Crate\"}}";
    ASSERT_EQ(std::system(("python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py opt '" + opt +
                           "' '{\"version\":50,\"templates\":[" + tpl + "]}'")
                              .c_str()),
              0);
    const std::vector<uint8_t> scene = scenefiles::Write(
        "{\"entities\":[{\"template\":\"" + guid + "\",\"name\":\"crate\",\"pos\":[2,0,3]}]}", "built");
    ASSERT_FALSE(scene.empty());
    enginetest::EngineDataSet::WriteFile(set.data + "/scenes/Built.BinaryScene", scene);
    enginetest::EngineDataSet::WriteFile(set.data + "/scenes/Empty.BinaryScene", {});
    enginetest::EngineDataSet::WriteFile(set.data + "/scenes/Cut.BinaryScene",
                                         std::vector<uint8_t>(scene.begin(), scene.begin() + long(scene.size() / 2)));
    const uint32_t window = enginetest::MakeWindow();
    ASSERT_TRUE(gVornexEngine.Init(window, "Run Test", gGameConfig, true));
    CaptureLogSink log;
    log.Attach();
    GameDelegate delegate;
    gGame->Init(window, 256, 144, &delegate, nullptr, 0);

    log.Clear();
    gGame->SwitchScene("Built", 0, nullptr);
    gGame->LoadPendingScene();
    EXPECT_FALSE(gGame->LastSceneLoadFailed());
    // The load's progress lines, each once and in the order of its steps.
    const std::vector<CaptureLogSink::Message> messages = log.Messages();
    size_t next = 0;
    for (const char* line : {"NewScene in ", "Resource preloaded in ", "LoadOptimizedTemplates in ",
                             "Optimized templates loaded in ", "Scene deserialized in ", "Scene data loaded in ",
                             "Scene switched in "}) {
        size_t count = 0, at = messages.size();
        for (size_t i = 0; i < messages.size(); ++i)
            if (messages[i].text.find(line) != std::string::npos && count++ == 0) at = i;
        EXPECT_EQ(count, 1u) << line;
        EXPECT_TRUE(at < messages.size() && at >= next) << line << " out of order";
        next = at;
    }
    Entity* crate = gEntityManager->FindEntityByName("crate");
    ASSERT_NE(crate, nullptr);
    ASSERT_NE(crate->GetTemplate(), nullptr);
    EXPECT_STREQ(crate->GetTemplate()->GetName(), "#optimizedtemplate000");
    EXPECT_STREQ(crate->GetTemplate()->luaClass, "Crate");
    EXPECT_EQ(crate->GetGlobalPosition().z, 3.0f);

    const struct {
        const char* scene;
        const char* line;
    } failures[] = {{"Missing", "Unable to open file for reading (scenes/Missing)"},
                    {"Empty", "Scene scenes/Empty.BinaryScene is empty"},
                    {"Cut", "Scene scenes/Cut.BinaryScene is cut short or corrupt"}};
    for (const auto& f : failures) {
        log.Clear();
        gGame->SwitchScene(f.scene, 0, nullptr);
        gGame->LoadPendingScene();
        EXPECT_TRUE(gGame->LastSceneLoadFailed()) << f.scene;
        EXPECT_TRUE(log.Contains(f.line)) << f.scene;
    }
    gGame->SwitchScene("Built", 0, nullptr);
    gGame->LoadPendingScene();
    EXPECT_FALSE(gGame->LastSceneLoadFailed());

    log.Detach();
    gGame->Close();
    gVornexEngine.Shutdown();
    gVornexEngine.SetConfiguration(nullptr);
    wnd::ResetWindowLayer();
}

}  // namespace
