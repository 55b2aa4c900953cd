// test-sources: ../NumpyReference.cpp
// test-sanitize: address
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "CaptureLogSink.h"
#include "core/CrtRand.h"
#include "core/Time.h"
#include "engine/NumpyReference.h"
#include "engine/input/InputManager.h"
#include "engine/input/TouchRoutingServices.h"
#include "engine/input/KeyboardDevice.h"
#include "engine/input/TapPositions.h"
#include "engine/services/UIServices.h"
#include "platform/input/Input.h"
#include "platform/input/Keys.h"
#include "platform/os/Clock.h"

namespace {

using EventList = std::vector<std::pair<int32_t, uint32_t>>;

class InputManagerTest : public testing::Test {
protected:
    void SetUp() override {
        hid::ResetInputLayer();
        clock.Install();
        Time::InitTimer(0, os::kCounterFrequency);
        SetUIServices(nullptr);
    }
    void TearDown() override {
        SetUIServices(nullptr);
        clock.Uninstall();
        Time::InitTimer();
        hid::ResetInputLayer();
    }
    // A manager with its devices, as the Game starts it.
    std::unique_ptr<InputManager> Started() {
        auto im = std::make_unique<InputManager>();
        EXPECT_TRUE(im->Init(1));
        im->InitDevices(1);
        return im;
    }
    void Frame(InputManager& im) {
        clock.Advance(os::kCounterFrequency / 60);
        im.Update();
    }

