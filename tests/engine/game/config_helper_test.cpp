// The scripts' configuration helper: setter limits, the two screen-mode lists with
// indices outside them, the settings a device reset takes, subtitles and language names,
// key names, control bindings per device, the first-pressed orders and the UTF-8 cut.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "CaptureLogSink.h"
#include "core/Time.h"
#include "core/config/ConfigEnums.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "engine/EngineServices.h"
#include "engine/game/Game.h"
#include "engine/game/LUAConfigHelper.h"
#include "engine/input/InputManager.h"
#include "engine/script/LuaUnicodeString.h"
#include "platform/input/Input.h"
#include "platform/input/Keys.h"
#include "platform/os/Clock.h"
#include "render/VornexRenderer.h"

namespace {

class ConfigHelperTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(gConfigHelper, nullptr);
        ASSERT_NE(gGameConfig, nullptr);
        gEngineServices = EngineServices();
        savedProject = gProjectConfig->languageMask;
        gGameConfig->rendererConfig.semiResolutionScreenScale = 1.0f;
        gConfigHelper->SetFullScreen(false);
        gConfigHelper->AdjustScreenModeTableToDisplayMode();
    }
    void TearDown() override {
        gEngineServices = EngineServices();
        gProjectConfig->languageMask = savedProject;
        for (uint32_t set = 0; set < kControlSetCount; ++set) gGameConfig->RemoveAllControls(set);
        gGameConfig->textLanguage = kLanguageDefault;
        gGameConfig->subtitleMode = 0;
        gGameConfig->fullScreenMode = true;
        gGameConfig->rendererConfig.semiResolutionScreenScale = 1.0f;
    }

    // The client size the renderer keeps, as a device reset stores it.
    static void SetClientSize(uint32_t width, uint32_t height) {
        PresentParameterBlock block;
        gVornexRenderer.ComputePresentParameters(width, height, false, false, &block);
    }

    uint32_t savedProject = 0;
};

TEST_F(ConfigHelperTest, SettersKeepTheirLimits) {
    LUAConfigHelper& h = *gConfigHelper;
    struct Case {
        void (*set)(LUAConfigHelper&, float);
        float (*get)(const LUAConfigHelper&);
        float in, stored;
    };
    auto scale = [](const LUAConfigHelper& c) { return c.GetScreenResolutionScale(); };
    auto quality = [](const LUAConfigHelper& c) { return float(c.GetGFXQualityLevel()); };
    auto mode = [](const LUAConfigHelper& c) { return float(c.GetInputMode()); };
    auto zoomY = [](const LUAConfigHelper& c) { return c.GetScreenScaleY(); };
    auto bright = [](const LUAConfigHelper& c) { return c.GetBrightness(); };
    auto setScale = [](LUAConfigHelper& c, float v) { c.SetScreenResolutionScale(v); };
    auto setQuality = [](LUAConfigHelper& c, float v) { c.SetGFXQualityLevel(uint32_t(v)); };
    auto setMode = [](LUAConfigHelper& c, float v) { c.SetInputMode(uint32_t(v)); };
    auto setZoom = [](LUAConfigHelper& c, float v) { c.SetZoom(v); };
    auto setBright = [](LUAConfigHelper& c, float v) { c.SetBrightness(v); };
    const Case cases[] = {
        {setScale, scale, 0.05f, 0.1f}, {setScale, scale, 3.0f, 1.0f}, {setScale, scale, NAN, 0.1f},
        {setScale, scale, 0.5f, 0.5f},  {setQuality, quality, 7, 4},  {setQuality, quality, 2, 2},
        {setMode, mode, 9, 4},          {setMode, mode, 4, 4},        {setZoom, zoomY, 1.5f, 1.0f},
        {setZoom, zoomY, -0.5f, 0.0f},  {setBright, bright, 2.0f, 1.0f}, {setBright, bright, 0.25f, 0.25f},
    };
    for (const Case& c : cases) {
        c.set(h, c.in);
        EXPECT_EQ(c.get(h), c.stored) << c.in;
    }
    EXPECT_EQ(h.GetScreenScaleX(), 0.0f) << "the zoom sets both scales";
    CaptureLogSink sink;
    sink.Attach();
    h.SetBrightness(1.25f);
    EXPECT_TRUE(sink.Contains("Brightness set to 1.250000")) << "logged as given";
    sink.Detach();
    h.SetZoom(1.0f), h.SetBrightness(0.5f), h.SetGFXQualityLevel(3), h.SetInputMode(1);
}

