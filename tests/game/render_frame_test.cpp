// test-depends: shader_data
// The render frame's commands by task id, on an engine over generated data.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "NoMultiplayerEngine.h"
#include "engine/EngineDataSet.h"
#include "core/config/GameConfig.h"
#include "engine/VornexEngine.h"
#include "game/Game.h"
#include "game/GameFrameUI.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/input/InputManager.h"
#include "game/LUAConfigHelper.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/shaders/PostProcessChain.h"
#include "ui/elements/UIScreen.h"

namespace {


std::vector<uint32_t> gTasks;
std::string gCalls;  // the frame's UI calls and delegate calls in order, one letter each

void Observe(void*, uint32_t id) {
    if (id > TASK_END_OF_BLOCK_WAIT) gTasks.push_back(id);
}

// A screen known by one letter in the recorded calls.
struct LetterScreen : UIScreen {
    explicit LetterScreen(char letter) : letter(letter) {}
    char letter;
};

// Records the frame's draws of the UI instead of posting them; the video answers as set.
struct RecordingFrameUI : GameFrameUI {
    void RenderScreen(UIScreen* s, uint32_t, uint32_t, int64_t, int64_t, const Vector&) override {
        gCalls += static_cast<const LetterScreen*>(s)->letter;
    }
    void RenderConsole(UIGameConsoleScreen*, uint32_t, uint32_t) override { gCalls += 'c'; }
    bool VideoPlaying() const override { return videoPlaying; }
    bool VideoFullScreen() const override { return videoFullScreen; }
    void UpdateVideoFrame() override { gCalls += 'u'; }
    void DrawVideoFrame() override { gCalls += 'd'; }
    bool videoPlaying = false, videoFullScreen = false;
};
RecordingFrameUI gFrameUI;

struct HookDelegate : GameDelegate {
    void OnPreSceneRender() override { gCalls += '['; }
    void OnPostSceneRender() override { gCalls += ']'; }
};

class RenderFrameTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        set = new enginetest::EngineDataSet();
        set->WriteProjectConfig();
        window = enginetest::MakeWindow();
        ASSERT_TRUE(gVornexEngine.Init(window, "Render Frame Test", gGameConfig, true));
        static HookDelegate delegate;
        gGame->Init(window, 256, 144, &delegate, nullptr, 0);
    }
    static void TearDownTestSuite() {
        gGame->Close();
        gVornexEngine.Shutdown();
        gVornexEngine.SetConfiguration(nullptr);
        wnd::ResetWindowLayer();
        delete set;
    }
    void SetUp() override {
        gFrameUI = RecordingFrameUI{};
        SetGameFrameUI(&gFrameUI);
    }
    void TearDown() override {
        for (uint32_t slot = 0; slot < GAMESCREEN_COUNT; ++slot) gGame->SetScreen(GameScreenSlot(slot), nullptr);
        SetGameFrameUI(nullptr);
        gGame->SetBlockRenderingMask(0);
    }
    static bool Frame() {  // records the frame's task ids and UI calls
        gTasks.clear(), gCalls.clear();
        gVornexRenderer.SetTaskObserver(&Observe, nullptr);
        const bool result = gGame->RenderFrame();
        gVornexRenderer.SetTaskObserver(nullptr, nullptr);
        gVornexRenderer.FlushCommands(true);
        return result;
    }

    static enginetest::EngineDataSet* set;
    static uint32_t window;
};
enginetest::EngineDataSet* RenderFrameTest::set;
uint32_t RenderFrameTest::window;

std::vector<uint32_t> Head(size_t n) { return std::vector<uint32_t>(gTasks.begin(), gTasks.begin() + std::min(n, gTasks.size())); }