    os::ManualClock clock{0};
};

EventList Events(const InputManager& im) {
    EventList out;
    for (const InputEvent& e : im.InputEvents()) out.emplace_back(e.kind, e.value);
    return out;
}

TEST_F(InputManagerTest, HeldKeyIsNewOnlyInItsFirstFrame) {
    auto im = Started();
    const uint32_t space = 57;
    // Key down, window in front; then pressed, first time, released first time. Behind
    // another window the keyboard reads as nothing pressed.
    const bool steps[][5] = {{1, 1, 1, 1, 0}, {1, 1, 1, 0, 0}, {0, 1, 0, 0, 1}, {0, 1, 0, 0, 0},
                             {1, 1, 1, 1, 0}, {1, 0, 0, 0, 1}, {1, 1, 1, 1, 0}};
    for (const auto& s : steps) {
        hid::SetKeyDown(space, s[0]);
        hid::SetForeground(s[1]);
        Frame(*im);
        EXPECT_EQ(std::make_tuple(im->IsKeyPressed(space), im->IsKeyPressedForTheFirstTime(space),
                                  im->IsKeyReleasedForTheFirstTime(space)),
                  std::make_tuple(s[2], s[3], s[4]));
    }
    EXPECT_FALSE(im->IsKeyPressed(256 + space)) << "codes between the keyboard and the mouse name nothing";
    EXPECT_FALSE(im->IsKeyPressed(0x10006));
    EXPECT_EQ(im->FrameNumber(), std::size(steps));
}

TEST_F(InputManagerTest, MouseEventsApplyOnePerFrame) {
    auto im = Started();
    EXPECT_EQ(im->GetCursorPosition(), Vector(0.5f, 0.5f, 0, 0));
    // All posted at once; each frame takes one. Bits of the six buttons (left, right,
    // middle, their double clicks) after the frame: down, new, released.
    const uint32_t rows[][4] = {{MOUSEEVENT_LEFT_DOWN, 0b000001, 0b000001, 0},
                                {MOUSEEVENT_RIGHT_DOWN, 0b000011, 0b000010, 0},
                                {MOUSEEVENT_LEFT_UP, 0b000010, 0, 0b000001},
                                {MOUSEEVENT_LEFT_DOUBLE, 0b001010, 0b001000, 0},  // a double click lasts one frame
                                {MOUSEEVENT_LEFT_DOWN, 0b000011, 0b000001, 0b001000},
                                {MOUSEEVENT_MIDDLE_DOWN, 0b000111, 0b000100, 0},
                                {MOUSEEVENT_MIDDLE_UP, 0b000011, 0, 0b000100},
                                {MOUSEEVENT_MIDDLE_DOUBLE, 0b100011, 0b100000, 0},
                                {MOUSEEVENT_RIGHT_DOUBLE, 0b010011, 0b010000, 0b100000},
                                {MOUSEEVENT_RIGHT_UP, 0b000001, 0, 0b010010}};
    for (size_t i = 0; i < std::size(rows); ++i) ASSERT_TRUE(im->PostMouseEvent(rows[i][0], 0.1f * float(i), 0.5f));
    EXPECT_FALSE(im->PostMouseEvent(9, 0, 0));
    EXPECT_FALSE(im->PostMouseEvent(12, 0, 0));
    for (size_t i = 0; i < std::size(rows); ++i) {
        Frame(*im);
        uint32_t bits[3] = {};
        for (uint32_t b = 0; b < kMouseButtonCount; ++b) {
            bits[0] |= uint32_t(im->IsKeyPressed(kMouseButtonLeft + b)) << b;
            bits[1] |= uint32_t(im->IsKeyPressedForTheFirstTime(kMouseButtonLeft + b)) << b;
            bits[2] |= uint32_t(im->IsKeyReleasedForTheFirstTime(kMouseButtonLeft + b)) << b;
        }
        EXPECT_EQ(std::make_tuple(bits[0], bits[1], bits[2], im->GetCursorPosition().x),
                  std::make_tuple(rows[i][1], rows[i][2], rows[i][3], 0.1f * float(i)))
            << "frame " << i;
    }
    for (const auto& [kind, over] : {std::pair{MOUSEEVENT_CURSOR_OVER, true}, {MOUSEEVENT_CURSOR_LEFT, false}}) {
        im->PostMouseEvent(kind, 0.9f, 0.4f);
        Frame(*im);
        EXPECT_EQ(std::make_tuple(im->IsCursorOnGameWindow(), im->GetCursorPosition().x), std::make_tuple(over, 0.9f));
    }
    uint32_t posted = 0;
    while (im->PostMouseEvent(MOUSEEVENT_LEFT_DOWN, 0, 0)) ++posted;
    EXPECT_EQ(posted, InputManager::kMaxMouseEvents);
}

TEST_F(InputManagerTest, WheelLastsOneFrame) {
    auto im = Started();
    im->AddWheel(0.5f);
    im->AddWheel(1.0f);
    Frame(*im);
    EXPECT_EQ(im->GetMouseWheel(), 1.5f);
    // The window's wheel messages: the last notch of the frame wins, 0 counting as up.
    for (const int notch : {-240, 120, -120}) im->SetWheelFromMessage(notch);
    Frame(*im);
    EXPECT_EQ(im->GetMouseWheel(), -1.0f);
    im->SetWheelFromMessage(0);
    Frame(*im);
    EXPECT_EQ(im->GetMouseWheel(), 1.0f);
    Frame(*im);
    EXPECT_EQ(im->GetMouseWheel(), 0.0f);
}

TEST_F(InputManagerTest, TapStatesFromTouchToRemoval) {
    InputManager im;
    // New, retrieved, released and retrieved, reported.
    clock.Advance(12345);
    im.TouchDown(7, 0.1f, 0.2f);
    const uint32_t a = im.Taps()[0].id;
    EXPECT_EQ(std::make_tuple(a != 0, im.Taps()[0].time, im.IsTapStillActive(a)), std::make_tuple(true, 12345, true));
    EXPECT_EQ(im.GetNewTap(), a);
    EXPECT_EQ(im.GetNewTap() + im.GetNextReleasedTap(), 0u);
    im.TouchMove(7, 0.4f, 0.6f);
    im.TouchMove(7, 0.1f, 0.3f);  // back near the start: the distance keeps its largest value
    EXPECT_FLOAT_EQ(im.Taps()[0].distance, 0.5f);
    Vector p;
    ASSERT_TRUE(im.GetTapPosition(a, &p));
    EXPECT_EQ(p, Vector(0.1f, 0.3f, 0, 0));
    im.TouchUp(7, 0.1f, 0.3f);
    EXPECT_EQ(std::make_tuple(im.Taps()[0].state, im.IsTapStillActive(a)), std::make_tuple(uint32_t(TAP_RELEASED_RETRIEVED), false));
    EXPECT_EQ(im.GetNextReleasedTap(), a);
    EXPECT_EQ(std::make_tuple(im.Taps()[0].state, im.GetNextReleasedTap()), std::make_tuple(uint32_t(TAP_REPORTED), 0u));

    // Released before it was retrieved, then found by GetNewTap.
    im.TouchDown(8, 0.5f, 0.5f);
    const uint32_t b = im.Taps()[1].id;
    EXPECT_GT(b, a);
    im.TouchUp(8, 0.5f, 0.5f);
    EXPECT_EQ(im.Taps()[1].state, TAP_RELEASED);
    im.TouchUp(8, 0.9f, 0.9f);  // no tap of that touch is down any more
    EXPECT_EQ(std::make_tuple(im.Taps()[1].current.x, im.GetNewTap()), std::make_tuple(0.5f, b));
    EXPECT_EQ(im.Taps()[1].state, TAP_RELEASED_RETRIEVED);

    // Marked retrieved (once), cancelled as a click: moves no longer change the distance.
    im.TouchDown(9, 0.0f, 0.0f);
    const uint32_t c = im.Taps()[2].id;
    im.MarkTapRetrieved(c);
    im.MarkTapRetrieved(c);
    EXPECT_EQ(im.Taps()[2].state, TAP_RETRIEVED);
    im.CancelTapAsClick(c);
    im.TouchMove(9, 1.0f, 0.0f);
    EXPECT_EQ(std::make_tuple(im.Taps()[2].distance, im.Taps()[2].current.x), std::make_tuple(kFloatMax, 1.0f));

    // The end of the tick removes states 2 to 4; the new fourth tap takes a removed one's place.
    im.TouchDown(10, 0.3f, 0.3f);
    const uint32_t d = im.Taps()[3].id;
    im.EndFrame();
    ASSERT_EQ(im.Taps().size(), 2u);
    EXPECT_EQ(std::make_tuple(im.Taps()[0].id, im.Taps()[1].id), std::make_tuple(d, c));
    EXPECT_FALSE(im.GetTapPosition(a, &p));

    // Deactivation releases what is down.
    im.ReleaseActiveTaps();
    EXPECT_EQ(std::make_tuple(im.Taps()[0].state, im.Taps()[1].state),
              std::make_tuple(uint32_t(TAP_RELEASED), uint32_t(TAP_RELEASED_RETRIEVED)));
    EXPECT_EQ(im.GetNextReleasedTap(), d);  // released without being retrieved first
    im.EndFrame();
    EXPECT_TRUE(im.Taps().empty());
    EXPECT_EQ(Events(im), (EventList{{2, a}, {4, a}, {4, a}, {3, a}, {2, b}, {3, b}, {2, c}, {4, c}, {2, d}, {3, d}, {3, c}}));

    InputManager other;  // ids keep rising across managers
    other.TouchDown(1, 0, 0);
    EXPECT_GT(other.Taps()[0].id, d);
    for (uint32_t i = 0; i < InputManager::kMaxTaps; ++i) other.TouchDown(100 + i, 0, 0);
    EXPECT_EQ(other.Taps().size(), InputManager::kMaxTaps);
}

struct RoutingRecorder final : TouchRoutingServices {
    std::vector<std::string> calls;
    bool take[3] = {};  // down, move, up
    RoutingRecorder() { SetTouchRoutingServices(this); }
    ~RoutingRecorder() override { SetTouchRoutingServices(nullptr); }
    bool Route(int which, uint32_t tap) {
        calls.push_back(std::string(&"dmu"[which], 1) + std::to_string(tap));
        return take[which];
    }
    bool RouteTouchDown(uint32_t tap, float, float) override { return Route(0, tap); }
    bool RouteTouchMove(uint32_t tap, float, float) override { return Route(1, tap); }
    bool RouteTouchUp(uint32_t tap, float, float) override { return Route(2, tap); }
};

TEST_F(InputManagerTest, TouchesTakenByAScreenMakeNoTapAndNoEvent) {
    InputManager im;
    RoutingRecorder r;
    // The screen that took the press still gets the touch's moves and release, under
    // the id it was offered; an unknown touch reaches no screen.
    r.take[0] = true;
    im.TouchDown(1, 0.5f, 0.5f);
    im.TouchMove(1, 0.6f, 0.6f);
    im.TouchUp(1, 0.6f, 0.6f);
    im.TouchMove(1, 0.7f, 0.7f);
    im.TouchUp(5, 0.7f, 0.7f);
    EXPECT_TRUE(im.Taps().empty() && im.InputEvents().empty());
    const std::string held = r.calls.empty() ? "" : r.calls[0].substr(1);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"d" + held, "m" + held, "u" + held}));
    // Two held at once: the later one's release leaves the earlier one held.
    r.calls.clear();
    im.TouchDown(3, 0.1f, 0.1f);
    im.TouchDown(4, 0.2f, 0.2f);
    im.TouchUp(4, 0.2f, 0.2f);
    im.TouchUp(3, 0.1f, 0.1f);
    ASSERT_GE(r.calls.size(), 2u);
    const std::string first = r.calls[0].substr(1), second = r.calls[1].substr(1);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"d" + first, "d" + second, "u" + second, "u" + first}));

    // A screen declining the press but taking the move and release: a tap that ends.
    r.calls.clear();
    r.take[0] = false, r.take[1] = r.take[2] = true;
    im.TouchDown(2, 0.5f, 0.5f);
    ASSERT_EQ(im.Taps().size(), 1u);
    const uint32_t tap = im.Taps()[0].id;
    im.TouchMove(2, 0.7f, 0.5f);
    im.TouchUp(2, 0.7f, 0.5f);
    EXPECT_EQ(im.Taps()[0].state, TAP_RELEASED);
    const std::string id = std::to_string(tap);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"d" + id, "m" + id, "u" + id}));
    EXPECT_EQ(Events(im), (EventList{{INPUTEVENT_TOUCH_TAPBEGIN, tap}}));
}

