// test-sanitize: address
// The input manager: keys and mouse buttons over frames, the mouse event queue, the
// wheel, taps through their states, routing to screens, mouse tap emulation, the
// accessibility settings, failure paths and the UI hooks of the controller names.
#include <gtest/gtest.h>

#include <string>

#include "CaptureLogSink.h"
#include "core/Time.h"
#include "engine/EngineServices.h"
#include "engine/input/InputManager.h"
#include "engine/input/KeyboardDevice.h"
#include "platform/input/Input.h"
#include "platform/input/Keys.h"
#include "platform/os/Clock.h"

namespace {

class InputManagerTest : public testing::Test {
protected:
    void SetUp() override {
        hid::ResetInputLayer();
        clock.Install();
        Time::InitTimer(0, os::kCounterFrequency);
        gEngineServices = EngineServices();
    }
    void TearDown() override {
        gEngineServices = EngineServices();
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

TEST_F(InputManagerTest, HeldKeyIsNewOnlyInItsFirstFrame) {
    auto im = Started();
    const uint32_t space = 57;
    struct Step {
        bool down;
        bool pressed, first, released;
    };
    const Step steps[] = {{true, true, true, false},
                          {true, true, false, false},
                          {true, true, false, false},
                          {false, false, false, true},
                          {false, false, false, false},
                          {true, true, true, false}};
    for (const Step& s : steps) {
        hid::SetKeyDown(space, s.down);
        Frame(*im);
        EXPECT_EQ(im->IsKeyPressed(space), s.pressed);
        EXPECT_EQ(im->IsKeyPressedForTheFirstTime(space), s.first);
        EXPECT_EQ(im->IsKeyReleasedForTheFirstTime(space), s.released);
    }
    EXPECT_FALSE(im->IsKeyPressed(58));
    EXPECT_FALSE(im->IsKeyPressed(256 + space)) << "codes between the keyboard and the mouse name nothing";
    EXPECT_FALSE(im->IsKeyPressed(0x10006));
    EXPECT_EQ(im->FrameNumber(), std::size(steps));

    // Without the foreground the keyboard reads as nothing pressed.
    hid::SetForeground(false);
    Frame(*im);
    EXPECT_FALSE(im->IsKeyPressed(space));
    EXPECT_TRUE(im->IsKeyReleasedForTheFirstTime(space));
    hid::SetForeground(true);
    Frame(*im);
    EXPECT_TRUE(im->IsKeyPressedForTheFirstTime(space));
}

TEST_F(InputManagerTest, OneMouseEventPerFrame) {
    auto im = Started();
    const uint32_t left = kMouseButtonLeft, right = kMouseButtonLeft + 1, leftDouble = kMouseButtonLeft + 3;
    EXPECT_EQ(im->GetCursorPosition(), Vector(0.5f, 0.5f, 0, 0));
    ASSERT_TRUE(im->PostMouseEvent(MOUSEEVENT_LEFT_DOWN, 0.25f, 0.75f));
    ASSERT_TRUE(im->PostMouseEvent(MOUSEEVENT_RIGHT_DOWN, 0.5f, 0.125f));
    EXPECT_FALSE(im->PostMouseEvent(9, 0, 0));
    EXPECT_FALSE(im->PostMouseEvent(12, 0, 0));

    Frame(*im);
    EXPECT_TRUE(im->IsKeyPressedForTheFirstTime(left));
    EXPECT_FALSE(im->IsKeyPressed(right)) << "the second event waits a frame";
    EXPECT_EQ(im->GetCursorPosition(), Vector(0.25f, 0.75f, 0, 0));
    Frame(*im);
    EXPECT_TRUE(im->IsKeyPressed(left));
    EXPECT_FALSE(im->IsKeyPressedForTheFirstTime(left));
    EXPECT_TRUE(im->IsKeyPressedForTheFirstTime(right));
    EXPECT_EQ(im->GetCursorPosition(), Vector(0.5f, 0.125f, 0, 0));

    // A double click (the window posts it, then a press) latches for one frame.
    im->PostMouseEvent(MOUSEEVENT_LEFT_UP, 0.1f, 0.1f);
    im->PostMouseEvent(MOUSEEVENT_LEFT_DOUBLE, 0.1f, 0.1f);
    im->PostMouseEvent(MOUSEEVENT_LEFT_DOWN, 0.1f, 0.1f);
    Frame(*im);
    EXPECT_TRUE(im->IsKeyReleasedForTheFirstTime(left));
    Frame(*im);
    EXPECT_TRUE(im->IsKeyPressedForTheFirstTime(leftDouble));
    EXPECT_FALSE(im->IsKeyPressed(left));
    Frame(*im);
    EXPECT_TRUE(im->IsKeyReleasedForTheFirstTime(leftDouble));
    EXPECT_TRUE(im->IsKeyPressedForTheFirstTime(left));
    Frame(*im);
    EXPECT_FALSE(im->IsKeyPressed(leftDouble));

    // Middle button and its double click; right up.
    struct Case {
        uint32_t kind, key;
        bool down;
    };
    const Case cases[] = {{MOUSEEVENT_MIDDLE_DOWN, kMouseButtonLeft + 2, true},
                          {MOUSEEVENT_MIDDLE_UP, kMouseButtonLeft + 2, false},
                          {MOUSEEVENT_MIDDLE_DOUBLE, kMouseButtonLeft + 5, true},
                          {MOUSEEVENT_RIGHT_DOUBLE, kMouseButtonLeft + 4, true},
                          {MOUSEEVENT_RIGHT_UP, right, false}};
    for (const Case& c : cases) {
        im->PostMouseEvent(c.kind, 0, 0);
        Frame(*im);
        EXPECT_EQ(im->IsKeyPressed(c.key), c.down) << c.kind;
    }

    // Leaving and entering the window.
    EXPECT_FALSE(im->IsCursorOnGameWindow());
    im->PostMouseEvent(MOUSEEVENT_CURSOR_OVER, 0.3f, 0.4f);
    Frame(*im);
    EXPECT_TRUE(im->IsCursorOnGameWindow());
    im->PostMouseEvent(MOUSEEVENT_CURSOR_LEFT, 0.9f, 0.4f);
    Frame(*im);
    EXPECT_FALSE(im->IsCursorOnGameWindow());
    EXPECT_EQ(im->GetCursorPosition().x, 0.9f);
    im->OnMouseMove(0.6f, 0.7f);
    EXPECT_EQ(im->GetCursorPosition(), Vector(0.6f, 0.7f, 0, 0));

    // The queue is bounded.
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
    Frame(*im);
    EXPECT_EQ(im->GetMouseWheel(), 0.0f);
    // The window's wheel messages: the last notch of the frame wins.
    im->SetWheelFromMessage(-240);
    im->SetWheelFromMessage(120);
    im->SetWheelFromMessage(-120);
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
    im.TouchDown(7, 0.1f, 0.2f);
    ASSERT_EQ(im.Taps().size(), 1u);
    const uint32_t a = im.Taps()[0].id;
    EXPECT_NE(a, 0u);
    EXPECT_EQ(im.Taps()[0].state, TAP_NEW);
    EXPECT_TRUE(im.IsTapStillActive(a));
    EXPECT_EQ(im.GetNewTap(), a);
    EXPECT_EQ(im.Taps()[0].state, TAP_RETRIEVED);
    EXPECT_EQ(im.GetNewTap(), 0u);
    EXPECT_EQ(im.GetNextReleasedTap(), 0u);
    im.TouchMove(7, 0.4f, 0.6f);
    im.TouchMove(7, 0.1f, 0.3f);  // back near the start: the distance keeps its largest value
    EXPECT_FLOAT_EQ(im.Taps()[0].distance, 0.5f);
    Vector p;
    ASSERT_TRUE(im.GetTapPosition(a, &p));
    EXPECT_EQ(p, Vector(0.1f, 0.3f, 0, 0));
    im.TouchUp(7, 0.1f, 0.3f);
    EXPECT_EQ(im.Taps()[0].state, TAP_RELEASED_RETRIEVED);
    EXPECT_FALSE(im.IsTapStillActive(a));
    EXPECT_EQ(im.GetNextReleasedTap(), a);
    EXPECT_EQ(im.Taps()[0].state, TAP_REPORTED);
    EXPECT_EQ(im.GetNextReleasedTap(), 0u);

    // Released before it was retrieved, then found by GetNewTap.
    im.TouchDown(8, 0.5f, 0.5f);
    const uint32_t b = im.Taps()[1].id;
    EXPECT_GT(b, a);
    im.TouchUp(8, 0.5f, 0.5f);
    EXPECT_EQ(im.Taps()[1].state, TAP_RELEASED);
    im.TouchUp(8, 0.9f, 0.9f);  // no tap of that touch is down any more
    EXPECT_EQ(im.Taps()[1].current.x, 0.5f);
    EXPECT_EQ(im.GetNewTap(), b);
    EXPECT_EQ(im.Taps()[1].state, TAP_RELEASED_RETRIEVED);

    // Marked retrieved, cancelled as a click (moves no longer change the distance).
    im.TouchDown(9, 0.0f, 0.0f);
    const uint32_t c = im.Taps()[2].id;
    im.MarkTapRetrieved(c);
    EXPECT_EQ(im.Taps()[2].state, TAP_RETRIEVED);
    im.MarkTapRetrieved(c);
    EXPECT_EQ(im.Taps()[2].state, TAP_RETRIEVED);
    im.CancelTapAsClick(c);
    im.TouchMove(9, 1.0f, 0.0f);
    EXPECT_EQ(im.Taps()[2].distance, kFloatMax);
    EXPECT_EQ(im.Taps()[2].current.x, 1.0f);

    // A fourth tap still new. The end of the tick removes states 2 to 4; the last tap
    // takes a removed one's place.
    im.TouchDown(10, 0.3f, 0.3f);
    const uint32_t d = im.Taps()[3].id;
    im.EndFrame();
    ASSERT_EQ(im.Taps().size(), 2u);
    EXPECT_EQ(im.Taps()[0].id, d);
    EXPECT_EQ(im.Taps()[1].id, c);
    EXPECT_FALSE(im.GetTapPosition(a, &p));
    EXPECT_FALSE(im.IsTapStillActive(a));

    // Deactivation releases what is down.
    im.ReleaseActiveTaps();
    EXPECT_EQ(im.Taps()[0].state, TAP_RELEASED);
    EXPECT_EQ(im.Taps()[1].state, TAP_RELEASED_RETRIEVED);
    im.EndFrame();
    EXPECT_TRUE(im.Taps().empty());

    // Events: begin, move, end per tap, and an end for each released at deactivation.
    const std::vector<std::pair<int32_t, uint32_t>> expected = {
        {2, a}, {4, a}, {4, a}, {3, a}, {2, b}, {3, b}, {2, c}, {4, c}, {2, d}, {3, d}, {3, c}};
    ASSERT_EQ(im.InputEvents().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(im.InputEvents()[i].kind, expected[i].first) << i;
        EXPECT_EQ(im.InputEvents()[i].value, expected[i].second) << i;
    }
    im.ClearInputEvents();
    EXPECT_TRUE(im.InputEvents().empty());

    // Ids keep rising across managers.
    InputManager other;
    other.TouchDown(1, 0, 0);
    EXPECT_GT(other.Taps()[0].id, d);
}

struct RoutingRecorder {
    std::vector<std::string> calls;
    bool takeDown = false, takeMove = false, takeUp = false;
    static bool Down(void* c, uint32_t tap, float, float) { return Record(c, "down", tap, &RoutingRecorder::takeDown); }
    static bool Move(void* c, uint32_t tap, float, float) { return Record(c, "move", tap, &RoutingRecorder::takeMove); }
    static bool Up(void* c, uint32_t tap, float, float) { return Record(c, "up", tap, &RoutingRecorder::takeUp); }
    static bool Record(void* c, const char* what, uint32_t tap, bool RoutingRecorder::*take) {
        auto* self = static_cast<RoutingRecorder*>(c);
        self->calls.push_back(std::string(what) + " " + std::to_string(tap));
        return self->*take;
    }
};

TEST_F(InputManagerTest, TouchesTakenByAScreenMakeNoTapAndNoEvent) {
    InputManager im;
    RoutingRecorder r;
    im.SetTouchRouting({&RoutingRecorder::Down, &RoutingRecorder::Move, &RoutingRecorder::Up, &r});
    r.takeDown = true;
    im.TouchDown(1, 0.5f, 0.5f);
    EXPECT_TRUE(im.Taps().empty());
    EXPECT_TRUE(im.InputEvents().empty());
    im.TouchMove(1, 0.6f, 0.6f);  // no tap: nothing offered
    ASSERT_EQ(r.calls.size(), 1u);

    r.takeDown = false;
    r.takeMove = true;
    im.TouchDown(2, 0.5f, 0.5f);
    ASSERT_EQ(im.Taps().size(), 1u);
    const uint32_t id = im.Taps()[0].id;
    im.TouchMove(2, 0.7f, 0.5f);
    r.takeUp = true;
    im.TouchUp(2, 0.7f, 0.5f);
    EXPECT_EQ(im.Taps()[0].state, TAP_RELEASED) << "a screen taking the release still ends the tap";
    const std::vector<std::string> calls = {"down " + std::to_string(id - 1), "down " + std::to_string(id),
                                            "move " + std::to_string(id), "up " + std::to_string(id)};
    EXPECT_EQ(r.calls, calls);
    ASSERT_EQ(im.InputEvents().size(), 1u);
    EXPECT_EQ(im.InputEvents()[0].kind, INPUTEVENT_TOUCH_TAPBEGIN);
}

TEST_F(InputManagerTest, MouseTapEmulationMakesOneTapPerPress) {
    auto im = Started();
    im->EnableMouseTapEmulation(true);
    im->PostMouseEvent(MOUSEEVENT_LEFT_DOWN, 0.2f, 0.2f);
    im->PostMouseEvent(MOUSEEVENT_LEFT_UP, 0.2f, 0.2f);
    im->PostMouseEvent(MOUSEEVENT_LEFT_DOWN, 0.3f, 0.3f);
    Frame(*im);
    ASSERT_EQ(im->Taps().size(), 1u);
    EXPECT_EQ(im->Taps()[0].start, Vector(0.2f, 0.2f, 0, 0));
    Frame(*im);  // released
    EXPECT_EQ(im->Taps()[0].state, TAP_RELEASED);
    Frame(*im);  // pressed again: a second tap
    ASSERT_EQ(im->Taps().size(), 2u);
    EXPECT_EQ(im->Taps()[1].start.x, 0.3f);
    Frame(*im);  // held: no new tap
    EXPECT_EQ(im->Taps().size(), 2u);
    im->EndFrame();
    ASSERT_EQ(im->Taps().size(), 1u);
    EXPECT_TRUE(im->IsTapStillActive(im->Taps()[0].id));

    // A right press and a double click in the same frames make their own taps.
    im->PostMouseEvent(MOUSEEVENT_RIGHT_DOUBLE, 0.5f, 0.5f);
    Frame(*im);
    EXPECT_EQ(im->Taps().size(), 2u);

    im->EnableMouseTapEmulation(false);
    im->PostMouseEvent(MOUSEEVENT_MIDDLE_DOWN, 0.5f, 0.5f);
    Frame(*im);
    EXPECT_EQ(im->Taps().size(), 2u);
}

// Element hit tests through the UI entries: a screen (any pointer) tracking one
// element at slot 3 whose area is x < 0.5.
int32_t FindSlot(UIScreen*, UIElement* element) { return element == reinterpret_cast<UIElement*>(0x10) ? 3 : -1; }
bool HitTest(UIScreen*, int32_t slot, const Vector& p) { return slot == 3 && p.x < 0.5f; }

TEST_F(InputManagerTest, TapsOverAnElement) {
    InputManager im;
    auto* screen = reinterpret_cast<UIScreen*>(0x20);
    auto* element = reinterpret_cast<UIElement*>(0x10);
    auto* untracked = reinterpret_cast<UIElement*>(0x30);
    im.TouchDown(1, 0.7f, 0.5f);
    im.TouchDown(2, 0.2f, 0.5f);
    EXPECT_EQ(im.GetNewTapForUIElement(screen, element), 0u) << "no UI: nothing is hit";
    gEngineServices.uiScreenFindTrackedEntitySlot = FindSlot;
    gEngineServices.uiScreenHitTestTrackedEntity = HitTest;
    const uint32_t second = im.Taps()[1].id;
    EXPECT_EQ(im.GetNewTapForUIElement(screen, untracked), 0u);
    EXPECT_EQ(im.GetNewTapForUIElement(screen, element), second);
    EXPECT_EQ(im.Taps()[1].state, TAP_RETRIEVED);
    EXPECT_EQ(im.GetNewTapForUIElement(screen, element), 0u);
    EXPECT_TRUE(im.IsTapWithinUIElement(second, screen, element));
    im.TouchMove(2, 0.8f, 0.5f);
    EXPECT_FALSE(im.IsTapWithinUIElement(second, screen, element));
    EXPECT_FALSE(im.IsTapWithinUIElement(second + 1, screen, element));
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
        EXPECT_EQ(hid::GetStickyKeys(), sticky) << "a feature the user left on is untouched";
        EXPECT_EQ(hid::GetToggleKeys().flags, 0x32u);
        EXPECT_EQ(hid::GetFilterKeys(), (hid::FilterKeys{0x72, 1000, 500, 500, 0}));
        im->SetAccessibilityKeys(true);
        EXPECT_EQ(hid::GetToggleKeys(), toggle);
        im->SetAccessibilityKeys(false);
        EXPECT_EQ(hid::GetToggleKeys().flags, 0x32u);
    }
    EXPECT_EQ(hid::GetStickyKeys(), sticky);
    EXPECT_EQ(hid::GetToggleKeys(), toggle);
    EXPECT_EQ(hid::GetFilterKeys(), filter);
}

TEST_F(InputManagerTest, FailuresLeaveInputReadingAsNothing) {
    CaptureLogSink sink;
    sink.Attach();
    hid::SetInputSystemFailure(true);
    InputManager im;
    EXPECT_FALSE(im.Init(1));
    im.InitDevices(1);
    ASSERT_EQ(sink.Messages().size(), 2u);
    EXPECT_EQ(sink.Messages()[0].text, "Unable to initialize DirectInput");
    EXPECT_EQ(sink.Messages()[0].severity, 4);
    EXPECT_EQ(sink.Messages()[0].category, 2);
    EXPECT_EQ(sink.Messages()[1].text, "Unable to initialize keyboard");
    EXPECT_EQ(sink.Messages()[1].severity, 4);
    hid::SetKeyDown(30, true);
    Frame(im);
    EXPECT_FALSE(im.IsKeyPressed(30));
    char name[16];
    EXPECT_FALSE(im.Keyboard()->GetKeyName(30, name, sizeof(name)));

    // Only the keyboard failing.
    sink.Clear();
    hid::SetInputSystemFailure(false);
    hid::SetKeyboardCreationFailure(true);
    auto second = Started();
    ASSERT_EQ(sink.Messages().size(), 1u);
    EXPECT_EQ(sink.Messages()[0].text, "Unable to initialize keyboard");
    Frame(*second);
    EXPECT_FALSE(second->IsKeyPressed(30));

    // A window behind another at start-up still gets its keyboard once in front.
    sink.Clear();
    hid::SetKeyboardCreationFailure(false);
    hid::SetForeground(false);
    auto third = Started();
    EXPECT_TRUE(sink.Messages().empty());
    hid::SetForeground(true);
    Frame(*third);
    EXPECT_TRUE(third->IsKeyPressed(30));
    ASSERT_TRUE(third->Keyboard()->GetKeyName(30, name, sizeof(name)));
    EXPECT_STREQ(name, "A");
}

std::u16string gText;
UITextBase* gTextTarget = nullptr;
void SetText(UITextBase* t, const char16_t* s) {
    gTextTarget = t;
    gText = s ? s : u"";
}
void AppendText(UITextBase* t, const char16_t* s) {
    gTextTarget = t;
    gText += s;
}

TEST_F(InputManagerTest, ControllerNamesGoToUIText) {
    auto* text = reinterpret_cast<UITextBase*>(0x40);
    hid::ConnectGameDevice({.instanceName = "Flight Stick \xC3\x9C"});
    auto im = Started();
    im->AppendDIDeviceName(text, true);  // no UI yet: nothing written, no crash
    gEngineServices.uiTextSetTextUnicharPtr = SetText;
    gEngineServices.uiTextAppendText = AppendText;
    gText = u"old ";
    im->AppendDIDeviceName(text, false);
    EXPECT_EQ(gText, u"old Flight Stick \u00dc");
    EXPECT_EQ(gTextTarget, text);
    im->AppendDIKeyName(text, 3, true);
    EXPECT_EQ(gText, u"Button 3");
    im->AppendDIKeyName(text, 33, false);
    EXPECT_EQ(gText, u"Button 3");
    im->ReleaseGameControllers();
    im->AppendDIDeviceName(text, true);
    EXPECT_EQ(gText, u"");
}

}  // namespace