TEST_F(RenderFrameTest, EachPathPostsItsCommandsAndDrawsItsScreens) {
    enum Setup { kScene, kShadowMask, kShadowsOff, kBlocked, kVideoFullScreen, kVideoInWindow, kLoading };
    // The scene pass (48 ... 49) follows the shadow pass (24); the debug path draw (47)
    // follows the upscale (23).
    const std::vector<uint32_t> scene = {15, 16, 28, 32, 34, 24, 48, 49, 18, 20, 22, 32, 33, 23, 47, 25, 26};
    const std::vector<uint32_t> noShadow = {15, 16, 28, 32, 34, 48, 49, 18, 20, 22, 32, 33, 23, 47, 25, 26};
    const struct Case {
        Setup setup;
        std::vector<uint32_t> head;  // up to the outline draw; the frame then ends with 32 33 17 39
        const char* calls;
    } cases[] = {
        {kScene, scene, "[p]amoc"},
        {kShadowMask, noShadow, "[p]amoc"},
        {kShadowsOff, noShadow, "[p]amoc"},
        // Without the scene the camera's set-up clears the target (37).
        {kBlocked, {16, 28, 32, 37, 34, 52, 25, 26}, "amoc"},
        {kVideoFullScreen, {16, 28, 32, 37, 34, 23, 28, 38, 37, 52, 25, 26}, "udamoc"},
        {kVideoInWindow, scene, "[p]uamoc"},
        {kLoading, {}, ""},
    };
    LetterScreen* const pre = new LetterScreen('p');
    LetterScreen* const active = new LetterScreen('a');
    LetterScreen* const modal = new LetterScreen('m');
    LetterScreen* const overlay = new LetterScreen('o');
    gGame->SetScreen(GAMESCREEN_PRE_FSE, pre);
    gGame->SetScreen(GAMESCREEN_ACTIVE, active);
    gGame->SetScreen(GAMESCREEN_MODAL, modal);
    gGame->SetScreen(GAMESCREEN_OVERLAY, overlay);
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.setup));
        gGameConfig->rendererConfig.enableShadowMap = c.setup != kShadowsOff;
        gVornexRenderer.ApplyConfig(gGameConfig->rendererConfig);
        gGame->SetBlockRenderingMask(c.setup == kShadowMask ? 2 : 0);
        active->SetBlocksSceneRendering(c.setup == kBlocked);
        gFrameUI.videoPlaying = c.setup == kVideoFullScreen || c.setup == kVideoInWindow;
        gFrameUI.videoFullScreen = c.setup == kVideoFullScreen;
        gVornexRenderer.SetSceneLoading(c.setup == kLoading);
        EXPECT_TRUE(Frame());
        gVornexRenderer.SetSceneLoading(0);
        EXPECT_EQ(Head(c.head.size()), c.head);
        EXPECT_EQ(gCalls, c.calls);
        const std::vector<uint32_t> end = c.setup == kLoading ? std::vector<uint32_t>{} : std::vector<uint32_t>{32, 33, 17, 39};
        ASSERT_GE(gTasks.size(), end.size());
        EXPECT_EQ(std::vector<uint32_t>(gTasks.end() - long(end.size()), gTasks.end()), end);
        EXPECT_EQ(gTasks.empty(), end.empty());
    }
    gGameConfig->rendererConfig.enableShadowMap = true;
    gVornexRenderer.ApplyConfig(gGameConfig->rendererConfig);
    for (uint32_t slot = 0; slot < GAMESCREEN_COUNT; ++slot) gGame->SetScreen(GameScreenSlot(slot), nullptr);
    for (LetterScreen* s : {pre, active, modal, overlay}) s->Release();
}

TEST_F(RenderFrameTest, PostProcessBitsFollowTheSwitches) {
    gGame->SetExtraFSEFlags(0x10);
    EXPECT_EQ(gGame->PostProcessModeBits(), 0x15u);
    gGame->ToggleFXAA();
    EXPECT_EQ(gGame->PostProcessModeBits(), 0x11u);
    gGame->ToggleFSE();
    EXPECT_EQ(gGame->PostProcessModeBits(), 0x10u);
    gGame->ToggleFXAA(), gGame->ToggleFSE(), gGame->SetExtraFSEFlags(0);
}

TEST_F(RenderFrameTest, ALostDeviceMakesTheFrameFalseUntilTheRendererIsReset) {
    gfx::GetRecorder(gVornexRenderer.Device())->LoseDeviceOnNextPresent();
    bool lost = false;
    for (int i = 0; i < 4 && !lost; ++i) lost = !Frame();
    EXPECT_TRUE(lost);
    gVornexRenderer.Reset(window, 256, 144, true, false);
    EXPECT_TRUE(Frame());
}