TEST_F(InputManagerTest, MouseTapEmulationMakesOneTapPerPress) {
    auto im = Started();
    im->EnableMouseTapEmulation(true);
    im->PostMouseEvent(MOUSEEVENT_LEFT_DOWN, 0.2f, 0.2f);
    im->PostMouseEvent(MOUSEEVENT_LEFT_UP, 0.25f, 0.2f);
    im->PostMouseEvent(MOUSEEVENT_LEFT_DOWN, 0.3f, 0.3f);
    im->PostMouseEvent(MOUSEEVENT_CURSOR_OVER, 0.6f, 0.3f);
    Frame(*im);
    ASSERT_EQ(im->Taps().size(), 1u);
    EXPECT_EQ(im->Taps()[0].start, Vector(0.2f, 0.2f, 0, 0));
    Frame(*im);  // released where the cursor went
    EXPECT_EQ(std::make_tuple(im->Taps()[0].state, im->Taps()[0].current.x), std::make_tuple(uint32_t(TAP_RELEASED), 0.25f));
    Frame(*im);  // pressed again: a second tap
    ASSERT_EQ(im->Taps().size(), 2u);
    EXPECT_EQ(im->Taps()[1].start.x, 0.3f);
    Frame(*im);  // held and moved across only: no new tap
    EXPECT_EQ(im->Taps().size(), 2u);
    Frame(*im);  // held still: no move
    const uint32_t a = im->Taps()[0].id, b = im->Taps()[1].id;
    EXPECT_EQ(im->Taps()[1].current, Vector(0.6f, 0.3f, 0, 0));
    EXPECT_EQ(Events(*im), (EventList{{INPUTEVENT_TOUCH_TAPBEGIN, a}, {INPUTEVENT_TOUCH_TAPEND, a},
                                      {INPUTEVENT_TOUCH_TAPBEGIN, b}, {INPUTEVENT_TOUCH_TAPMOVE, b}}));
    im->EndFrame();
    ASSERT_EQ(im->Taps().size(), 1u);
    EXPECT_TRUE(im->IsTapStillActive(im->Taps()[0].id));
    im->PostMouseEvent(MOUSEEVENT_RIGHT_DOUBLE, 0.5f, 0.5f);  // a double click is a press of its own
    Frame(*im);
    EXPECT_EQ(im->Taps().size(), 2u);
    im->EnableMouseTapEmulation(false);
    im->PostMouseEvent(MOUSEEVENT_MIDDLE_DOWN, 0.5f, 0.5f);
    Frame(*im);
    EXPECT_EQ(im->Taps().size(), 2u);
}