TEST_F(ConfigHelperTest, PresetListTextsAndNearestPreset) {
    ASSERT_FALSE(gConfigHelper->IsResolutionList());
    EXPECT_EQ(gConfigHelper->GetScreenModeCount(), 5u);
    const char* const texts[] = {"100%", "50%", "60%", "75%", "90%", "100%", "100%"};  // indices -1..5
    for (int32_t i = -1; i <= 5; ++i) EXPECT_STREQ(gConfigHelper->GetScreenModeDesc(i), texts[i + 1]) << i;

    struct Case {
        float scale;
        int32_t preset;
    };
    // 0.95 lies as near to 0.9 as to 1.0: the first wins.
    const Case cases[] = {{0.1f, 0}, {0.55f, 0}, {0.7f, 2}, {0.95f, 3}, {1.0f, 4}, {0.6f, 1}};
    for (const Case& c : cases) {
        gGameConfig->rendererConfig.semiResolutionScreenScale = c.scale;
        EXPECT_EQ(gConfigHelper->GetScreenMode(), c.preset) << c.scale;
    }
    struct SetCase {
        int32_t index;
        float scale;
    };
    for (const SetCase& c : {SetCase{2, 0.75f}, SetCase{0, 0.5f}, SetCase{9, 1.0f}, SetCase{-1, 1.0f}}) {
        gConfigHelper->SetScreenMode(c.index);
        EXPECT_EQ(gConfigHelper->GetScreenResolutionScale(), c.scale) << c.index;
    }
}

TEST_F(ConfigHelperTest, ResolutionListRefusesIndicesOutsideIt) {
    gVornexRenderer.RefreshDisplayModes();
    gConfigHelper->SetFullScreen(true);
    gConfigHelper->AdjustScreenModeTableToDisplayMode();
    ASSERT_TRUE(gConfigHelper->IsResolutionList());
    const uint32_t count = gConfigHelper->GetScreenModeCount();
    ASSERT_EQ(count, gVornexRenderer.DisplayModes().Count());
    ASSERT_GT(count, 3u);
    SetClientSize(1920, 1080);

    int32_t mode1280 = -1, mode1920 = -1, last = static_cast<int32_t>(count) - 1;
    for (uint32_t i = 0; i < count; ++i) {
        const std::string text = gConfigHelper->GetScreenModeDesc(static_cast<int32_t>(i));
        if (text == "1280x720") mode1280 = static_cast<int32_t>(i);
        if (text == "1920x1080") mode1920 = static_cast<int32_t>(i);
    }
    ASSERT_GE(mode1280, 0);
    ASSERT_GE(mode1920, 0);
    for (int32_t outside : {-1, last + 1, 1000})
        EXPECT_STREQ(gConfigHelper->GetScreenModeDesc(outside), "") << outside;

    // The mode of client size x scale, or -1 when none is that size.
    EXPECT_EQ(gConfigHelper->GetScreenMode(), mode1920);
    gConfigHelper->SetScreenMode(mode1280);
    EXPECT_FLOAT_EQ(gConfigHelper->GetScreenResolutionScale(), 1280.0f / 1920.0f);
    EXPECT_EQ(gConfigHelper->GetScreenMode(), mode1280);
    gConfigHelper->SetScreenResolutionScale(0.5f);
    EXPECT_EQ(gConfigHelper->GetScreenMode(), -1);

    // Outside the list nothing changes; a mode wider than the client gives 1.
    for (int32_t outside : {-1, last + 1}) {
        gConfigHelper->SetScreenMode(outside);
        EXPECT_EQ(gConfigHelper->GetScreenResolutionScale(), 0.5f) << outside;
    }
    SetClientSize(1280, 720);
    gConfigHelper->SetScreenMode(mode1920);
    EXPECT_EQ(gConfigHelper->GetScreenResolutionScale(), 1.0f);
}

