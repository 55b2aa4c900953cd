// The scripts' configuration helper.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "CaptureLogSink.h"
#include "core/Time.h"
#include "core/config/ConfigEnums.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "game/Game.h"
#include "game/LUAConfigHelper.h"
#include "engine/input/InputManager.h"
#include "engine/script/LuaUnicodeString.h"
#include "platform/input/Input.h"
#include "platform/input/Keys.h"
#include "platform/os/Clock.h"
#include "net/online/VornexAnalytics.h"
#include "render/VornexRenderer.h"
#include "sound/SoundEngine.h"
#include "ui/localisation/StringManager.h"

namespace {

class ConfigHelperTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(gConfigHelper, nullptr);
        gConfigHelper->SetFullScreen(false);
        gConfigHelper->AdjustScreenModeTableToDisplayMode();
    }
    void TearDown() override {
        gProjectConfig->languageMask = 0xFFFFFFFFu;
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
};

TEST_F(ConfigHelperTest, SettersKeepTheirLimits) {
    LUAConfigHelper& h = *gConfigHelper;
    struct Case {
        int what;  // 0 resolution scale, 1 quality, 2 input mode, 3 zoom, 4 brightness
        float in, stored;
    };
    const Case cases[] = {{0, 0.05f, 0.1f}, {0, 3.0f, 1.0f}, {0, NAN, 0.1f},   {0, 0.5f, 0.5f},  {1, 7, 4},
                          {1, 5, 4},        {1, 2, 2},       {2, 5, 4},        {2, 3, 3},        {3, 1.5f, 1.0f},
                          {3, -0.5f, 0.0f}, {4, 2.0f, 1.0f}};
    for (const Case& c : cases) {
        float got = 0.0f;
        switch (c.what) {
            case 0: h.SetScreenResolutionScale(c.in), got = h.GetScreenResolutionScale(); break;
            case 1: h.SetGFXQualityLevel(uint32_t(c.in)), got = float(h.GetGFXQualityLevel()); break;
            case 2: h.SetInputMode(uint32_t(c.in)), got = float(h.GetInputMode()); break;
            case 3: h.SetZoom(c.in), got = h.GetScreenScaleX(); EXPECT_EQ(h.GetScreenScaleY(), got); break;
            default: h.SetBrightness(c.in), got = h.GetBrightness();
        }
        EXPECT_EQ(got, c.stored) << c.what << " " << c.in;
    }
    CaptureLogSink sink;
    sink.Attach();
    h.SetBrightness(1.25f);
    EXPECT_TRUE(sink.Contains("Brightness set to 1.250000")) << "logged as given";
    h.SetZoom(1.0f), h.SetBrightness(0.5f), h.SetGFXQualityLevel(3), h.SetInputMode(1);
}

// A sound engine stepped on the test thread that counts the commands it is posted.
struct CountingSoundEngine : SoundEngine {
    CountingSoundEngine() { SetRunWithoutThread(true); }
    int Count(uint32_t command) {
        RunWake();
        return int(std::count(commands.begin(), commands.end(), command));
    }
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override {
        commands.push_back(id);
        SoundEngine::HandleCommand(id, ring);
    }
    std::vector<uint32_t> commands;
};

// Each volume setter stores its own value only, the three-value setter all three, and
// every one of them has the sound engine take the volumes again.
TEST_F(ConfigHelperTest, VolumeSettersStoreTheirValueAndRefreshTheSound) {
    LUAConfigHelper& h = *gConfigHelper;
    CountingSoundEngine sound;
    SoundEngine* const savedSound = gSoundEngine;
    gSoundEngine = &sound;
    const float saved[3] = {h.GetMusicVolume(), h.GetSFXVolume(), h.GetVoiceVolume()};
    h.SetVolumes(0.1f, 0.2f, 0.3f);
    const auto volumes = [&] { return std::vector<float>{h.GetMusicVolume(), h.GetSFXVolume(), h.GetVoiceVolume()}; };
    EXPECT_EQ(volumes(), (std::vector<float>{0.1f, 0.2f, 0.3f}));
    h.SetMusicVolume(0.7f);
    EXPECT_EQ(volumes(), (std::vector<float>{0.7f, 0.2f, 0.3f}));
    h.SetSFXVolume(0.8f);
    EXPECT_EQ(volumes(), (std::vector<float>{0.7f, 0.8f, 0.3f}));
    h.SetVoiceVolume(0.9f);
    EXPECT_EQ(volumes(), (std::vector<float>{0.7f, 0.8f, 0.9f}));
    EXPECT_EQ(sound.Count(SOUND_CMD_VOLUME_SETTINGS), 4);
    gSoundEngine = savedSound;
    h.SetVolumes(saved[0], saved[1], saved[2]);
}