// A screen (any pointer) tracking one element at slot 3 whose area is x < 0.5.
struct TrackingUI : UIServices {
    int32_t FindTrackedEntitySlot(UIScreen*, UIElement* element) override {
        return element == reinterpret_cast<UIElement*>(0x10) ? 3 : -1;
    }
    bool HitTestTrackedEntity(UIScreen*, int32_t slot, const Vector& p) override { return slot == 3 && p.x < 0.5f; }
};

TEST_F(InputManagerTest, TapsOverAnElement) {
    InputManager im;
    auto* screen = reinterpret_cast<UIScreen*>(0x20);
    auto* element = reinterpret_cast<UIElement*>(0x10);
    im.TouchDown(1, 0.7f, 0.5f);
    im.TouchDown(2, 0.2f, 0.5f);
    EXPECT_EQ(im.GetNewTapForUIElement(screen, element), 0u) << "no UI: nothing is hit";
    TrackingUI ui;
    SetUIServices(&ui);
    const uint32_t second = im.Taps()[1].id;
    EXPECT_EQ(im.GetNewTapForUIElement(screen, reinterpret_cast<UIElement*>(0x30)), 0u) << "an untracked element";
    EXPECT_EQ(im.GetNewTapForUIElement(screen, element), second);
    EXPECT_EQ(im.GetNewTapForUIElement(screen, element), 0u) << "retrieved";
    EXPECT_TRUE(im.IsTapWithinUIElement(second, screen, element));
    im.TouchMove(2, 0.8f, 0.5f);
    EXPECT_FALSE(im.IsTapWithinUIElement(second, screen, element));
    EXPECT_EQ(im.Taps()[0].state, TAP_NEW);
}

TEST_F(InputManagerTest, AccessibilityHotKeysOffWhileRunningAndRestored) {
    // The user switched sticky keys on; toggle and filter keys are off with hot keys.
    const hid::StickyKeys sticky{0x1FF};
    const hid::ToggleKeys toggle{0x3E};
    const hid::FilterKeys filter{0x7E, 1000, 500, 500, 0};
    hid::SetStickyKeys(sticky);
    hid::SetToggleKeys(toggle);
    hid::SetFilterKeys(filter);
    {
        auto im = Started();
        EXPECT_EQ(std::make_tuple(hid::GetStickyKeys(), hid::GetToggleKeys().flags, hid::GetFilterKeys()),
                  std::make_tuple(sticky, 0x32u, hid::FilterKeys{0x72, 1000, 500, 500, 0}));
        im->SetAccessibilityKeys(true);
        EXPECT_EQ(hid::GetToggleKeys(), toggle);
        im->SetAccessibilityKeys(false);
        EXPECT_EQ(std::make_tuple(hid::GetToggleKeys().flags, hid::OpenDeviceCount()), std::make_tuple(0x32u, 1u));
    }
    EXPECT_EQ(hid::OpenDeviceCount(), 0u) << "the keyboard is released with its manager";
    EXPECT_EQ(std::make_tuple(hid::GetStickyKeys(), hid::GetToggleKeys(), hid::GetFilterKeys()),
              std::make_tuple(sticky, toggle, filter));
}