TEST_F(ConfigHelperTest, DeviceResetsTakeTheChangedSettings) {
    RendererSettings& renderer = gVornexRenderer.Settings();
    const bool vsync = gGameConfig->rendererConfig.vSync;
    gConfigHelper->ToggleVSync();
    EXPECT_EQ(renderer.vSync, !vsync);
    const bool shadows = gGameConfig->rendererConfig.enableShadowMap;
    gConfigHelper->ToggleShadows();
    EXPECT_EQ(renderer.enableShadowMap, !shadows);
    gConfigHelper->SetScreenResolutionScale(0.75f);
    EXPECT_EQ(renderer.semiResolutionScreenScale, 0.75f);
    gConfigHelper->SetScreenMode(0);
    EXPECT_EQ(renderer.semiResolutionScreenScale, 0.5f);
    gConfigHelper->ToggleVSync();
    gConfigHelper->ToggleShadows();
}

// The Game is asked for the configuration's full-screen state and the renderer's size.
TEST_F(ConfigHelperTest, SeriousSettingsRebuildAndAskTheGame) {
    static uint32_t rebuilds;
    rebuilds = 0;
    gEngineServices.rebuildRenderResources = [] { ++rebuilds; };
    SetClientSize(1600, 900);
    gConfigHelper->SetFullScreen(true);
    gConfigHelper->ApplySeriousGFXSettings();
    EXPECT_EQ(rebuilds, 1u);
    bool fullScreen = false;
    uint32_t width = 0, height = 0;
    ASSERT_TRUE(gGame->TakeFullScreenRequest(&fullScreen));
    ASSERT_TRUE(gGame->GetPendingResolution(&width, &height));
    EXPECT_EQ(std::make_tuple(fullScreen, width, height), std::make_tuple(true, 1600u, 900u));
    gGame->ClearPendingResolution();
}

TEST_F(ConfigHelperTest, SubtitlesFollowModeAndLanguage) {
    static uint32_t managerLanguage;
    gEngineServices.stringManagerCurrentLanguage = [] { return managerLanguage; };
    struct Case {
        uint32_t mode, language, manager;
        bool shown;
    };
    const Case cases[] = {
        {0, kLanguageEnglish, 0, false}, {0, 0, kLanguageEnglish, true},   // the setting decides
        {0, kLanguageNone, kLanguageEnglish, false}, {0, kLanguageNone, 2, true},  // the manager decides
        {0, kLanguageDefault, kLanguageEnglish, false}, {0, kLanguageDefault, 0, true},
        {1, kLanguageEnglish, kLanguageEnglish, true},  {2, 0, 0, false},
        {3, kLanguageEnglish, kLanguageEnglish, true},
    };
    for (const Case& c : cases) {
        gConfigHelper->SetSubtitles(c.mode);
        gGameConfig->textLanguage = c.language;
        managerLanguage = c.manager;
        EXPECT_EQ(gConfigHelper->ShouldDisplaySubtitles(), c.shown) << c.mode << " " << c.language << " " << c.manager;
    }
}

TEST_F(ConfigHelperTest, LanguageNamesFollowTheProjectMask) {
    gProjectConfig->languageMask = (1u << 0) | (1u << 2) | (1u << 10);
    struct Case {
        uint32_t index;
        const char* name;
    };
    const Case cases[] = {{0, "Polish"}, {1, nullptr},      {2, "German"}, {10, "Korean"},
                          {11, nullptr}, {12, "Default"}, {13, nullptr}, {40, nullptr}};
    for (const Case& c : cases) {
        const char* name = gConfigHelper->GetLanguageNameIfAvailable(c.index);
        if (c.name)
            EXPECT_STREQ(name, c.name) << c.index;
        else
            EXPECT_EQ(name, nullptr) << c.index;
    }
}

TEST_F(ConfigHelperTest, ToAsciiCutsOnACharacterBoundary) {
    EXPECT_EQ(gConfigHelper->ToAsciiUnsafe(nullptr), nullptr);
    struct Case {
        std::u16string text;
        std::string expected;
    };
    const std::u16string e300(300, u'\u00E9');  // 2 bytes each
    const std::string e255 = [] {
        std::string s;
        for (int i = 0; i < 255; ++i) s += "\xC3\xA9";
        return s;
    }();
    std::u16string euro = u"a";  // 1 + 170 x 3 = 511 bytes: fits exactly
    std::string euroUtf8 = "a";
    for (int i = 0; i < 170; ++i) euro += u'\u20AC', euroUtf8 += "\xE2\x82\xAC";
    std::u16string pairs = std::u16string(509, u'x') + u"\U0001F600";  // the pair needs 4 of 2 left
    const Case cases[] = {
        {u"", ""},
        {u"Gr\u00FC\u00DFe", "Gr\xC3\xBC\xC3\x9F" "e"},
        {e300, e255},
        {euro, euroUtf8},
        {euro + u"b", euroUtf8},
        {pairs, std::string(509, 'x')},
        {u"a\xD800z", "a\xEF\xBF\xBDz"},  // an unpaired surrogate
    };
    for (const Case& c : cases) {
        LuaUnicodeString text(c.text.c_str());
        const char* out = gConfigHelper->ToAsciiUnsafe(&text);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(std::string(out), c.expected) << c.expected.size();
        EXPECT_LE(std::strlen(out), kAsciiBufferBytes - 1);
    }
}