// Applying the settings keeps the rebuild entry empty: the device reset it asks for (which
// the main window runs once the frame reports it) makes the post-processing chain's lookup
// textures again, dirty, and the next frame refills them.
TEST_F(RenderFrameTest, ApplyingTheSettingsRemakesThePostProcessingObjects) {
    EXPECT_TRUE(Frame());
    PostProcessChain& chain = gVornexRenderer.PostProcess();
    ASSERT_TRUE(chain.ToneCurveTexture() && chain.ColorLookupTexture());
    auto serials = [&] {
        return std::vector<uint32_t>{gfx::SerialOf(chain.ToneCurveTexture()->Texture()),
                                     gfx::SerialOf(chain.ColorLookupTexture()->Texture())};
    };
    const std::vector<uint32_t> before = serials();
    const bool refilled = !chain.ToneCurveDirty() && !chain.ColorLookupDirty();
    const uint32_t textures = gfx::GetRecorder(gVornexRenderer.Device())->LiveObjects(gfx::ObjectKind::Texture);
    const bool fullScreen = gGameConfig->fullScreenMode;
    gGameConfig->fullScreenMode = false;
    gConfigHelper->ApplySeriousGFXSettings();
    gGameConfig->fullScreenMode = fullScreen;
    gVornexRenderer.FlushCommands(true);
    EXPECT_TRUE(gVornexRenderer.DeviceResetPending());
    gVornexRenderer.Reset(window, 256, 144, true, false);
    const std::vector<uint32_t> after = serials();
    EXPECT_NE(after[0], before[0]);
    EXPECT_NE(after[1], before[1]);
    EXPECT_TRUE(chain.ToneCurveDirty() && chain.ColorLookupDirty());
    EXPECT_EQ(gfx::GetRecorder(gVornexRenderer.Device())->LiveObjects(gfx::ObjectKind::Texture), textures);
    EXPECT_TRUE(Frame());
    EXPECT_EQ(!chain.ToneCurveDirty() && !chain.ColorLookupDirty(), refilled);
}

// The frame's cursor picking: an entity the frame draws reaches its pick handler while a
// pointer input is down and the cursor lies over it; a hidden entity (not drawn) or a
// cursor beside it reaches nothing.
TEST_F(RenderFrameTest, TheCursorOverADrawnEntityReachesItsPickHandler) {
    static std::vector<std::pair<Entity*, uint32_t>> picks;
    picks.clear();
    struct Handler : EntityPickHandler {
        void OnPicked(Entity* e, uint32_t input) override { picks.push_back({e, input}); }
    };
    const GameCameraController* camera = gGame->GetCameraController();
    ASSERT_NE(camera, nullptr);
    Vector forward = camera->GetCameraInvViewMatrix().r[2];
    forward.w = 0.0f;
    forward.NormalizeXYZ();
    static EntityTemplate pickable;
    Entity* e = gEntityManager->CreateEntityFromTemplate(&pickable, nullptr, Matrix::IDENTITY, 0, nullptr);
    ASSERT_NE(e, nullptr);
    e->SetLocalBoundingBox(BoundingBox4(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1)));
    Vector at = camera->GetCameraPosition() + forward * 20.0f;
    at.w = 1.0f;
    e->SetGlobalPosition(at);
    e->RaiseFlag(ENTITYFLAG_PICKABLE, false);
    e->SetPickHandler(new Handler());
    InputManager& input = *gGame->GetInputManager();
    const struct {
        bool pressed;
        float x;
        bool hidden;
        bool picked;
    } cases[] = {{false, 0.5f, false, false}, {true, 0.5f, false, true}, {true, 0.05f, false, false},
                 {true, 0.5f, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pressed << " " << c.x << " " << c.hidden);
        if (c.hidden) e->RaiseFlag(ENTITYFLAG_HIDDEN, false);
        input.SetCursorPosition(c.x, 0.5f);
        if (c.pressed) {
            ASSERT_TRUE(input.PostMouseEvent(MOUSEEVENT_LEFT_DOWN, c.x, 0.5f));
        }
        input.Update();
        picks.clear();
        EXPECT_TRUE(Frame());
        using Picks = std::vector<std::pair<Entity*, uint32_t>>;
        const Picks expected = c.picked ? Picks{{e, kMouseButtonLeft}} : Picks{};
        EXPECT_EQ(picks, expected);
        if (!c.pressed) continue;
        ASSERT_TRUE(input.PostMouseEvent(MOUSEEVENT_LEFT_UP, c.x, 0.5f));
        input.Update();
    }
    gEntityManager->DestroyEntity(e);
    gEntityManager->FrameEntities().Clear();
}

// Last: the switch stays pending for the rest of the program.
TEST_F(RenderFrameTest, APendingSwitchOnlyEndsTheFrame) {
    gGame->SwitchScene("Elsewhere", 0, nullptr);
    ASSERT_TRUE(gGame->IsSwitchPending());
    EXPECT_TRUE(Frame());
    EXPECT_EQ(gTasks, (std::vector<uint32_t>{32, 33, 17, 39}));
    EXPECT_EQ(gCalls, "");
}

}  // namespace