TEST_F(InputManagerTest, FailuresLeaveInputReadingAsNothing) {
    CaptureLogSink sink;
    sink.Attach();
    auto lines = [&] {
        std::vector<std::string> texts;
        for (const auto& m : sink.Messages()) texts.push_back(m.text);
        sink.Clear();
        return texts;
    };
    hid::SetInputSystemFailure(true);
    InputManager im;
    EXPECT_FALSE(im.Init(1));
    im.InitDevices(1);
    ASSERT_FALSE(sink.Messages().empty());
    EXPECT_EQ(std::make_tuple(sink.Messages()[0].severity, sink.Messages()[0].category), std::make_tuple(4, 2));
    EXPECT_EQ(lines(), (std::vector<std::string>{"Unable to initialize DirectInput", "Unable to initialize keyboard"}));
    hid::SetKeyDown(30, true);
    Frame(im);
    EXPECT_FALSE(im.IsKeyPressed(30));

    // Only the keyboard failing.
    hid::SetInputSystemFailure(false);
    hid::SetKeyboardCreationFailure(true);
    auto second = Started();
    EXPECT_EQ(lines(), std::vector<std::string>{"Unable to initialize keyboard"});
    Frame(*second);
    EXPECT_FALSE(second->IsKeyPressed(30));
    char name[16];
    EXPECT_FALSE(second->Keyboard()->GetKeyName(30, name, sizeof(name)));
    EXPECT_FALSE(second->Keyboard()->GetKeyName(30, nullptr, sizeof(name)));

    // A window behind another at start-up still gets its keyboard once in front.
    hid::SetKeyboardCreationFailure(false);
    hid::SetForeground(false);
    auto third = Started();
    EXPECT_TRUE(lines().empty());
    hid::SetForeground(true);
    Frame(*third);
    EXPECT_TRUE(third->IsKeyPressed(30));
    ASSERT_TRUE(third->Keyboard()->GetKeyName(30, name, sizeof(name)));
    EXPECT_STREQ(name, "A");
}

std::u16string gText;
UITextBase* gTextTarget = nullptr;

// Text fields that record what the input manager writes into them.
struct RecordingTextUI : UIServices {
    void SetText(UITextBase* t, const char16_t* s) override { gTextTarget = t, gText = s ? s : u""; }
    void AppendText(UITextBase* t, const char16_t* s) override { gTextTarget = t, gText += s; }
};

TEST_F(InputManagerTest, ControllerNamesGoToUIText) {
    auto* text = reinterpret_cast<UITextBase*>(0x40);
    hid::ConnectGameDevice({.instanceName = "Flight Stick \xC3\x9C"});
    auto im = Started();
    im->AppendDIDeviceName(text, true);  // no UI yet: nothing written, no crash
    RecordingTextUI ui;
    SetUIServices(&ui);
    gText = u"old ";
    im->AppendDIDeviceName(text, false);
    EXPECT_EQ(std::make_tuple(gText, gTextTarget), std::make_tuple(u"old Flight Stick \u00dc", text));
    im->AppendDIKeyName(text, 3, true);
    im->AppendDIKeyName(text, 33, false);
    EXPECT_EQ(gText, u"Button 3");
    im->AppendDIDeviceName(nullptr, true);  // no text: nothing reaches the UI
    im->AppendDIKeyName(nullptr, 3, true);
    EXPECT_EQ(gTextTarget, text);
    im->ReleaseGameControllers();
    im->AppendDIDeviceName(text, true);
    EXPECT_EQ(gText, u"");
}

// Game controllers against a numpy float32 reference, device choice and reconnects.

constexpr int64_t kFrame = os::kCounterFrequency / 60;

class ControllerTest : public testing::Test {
protected:
    void SetUp() override {
        hid::ResetInputLayer();
        clock.Install();
        Time::InitTimer(0, os::kCounterFrequency);
        sink.Attach();
    }
    void TearDown() override {
        clock.Uninstall();
        Time::InitTimer();
        hid::ResetInputLayer();
    }
    int64_t Now() const { return clock.Now(); }
    // Whether the line was logged as progress in the engine category.
    bool Logged(const std::string& text) {
        for (const auto& m : sink.Messages())
            if (m.text == text && m.severity == 1 && m.category == 2) return true;
        return false;
    }
    std::unique_ptr<InputManager> Started() {
        auto im = std::make_unique<InputManager>();
        EXPECT_TRUE(im->Init(1));
        im->InitDevices(1);
        return im;
    }

    os::ManualClock clock{0};
    CaptureLogSink sink;
};

std::vector<std::string> Reference(const std::string& input) {
    return RunNumpyReference("input/controller_reference.py", input);
}

