// test-sanitize: address
// The headless window layer: events and their payloads through the queue and the
// window procedure, placement with the two frames, show states and focus, display
// modes, the cursor and touch records.
#include <gtest/gtest.h>

#include <vector>

#include "platform/window/Window.h"

namespace {

using namespace wnd;

class WindowTest : public testing::Test {
protected:
    void SetUp() override { ResetWindowLayer(); }
    void TearDown() override { ResetWindowLayer(); }

    // The program's main window as it is first created: a popup at 100,100, 800 x 480.
    static WindowHandle MakeMainWindow() {
        return CreateWindow({.className = "TestClass",
                             .title = "???",
                             .style = kStylePopup | kStyleClipSiblings | kStyleClipChildren,
                             .x = 100,
                             .y = 100,
                             .width = 800,
                             .height = 480});
    }

    static std::vector<Event> Drain() {
        std::vector<Event> out;
        Event e;
        while (PeekEvent(&e)) out.push_back(e);
        return out;
    }
};

Event Ev(EventKind kind, WindowHandle w, uint32_t code = 0, int32_t x = 0, int32_t y = 0) {
    Event e;
    e.kind = kind;
    e.window = w;
    e.code = code;
    e.x = x;
    e.y = y;
    return e;
}

Event ButtonEv(EventKind kind, WindowHandle w, MouseButton button, int32_t x, int32_t y, bool fromTouch) {
    Event e = Ev(kind, w, 0, x, y);
    e.button = button;
    e.fromTouch = fromTouch;
    return e;
}

Event WheelEv(WindowHandle w, int32_t delta) {
    Event e = Ev(EventKind::Wheel, w);
    e.wheelDelta = delta;
    return e;
}

Event SizingEv(WindowHandle w, uint32_t edge, Rect rect) {
    Event e = Ev(EventKind::Sizing, w, edge);
    e.rect = rect;
    return e;
}

// Records every event it is given and answers per kind.
struct Recorder {
    std::vector<Event> events;
    static int64_t Procedure(Event& e, void* context) {
        auto* self = static_cast<Recorder*>(context);
        self->events.push_back(e);
        if (e.kind == EventKind::TabletGestureQuery) return 0x01198319;
        if (e.kind == EventKind::Sizing) e.rect.right = e.rect.left + 1000;  // the procedure rewrites it
        if (e.kind == EventKind::SetCursor) return 1;
        return DefaultProcedure(e);
    }
};

TEST_F(WindowTest, EveryEventKindReachesTheProcedureWithItsPayload) {
    const WindowHandle w = MakeMainWindow();
    Recorder recorder;
    ASSERT_TRUE(SetWindowProcedure(w, &Recorder::Procedure, &recorder));
    const std::vector<Event> posted = {
        Ev(EventKind::Destroy, w),
        Ev(EventKind::Move, w, 0, 12, -3),
        Ev(EventKind::Size, w, kSizeMaximized, 1920, 1080),
        Ev(EventKind::Activate, w, kActivateActive),
        Ev(EventKind::Paint, w),
        Ev(EventKind::SetCursor, w, 0, 150, 160),
        Ev(EventKind::KeyDown, w, 13),
        Ev(EventKind::Char, w, 0xD83D),
        Ev(EventKind::SysCommand, w, kSysCommandKeyMenu),
        Ev(EventKind::MouseMove, w, 0, 400, 240),
        ButtonEv(EventKind::ButtonDown, w, MouseButton::Right, 1, 2, false),
        ButtonEv(EventKind::ButtonUp, w, MouseButton::Middle, 3, 4, true),
        ButtonEv(EventKind::ButtonDoubleClick, w, MouseButton::Left, 5, 6, false),
        WheelEv(w, -240),
        SizingEv(w, 8, {10, 20, 30, 40}),
        Ev(EventKind::DeviceChange, w, kDeviceNodesChanged),
        Ev(EventKind::TabletGestureQuery, w),
    };
    for (const Event& e : posted) ASSERT_TRUE(PostEvent(e));
    const TouchContact contacts[2] = {{1050, 2075, 7, kTouchDown}, {-100, 0, 8, kTouchMove | kTouchUp}};
    ASSERT_TRUE(PostTouchEvent(w, contacts, 2));
    ASSERT_EQ(PendingEventCount(), posted.size() + 1);

    std::vector<int64_t> results;
    Event e;
    while (PeekEvent(&e)) results.push_back(DispatchEvent(e));
    // Then the touch event, and the move and size the sizing rectangle caused.
    ASSERT_EQ(recorder.events.size(), posted.size() + 3);
    for (size_t i = 0; i < posted.size(); ++i) {
        SCOPED_TRACE(i);
        const Event& got = recorder.events[i];
        EXPECT_EQ(got.kind, posted[i].kind);
        EXPECT_EQ(got.window, w);
        EXPECT_EQ(got.code, posted[i].code);
        EXPECT_EQ(got.x, posted[i].x);
        EXPECT_EQ(got.y, posted[i].y);
        EXPECT_EQ(got.wheelDelta, posted[i].wheelDelta);
        EXPECT_EQ(got.button, posted[i].button);
        EXPECT_EQ(got.fromTouch, posted[i].fromTouch);
        EXPECT_EQ(got.rect, posted[i].rect);
    }
    EXPECT_EQ(results[5], 1);            // set-cursor answered by the procedure
    EXPECT_EQ(results[16], 0x01198319);  // the tablet query's answer comes back

    const Event& touch = recorder.events[posted.size()];
    EXPECT_EQ(touch.kind, EventKind::Touch);
    EXPECT_EQ(touch.code, 2u);
    // The default procedure closed the contact handle after the recorder saw it.
    EXPECT_EQ(OpenTouchHandleCount(), 0u);
    TouchContact out[2];
    EXPECT_FALSE(GetTouchInputInfo(touch.touch, 2, out));
}

TEST_F(WindowTest, SizingRectangleWrittenByTheProcedureBecomesTheWindow) {
    const WindowHandle w = MakeMainWindow();
    Recorder recorder;
    SetWindowProcedure(w, &Recorder::Procedure, &recorder);
    Drain();
    Event e = SizingEv(w, 2, {50, 60, 70, 600});
    DispatchEvent(e);
    Rect r;
    ASSERT_TRUE(GetWindowRect(w, &r));
    EXPECT_EQ(r, (Rect{50, 60, 1050, 600}));
    const std::vector<Event> follow = Drain();  // the placement it caused
    ASSERT_EQ(follow.size(), 2u);
    EXPECT_EQ(follow[0].kind, EventKind::Move);
    EXPECT_EQ(follow[1].kind, EventKind::Size);
    EXPECT_EQ(follow[1].x, 1000);
    EXPECT_EQ(follow[1].y, 540);
}

TEST_F(WindowTest, TouchContactsAreKeptUntilClosed) {
    const WindowHandle w = MakeMainWindow();
    std::vector<TouchContact> many(200);
    for (uint32_t i = 0; i < many.size(); ++i) many[i] = {int32_t(i * 100), 50, i, kTouchDown};
    ASSERT_TRUE(PostTouchEvent(w, many.data(), 200));
    Event e;
    ASSERT_TRUE(PeekEvent(&e));
    EXPECT_EQ(e.code, 200u);
    std::vector<TouchContact> out(128);
    ASSERT_TRUE(GetTouchInputInfo(e.touch, 128, out.data()));  // a reader may take fewer
    EXPECT_EQ(out[127].id, 127u);
    EXPECT_EQ(out[127].x, 12700);
    EXPECT_TRUE(CloseTouchInputHandle(e.touch));
    EXPECT_FALSE(CloseTouchInputHandle(e.touch));

    EXPECT_FALSE(PostTouchEvent(w, many.data(), 0));
    EXPECT_FALSE(PostTouchEvent(w, nullptr, 1));
    EXPECT_FALSE(PostTouchEvent(w + 1, many.data(), 1));
    // Handles nobody closes are bounded.
    for (uint32_t i = 0; i < kMaxOpenTouchHandles; ++i) ASSERT_TRUE(PostTouchEvent(w, many.data(), 1));
    EXPECT_FALSE(PostTouchEvent(w, many.data(), 1));
    // Destroying the window closes the handles it still holds, read or not.
    DestroyWindow(w);
    while (PeekEvent(&e))
        if (e.kind == EventKind::Destroy) DispatchEvent(e);
    EXPECT_EQ(OpenTouchHandleCount(), 0u);
}

TEST_F(WindowTest, FramesAndStyleSwitchGiveTheRequestedClientSize) {
    Rect empty{};
    ASSERT_TRUE(AdjustWindowRect(&empty, kStyleOverlappedWindow, 0));
    EXPECT_EQ(empty.Width(), 16);
    EXPECT_EQ(empty.Height(), 39);
    Rect popup{};
    ASSERT_TRUE(AdjustWindowRect(&popup, kStylePopup, kExStyleTopmost));
    EXPECT_EQ(popup, Rect{});
    EXPECT_FALSE(AdjustWindowRect(nullptr, 0, 0));

    const WindowHandle w = MakeMainWindow();
    Rect client;
    ASSERT_TRUE(GetClientRect(w, &client));
    EXPECT_EQ(client, (Rect{0, 0, 800, 480}));

    // Windowed: the framed style, the adjusted rectangle centred, not topmost.
    SetWindowStyle(w, (GetWindowStyle(w) & 0x7F30FFFF) | 0x00CF0000);
    GetClientRect(w, &client);
    EXPECT_EQ(client.Width(), 800) << "the frame changes only with the frame-changed placement";
    Rect outer{0, 0, 1280, 720};
    AdjustWindowRect(&outer, GetWindowStyle(w), GetWindowExStyle(w));
    const int32_t x = (GetScreenWidth() - outer.Width()) / 2, y = (GetScreenHeight() - outer.Height()) / 2;
    Drain();
    ASSERT_TRUE(SetWindowPos(w, ZOrder::NotTopmost, x, y, outer.Width(), outer.Height(), kPosFrameChanged));
    GetClientRect(w, &client);
    EXPECT_EQ(client, (Rect{0, 0, 1280, 720}));
    Rect window;
    GetWindowRect(w, &window);
    EXPECT_EQ(window, (Rect{312, 160, 1608, 919}));
    EXPECT_EQ(GetWindowExStyle(w) & kExStyleTopmost, 0u);
    std::vector<Event> placed = Drain();
    ASSERT_EQ(placed.size(), 2u);
    EXPECT_EQ(placed[0].kind, EventKind::Move);
    EXPECT_EQ(placed[0].x, 320);
    EXPECT_EQ(placed[0].y, 191);
    EXPECT_EQ(placed[1].kind, EventKind::Size);
    EXPECT_EQ(placed[1].code, kSizeRestored);
    EXPECT_EQ(placed[1].x, 1280);
    EXPECT_EQ(placed[1].y, 720);

    // Full screen: the popup style, topmost, the whole screen.
    SetWindowStyle(w, (GetWindowStyle(w) & ~0x00CF0000u) | kStylePopup);
    ASSERT_TRUE(SetWindowPos(w, ZOrder::Topmost, 0, 0, 1920, 1080, kPosFrameChanged));
    GetClientRect(w, &client);
    EXPECT_EQ(client, (Rect{0, 0, 1920, 1080}));
    EXPECT_NE(GetWindowExStyle(w) & kExStyleTopmost, 0u);

    // A placement that changes nothing posts nothing; a frame change alone moves the
    // client area and says so.
    Drain();
    SetWindowPos(w, ZOrder::Unchanged, 0, 0, 0, 0, kPosNoMove | kPosNoSize);
    EXPECT_EQ(PendingEventCount(), 0u);
    SetWindowStyle(w, kStyleOverlappedWindow);
    SetWindowPos(w, ZOrder::Unchanged, 0, 0, 0, 0, kPosNoMove | kPosNoSize | kPosFrameChanged);
    placed = Drain();
    ASSERT_EQ(placed.size(), 2u);
    EXPECT_EQ(placed[1].x, 1920 - 16);
    EXPECT_EQ(placed[1].y, 1080 - 39);
}

TEST_F(WindowTest, ClientAndScreenCoordinates) {
    const WindowHandle popup = MakeMainWindow();
    const WindowHandle framed = CreateWindow(
        {.className = "Other", .style = kStyleOverlappedWindow, .x = -20, .y = 40, .width = 300, .height = 200});
    struct Case {
        WindowHandle window;
        Point client, screen;
    };
    const Case cases[] = {
        {popup, {0, 0}, {100, 100}},
        {popup, {799, 479}, {899, 579}},
        {popup, {-5, 7}, {95, 107}},
        {framed, {0, 0}, {-12, 71}},
        {framed, {10, -80}, {-2, -9}},
    };
    for (const Case& c : cases) {
        Point p = c.client;
        ASSERT_TRUE(ClientToScreen(c.window, &p));
        EXPECT_EQ(p, c.screen);
        ASSERT_TRUE(ScreenToClient(c.window, &p));
        EXPECT_EQ(p, c.client);
    }
    Point p;
    EXPECT_FALSE(ClientToScreen(0, &p));
    EXPECT_FALSE(ScreenToClient(popup, nullptr));
}

TEST_F(WindowTest, ShowStatesAndFocus) {
    const WindowHandle w = MakeMainWindow();
    EXPECT_EQ(GetShowState(w), ShowState::Hidden);
    EXPECT_FALSE(ShowWindow(w, kShowDefault));
    EXPECT_EQ(GetShowState(w), ShowState::Normal);
    ASSERT_TRUE(SetFocus(w));
    EXPECT_EQ(GetFocus(), w);
    std::vector<Event> events = Drain();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, EventKind::Activate);
    EXPECT_EQ(events[0].code, kActivateActive);