// The helper over the running Game's input manager, fed through the input layer.
class ConfigHelperInputTest : public ConfigHelperTest {
protected:
    // A pad on user 0 and a DirectInput pad are attached before the devices start.
    void SetUp() override {
        ConfigHelperTest::SetUp();
        ASSERT_NE(gGame, nullptr);
        hid::ResetInputLayer();
        clock.Install();
        Time::InitTimer(0, os::kCounterFrequency);
        hid::ConnectPad(0);
        diPad = hid::ConnectGameDevice(hid::GameDeviceDesc{});
        input = gGame->GetInputManager();
        ASSERT_NE(input, nullptr);
        ASSERT_TRUE(input->Init(1));
        input->InitDevices(1);
        input->EnableControllerInput(true, kAnyController);
        ASSERT_TRUE(input->IsDIControllerPresent());
        Frame();
    }
    void TearDown() override {
        hid::ReleaseAllKeys();
        Frame();
        Frame();
        input->ReleaseGameControllers();
        hid::ResetInputLayer();
        clock.Uninstall();
        Time::InitTimer();
        ConfigHelperTest::TearDown();
    }
    void Frame() {
        clock.Advance(os::kCounterFrequency / 60);
        input->Update();
    }
    static void SetPad(uint16_t buttons, uint8_t leftTrigger = 0) {
        hid::PadState state{};
        state.buttons = buttons;
        state.leftTrigger = leftTrigger;
        hid::SetPadState(0, state);
    }
    void SetDIButtons(std::initializer_list<uint32_t> pressed) const {
        hid::JoystickState state{};
        for (uint32_t button : pressed) state.buttons[button - 1] = 0x80;
        hid::SetGameDeviceInput(diPad, state);
    }

    os::ManualClock clock{0};
    InputManager* input = nullptr;
    uint32_t diPad = 0;
};

TEST_F(ConfigHelperInputTest, FirstPressedCodesComeInTheirOrder) {
    // Keyboard below 237 first, then the mouse; a key held since the last frame is not new.
    hid::SetKeyDown(40, true);
    hid::SetKeyDown(20, true);
    Frame();
    EXPECT_EQ(gConfigHelper->GetFirstPressedKey(), 20u);
    hid::SetKeyDown(236, true);
    hid::SetKeyDown(237, true);
    input->PostMouseEvent(MOUSEEVENT_RIGHT_DOWN, 0.5f, 0.5f);
    Frame();
    EXPECT_EQ(gConfigHelper->GetFirstPressedKey(), 236u);
    hid::SetKeyDown(238, true);
    input->PostMouseEvent(MOUSEEVENT_LEFT_DOWN, 0.5f, 0.5f);
    Frame();
    EXPECT_EQ(gConfigHelper->GetFirstPressedKey(), kMouseButtonLeft) << "keys from 237 on are not looked at";
    Frame();
    EXPECT_EQ(gConfigHelper->GetFirstPressedKey(), 0u);

    // Pad: the masks in their order, then the triggers.
    struct PadCase {
        uint16_t buttons;
        uint8_t trigger;
        uint32_t first;
    };
    const PadCase pads[] = {{0x8001, 0, 0x0001}, {0x8000, 0, 0}, {0x9000, 255, 0x1000}, {0, 255, 0}, {0, 0, 0},
                            {0, 255, kXControllerLeftTrigger}};
    for (const PadCase& c : pads) {
        SetPad(c.buttons, c.trigger);
        Frame();
        EXPECT_EQ(gConfigHelper->GetFirstPressedXControllerButton(kAnyController), c.first) << c.buttons;
    }

    // DirectInput pad: buttons by number, 0 for none.
    SetDIButtons({7, 3});
    Frame();
    EXPECT_EQ(gConfigHelper->GetFirstPressedDIControllerButton(kAnyController), 3u);
    SetDIButtons({7, 3, 32});
    Frame();
    EXPECT_EQ(gConfigHelper->GetFirstPressedDIControllerButton(kAnyController), 32u);
    Frame();
    EXPECT_EQ(gConfigHelper->GetFirstPressedDIControllerButton(kAnyController), 0u);
}

