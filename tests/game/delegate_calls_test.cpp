// test-depends: shader_data
// The game delegate's calls that come from outside the Game's own steps, on an engine
// started as the program starts it: the renderer's device start and each device reset
// reach the delegate's OnDisplayReset at the main thread's next tick (once for any number
// of resets between two ticks, never from a frame without one), and the script host's
// distribution listings reach the delegate's listing calls with their arguments while
// the Game runs, and no delegate once it has closed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/config/GameConfig.h"
#include "engine/EngineDataSet.h"
#include "engine/VornexEngine.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/script/LuaWrapper.h"
#include "game/Game.h"
#include "platform/window/Window.h"
#include "render/VornexRenderer.h"

namespace {

struct RecordingDelegate : GameDelegate {
    void OnDisplayReset() override { ++displayResets; }
    void LoadMainScripts(const char* setName, DynarraySafe<NameString>& files) override {
        calls.push_back(std::string("common ") + setName);
        files.Add(NameString("scripts/Listed.lua"));
    }
    void RegisterSceneScripts(const char* sceneName, DynarraySafe<NameString>& files) override {
        calls.push_back(std::string("scene ") + sceneName);
        files.Add(NameString("Level/Listed.lua"));
    }
    int displayResets = 0;
    std::vector<std::string> calls;
};

class DelegateCallsTest : public testing::Test {
protected:
    void SetUp() override {
        set.WriteProjectConfig();
        window = enginetest::MakeWindow();
        ASSERT_TRUE(gVornexEngine.Init(window, "Delegate Calls Test", gGameConfig, true));
        gGame->Init(window, 256, 144, &delegate, nullptr, 0);
    }
    void TearDown() override {
        gVornexEngine.Shutdown();
        gVornexEngine.SetConfiguration(nullptr);
        wnd::ResetWindowLayer();
    }
    // A device reset as the main loop makes one: asked for, then carried out at the
    // window's size; waits until the render thread has done it.
    void ResetDevice() {
        gVornexRenderer.RequestDeviceReset();
        gVornexRenderer.Reset(window, 256, 144, true, false);
        gVornexRenderer.FlushCommands(true);
    }

    enginetest::EngineDataSet set;
    uint32_t window = 0;
    RecordingDelegate delegate;
};

TEST_F(DelegateCallsTest, DeviceStartAndResetsReachTheDelegateOnTheNextTick) {
    const uint32_t before = gVornexRenderer.DisplayResets();
    ASSERT_GE(before, 1u) << "the engine's start created the device";
    const struct {
        const char* what;
        int resets;  // device resets before the tick
        int heard;   // OnDisplayReset calls the tick makes
    } cases[] = {
        {"the device the engine started with", 0, 1},
        {"a frame without a reset", 0, 0},
        {"one reset", 1, 1},
        {"two resets between two ticks", 2, 1},
        {"the frame after", 0, 0},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < c.resets; ++i) ResetDevice();
        EXPECT_EQ(delegate.displayResets, 0) << c.what << ": only a tick tells the delegate";
        gGame->Tick(true);
        EXPECT_EQ(delegate.displayResets, c.heard) << c.what;
        delegate.displayResets = 0;
    }
    EXPECT_EQ(gVornexRenderer.DisplayResets(), before + 3);
    gGame->Close();
}

TEST_F(DelegateCallsTest, TheScriptHostsListingsReachTheRunningGamesDelegate) {
    DynarraySafe<NameString> files;
    gLua.ListCommonScripts("common", files);
    gLua.ListSceneScripts("Level", files);
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"common common", "scene Level"}));
    ASSERT_EQ(files.Count(), 2u);
    EXPECT_STREQ(files[0].CStr(), "scripts/Listed.lua");
    EXPECT_STREQ(files[1].CStr(), "Level/Listed.lua");

    gGame->Close();
    gLua.ListCommonScripts("common", files);
    gLua.ListSceneScripts("Level", files);
    EXPECT_EQ(delegate.calls.size(), 2u) << "a closed Game's delegate is not asked";
    EXPECT_EQ(files.Count(), 2u);
}

}  // namespace