    // Minimised: no client area and no focus.
    EXPECT_TRUE(ShowWindow(w, kShowMinimized));
    Rect client;
    GetClientRect(w, &client);
    EXPECT_EQ(client, Rect{});
    EXPECT_EQ(GetFocus(), 0u);
    events = Drain();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, EventKind::Activate);
    EXPECT_EQ(events[0].code, kActivateInactive);
    EXPECT_EQ(events[1].kind, EventKind::Size);
    EXPECT_EQ(events[1].code, kSizeMinimized);
    EXPECT_EQ(events[1].x, 0);

    // Maximised fills the screen; restore brings the old rectangle back and counts.
    ShowWindow(w, kShowMaximized);
    GetClientRect(w, &client);
    EXPECT_EQ(client, (Rect{0, 0, 1920, 1080}));
    ShowWindow(w, kShowRestore);
    Rect r;
    GetWindowRect(w, &r);
    EXPECT_EQ(r, (Rect{100, 100, 900, 580}));
    EXPECT_EQ(GetRequests().restores, 1u);
    events = Drain();
    ASSERT_EQ(events.size(), 4u);  // move and size to the screen, and back
    EXPECT_EQ(events[1].code, kSizeMaximized);
    EXPECT_EQ(events[3].code, kSizeRestored);
    EXPECT_EQ(events[3].x, 800);

    EXPECT_FALSE(SetFocus(w + 5));
    EXPECT_FALSE(SetForegroundWindow(0));
    EXPECT_TRUE(SetForegroundWindow(w));
    EXPECT_EQ(GetFocus(), w);
}