TEST_F(ControllerTest, SticksTriggersAndFirstTimeTests) {
    // Left x, left y, right x, right y: at, inside and beside the dead zones.
    const int16_t sticks[][4] = {{7849, -7849, 8689, -8689}, {7848, -7848, 8688, -8688}, {7850, -7850, 8690, -8690},
                                 {7851, 7852, 8691, 8692},    {32767, -32768, 32767, -32768}, {0, 16384, -16384, 30000}};
    // Per frame: buttons, the trigger byte, then the expected first-time answers of A
    // and of the triggers (exactly 30/255 is not pressed).
    const int frames[][4] = {{0x1000, 31, 1, 1}, {0x1000, 31, 0, 0}, {0x0000, 29, 0, 0},
                             {0x1000, 30, 1, 0}, {0x3000, 255, 0, 1}, {0x2000, 0, 0, 0}};
    std::ostringstream in;
    for (size_t i = 0; i < std::size(frames); ++i) {
        for (int k = 0; k < 4; ++k)
            in << "stick " << sticks[i][k] << " "
               << FloatBits(k < 2 ? kXControllerLeftDeadZone : kXControllerRightDeadZone) << "\n";
        in << "trigger " << frames[i][1] << "\n";
    }
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(frames) * 5);

    hid::ConnectPad(1);
    XInputController pad;
    pad.Init(1, Now());
    for (size_t i = 0; i < std::size(frames); ++i) {
        SCOPED_TRACE(i);
        hid::PadState s;
        s.thumbLX = sticks[i][0], s.thumbLY = sticks[i][1], s.thumbRX = sticks[i][2], s.thumbRY = sticks[i][3];
        s.buttons = uint16_t(frames[i][0]), s.leftTrigger = s.rightTrigger = uint8_t(frames[i][1]);
        hid::SetPadState(1, s);
        clock.Advance(kFrame);
        EXPECT_FALSE(pad.Update(Now()));
        for (int k = 0; k < 4; ++k) EXPECT_EQ(FloatBits(pad.Sticks()[k]), expected[i * 5 + k]) << "stick " << k;
        std::istringstream ref(expected[i * 5 + 4]);
        std::string bits;
        int pressed = 0;
        ref >> bits >> pressed;
        for (const uint32_t trigger : {kXControllerLeftTrigger, kXControllerRightTrigger}) {
            EXPECT_EQ(FloatBits(trigger == kXControllerLeftTrigger ? pad.LeftTrigger() : pad.RightTrigger()), bits);
            EXPECT_EQ(std::make_tuple(pad.IsKeyPressed(trigger), pad.IsKeyPressedForTheFirstTime(trigger)),
                      std::make_tuple(pressed != 0, frames[i][3] != 0));
        }
        EXPECT_EQ(std::make_tuple(pad.IsKeyPressed(0x1000), pad.IsKeyPressedForTheFirstTime(0x1000)),
                  std::make_tuple((frames[i][0] & 0x1000) != 0, frames[i][2] != 0));
    }
}

TEST_F(ControllerTest, AbsentPadIsLookedForEveryTwoToFourAndAHalfSeconds) {
    constexpr uint32_t kSeed = 12345;
    constexpr int kWaits = 6;
    const auto expected = Reference("recheck " + std::to_string(kSeed) + " " +
                                    std::to_string(os::kCounterFrequency) + " " + std::to_string(kWaits) + "\n");
    ASSERT_EQ(expected.size(), 1u);
    std::istringstream waits(expected[0]);

    CrtSrand(kSeed);
    XInputController pad;
    pad.Init(3, Now());
    // Frames of 1/60 s: a read happens at the first frame past each check time, and
    // the next check is the read time plus the reference wait.
    int64_t expectedRead = kFrame, wait = 0;
    for (int i = 0; i < kWaits && waits >> wait; ++i) {
        SCOPED_TRACE(i);
        const uint32_t reads = hid::PadReadCount(3);
        while (hid::PadReadCount(3) == reads && Now() < 10 * os::kCounterFrequency * kWaits) {
            clock.Advance(kFrame);
            EXPECT_FALSE(pad.Update(Now()));
        }
        EXPECT_EQ(std::make_tuple(Now(), pad.NextCheckTime()), std::make_tuple(expectedRead, Now() + wait));
        expectedRead = (pad.NextCheckTime() / kFrame + 1) * kFrame;
    }

    // Plugged in, it is found only after the check time has passed; the change is
    // reported and logged both ways.
    hid::ConnectPad(3);
    clock.Set(pad.NextCheckTime());
    EXPECT_FALSE(pad.Update(Now()));
    clock.Advance(1);
    EXPECT_TRUE(pad.Update(Now()));
    EXPECT_TRUE(Logged("XBox controller #3 connected"));
    hid::PadState st;
    st.thumbLX = 32767;
    st.leftTrigger = 200;
    hid::SetPadState(3, st);
    clock.Advance(1);
    EXPECT_FALSE(pad.Update(Now()));
    EXPECT_EQ(pad.Sticks()[0], 1.0f);
    hid::DisconnectPad(3);
    clock.Advance(1);
    EXPECT_TRUE(pad.Update(Now()));
    EXPECT_EQ(std::make_tuple(pad.IsConnected(), pad.Sticks()[0], pad.LeftTrigger()), std::make_tuple(false, 0.0f, 0.0f));
    EXPECT_TRUE(Logged("XBox controller #3 disconnected"));

    // A pad present at creation is connected without a line or a change, and a button
    // held then is not new at the first update.
    sink.Clear();
    hid::ConnectPad(0);
    hid::PadState held;
    held.buttons = 0x1000;
    hid::SetPadState(0, held);
    XInputController present;
    present.Init(0, Now());
    clock.Advance(1);
    EXPECT_TRUE(present.IsConnected());
    EXPECT_FALSE(present.Update(Now()));
    EXPECT_EQ(std::make_tuple(present.IsKeyPressed(0x1000), present.IsKeyPressedForTheFirstTime(0x1000), sink.Messages().empty()),
              std::make_tuple(true, false, true));
}

