// test-sanitize: address
// The headless window layer: events, placement, show states, display modes, cursor, touch.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "platform/window/Window.h"

namespace {

using namespace wnd;

class WindowTest : public testing::Test {
protected:
    void SetUp() override { ResetWindowLayer(); }
    void TearDown() override { ResetWindowLayer(); }
};

// The program's main window as it is first created: a popup at 100,100, 800 x 480.
WindowHandle MakeMainWindow() {
    return CreateWindow({.className = "TestClass", .title = "???", .style = kStylePopup | kStyleClipSiblings,
                         .x = 100, .y = 100, .width = 800, .height = 480});
}

Event Ev(EventKind kind, WindowHandle w, uint32_t code = 0, int32_t x = 0, int32_t y = 0) {
    Event e;
    e.kind = kind, e.window = w, e.code = code, e.x = x, e.y = y;
    return e;
}

// Kind, code, x, y of each queued event, draining the queue.
using Summary = std::vector<std::tuple<EventKind, uint32_t, int32_t, int32_t>>;
Summary Drain() {
    Summary out;
    for (Event e; PeekEvent(&e);) out.emplace_back(e.kind, e.code, e.x, e.y);
    return out;
}

// Records every event and answers a few kinds as the program's procedure does.
std::vector<Event> gSeen;
int64_t Procedure(Event& e, void*) {
    gSeen.push_back(e);
    if (e.kind == EventKind::TabletGestureQuery) return 0x01198319;
    if (e.kind == EventKind::Sizing) e.rect.right = e.rect.left + 1000;
    return e.kind == EventKind::SetCursor ? 1 : DefaultProcedure(e);
}

TEST_F(WindowTest, EveryEventKindReachesTheProcedureWithItsPayload) {
    const WindowHandle w = MakeMainWindow();
    ASSERT_TRUE(SetWindowProcedure(w, &Procedure, nullptr));
    gSeen.clear();
    std::vector<Event> posted = {
        Ev(EventKind::Destroy, w), Ev(EventKind::Move, w, 0, 12, -3), Ev(EventKind::Size, w, kSizeMaximized, 1920, 1080),
        Ev(EventKind::Activate, w, kActivateActive), Ev(EventKind::Paint, w), Ev(EventKind::SetCursor, w, 0, 150, 160),
        Ev(EventKind::KeyDown, w, 13), Ev(EventKind::Char, w, 0xD83D), Ev(EventKind::SysCommand, w, kSysCommandKeyMenu),
        Ev(EventKind::MouseMove, w, 0, 400, 240), Ev(EventKind::ButtonDown, w, 0, 1, 2), Ev(EventKind::ButtonUp, w, 0, 3, 4),
        Ev(EventKind::ButtonDoubleClick, w, 0, 5, 6), Ev(EventKind::Wheel, w), Ev(EventKind::Sizing, w, 8),
        Ev(EventKind::DeviceChange, w, kDeviceNodesChanged), Ev(EventKind::TabletGestureQuery, w)};
    posted[10].button = MouseButton::Right;
    posted[11].button = MouseButton::Middle;
    posted[11].fromTouch = true;
    posted[13].wheelDelta = -240;
    posted[14].rect = {50, 60, 70, 600};
    for (const Event& e : posted) ASSERT_TRUE(PostEvent(e));
    const TouchContact contacts[2] = {{1050, 2075, 7, kTouchDown}, {-100, 0, 8, kTouchMove | kTouchUp}};
    ASSERT_TRUE(PostTouchEvent(w, contacts, 2));

    std::vector<int64_t> results;
    for (Event e; PeekEvent(&e);) results.push_back(DispatchEvent(e));
    // Then the touch event, and the move and size that the rewritten sizing rectangle caused.
    ASSERT_EQ(gSeen.size(), posted.size() + 3);
    auto fields = [](const Event& e) {
        return std::tie(e.kind, e.window, e.code, e.x, e.y, e.wheelDelta, e.button, e.fromTouch, e.rect);
    };
    for (size_t i = 0; i < posted.size(); ++i) EXPECT_TRUE(fields(gSeen[i]) == fields(posted[i])) << i;
    EXPECT_EQ(std::make_tuple(results[5], results[16]), std::make_tuple(int64_t(1), int64_t(0x01198319)));
    Rect r;
    GetWindowRect(w, &r);
    EXPECT_EQ(r, (Rect{50, 60, 1050, 600})) << "the procedure's sizing rectangle becomes the window";
    EXPECT_EQ(std::make_tuple(gSeen.back().kind, gSeen.back().x), std::make_tuple(EventKind::Size, 1000));

    // The touch contacts stay readable until the default procedure closes the handle.
    const Event& touch = gSeen[posted.size()];
    EXPECT_EQ(std::make_tuple(touch.kind, touch.code), std::make_tuple(EventKind::Touch, 2u));
    TouchContact out[2];
    EXPECT_FALSE(GetTouchInputInfo(touch.touch, 2, out));
    EXPECT_EQ(OpenTouchHandleCount(), 0u);
}

TEST_F(WindowTest, TouchRecordsAndTheQueueAreBounded) {
    const WindowHandle w = MakeMainWindow();
    std::vector<TouchContact> many(200);
    for (uint32_t i = 0; i < many.size(); ++i) many[i] = {int32_t(i * 100), 50, i, kTouchDown};
    ASSERT_TRUE(PostTouchEvent(w, many.data(), 200));
    Event e;
    ASSERT_TRUE(PeekEvent(&e));
    std::vector<TouchContact> out(128);
    ASSERT_TRUE(GetTouchInputInfo(e.touch, 128, out.data()));  // a reader may take fewer
    EXPECT_EQ(std::make_tuple(e.code, out[127].id, out[127].x), std::make_tuple(200u, 127u, 12700));
    EXPECT_TRUE(CloseTouchInputHandle(e.touch) && !CloseTouchInputHandle(e.touch));
    EXPECT_FALSE(PostTouchEvent(w, many.data(), 0) || PostTouchEvent(w, nullptr, 1) || PostTouchEvent(w + 1, many.data(), 1));
    for (uint32_t i = 0; i < kMaxOpenTouchHandles; ++i) ASSERT_TRUE(PostTouchEvent(w, many.data(), 1));
    EXPECT_FALSE(PostTouchEvent(w, many.data(), 1));
    Drain();
    uint32_t posted = 0;
    while (PostEvent(Ev(EventKind::Paint, w))) ++posted;
    EXPECT_EQ(posted, 4096u);

    // A destroyed window lasts until its Destroy event is dispatched; its queued events and touch handles go with it.
    SetFocus(w);
    Drain();
    ASSERT_TRUE(DestroyWindow(w) && !DestroyWindow(w));
    EXPECT_EQ(std::make_tuple(GetFocus(), FindWindow("TestClass")), std::make_tuple(0u, 0u));
    PostEvent(Ev(EventKind::Paint, w));
    Event d;
    ASSERT_TRUE(PeekEvent(&d) && d.kind == EventKind::Destroy && IsWindow(w));
    DispatchEvent(d);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(std::make_tuple(PendingEventCount(), OpenTouchHandleCount()), std::make_tuple(0u, 0u));
    EXPECT_FALSE(PostEvent(Ev(EventKind::Paint, w)));
    EXPECT_EQ(DispatchEvent(d), 0);
}

TEST_F(WindowTest, CreationKeepsItsDescriptionAndUnknownWindowsAreRefused) {
    const WindowHandle w = MakeMainWindow();
    EXPECT_EQ(FindWindow("TestClass"), w);
    const WindowHandle flat = CreateWindow({.className = "Flat", .x = 5, .y = 6, .width = -3, .height = -4});
    Rect r;
    ASSERT_TRUE(GetWindowRect(flat, &r));
    EXPECT_EQ(r, (Rect{5, 6, 5, 6})) << "negative sizes are empty";
    Drain();
    ASSERT_TRUE(UpdateWindow(w));
    EXPECT_EQ(Drain(), (Summary{{EventKind::Paint, 0, 0, 0}}));
    const WindowHandle none = w + flat + 1;
    Point p{};
    EXPECT_FALSE(MoveWindow(none, 0, 0, 10, 10, true) || UpdateWindow(none) || GetWindowRect(none, &r) ||
                 ClientToScreen(none, &p) || SetWindowPos(none, ZOrder::Unchanged, 0, 0, 10, 10, 0));
    EXPECT_EQ(std::make_tuple(GetWindowStyle(none), GetWindowExStyle(none), FindWindow(nullptr), FindWindow("")),
              std::make_tuple(0u, 0u, 0u, 0u));
}

TEST_F(WindowTest, FramesStylesAndCoordinates) {
    Rect empty{}, popup{};
    ASSERT_TRUE(AdjustWindowRect(&empty, kStyleOverlappedWindow, 0) && AdjustWindowRect(&popup, kStylePopup, kExStyleTopmost));
    EXPECT_EQ(std::make_tuple(empty, popup), std::make_tuple(Rect{-8, -31, 8, 8}, Rect{}));

    // Windowed: the framed style, the adjusted rectangle centred, not topmost. The
    // frame changes only with the frame-changed placement.
    const WindowHandle w = MakeMainWindow();
    Rect client, window;
    SetWindowStyle(w, (GetWindowStyle(w) & 0x7F30FFFF) | 0x00CF0000);
    GetClientRect(w, &client);
    EXPECT_EQ(client, (Rect{0, 0, 800, 480}));
    Rect outer{0, 0, 1280, 720};
    AdjustWindowRect(&outer, GetWindowStyle(w), GetWindowExStyle(w));
    const int32_t x = (GetScreenWidth() - outer.Width()) / 2, y = (GetScreenHeight() - outer.Height()) / 2;
    ASSERT_TRUE(SetWindowPos(w, ZOrder::NotTopmost, x, y, outer.Width(), outer.Height(), kPosFrameChanged));
    GetClientRect(w, &client);
    GetWindowRect(w, &window);
    EXPECT_EQ(std::make_tuple(client, window, GetWindowExStyle(w) & kExStyleTopmost),
              std::make_tuple(Rect{0, 0, 1280, 720}, Rect{312, 160, 1608, 919}, 0u));
    EXPECT_EQ(Drain(), (Summary{{EventKind::Move, 0, 320, 191}, {EventKind::Size, kSizeRestored, 1280, 720}}));
    const Point pairs[][2] = {{{0, 0}, {320, 191}}, {{-30, 10}, {290, 201}}};
    for (const auto& c : pairs) {
        Point p = c[0];
        ASSERT_TRUE(ClientToScreen(w, &p));
        EXPECT_EQ(p, c[1]);
        ASSERT_TRUE(ScreenToClient(w, &p));
        EXPECT_EQ(p, c[0]);
    }

    // Maximised, the frame lies off the screen; a placement makes the window normal again.
    ShowWindow(w, kShowMaximized);
    GetWindowRect(w, &window);
    SetWindowPos(w, ZOrder::Unchanged, 0, 0, 0, 0, kPosNoMove | kPosNoSize);
    EXPECT_EQ(std::make_tuple(window, GetShowState(w)), std::make_tuple(Rect{-8, -31, 1928, 1088}, ShowState::Normal));

    // A placement that changes nothing posts nothing; a frame change alone moves the client area and says so.
    SetWindowStyle(w, kStylePopup);
    SetWindowPos(w, ZOrder::Topmost, 0, 0, 1920, 1080, kPosFrameChanged);
    Drain();
    SetWindowPos(w, ZOrder::Unchanged, 0, 0, 0, 0, kPosNoMove | kPosNoSize);
    EXPECT_EQ(PendingEventCount(), 0u);
    SetWindowStyle(w, kStyleOverlappedWindow);
    SetWindowPos(w, ZOrder::Unchanged, 0, 0, 0, 0, kPosNoMove | kPosNoSize | kPosFrameChanged);
    EXPECT_EQ(Drain(), (Summary{{EventKind::Move, 0, 8, 31}, {EventKind::Size, kSizeRestored, 1904, 1041}}));
}

TEST_F(WindowTest, ShowStatesAndFocus) {
    const WindowHandle w = MakeMainWindow();
    EXPECT_FALSE(ShowWindow(w, kShowDefault));
    ASSERT_TRUE(SetFocus(w));
    // Minimised: no client area and no focus; maximised fills the screen; restore brings the old rectangle back.
    EXPECT_TRUE(ShowWindow(w, kShowMinimized));
    Rect client, window;
    GetClientRect(w, &client);
    EXPECT_EQ(std::make_tuple(client, GetFocus()), std::make_tuple(Rect{}, 0u));
    ShowWindow(w, kShowMaximized);
    GetClientRect(w, &client);
    EXPECT_EQ(client, (Rect{0, 0, 1920, 1080}));
    ShowWindow(w, kShowRestore);
    GetWindowRect(w, &window);
    EXPECT_EQ(window, (Rect{100, 100, 900, 580}));
    EXPECT_EQ(Drain(), (Summary{{EventKind::Activate, kActivateActive, 0, 0}, {EventKind::Activate, kActivateInactive, 0, 0},
                                {EventKind::Size, kSizeMinimized, 0, 0}, {EventKind::Move, 0, 0, 0},
                                {EventKind::Size, kSizeMaximized, 1920, 1080}, {EventKind::Move, 0, 100, 100},
                                {EventKind::Size, kSizeRestored, 800, 480}}));
    EXPECT_EQ(GetRequests().restores, 1u);
    EXPECT_FALSE(SetFocus(w + 5) || SetForegroundWindow(0));
    EXPECT_TRUE(SetForegroundWindow(w));
    EXPECT_EQ(GetFocus(), w);
}

TEST_F(WindowTest, DisplayModeChangeRestoreAndFailure) {
    DisplayMode desktop;
    ASSERT_TRUE(EnumDisplaySettings(kCurrentSettings, &desktop));
    EXPECT_EQ(desktop.fields, kModeBitsPerPixel | kModePixelWidth | kModePixelHeight | kModeFrequency);
    constexpr uint32_t WH = kModePixelWidth | kModePixelHeight;
    struct Case { uint32_t fields, width, height, bits, frequency; int32_t result, screenWidth; };
    // Each case starts from the mode the one before left in force.
    const Case cases[] = {
        {WH, 1280, 720, 0, 0, kDisplayChangeSuccessful, 1280},
        {WH, 1281, 720, 0, 0, kDisplayChangeBadMode, 1280},
        {kModePixelWidth, 800, 9999, 0, 0, kDisplayChangeBadMode, 1280},  // height from the mode in force
        {WH | kModeBitsPerPixel, 800, 600, 16, 0, kDisplayChangeBadMode, 1280},
        {WH | kModeFrequency, 800, 600, 0, 75, kDisplayChangeBadMode, 1280},
        {WH | kModeFrequency, 800, 600, 0, 60, kDisplayChangeSuccessful, 800},
    };
    for (const Case& c : cases) {
        DisplayMode m{c.fields, c.bits, c.width, c.height, c.frequency};
        EXPECT_EQ(ChangeDisplaySettings(&m), c.result) << c.width << "x" << c.height;
        EXPECT_EQ(GetScreenWidth(), c.screenWidth);
    }
    // Failure injected: nothing changes, restoring included; then null restores.
    SetDisplayChangeFailure(true);
    EXPECT_EQ(std::make_tuple(ChangeDisplaySettings(&desktop), ChangeDisplaySettings(nullptr)),
              std::make_tuple(kDisplayChangeFailed, kDisplayChangeFailed));
    EXPECT_EQ(GetScreenWidth(), 800);
    SetDisplayChangeFailure(false);
    EXPECT_EQ(ChangeDisplaySettings(nullptr), kDisplayChangeSuccessful);
    EXPECT_EQ(std::make_tuple(GetScreenWidth(), GetScreenHeight(), DisplayChangeCount()), std::make_tuple(1920, 1080, 3u));

    // A configured list; the present frequency is preferred when none is asked.
    const DisplayMode list[] = {{0, 32, 640, 480, 75}, {0, 32, 640, 480, 60}, {0, 32, 1024, 768, 60}};
    ASSERT_TRUE(SetDisplayModes(list, 3, 2));
    DisplayMode vga{WH, 0, 640, 480, 0}, now;
    ASSERT_EQ(ChangeDisplaySettings(&vga), kDisplayChangeSuccessful);
    EnumDisplaySettings(kCurrentSettings, &now);
    EXPECT_EQ(now.frequency, 60u);
    EXPECT_FALSE(EnumDisplaySettings(3, &now));
    DisplayMode gone{WH, 0, 1366, 768, 0};  // a default mode no longer listed
    EXPECT_EQ(ChangeDisplaySettings(&gone), kDisplayChangeBadMode);
    EXPECT_FALSE(SetDisplayModes(list, 3, 3));
    const DisplayMode modes[] = {{0, 32, 0, 600, 60}, {0, 32, 800, 0, 60}, {0, 32, 640, 480, 60}, {}};
    EXPECT_FALSE(SetDisplayModes(modes, 1, 0) || SetDisplayModes(modes + 1, 1, 0)) << "a screen without pixels";
    EXPECT_TRUE(SetDisplayModes(modes + 2, 1, 0)) << "only the modes given are read";
    EXPECT_EQ(GetScreenWidth(), 640);
}

TEST_F(WindowTest, CursorCounterClipPositionAndImages) {
    for (auto [show, counter] : {std::pair{false, -1}, {false, -2}, {true, -1}, {true, 0}, {true, 1}})
        EXPECT_EQ(ShowCursor(show), counter);

    EXPECT_EQ(GetCursorPos(), (Point{960, 540}));
    Rect clip;
    EXPECT_FALSE(GetClipCursor(&clip));
    const Rect area{100, 200, 300, 400};
    ASSERT_TRUE(ClipCursor(&area));
    EXPECT_EQ(GetCursorPos(), (Point{299, 399})) << "clipping pulls the cursor inside";
    // Set, held inside the clip rectangle (right and bottom exclusive).
    const Point cases[][2] = {{{100, 200}, {100, 200}}, {{300, 400}, {299, 399}}, {{-5, 1000}, {100, 399}}};
    for (const auto& c : cases) {
        SetCursorPos(c[0].x, c[0].y);
        EXPECT_EQ(GetCursorPos(), c[1]);
    }
    const Rect empty{5, 5, 5, 50}, offScreen{1900, 1000, 5000, 5000};
    ASSERT_TRUE(!ClipCursor(&empty) && ClipCursor(&offScreen));
    GetClipCursor(&clip);
    EXPECT_EQ(clip, (Rect{1900, 1000, 1920, 1080}));
    ASSERT_TRUE(ClipCursor(nullptr));
    SetCursorPos(5000, -5);
    EXPECT_EQ(GetCursorPos(), (Point{1919, 0}));

    CursorImage image{};
    image.pixels[0] = 0xFF102030;
    image.hotspotY = 31;
    const CursorHandle c = CreateCursor(image);
    ASSERT_NE(c, 0u);
    image.hotspotX = 32;
    EXPECT_EQ(CreateCursor(image), 0u);
    EXPECT_EQ(SetCursor(c), kArrowCursor);
    CursorImage back{};
    ASSERT_TRUE(GetCursorImage(c, &back));
    EXPECT_EQ(std::make_tuple(back.pixels[0], back.hotspotX, back.hotspotY), std::make_tuple(0xFF102030u, 0, 31));
    EXPECT_TRUE(!DestroyCursor(kArrowCursor) && DestroyCursor(c));
    EXPECT_TRUE(GetCursor() == 0 && SetCursor(c) == 0 && GetCursor() == 0) << "an unknown cursor sets none";
    // The default procedure puts the arrow back for set-cursor.
    Event e = Ev(EventKind::SetCursor, MakeMainWindow());
    EXPECT_EQ(DispatchEvent(e), 0);
    EXPECT_EQ(GetCursor(), kArrowCursor);
}

}  // namespace