TEST_F(ConfigHelperTest, PresetListTextsAndNearestPreset) {
    ASSERT_FALSE(gConfigHelper->IsResolutionList());
    EXPECT_EQ(gConfigHelper->GetScreenModeCount(), 5u);
    const char* const texts[] = {"100%", "50%", "60%", "75%", "90%", "100%", "100%"};  // indices -1..5
    for (int32_t i = -1; i <= 5; ++i) EXPECT_STREQ(gConfigHelper->GetScreenModeDesc(i), texts[i + 1]) << i;
    // Nearest preset; 0.95 lies as near to 0.9 as to 1.0 and the first wins.
    const std::pair<float, int32_t> nearest[] = {{0.1f, 0}, {0.55f, 0}, {0.7f, 2}, {0.95f, 3}, {1.0f, 4}};
    for (const auto& [scale, preset] : nearest) {
        gGameConfig->rendererConfig.semiResolutionScreenScale = scale;
        EXPECT_EQ(gConfigHelper->GetScreenMode(), preset) << scale;
    }
    const std::pair<int32_t, float> set[] = {{2, 0.75f}, {0, 0.5f}, {9, 1.0f}, {-1, 1.0f}};
    for (const auto& [index, scale] : set) {
        gConfigHelper->SetScreenMode(index);
        EXPECT_EQ(gConfigHelper->GetScreenResolutionScale(), scale) << index;
    }
}

TEST_F(ConfigHelperTest, ResolutionListRefusesIndicesOutsideIt) {
    gVornexRenderer.RefreshDisplayModes();
    gConfigHelper->SetFullScreen(true);
    gConfigHelper->AdjustScreenModeTableToDisplayMode();
    const int32_t count = static_cast<int32_t>(gConfigHelper->GetScreenModeCount());
    ASSERT_EQ(uint32_t(count), gVornexRenderer.DisplayModes().Count());
    SetClientSize(1920, 1080);
    int32_t mode1280 = -1, mode1920 = -1;
    for (int32_t i = 0; i < count; ++i) {
        const std::string text = gConfigHelper->GetScreenModeDesc(i);
        if (text == "1280x720") mode1280 = i;
        if (text == "1920x1080") mode1920 = i;
    }
    ASSERT_TRUE(mode1280 >= 0 && mode1920 >= 0);
    for (int32_t outside : {-1, count, 1000}) EXPECT_STREQ(gConfigHelper->GetScreenModeDesc(outside), "") << outside;

    // The mode of client size x scale, or -1 when none is that size.
    EXPECT_EQ(gConfigHelper->GetScreenMode(), mode1920);
    gConfigHelper->SetScreenMode(mode1280);
    EXPECT_FLOAT_EQ(gConfigHelper->GetScreenResolutionScale(), 1280.0f / 1920.0f);
    EXPECT_EQ(gConfigHelper->GetScreenMode(), mode1280);
    gConfigHelper->SetScreenResolutionScale(0.5f);
    EXPECT_EQ(gConfigHelper->GetScreenMode(), -1);
    // Outside the list nothing changes; a mode wider than the client gives 1.
    for (int32_t outside : {-1, count}) {
        gConfigHelper->SetScreenMode(outside);
        EXPECT_EQ(gConfigHelper->GetScreenResolutionScale(), 0.5f) << outside;
    }
    SetClientSize(1280, 720);
    gConfigHelper->SetScreenMode(mode1920);
    EXPECT_EQ(gConfigHelper->GetScreenResolutionScale(), 1.0f);
}