TEST_F(ControllerTest, AnyControllerIndexUsesTheEnabledPads) {
    for (uint32_t i = 0; i < 4; ++i) hid::ConnectPad(i);
    auto im = Started();
    // Pad 0: short stick, right trigger 100, button 0x10; pad 1: long sticks (x and
    // the right y only), left trigger 200; pad 2: the longest sticks and the largest
    // triggers, but disabled.
    hid::PadState p0, p1, p2;
    p0.thumbLY = 20000, p0.rightTrigger = 100, p0.buttons = 0x10;
    p1.thumbLX = -30000, p1.thumbRY = 15000, p1.leftTrigger = 200;
    p2.thumbLX = p2.thumbLY = p2.thumbRX = p2.thumbRY = 32767;
    p2.leftTrigger = p2.rightTrigger = 255, p2.buttons = 0x8000;
    hid::SetPadState(0, p0);
    hid::SetPadState(1, p1);
    hid::SetPadState(2, p2);
    clock.Advance(1);
    im->Update();
    // Nothing enabled: the any-index sees nothing; a single index sees its pad.
    EXPECT_EQ(std::make_tuple(im->IsXControllerPresent(kAnyController), im->GetXControllerAnalogInput(kAnyController),
                              im->GetXControllerLeftTriggerInput(kAnyController), im->IsXControllerKeyPressed(0x8000, 2)),
              std::make_tuple(false, Vector(), 0.0f, true));

    im->EnableControllerInput(true, kAnyController);
    im->EnableControllerInput(false, 2);
    im->EnableControllerInput(true, 7);  // no such pad: nothing
    EXPECT_EQ(im->EnabledControllerMask(), 0b1011u);
    EXPECT_TRUE(im->IsXControllerPresent(kAnyController));
    const Vector sticks = im->GetXControllerAnalogInput(kAnyController);
    EXPECT_EQ(std::make_tuple(sticks.y, sticks.z), std::make_tuple(0.0f, 0.0f)) << "pad 1's sticks, the longest enabled";
    EXPECT_TRUE(sticks.x < -0.5f && sticks.w > 0.2f);
    EXPECT_EQ(std::make_tuple(im->GetXControllerLeftTriggerInput(kAnyController), im->GetXControllerRightTriggerInput(kAnyController)),
              std::make_tuple(200 / 255.0f, 100 / 255.0f));
    EXPECT_TRUE(im->IsXControllerKeyPressedForTheFirstTime(0x10, kAnyController));
    EXPECT_FALSE(im->IsXControllerKeyPressed(0x8000, kAnyController)) << "pad 2 is disabled";
    EXPECT_TRUE(im->IsXControllerKeyPressed(kXControllerLeftTrigger, kAnyController));
    EXPECT_FALSE(im->IsXControllerPresent(4) || im->IsXControllerPresent(257));
}

TEST_F(ControllerTest, DirectInputControllerIsNeverAnXInputPad) {
    // Plug-and-play ids: those with "IG_" are XInput pads, with VID_ and PID_ numbers.
    const std::pair<const char*, uint32_t> cases[] = {
        {"HID\\VID_045E&PID_028E&IG_00\\7&2F7A&0&0000", 0x028E045E}, {"USB\\VID_046D&PID_C21D&IG_01\\8", 0xC21D046D},
        {"HID\\VID_046D&PID_C215\\6&1", 0},                         {"HID\\IG_02&PID_0B12", 0x0B120000},  // no vendor: 0
        {"HID\\VID_zz&PID_12&IG_00", 0x00120000},                   {"", 0},
    };
    std::vector<uint32_t> expected;
    for (const auto& [pnp, id] : cases) {
        hid::ConnectGameDevice({.instanceName = "d", .pnpDeviceId = pnp});
        if (id) expected.push_back(id);  // an XInput pad
    }
    std::vector<uint32_t> ids;
    DirectInputController::ReadXInputDeviceIds(&ids);
    EXPECT_EQ(ids, expected);

    // The XInput pad shows up as a game device too and is skipped, as is one in use.
    hid::ResetInputLayer();
    hid::ConnectGameDevice({.instanceName = "Pad", .vendorId = 0x045E, .productId = 0x028E,
                            .pnpDeviceId = "HID\\VID_045E&PID_028E&IG_00\\1"});
    const hid::SystemHandle system = hid::CreateInputSystem();
    DirectInputController di;
    EXPECT_FALSE(di.Connect(system, 1));
    EXPECT_EQ(hid::OpenDeviceCount(), 0u);
    hid::ConnectGameDevice({.instanceName = "In use", .vendorId = 1, .productId = 2, .creatable = false});
    hid::ConnectGameDevice({.instanceName = "Stick", .vendorId = 0x046D, .productId = 0xC215});
    ASSERT_TRUE(di.Connect(system, 1));
    EXPECT_STREQ(di.InstanceName(), "Stick");
    EXPECT_EQ(std::make_tuple(di.HasJoystickConfig(), di.HasEffect()), std::make_tuple(true, false));
    ASSERT_EQ(sink.Messages().size(), 2u);
    EXPECT_EQ(sink.Messages()[0].text, "DInput controller doesn't have FF");
    EXPECT_TRUE(Logged("DInput controller connected"));
    EXPECT_TRUE(di.Connect(system, 1)) << "a second connect keeps the open device";
    EXPECT_EQ(hid::OpenDeviceCount(), 1u);

    // With force feedback: the effect, and no line about it.
    di.Release();
    sink.Clear();
    hid::ResetInputLayer();
    hid::SetJoystickConfigAvailable(false);
    hid::ConnectGameDevice({.instanceName = "Wheel", .forceFeedback = true});
    ASSERT_TRUE(di.Connect(hid::CreateInputSystem(), 1));
    EXPECT_EQ(std::make_tuple(di.HasJoystickConfig(), di.HasEffect(), sink.Messages().size()), std::make_tuple(false, true, size_t(1)));
}