TEST_F(WindowTest, FindDestroyTitleAndRequests) {
    const WindowHandle w = MakeMainWindow();
    EXPECT_EQ(FindWindow("TestClass"), w);
    EXPECT_EQ(FindWindow("testclass"), 0u);
    EXPECT_STREQ(GetWindowText(w), "???");
    SetWindowText(w, "Title");
    EXPECT_STREQ(GetWindowText(w), "Title");

    EXPECT_TRUE(FlashWindowEx(w, kFlashAll | kFlashTimerNoForeground, 1000, 0));
    MessageBeep(0);
    EXPECT_EQ(GetRequests().flashes, 1u);
    EXPECT_EQ(GetRequests().lastFlash.flags, 15u);
    EXPECT_EQ(GetRequests().lastFlash.count, 1000u);
    EXPECT_EQ(GetRequests().beeps, 1u);

    SetFocus(w);
    Drain();
    // A destroyed window lasts until its Destroy event has been dispatched.
    ASSERT_TRUE(DestroyWindow(w));
    EXPECT_FALSE(DestroyWindow(w));
    EXPECT_EQ(GetFocus(), 0u);
    EXPECT_EQ(FindWindow("TestClass"), 0u);
    EXPECT_TRUE(IsWindow(w));
    PostEvent(Ev(EventKind::Paint, w));
    Event e;
    ASSERT_TRUE(PeekEvent(&e));
    EXPECT_EQ(e.kind, EventKind::Destroy);
    DispatchEvent(e);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(PendingEventCount(), 0u) << "the destroyed window's queued events go with it";
    EXPECT_FALSE(PostEvent(Ev(EventKind::Paint, w)));
    EXPECT_EQ(DispatchEvent(e), 0);
}