TEST_F(ConfigHelperTest, DeviceResetsTakeTheChangedSettings) {
    const RendererSettings& renderer = gVornexRenderer.Settings();
    const RendererConfigContainer& config = gGameConfig->rendererConfig;
    gConfigHelper->ToggleVSync(), gConfigHelper->ToggleShadows();
    EXPECT_EQ(renderer.vSync, config.vSync);
    EXPECT_EQ(renderer.enableShadowMap, config.enableShadowMap);
    gConfigHelper->SetScreenResolutionScale(0.75f);
    EXPECT_EQ(renderer.semiResolutionScreenScale, 0.75f);
    gConfigHelper->SetScreenMode(0);
    EXPECT_EQ(renderer.semiResolutionScreenScale, 0.5f);
    gConfigHelper->ToggleVSync(), gConfigHelper->ToggleShadows();
}

TEST_F(ConfigHelperTest, SubtitlesFollowModeAndLanguage) {
    StringManager* const savedStrings = gStringManager;
    const uint32_t savedDefault = gProjectConfig->defaultLanguage;
    StringManager strings;
    gStringManager = &strings;
    const struct {
        uint32_t mode, language, manager;
        bool shown;
    } cases[] = {
        {0, kLanguageEnglish, 0, false},          {0, 0, kLanguageEnglish, true},  // the setting decides
        {0, kLanguageNone, kLanguageEnglish, false}, {0, kLanguageNone, 2, true},  // the string manager decides
        {0, kLanguageDefault, kLanguageEnglish, false}, {1, kLanguageEnglish, kLanguageEnglish, true},
        {2, 0, 0, false},                         {3, kLanguageEnglish, kLanguageEnglish, true},
    };
    for (const auto& c : cases) {
        gConfigHelper->SetSubtitles(c.mode);
        gGameConfig->textLanguage = c.language;
        gProjectConfig->defaultLanguage = c.manager;  // the manager's own choice
        strings.SelectLanguage();
        EXPECT_EQ(gConfigHelper->ShouldDisplaySubtitles(), c.shown) << c.mode << " " << c.language << " " << c.manager;
    }
    gStringManager = savedStrings;
    gProjectConfig->defaultLanguage = savedDefault;
}

TEST_F(ConfigHelperTest, LanguageNamesFollowTheProjectMask) {
    gProjectConfig->languageMask = (1u << 0) | (1u << 2) | (1u << 10);
    const std::pair<uint32_t, const char*> cases[] = {{0, "Polish"}, {1, nullptr},      {2, "German"}, {10, "Korean"},
                                                      {11, nullptr}, {12, "Default"}, {13, nullptr}};
    for (const auto& [index, name] : cases) {
        const char* got = gConfigHelper->GetLanguageNameIfAvailable(index);
        EXPECT_EQ(std::string(got ? got : "(none)"), name ? name : "(none)") << index;
    }
}

TEST_F(ConfigHelperTest, AnalyticsPassThrough) {
    unsetenv("ANALYTICS_HOST");
    gVornexAnalytics.Init();
    LUAConfigHelper& h = *gConfigHelper;
    h.AnalyticsBegin("level"), h.AnalyticsAddInt("w", -3), h.AnalyticsAddFloat("t", 1.5f), h.AnalyticsAddString("m", "n");
    const uint32_t record = gVornexAnalytics.CurrentRequest();
    ASSERT_NE(record, VornexAnalytics::kNoRequest);
    EXPECT_EQ(gVornexAnalytics.SlotAt(record)->request->Body(),
              "{\"floatValues\":{\"t\":1.5},\"intValues\":{\"w\":-3},\"stringValues\":{\"m\":\"n\"},"
              "\"tableName\":\"level\"}\n");
    h.AnalyticsEnd();
    EXPECT_EQ(gVornexAnalytics.CurrentRequest(), VornexAnalytics::kNoRequest);
    EXPECT_EQ(gVornexAnalytics.SlotAt(record)->sending, 1u);  // handed over for posting
    gVornexAnalytics.Shutdown();
}

