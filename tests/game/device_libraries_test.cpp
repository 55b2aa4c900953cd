// test-depends: fake_LightFX fake_PCTouchHelper fake_PartialTouchHelper
// The device lighting and touch input through stand-in libraries built beside the test.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "game/EnvLight.h"
#include "engine/input/TouchHelper.h"
#include "engine/input/InputManager.h"
#include "env_light_fake.h"
#include "platform/os/SharedLibrary.h"
#include "touch_fake.h"

namespace {

class EnvLightTest : public ::testing::Test {
protected:
    void SetUp() override {  // the test's own reference keeps the library and its record loaded
        fake = os::OpenSharedLibrary(PROJECT_BINARY_ROOT "/tests/libLightFX.so");
        ASSERT_NE(fake, nullptr);
        setResult = reinterpret_cast<FakeLightFXSetInitializeResult>(os::FindSharedSymbol(fake, "FakeLightFX_SetInitializeResult"));
        record = reinterpret_cast<FakeLightFXLog>(os::FindSharedSymbol(fake, "FakeLightFX_Log"))();
        sink.Attach();
    }
    void TearDown() override { setResult(0), os::CloseSharedLibrary(fake); }
    void* fake = nullptr;
    FakeLightFXSetInitializeResult setResult = nullptr;
    FakeLightFXRecord* record = nullptr;
    CaptureLogSink sink;
};

TEST_F(EnvLightTest, InitialisationOutcomesWithoutRetry) {
    struct Case {
        const char* library;
        uint32_t result, state, initializeCalls;
        std::string message;  // "severity text"; empty: none
    } cases[] = {
        {"LightFX.dll", 0, EnvLight::kReady, 1, ""},
        {"LightFX.dll", 3, EnvLight::kUnavailable, 1, "1 There is not AlienFX device available."},
        {"LightFX.dll", 7, EnvLight::kUnavailable, 1, "3 There was an error initializing the AlienFX device."},
        {"NoSuchLightFX.dll", 0, EnvLight::kUnavailable, 0, "3 Failed to load LightFX.dll."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.library) + " " + std::to_string(c.result));
        *record = {};
        sink.Clear(), setResult(c.result);
        EnvLight light(c.library);
        light.Init();
        light.Init();  // never a second attempt
        EXPECT_EQ(light.GetState(), c.state);
        EXPECT_EQ(record->initialize, c.initializeCalls);
        std::string logged;
        for (const auto& m : sink.Messages()) logged += std::to_string(m.severity) + " " + m.text;
        EXPECT_EQ(logged, c.message);
        light.Update();
        light.Reset();
        light.SetColor(1, 1.0f, 1.0f, 1.0f, 1.0f);
        EXPECT_EQ(record->update + record->reset + record->light, c.state == EnvLight::kReady ? 3u : 0u);
        EXPECT_EQ(record->release, 0u);  // a failure frees the library without releasing a device
    }
}

TEST_F(EnvLightTest, ColoursAreClampedScaledAndPacked) {
    *record = {};
    EnvLight light;
    light.Init();
    ASSERT_EQ(light.GetState(), EnvLight::kReady);
    const struct {
        float red, green, blue, brightness;
        uint32_t packed;
    } cases[] = {
        {1.0f, 0.5f, 0.25f, 1.0f, 0xFFFF7F3Fu},
        {0.999f, 0.004f, 0.0039f, 0.1f, 0x19FE0100u},
        {2.0f, -1.0f, 300.0f, 1.5f, 0xFFFF00FFu},  // clamped, never wrapped into a neighbour
        {-0.0f, std::nanf(""), 1e30f, -1e30f, 0x000000FFu},
    };
    for (const auto& c : cases) {
        light.SetColor(0x07FFFFFF, c.red, c.green, c.blue, c.brightness);
        EXPECT_EQ(record->lastColour, c.packed) << c.red << " " << c.green << " " << c.blue << " " << c.brightness;
        EXPECT_EQ(record->lastMask, 0x07FFFFFFu);
    }
    light.Release();
    light.Release();  // only a ready device is released
    EXPECT_EQ(record->release, 1u);
    light.Init();  // a released device may start again
    EXPECT_EQ(light.GetState(), EnvLight::kReady);
    EXPECT_EQ(record->initialize, 2u);
}

class TouchHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        wnd::ResetWindowLayer();
        fake = os::OpenSharedLibrary(PROJECT_BINARY_ROOT "/tests/libPCTouchHelper.so");
        ASSERT_NE(fake, nullptr);
        setContacts = reinterpret_cast<FakeTouchSetContacts>(os::FindSharedSymbol(fake, "FakeTouch_SetContacts"));
        record = reinterpret_cast<FakeTouchLog>(os::FindSharedSymbol(fake, "FakeTouch_Log"))();
        // Client area 800 x 600 with its origin at (108, 81) on the screen.
        window = wnd::CreateWindow({"TouchTest", "", wnd::kStyleOverlappedWindow, 0, 100, 50, 816, 639});
        sink.Attach();
    }
    void TearDown() override { os::CloseSharedLibrary(fake); }

    void* fake = nullptr;
    FakeTouchSetContacts setContacts = nullptr;
    FakeTouchRecord* record = nullptr;
    wnd::WindowHandle window = 0;
    CaptureLogSink sink;
};