TEST_F(WindowTest, EventQueueIsBounded) {
    const WindowHandle w = MakeMainWindow();
    uint32_t posted = 0;
    while (PostEvent(Ev(EventKind::Paint, w))) ++posted;
    EXPECT_EQ(posted, 4096u);
    EXPECT_FALSE(PostEvent(Ev(EventKind::Paint, 0)));
}

TEST_F(WindowTest, DisplayModeChangeRestoreAndFailure) {
    DisplayMode desktop;
    ASSERT_TRUE(EnumDisplaySettings(kCurrentSettings, &desktop));
    EXPECT_EQ(desktop.width, 1920u);
    EXPECT_EQ(desktop.fields, kModeBitsPerPixel | kModePixelWidth | kModePixelHeight | kModeFrequency);

    struct Case {
        uint32_t fields, width, height, bits, frequency;
        int32_t result;
        int32_t screenWidth, screenHeight;
    };
    // Each case starts from the mode the previous one left in force.
    const Case cases[] = {
        {kModePixelWidth | kModePixelHeight, 1280, 720, 0, 0, kDisplayChangeSuccessful, 1280, 720},
        {kModePixelWidth | kModePixelHeight, 1281, 720, 0, 0, kDisplayChangeBadMode, 1280, 720},
        {kModePixelWidth, 800, 9999, 0, 0, kDisplayChangeBadMode, 1280, 720},  // height from the mode in force
        {kModePixelWidth | kModePixelHeight | kModeBitsPerPixel, 800, 600, 16, 0, kDisplayChangeBadMode, 1280, 720},
        {kModePixelWidth | kModePixelHeight | kModeFrequency, 800, 600, 0, 75, kDisplayChangeBadMode, 1280, 720},
        {kModePixelWidth | kModePixelHeight | kModeFrequency, 800, 600, 0, 60, kDisplayChangeSuccessful, 800, 600},
        {0, 0, 0, 0, 0, kDisplayChangeSuccessful, 800, 600},  // nothing marked: the mode in force
    };
    for (const Case& c : cases) {
        DisplayMode m{c.fields, c.bits, c.width, c.height, c.frequency};
        EXPECT_EQ(ChangeDisplaySettings(&m), c.result) << c.width << "x" << c.height;
        EXPECT_EQ(GetScreenWidth(), c.screenWidth);
        EXPECT_EQ(GetScreenHeight(), c.screenHeight);
    }
    EXPECT_EQ(DisplayChangeCount(), 3u);

    // Failure injected: nothing changes, restoring included.
    SetDisplayChangeFailure(true);
    EXPECT_EQ(ChangeDisplaySettings(&desktop), kDisplayChangeFailed);
    EXPECT_EQ(ChangeDisplaySettings(nullptr), kDisplayChangeFailed);
    EXPECT_EQ(GetScreenWidth(), 800);
    SetDisplayChangeFailure(false);
    // Restoring the saved desktop mode, then through null.
    EXPECT_EQ(ChangeDisplaySettings(&desktop), kDisplayChangeSuccessful);
    EXPECT_EQ(GetScreenWidth(), 1920);
    DisplayMode small{kModePixelWidth | kModePixelHeight, 0, 1024, 768, 0};
    ChangeDisplaySettings(&small);
    EXPECT_EQ(ChangeDisplaySettings(nullptr), kDisplayChangeSuccessful);
    EXPECT_EQ(GetScreenHeight(), 1080);
    DisplayMode registry;
    ASSERT_TRUE(EnumDisplaySettings(kRegistrySettings, &registry));
    EXPECT_EQ(registry.height, 1080u);

    // A configured list; the present frequency is preferred when none is asked.
    const DisplayMode list[] = {{0, 32, 640, 480, 75}, {0, 32, 640, 480, 60}, {0, 32, 1024, 768, 60}};
    ASSERT_TRUE(SetDisplayModes(list, 3, 2));
    EXPECT_EQ(GetScreenWidth(), 1024);
    DisplayMode vga{kModePixelWidth | kModePixelHeight, 0, 640, 480, 0};
    ASSERT_EQ(ChangeDisplaySettings(&vga), kDisplayChangeSuccessful);
    DisplayMode now;
    EnumDisplaySettings(kCurrentSettings, &now);
    EXPECT_EQ(now.frequency, 60u);
    EXPECT_FALSE(EnumDisplaySettings(3, &now));
    EXPECT_TRUE(EnumDisplaySettings(0, &now));
    EXPECT_EQ(now.frequency, 75u);
    EXPECT_FALSE(SetDisplayModes(list, 3, 3));
    EXPECT_FALSE(SetDisplayModes(list, 0, 0));
}