TEST_F(ConfigHelperTest, ToAsciiCutsOnACharacterBoundary) {
    EXPECT_EQ(gConfigHelper->ToAsciiUnsafe(nullptr), nullptr);
    std::u16string e300(300, u'\u00E9'), euro = u"a";  // 2 bytes each; 1 + 170 x 3 = 511 bytes
    std::string e255, euroUtf8 = "a";
    for (int i = 0; i < 255; ++i) e255 += "\xC3\xA9";
    for (int i = 0; i < 170; ++i) euro += u'\u20AC', euroUtf8 += "\xE2\x82\xAC";
    const std::pair<std::u16string, std::string> cases[] = {
        {u"", ""},
        {e300, e255},
        {euro, euroUtf8},
        {euro + u"b", euroUtf8},
        {std::u16string(509, u'x') + u"\U0001F600", std::string(509, 'x')},  // the pair needs 4 of 2 left
        {u"a\xD800z", "a\xEF\xBF\xBDz"},                                     // an unpaired surrogate
        {std::u16string(503, u'x') + u"\U00010000\U0010FFFF",  // the lowest and highest pairs: 503 + 4 + 4 fills 511
         std::string(503, 'x') + "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
    };
    for (const auto& [text, expected] : cases) {
        LuaUnicodeString wide(text.c_str());
        EXPECT_EQ(std::string(gConfigHelper->ToAsciiUnsafe(&wide)), expected) << expected.size();
    }
}

// The helper over the Game's input manager with a pad on user 0 and a DirectInput pad.
class ConfigHelperInputTest : public ConfigHelperTest {
protected:
    void SetUp() override {
        ConfigHelperTest::SetUp();
        hid::ResetInputLayer();
        clock.Install();
        Time::InitTimer(0, os::kCounterFrequency);
        hid::ConnectPad(0);
        diPad = hid::ConnectGameDevice(hid::GameDeviceDesc{});
        input = gGame->GetInputManager();
        ASSERT_TRUE(input->Init(1));
        input->InitDevices(1);
        input->EnableControllerInput(true, kAnyController);
        ASSERT_TRUE(input->IsDIControllerPresent());
    }
    void TearDown() override {
        // Nothing stays held for the next test: the keys, and the buttons the manager keeps.
        hid::ReleaseAllKeys();
        input->PostMouseEvent(MOUSEEVENT_LEFT_UP, 0.5f, 0.5f);
        input->PostMouseEvent(MOUSEEVENT_RIGHT_UP, 0.5f, 0.5f);
        Frame(), Frame();
        input->ReleaseGameControllers();
        hid::ResetInputLayer();
        clock.Uninstall(), Time::InitTimer();
        ConfigHelperTest::TearDown();
    }
    void Frame() {
        clock.Advance(os::kCounterFrequency / 60);
        input->Update();
    }
    static void SetPad(uint16_t buttons, uint8_t leftTrigger) {
        hid::PadState state;
        state.buttons = buttons, state.leftTrigger = leftTrigger;
        hid::SetPadState(0, state);
    }
    void SetDIButtons(const std::vector<uint32_t>& pressed) const {
        hid::JoystickState state;
        for (uint32_t button : pressed) state.buttons[button - 1] = 0x80;
        hid::SetGameDeviceInput(diPad, state);
    }

    os::ManualClock clock{0};
    InputManager* input = nullptr;
    uint32_t diPad = 0;
};

TEST_F(ConfigHelperInputTest, FirstPressedCodesComeInTheirOrder) {
    // Keys below 237 first, then the mouse; a key held since the last frame is not new.
    hid::SetKeyDown(40, true), hid::SetKeyDown(20, true);
    Frame();
    EXPECT_EQ(gConfigHelper->GetFirstPressedKey(), 20u);
    hid::SetKeyDown(236, true), hid::SetKeyDown(237, true);
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
    const uint32_t pads[][3] = {{0x8001, 0, 0x0001}, {0x8000, 0, 0}, {0x9000, 255, 0x1000}, {0, 255, 0}, {0, 0, 0},
                                {0, 255, kXControllerLeftTrigger}};
    for (const auto& c : pads) {
        SetPad(uint16_t(c[0]), uint8_t(c[1]));
        Frame();
        EXPECT_EQ(gConfigHelper->GetFirstPressedXControllerButton(kAnyController), c[2]) << c[0];
    }
    // DirectInput pad: buttons by number, 0 for none.
    for (const auto& [pressed, first] : {std::pair{std::vector<uint32_t>{7, 3}, 3u}, {{7, 3, 32}, 32u}, {{7, 3, 32}, 0u}}) {
        SetDIButtons(pressed);
        Frame();
        EXPECT_EQ(gConfigHelper->GetFirstPressedDIControllerButton(kAnyController), first);
    }
}

TEST_F(ConfigHelperInputTest, KeyNamesAndAnswersWithoutAGame) {
    LuaUnicodeString text(u"[");
    gConfigHelper->AppendKeyName(&text, 0x39, false), gConfigHelper->AppendKeyName(&text, 0x1C, true);
    EXPECT_EQ(std::u16string(text.GetUnicharPtr()), u"[SpaceENTER");
    hid::SetKeyDown(20, true);
    Frame();
    Game* const game = std::exchange(gGame, nullptr);
    EXPECT_EQ(gConfigHelper->GetFirstPressedKey() + gConfigHelper->GetFirstPressedXControllerButton(kAnyController) +
                  gConfigHelper->GetFirstPressedDIControllerButton(kAnyController), 0u);
    gGame = game;
}

TEST_F(ConfigHelperInputTest, BindingsAnswerPerDevice) {
    const uint32_t action = 6;
    const uint32_t bindings[][3] = {{kControlSetGamePad, 0x1000, kXControllerLeftTrigger},  // device, primary,
                                    {kControlSetMouse, kMouseButtonLeft + 1, 57},            // secondary
                                    {kControlSetKeyboard, 30, 31},
                                    {kControlSetDIPad, 4, 9}};
    for (const auto& b : bindings) {
        gConfigHelper->SetPrimaryControl(action, b[0], b[1]);
        gConfigHelper->SetSecondaryControl(action, b[0], b[2]);
        EXPECT_EQ(gConfigHelper->GetControl(action, b[0], false), b[1]);
        EXPECT_EQ(gConfigHelper->GetControl(action, b[0], true), b[2]);
    }
    // Each device answers from its own input only: every secondary code pressed.
    SetPad(0, 255);
    hid::SetKeyDown(57, true), hid::SetKeyDown(31, true);
    SetDIButtons({9});
    Frame();
    for (const auto& b : bindings) {
        EXPECT_TRUE(gConfigHelper->IsKeyOrButtonPressed(action, b[0], kAnyController)) << b[0];
        EXPECT_TRUE(gConfigHelper->IsKeyOrButtonPressedForTheFirstTime(action, b[0], kAnyController)) << b[0];
    }
    EXPECT_FALSE(gConfigHelper->IsKeyOrButtonPressed(action, kControlSetGamePad, 1)) << "no pad 1";
    // Then the primaries instead: releases count only for keys and mouse.
    SetPad(0x1000, 0);
    hid::SetKeyDown(57, false), hid::SetKeyDown(31, false), hid::SetKeyDown(30, true);
    input->PostMouseEvent(MOUSEEVENT_RIGHT_DOWN, 0.5f, 0.5f);
    SetDIButtons({4});
    Frame();
    for (const auto& b : bindings) {
        EXPECT_TRUE(gConfigHelper->IsKeyOrButtonPressed(action, b[0], kAnyController)) << b[0];
        const bool keysOrMouse = b[0] == kControlSetMouse || b[0] == kControlSetKeyboard;
        EXPECT_EQ(gConfigHelper->IsKeyOrButtonReleasedForTheFirstTime(action, b[0], kAnyController), keysOrMouse);
    }
    gConfigHelper->RemoveAllControls(kControlSetKeyboard);
    EXPECT_FALSE(gConfigHelper->IsKeyOrButtonPressed(action, kControlSetKeyboard, kAnyController));
    EXPECT_TRUE(gConfigHelper->IsKeyOrButtonPressed(action, kControlSetMouse, kAnyController));
}

}  // namespace