TEST_F(ControllerTest, DirectInputSticksButtonsAndDisconnection) {
    const int32_t values[] = {-1000, -201, -200, -1, 0, 199, 200, 201, 600, 999, 1000};
    std::ostringstream in;
    for (int32_t v : values) in << "axis " << v << "\naxis " << -v << "\n";
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(values) * 2);

    const uint32_t id = hid::ConnectGameDevice({.instanceName = "Stick"});
    DirectInputController di;
    ASSERT_TRUE(di.Connect(hid::CreateInputSystem(), 1));
    for (size_t i = 0; i < std::size(values); ++i) {
        hid::JoystickState js;
        js.x = js.y = js.z = js.rz = values[i];
        js.buttons[i % 32] = 0x80;
        hid::SetGameDeviceInput(id, js);
        di.Update();
        // X and Z as they come, Y and Rz negated.
        for (int k = 0; k < 4; ++k) EXPECT_EQ(FloatBits(di.Sticks()[k]), expected[2 * i + k % 2]) << values[i] << " " << k;
        EXPECT_TRUE(di.IsButtonPressedForTheFirstTime(uint32_t(i % 32) + 1));
    }
    hid::JoystickState held;
    held.buttons[31] = 0x80;
    hid::SetGameDeviceInput(id, held);
    di.Update();
    di.Update();
    EXPECT_EQ(std::make_tuple(di.IsButtonPressed(32), di.IsButtonPressedForTheFirstTime(32), di.IsButtonPressed(0),
                              di.IsButtonPressed(33)),
              std::make_tuple(true, false, false, false));
    for (const uint32_t button : {0u, 1u, 32u, 33u}) {
        char name[32] = "";
        const bool named = button >= 1 && button <= 32;
        EXPECT_EQ(di.GetButtonName(button, name, sizeof(name)), named) << button;
        if (named) {
            EXPECT_EQ(name, "Button " + std::to_string(button));
        }
    }

    // Unplugged: neither poll nor acquire works; the controller is released.
    hid::DisconnectGameDevice(id);
    di.Update();
    EXPECT_EQ(std::make_tuple(di.IsConnected(), di.IsButtonPressed(32), di.Sticks()[0], hid::OpenDeviceCount()),
              std::make_tuple(false, false, 0.0f, 0u));
    EXPECT_TRUE(Logged("DInput controller disconnected"));
}

TEST_F(ControllerTest, ReleaseAndReconnectAroundADeviceReset) {
    const uint32_t id = hid::ConnectGameDevice({.instanceName = "Stick", .forceFeedback = true});
    auto im = Started();
    ASSERT_TRUE(im->IsDIControllerPresent());
    const uint32_t open = hid::OpenDeviceCount();  // keyboard and controller
    im->ReleaseGameControllers();
    EXPECT_EQ(std::make_tuple(im->IsDIControllerPresent(), hid::OpenDeviceCount()), std::make_tuple(false, open - 1));
    im->ReconnectGameControllers();
    ASSERT_TRUE(im->IsDIControllerPresent());
    hid::JoystickState js;
    js.x = js.y = js.z = 1000;
    hid::SetGameDeviceInput(id, js);
    clock.Advance(1);
    im->Update();
    EXPECT_EQ(im->GetDIControllerAnalogInput(), Vector(1, -1, 1, 0));

    InputManager bare;  // without Init no reconnect is attempted
    bare.ReconnectGameControllers();
    EXPECT_FALSE(bare.IsDIControllerPresent());

    // A device plugged in later is opened when devices change.
    im->ReleaseGameControllers();
    hid::DisconnectGameDevice(id);
    im->OnDevicesChanged();
    EXPECT_FALSE(im->IsDIControllerPresent());
    hid::ConnectGameDevice({.instanceName = "Later"});
    im->OnDevicesChanged();
    EXPECT_TRUE(im->IsDIControllerPresent());
}

}  // namespace

TEST(TapPositionsTest, AreFoundByTheirObject) {
    int element = 0, other = 0;
    const Vector at(0.5f, 0.25f, 0.0f, 0.0f);
    SetTapPosition(&element, &at);
    ASSERT_NE(FindTapPosition(&element), nullptr);
    EXPECT_EQ(FindTapPosition(&element)->y, 0.25f);
    EXPECT_EQ(FindTapPosition(&other), nullptr);
    Vector copied;
    EXPECT_TRUE(FindTapPosition(&element, &copied));
    EXPECT_EQ(copied.y, 0.25f);
    EXPECT_FALSE(FindTapPosition(&other, &copied));
    SetTapPosition(&element, nullptr);
    EXPECT_EQ(FindTapPosition(&element), nullptr);
}