TEST_F(WindowTest, CursorCounterClipPositionAndImages) {
    EXPECT_EQ(GetCursorDisplayCounter(), 0);
    EXPECT_EQ(ShowCursor(false), -1);
    EXPECT_EQ(ShowCursor(false), -2);
    EXPECT_EQ(ShowCursor(true), -1);
    EXPECT_EQ(ShowCursor(true), 0);
    EXPECT_EQ(ShowCursor(true), 1);

    EXPECT_EQ(GetCursorPos(), (Point{960, 540}));
    Rect clip;
    EXPECT_FALSE(GetClipCursor(&clip));
    EXPECT_EQ(clip, (Rect{0, 0, 1920, 1080}));
    const Rect area{100, 200, 300, 400};
    ASSERT_TRUE(ClipCursor(&area));
    EXPECT_EQ(GetCursorPos(), (Point{299, 399})) << "clipping pulls the cursor inside";
    struct Case {
        Point set, held;
    };
    const Case cases[] = {{{150, 250}, {150, 250}}, {{100, 200}, {100, 200}}, {{300, 400}, {299, 399}},
                          {{-5, 1000}, {100, 399}}};
    for (const Case& c : cases) {
        SetCursorPos(c.set.x, c.set.y);
        EXPECT_EQ(GetCursorPos(), c.held);
    }
    ASSERT_TRUE(GetClipCursor(&clip));
    EXPECT_EQ(clip, area);
    const Rect empty{5, 5, 5, 50};
    EXPECT_FALSE(ClipCursor(&empty));
    const Rect offScreen{1900, 1000, 5000, 5000};
    ASSERT_TRUE(ClipCursor(&offScreen));
    GetClipCursor(&clip);
    EXPECT_EQ(clip, (Rect{1900, 1000, 1920, 1080}));
    ASSERT_TRUE(ClipCursor(nullptr));
    EXPECT_FALSE(GetClipCursor(&clip));
    SetCursorPos(5000, -5);
    EXPECT_EQ(GetCursorPos(), (Point{1919, 0}));

    CursorImage image{};
    image.pixels[0] = 0xFF102030;
    image.hotspotX = 31;
    image.hotspotY = 0;
    const CursorHandle c = CreateCursor(image);
    ASSERT_NE(c, 0u);
    image.hotspotX = 32;
    EXPECT_EQ(CreateCursor(image), 0u);
    EXPECT_EQ(SetCursor(c), kArrowCursor);
    EXPECT_EQ(GetCursor(), c);
    CursorImage back{};
    ASSERT_TRUE(GetCursorImage(c, &back));
    EXPECT_EQ(back.pixels[0], 0xFF102030u);
    EXPECT_EQ(back.hotspotX, 31);
    EXPECT_FALSE(DestroyCursor(kArrowCursor));
    EXPECT_TRUE(DestroyCursor(c));
    EXPECT_EQ(GetCursor(), 0u);
    EXPECT_EQ(SetCursor(c), 0u);
    EXPECT_EQ(GetCursor(), 0u) << "an unknown cursor sets none";

    // The default procedure puts the arrow back for set-cursor.
    const WindowHandle w = MakeMainWindow();
    Event e = Ev(EventKind::SetCursor, w);
    EXPECT_EQ(DispatchEvent(e), 0);
    EXPECT_EQ(GetCursor(), kArrowCursor);
    EXPECT_EQ(DefaultHandledCount(EventKind::SetCursor), 1u);
}

TEST_F(WindowTest, CtrlStateAndDoubleClickTime) {
    EXPECT_FALSE(IsCtrlKeyDown());
    SetCtrlKeyDown(true);
    EXPECT_TRUE(IsCtrlKeyDown());
    EXPECT_EQ(GetDoubleClickTime(), 500u);
}

}  // namespace
