// test-link: bindings
// test-depends: shader_data
// A button on the Game's active screen, on an engine started as the program starts it:
// the frame draws the screen, the render side publishes its hit candidates, the Game's
// tick takes them, routes the mouse to the screen and the screen to the button under the
// pointer, and the click reaches the OnClick of the button's script class. A release away
// from the button, a button with a command of its own and a screen no longer in a slot
// call nothing.
#include <gtest/gtest.h>

#include <lua.hpp>
#include <string>

#include "core/config/GameConfig.h"
#include "engine/EngineDataSet.h"
#include "engine/VornexEngine.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "engine/script/LuaWrapper.h"
#include "game/Game.h"
#include "platform/os/Clock.h"
#include "platform/window/Window.h"
#include "render/VornexRenderer.h"
#include "ui/elements/UIEventController.h"
#include "ui/elements/UIScreen.h"
#include "ui/widgets/UIButton.h"

namespace {

constexpr int64_t kStep = os::kCounterFrequency / 15;

// Counts the runs of a command the button held before its screen took a slot.
struct CountingCommand : UIElementCommand {
    explicit CountingCommand(int* runs) : runs(runs) {}
    void Execute() override { ++*runs; }
    int* runs;
};

class ScreenButtonsTest : public testing::Test {
protected:
    void SetUp() override {
        set.WriteProjectConfig();
        window = enginetest::MakeWindow();
        ASSERT_TRUE(gVornexEngine.Init(window, "Screen Buttons Test", gGameConfig, true));
        clock.Install();
        gGame->Init(window, 256, 144, &delegate, nullptr, 0);
        ASSERT_TRUE(gLua.ExecuteString("gLua:RegisterClass('ProbeButton', 'UIPicture') clicks = 0 "
                                       "function ProbeButton:OnClick() clicks = clicks + 1 end"));
    }
    void TearDown() override {
        gGame->Close();
        gVornexEngine.Shutdown();
        gVornexEngine.SetConfiguration(nullptr);
        clock.Uninstall();
        wnd::ResetWindowLayer();
    }

    // A screen with one button in its middle (normalised 0.4 to 0.6 both ways).
    UIScreen* ScreenWithButton(UIButton** button) {
        UIScreen* screen = new UIScreen;
        *button = new UIButton;
        const float w = GetUIWidth(), h = GetUIHeight();
        (*button)->SetPosition(0.4f * w, 0.4f * h, 0);
        (*button)->SetSize(0.2f * w, 0.2f * h);
        (*button)->RaiseFlag(UIFLAG_FOCUSABLEWITHMOUSE, false);
        (*button)->SetLuaClassFromScript("ProbeButton");
        screen->AddChild(*button);
        return screen;
    }
    // One frame: a game step, then the frame drawn and waited for.
    void Frame() {
        clock.Advance(kStep);
        gGame->Tick(true);
        gGame->RenderFrame();
        gVornexRenderer.FlushCommands(true);
    }
    void Mouse(uint32_t kind, float x, float y) {
        gGame->GetInputManager()->OnMouseMove(x, y);
        ASSERT_TRUE(gGame->GetInputManager()->PostMouseEvent(kind, x, y));
        Frame();
    }
    int Clicks() {
        lua_State* L = gLua.GetState();
        lua_getglobal(L, "clicks");
        const int n = static_cast<int>(lua_tonumber(L, -1));
        lua_pop(L, 1);
        return n;
    }

    enginetest::EngineDataSet set;
    uint32_t window = 0;
    GameDelegate delegate;
    os::ManualClock clock{os::ReadCounter()};
};

TEST_F(ScreenButtonsTest, AClickOnTheActiveScreensButtonReachesItsScriptClass) {
    UIButton* button = nullptr;
    gGame->SetActiveUIScreen(ScreenWithButton(&button));
    for (int i = 0; i < 3; ++i) Frame();  // drawn, candidates published and taken
    const struct {
        const char* what;
        float downX, downY, upX, upY;
        int clicks;
    } cases[] = {
        {"a click in the middle", 0.5f, 0.5f, 0.5f, 0.5f, 1},
        {"a click near a corner", 0.41f, 0.59f, 0.41f, 0.59f, 1},
        {"a press beside the button", 0.3f, 0.5f, 0.3f, 0.5f, 0},
        {"a press on it, released beside it", 0.5f, 0.5f, 0.7f, 0.5f, 0},
    };
    for (const auto& c : cases) {
        const int before = Clicks();
        Mouse(MOUSEEVENT_LEFT_DOWN, c.downX, c.downY);
        Mouse(MOUSEEVENT_LEFT_UP, c.upX, c.upY);
        EXPECT_EQ(Clicks() - before, c.clicks) << c.what;
    }
    EXPECT_EQ(button->CommandCount(), 1u);
}

TEST_F(ScreenButtonsTest, OwnCommandsStayAndALeftScreenCallsNothing) {
    UIButton* own = nullptr;
    UIScreen* first = ScreenWithButton(&own);
    int runs = 0;
    own->SetCommand(new CountingCommand(&runs));
    gGame->SetActiveUIScreen(first);
    for (int i = 0; i < 3; ++i) Frame();
    Mouse(MOUSEEVENT_LEFT_DOWN, 0.5f, 0.5f);
    Mouse(MOUSEEVENT_LEFT_UP, 0.5f, 0.5f);
    EXPECT_EQ(runs, 1) << "the button's own command runs";
    EXPECT_EQ(Clicks(), 0) << "and no script call was added";

    // A screen that left the Game: its listened button is not found any more.
    UIButton* listened = nullptr;
    UIScreen* second = ScreenWithButton(&listened);
    gGame->SetActiveUIScreen(second);
    gGame->SetActiveUIScreen(first);
    ASSERT_EQ(listened->CommandCount(), 1u);
    listened->OnClick();
    EXPECT_EQ(Clicks(), 0);
    second->Release();
}

}  // namespace