TEST_F(ConfigHelperInputTest, BindingsAnswerPerDevice) {
    const uint32_t action = 6;
    struct Binding {
        uint32_t device, primary, secondary;
    };
    const Binding bindings[] = {{kControlSetGamePad, 0x1000, kXControllerLeftTrigger},
                                {kControlSetMouse, kMouseButtonLeft + 1, 57},
                                {kControlSetKeyboard, 30, 31},
                                {kControlSetDIPad, 4, 9}};
    for (const Binding& b : bindings) {
        gConfigHelper->SetPrimaryControl(action, b.device, b.primary);
        gConfigHelper->SetSecondaryControl(action, b.device, b.secondary);
        EXPECT_EQ(gConfigHelper->GetControl(action, b.device, false), b.primary);
        EXPECT_EQ(gConfigHelper->GetControl(action, b.device, true), b.secondary);
        EXPECT_EQ(gConfigHelper->GetControl(action + 1, b.device, true), 0u);
    }

    // Each device answers from its own input only: press every secondary code.
    SetPad(0, 255);
    hid::SetKeyDown(57, true);
    hid::SetKeyDown(31, true);
    SetDIButtons({9});
    Frame();
    for (const Binding& b : bindings) {
        EXPECT_TRUE(gConfigHelper->IsKeyOrButtonPressed(action, b.device, kAnyController)) << b.device;
        EXPECT_TRUE(gConfigHelper->IsKeyOrButtonPressedForTheFirstTime(action, b.device, kAnyController)) << b.device;
    }
    EXPECT_FALSE(gConfigHelper->IsKeyOrButtonPressed(action, kControlSetGamePad, 1)) << "no pad 1";

    // Then the primaries, one frame later: held, not new; releases only for keys and mouse.
    SetPad(0x1000, 0);
    hid::SetKeyDown(57, false);
    hid::SetKeyDown(31, false);
    hid::SetKeyDown(30, true);
    input->PostMouseEvent(MOUSEEVENT_RIGHT_DOWN, 0.5f, 0.5f);
    SetDIButtons({4});
    Frame();
    for (const Binding& b : bindings) {
        EXPECT_TRUE(gConfigHelper->IsKeyOrButtonPressed(action, b.device, kAnyController)) << b.device;
        const bool keysOrMouse = b.device == kControlSetMouse || b.device == kControlSetKeyboard;
        EXPECT_EQ(gConfigHelper->IsKeyOrButtonReleasedForTheFirstTime(action, b.device, kAnyController), keysOrMouse)
            << b.device;
    }
    gConfigHelper->RemoveAllControls(kControlSetKeyboard);
    EXPECT_FALSE(gConfigHelper->IsKeyOrButtonPressed(action, kControlSetKeyboard, kAnyController));
    EXPECT_TRUE(gConfigHelper->IsKeyOrButtonPressed(action, kControlSetMouse, kAnyController));
}

TEST_F(ConfigHelperInputTest, KeyNamesAppendToTheText) {
    gEngineServices.stringManagerLookup = [](const char* id) -> const char16_t* {
        return std::string(id) == "System/MouseButtons/MiddleDoubleClick" ? u"Mitte\u00D7 2" : nullptr;
    };
    LuaUnicodeString text(u"> ");
    gConfigHelper->AppendKeyName(&text, 57, false);
    gConfigHelper->AppendKeyName(&text, 0x1E, true);
    gConfigHelper->AppendKeyName(&text, kMouseButtonLeft + 5, true);
    gConfigHelper->AppendKeyName(&text, kMouseButtonLeft, false);  // no text for it
    gConfigHelper->AppendKeyName(&text, 0x47, true);
    gConfigHelper->AppendKeyName(&text, 0xFFFF, false);  // no key has that code
    EXPECT_EQ(std::u16string(text.GetUnicharPtr()), u"> SpaceAMitte\u00D7 2NUM 7");
    gConfigHelper->AppendKeyName(nullptr, 57, false);
}

}  // namespace