TEST_F(TouchHelperTest, LoadingAndRegisteringOutcomes) {
    struct Case {
        const char* library;
        bool withWindow;
        std::string log;
        uint32_t registerCalls;
        bool handles;
    } cases[] = {
        {"NoSuchTouchHelper.dll", true,
         "Cannot load PCTouchHelper.dll (the optional touch helper does not exist on this platform)|No touch support "
         "detected|",
         0, false},
        {"PCTouchHelper.dll", false, "PCTouchHelper.dll successfully loaded|No touch support detected|", 0, true},
        {"PCTouchHelper.dll", true, "PCTouchHelper.dll successfully loaded|Touch support present|", 1, true},
        {"PartialTouchHelper.dll", true, "PCTouchHelper.dll successfully loaded|No touch support detected|", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.library);
        *record = {};
        sink.Clear();
        TouchHelper helper(c.library);
        helper.Init(c.withWindow ? window : 0);
        std::string logged;
        for (const auto& m : sink.Messages()) logged += m.text + "|";
        EXPECT_EQ(logged, c.log);
        EXPECT_EQ(record->registerCalls, c.registerCalls);
        EXPECT_EQ(std::make_pair(record->registeredWindow, record->registerFlags),
                  std::make_pair(c.registerCalls ? window : 0, c.registerCalls ? 2u : 0u));
        // A missing helper is information, and said once however often the Game starts.
        EXPECT_EQ(sink.Messages().front().severity, static_cast<uint8_t>(LogSeverity::Progress));
        sink.Clear();
        helper.Init(0);
        EXPECT_EQ(sink.Messages().size(), 1u);
        InputManager input;
        EXPECT_EQ(helper.OnTouch(1, 7, window, input), c.handles);  // unhandled: to the default procedure
        EXPECT_EQ(record->closeCalls, c.handles ? 1u : 0u);
    }
}

TEST_F(TouchHelperTest, FirstHundredTwentyEightContactsBecomeTaps) {
    // Screen coordinates in hundredths of a pixel; the extra hundredths are dropped.
    auto at = [](int32_t clientX, int32_t clientY, uint32_t id, uint32_t flags) {
        return wnd::TouchContact{(108 + clientX) * 100 + 99, (81 + clientY) * 100 + 99, id, flags};
    };
    std::vector<wnd::TouchContact> contacts = {
        at(200, 150, 1, wnd::kTouchDown), at(400, 300, 1, wnd::kTouchMove), at(600, 450, 1, wnd::kTouchUp),
        at(10, 10, 2, wnd::kTouchDown | wnd::kTouchMove),  // no single action: ignored
        at(-50, 700, 3, wnd::kTouchDown),                  // outside: held at the edges
    };
    for (uint32_t id = 100; contacts.size() < 200; ++id) contacts.push_back(at(id % 800, id % 600, id, wnd::kTouchDown));
    setContacts(contacts.data(), static_cast<uint32_t>(contacts.size()));
    TouchHelper helper;
    helper.Init(window);
    InputManager input;
    EXPECT_TRUE(helper.OnTouch(0x12340000u | 200, 42, window, input));  // only the low word counts
    EXPECT_EQ(record->infoCount, 128u);
    EXPECT_EQ(record->closedHandle, 42u);

    std::vector<int32_t> kinds;
    for (const InputEvent& e : input.InputEvents()) kinds.push_back(e.kind);
    std::vector<int32_t> expected = {INPUTEVENT_TOUCH_TAPBEGIN, INPUTEVENT_TOUCH_TAPMOVE, INPUTEVENT_TOUCH_TAPEND};
    expected.resize(127, INPUTEVENT_TOUCH_TAPBEGIN);  // 128 contacts, one without an action
    EXPECT_EQ(kinds, expected);
    const std::vector<TapRecord>& taps = input.Taps();
    ASSERT_EQ(taps.size(), 125u);
    EXPECT_EQ(taps[0].start, Vector(0.25f, 0.25f, 0.0f, 0.0f));
    EXPECT_EQ(taps[0].current, Vector(0.75f, 0.75f, 0.0f, 0.0f));
    EXPECT_EQ(taps[1].start, Vector(0.0f, 1.0f, 0.0f, 0.0f));
    EXPECT_EQ(taps.back().touchId, 222u);

    // A minimised window has no client area: the message is handled, nothing moves.
    wnd::ShowWindow(window, wnd::kShowMinimize);
    InputManager idle;
    EXPECT_TRUE(helper.OnTouch(200, 43, window, idle));
    EXPECT_TRUE(idle.InputEvents().empty());
    EXPECT_EQ(record->closedHandle, 43u);
}

}  // namespace
