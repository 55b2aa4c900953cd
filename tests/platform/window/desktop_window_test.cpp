// The window layer's desktop back end under a virtual X server, driven by xdotool:
// keys arrive as virtual-key codes and UTF-16 characters, the mouse in client
// coordinates with double-clicks and wheel notches, resizing and the close button as
// the layer's events. Skipped when Xvfb or xdotool is missing.
// test-link: platform_input
// test-timeout: 120
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/input/Input.h"
#include "platform/input/Keys.h"
#include "platform/window/Window.h"
#include "support/XvfbServer.h"

namespace {

using wnd::Event;
using wnd::EventKind;

class DesktopWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string missing;
        if (!xvfbtest::ToolsPresent(&missing)) GTEST_SKIP() << missing;
        ASSERT_TRUE(server.Start()) << "Xvfb did not start";
        setenv("DISPLAY", server.Display().c_str(), 1);
        wnd::ResetWindowLayer();
        const char* reason = nullptr;
        ASSERT_TRUE(wnd::StartDesktopWindows(&reason)) << reason;
        wnd::SetKeyTranslator(&hid::VirtualKeyFromUsbUsage);
        wnd::WindowDesc desc;
        desc.className = "DesktopTest";
        desc.title = "Desktop test";
        desc.style = wnd::kStyleOverlappedWindow;
        wnd::Rect outer{0, 0, 320, 240};
        wnd::AdjustWindowRect(&outer, desc.style, 0);
        desc.x = 100 - wnd::kFramedWindowFrame.left;
        desc.y = 100 - wnd::kFramedWindowFrame.top;
        desc.width = outer.Width();
        desc.height = outer.Height();
        window = wnd::CreateWindow(desc);
        ASSERT_NE(window, 0u);
        wnd::ShowWindow(window, wnd::kShowNormal);
        wnd::SetFocus(window);
        native = wnd::GetNativeWindowId(window);
        ASSERT_NE(native, 0u);
        id = std::to_string(native);
        Settle(300);
    }

    void TearDown() override {
        hid::ResetInputLayer();
        wnd::ResetWindowLayer();
        wnd::SetKeyTranslator(nullptr);
        server.Stop();
        unsetenv("DISPLAY");
    }

    // Pumps the queue until done(events so far) or the time-out; returns every event.
    std::vector<Event> Collect(const std::function<bool(const std::vector<Event>&)>& done, int timeoutMs = 5000) {
        std::vector<Event> events;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            Event e;
            while (wnd::PeekEvent(&e)) {
                events.push_back(e);
                wnd::DispatchEvent(e);
            }
            if (done(events)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return events;
    }

    // Pumps the queue for a while, keeping nothing.
    void Settle(int ms) { Collect([](const std::vector<Event>&) { return false; }, ms); }
    // The events of one kind, pumping until at least n of them came or the time-out.
    std::vector<Event> Await(EventKind kind, size_t n, int timeoutMs = 5000) {
        return OfKinds(Collect([&](const std::vector<Event>& e) { return Count(e, kind) >= n; }, timeoutMs), {kind});
    }
    // A 32 x 32 magenta image cursor with its hotspot at (3, 4).
    static wnd::CursorHandle MagentaCursor() {
        wnd::CursorImage image{};
        for (uint32_t& p : image.pixels) p = 0xFFFF00FF;
        image.hotspotX = 3;
        image.hotspotY = 4;
        return wnd::CreateCursor(image);
    }

    static std::vector<Event> OfKinds(const std::vector<Event>& events, std::initializer_list<EventKind> kinds) {
        std::vector<Event> out;
        for (const Event& e : events)
            for (EventKind k : kinds)
                if (e.kind == k) out.push_back(e);
        return out;
    }

    static size_t Count(const std::vector<Event>& events, EventKind kind) { return OfKinds(events, {kind}).size(); }

    xvfbtest::Server server;
    wnd::WindowHandle window = 0;
    uint64_t native = 0;
    std::string id;
};

TEST_F(DesktopWindowTest, KeysArriveAsVirtualKeysAndCharacters) {
    struct Case {
        const char* keys;      // xdotool key names
        uint32_t virtualKey;   // of the first key-down
        std::vector<uint32_t> characters;
    };
    const Case cases[] = {
        {"a", 0x41, {'a'}},
        {"shift+a", 0x10, {'A'}},
        {"Return", 0x0D, {13}},
        {"BackSpace", 0x08, {8}},
        {"F5", 0x74, {}},
        {"Left", 0x25, {}},
        {"KP_Enter", 0x0D, {13}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        ASSERT_TRUE(server.Run(std::string("xdotool key --clearmodifiers ") + c.keys));
        const std::vector<Event> events = Collect([&](const std::vector<Event>& e) {
            return (!c.virtualKey || Count(e, EventKind::KeyDown) > 0) && Count(e, EventKind::Char) >= c.characters.size();
        });
        // A key xdotool maps onto a spare key code for the moment has no place on the
        // keyboard: only its character arrives.
        const std::vector<Event> keys = OfKinds(events, {EventKind::KeyDown});
        if (c.virtualKey) {
            ASSERT_FALSE(keys.empty());
            EXPECT_EQ(keys[0].code, c.virtualKey);
            EXPECT_FALSE(keys[0].repeat);
        }
        std::vector<uint32_t> chars;
        for (const Event& e : OfKinds(events, {EventKind::Char})) chars.push_back(e.code);
        EXPECT_EQ(chars, c.characters);
    }
}

// Characters without a key of the US layout: two spare key codes are given them for
// the test (a character outside the BMP arrives as a surrogate pair).
TEST_F(DesktopWindowTest, NonAsciiCharacters) {
    ASSERT_TRUE(server.Run("python3 -c \""
                           "import ctypes as c;x=c.cdll.LoadLibrary('libX11.so.6');"
                           "x.XOpenDisplay.restype=c.c_void_p;"
                           "x.XChangeKeyboardMapping.argtypes=[c.c_void_p,c.c_int,c.c_int,c.c_void_p,c.c_int];"
                           "x.XCloseDisplay.argtypes=[c.c_void_p];d=x.XOpenDisplay(None);"
                           "k=(c.c_ulong*2)(0x0e9,0x0100e9);x.XChangeKeyboardMapping(d,200,2,k,1);"
                           "k=(c.c_ulong*2)(0x0101d11e,0x0101d11e);x.XChangeKeyboardMapping(d,201,2,k,1);"
                           "x.XCloseDisplay(d)\""));
    Settle(300);
    ASSERT_TRUE(server.Run("xdotool key eacute U1D11E"));
    const std::vector<Event> chars = Await(EventKind::Char, 3);
    ASSERT_EQ(chars.size(), 3u);
    EXPECT_EQ(std::make_tuple(chars[0].code, chars[1].code, chars[2].code), std::make_tuple(0xE9u, 0xD834u, 0xDD1Eu));
}

TEST_F(DesktopWindowTest, HeldKeyRepeatsWithTheRepeatFlag) {
    ASSERT_TRUE(server.Run("xdotool keydown d sleep 1 keyup d"));
    const std::vector<Event> keys = Await(EventKind::KeyDown, 3, 3000);
    ASSERT_GE(keys.size(), 2u);
    EXPECT_FALSE(keys[0].repeat);
    for (size_t i = 1; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].code, 0x44u);
        EXPECT_TRUE(keys[i].repeat);
    }
}

// The key state follows the queue: a Ctrl+Enter typed faster than the program pumps
// still finds Ctrl down at the Enter key.
TEST_F(DesktopWindowTest, ModifiersAreThoseOfTheEventTaken) {
    ASSERT_TRUE(server.Run("xdotool key ctrl+Return shift+b"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<std::pair<uint32_t, bool>> seen;  // key-down, Ctrl then
    Event e;
    bool shiftAtB = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen.size() < 4 && std::chrono::steady_clock::now() < deadline) {
        while (wnd::PeekEvent(&e)) {
            if (e.kind != EventKind::KeyDown) continue;
            seen.emplace_back(e.code, wnd::IsCtrlKeyDown());
            if (e.code == 0x42) shiftAtB = wnd::IsShiftKeyDown();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::vector<std::pair<uint32_t, bool>> expected = {{0x11, true}, {0x0D, true}, {0x10, false}, {0x42, false}};
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(shiftAtB);
    EXPECT_FALSE(wnd::IsCtrlKeyDown());  // the queue is empty: the keyboard's state now
    EXPECT_FALSE(wnd::IsShiftKeyDown());
}

TEST_F(DesktopWindowTest, ControlStateFollowsTheKeyboard) {
    ASSERT_TRUE(server.Run("xdotool keydown ctrl"));
    Collect([](const std::vector<Event>&) { return wnd::IsCtrlKeyDown(); }, 3000);
    EXPECT_TRUE(wnd::IsCtrlKeyDown());
    // The keyboard device's source reads the same key, by its scan code.
    uint8_t keys[hid::kKeyStateBytes];
    hid::ReadKeyboardSource(keys);
    EXPECT_EQ(keys[0x1D], hid::kKeyDownBit);
    EXPECT_EQ(keys[0x1E], 0);
    ASSERT_TRUE(server.Run("xdotool keyup ctrl"));
    Collect([](const std::vector<Event>&) { return !wnd::IsCtrlKeyDown(); }, 3000);
    EXPECT_FALSE(wnd::IsCtrlKeyDown());
    hid::ReadKeyboardSource(keys);
    EXPECT_EQ(keys[0x1D], 0);
}

// A tap shorter than a frame, down and up again between two reads of the keyboard
// (xdotool's key), reads as down in the next read and as up in the one after.
TEST_F(DesktopWindowTest, TapBetweenTwoReadsIsReadOnce) {
    const char* reason = nullptr;
    if (!hid::StartDesktopInput(&reason)) GTEST_SKIP() << "no controller system: " << reason;
    constexpr uint32_t kScanCodeP = 0x19;
    uint8_t keys[hid::kKeyStateBytes];
    hid::ReadKeyboardSource(keys);
    ASSERT_TRUE(server.Run("xdotool key p"));
    ASSERT_EQ(Await(EventKind::KeyDown, 1).size(), 1u);
    Settle(300);  // the release too
    hid::ReadKeyboardSource(keys);
    EXPECT_EQ(keys[kScanCodeP], hid::kKeyDownBit);
    hid::ReadKeyboardSource(keys);
    EXPECT_EQ(keys[kScanCodeP], 0);
}

TEST_F(DesktopWindowTest, MouseInClientCoordinates) {
    ASSERT_TRUE(server.Run("xdotool mousemove --window " + id + " 50 60 click 1"));
    std::vector<Event> events = Collect([](const std::vector<Event>& e) { return Count(e, EventKind::ButtonUp) > 0; });
    std::vector<Event> buttons = OfKinds(events, {EventKind::ButtonDown, EventKind::ButtonUp});
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(std::make_tuple(buttons[0].kind, buttons[0].button, buttons[0].x, buttons[0].y),
              std::make_tuple(EventKind::ButtonDown, wnd::MouseButton::Left, 50, 60));
    const std::vector<Event> moves = OfKinds(events, {EventKind::MouseMove});
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(std::make_pair(moves.back().x, moves.back().y), std::make_pair(50, 60));
    EXPECT_EQ(wnd::GetCursorPos(), (wnd::Point{150, 160}));

    // A second click soon after is the double-click; a right click is its own button.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_TRUE(server.Run("xdotool click --repeat 2 --delay 80 1 click 3"));
    events = Collect([](const std::vector<Event>& e) { return Count(e, EventKind::ButtonUp) >= 3; });
    buttons = OfKinds(events, {EventKind::ButtonDown, EventKind::ButtonUp, EventKind::ButtonDoubleClick});
    const std::vector<EventKind> expected = {EventKind::ButtonDown,        EventKind::ButtonUp,
                                             EventKind::ButtonDoubleClick, EventKind::ButtonUp,
                                             EventKind::ButtonDown,        EventKind::ButtonUp};
    ASSERT_EQ(buttons.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(buttons[i].kind, expected[i]) << i;
    EXPECT_EQ(buttons[4].button, wnd::MouseButton::Right);
}

TEST_F(DesktopWindowTest, WheelNotchesAre120) {
    ASSERT_TRUE(server.Run("xdotool mousemove --window " + id + " 10 10 click 4 click 4 click 5"));
    const std::vector<Event> wheels = Await(EventKind::Wheel, 3);
    ASSERT_EQ(wheels.size(), 3u);
    EXPECT_EQ(std::make_tuple(wheels[0].wheelDelta, wheels[1].wheelDelta, wheels[2].wheelDelta),
              std::make_tuple(120, 120, -120));
}

TEST_F(DesktopWindowTest, ResizeAndMoveFromOutsideReachTheRecord) {
    ASSERT_TRUE(server.Run("xdotool windowsize " + id + " 400 300"));
    std::vector<Event> sizes = OfKinds(
        Collect([](const std::vector<Event>& e) {
            for (const Event& x : e)
                if (x.kind == EventKind::Size && x.x == 400) return true;
            return false;
        }),
        {EventKind::Size});
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(std::make_tuple(sizes.back().code, sizes.back().x, sizes.back().y),
              std::make_tuple(uint32_t(wnd::kSizeRestored), 400, 300));
    wnd::Rect client;
    ASSERT_TRUE(wnd::GetClientRect(window, &client));
    EXPECT_EQ(client, (wnd::Rect{0, 0, 400, 300}));

    // The layer's own placement moves the real window.
    ASSERT_TRUE(wnd::SetWindowPos(window, wnd::ZOrder::Unchanged, 200, 150, 0, 0, wnd::kPosNoSize));
    Settle(300);
    const std::string geometry = server.Output("xdotool getwindowgeometry " + id);
    EXPECT_NE(geometry.find("Geometry: 400x300"), std::string::npos) << geometry;
}

TEST_F(DesktopWindowTest, TitleAndCloseButton) {
    wnd::SetWindowText(window, "Quorvel 2");
    Settle(200);
    EXPECT_EQ(server.Output("xdotool getwindowname " + id), "Quorvel 2");
    ASSERT_TRUE(server.Run(xvfbtest::CloseWindowCommand(native)));
    EXPECT_EQ(Await(EventKind::Destroy, 1).size(), 1u);
    EXPECT_FALSE(wnd::IsWindow(window));
}

// A picture shown in the window is what the X server holds for it (read by ImageMagick's
// import), scaled to the client area.
TEST_F(DesktopWindowTest, PresentedPixelsReachTheWindow) {
    if (!shelltest::Shell("command -v import")) GTEST_SKIP() << "ImageMagick's import is not installed";
    const uint32_t colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    auto quadrant = [&](uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
        return colours[(x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0)];
    };
    struct Case {
        uint32_t width, height;
    } cases[] = {{320, 240}, {160, 120}};  // the client size, and half of it (scaled up)
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        std::vector<uint32_t> picture(size_t(c.width) * c.height);
        for (uint32_t y = 0; y < c.height; ++y)
            for (uint32_t x = 0; x < c.width; ++x) picture[size_t(y) * c.width + x] = quadrant(x, y, c.width, c.height);
        ASSERT_TRUE(wnd::PresentPixels(window, picture.data(), c.width, c.height));
        Settle(200);
        const std::string raw = testing::TempDir() + "window_" + std::to_string(getpid()) + ".rgb";
        ASSERT_TRUE(server.Run("import -window " + id + " -depth 8 rgb:" + raw));
        FILE* f = std::fopen(raw.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        std::vector<uint8_t> rgb(320 * 240 * 3);
        const size_t got = std::fread(rgb.data(), 1, rgb.size(), f);
        std::fclose(f);
        std::remove(raw.c_str());
        ASSERT_EQ(got, rgb.size());
        // Every pixel within 8 per channel of its quadrant's colour, except a 2-pixel seam
        // where scaling may blend (at most 2 % of them off).
        size_t off = 0;
        for (uint32_t y = 0; y < 240; ++y)
            for (uint32_t x = 0; x < 320; ++x) {
                const uint32_t want = quadrant(x, y, 320, 240);
                const uint8_t* p = &rgb[(size_t(y) * 320 + x) * 3];
                for (int c = 0; c < 3; ++c)
                    if (std::abs(int(p[c]) - int((want >> (16 - 8 * c)) & 0xFF)) > 8) {
                        ++off;
                        break;
                    }
            }
        EXPECT_LE(off, size_t(320 * 240 / 50)) << off << " pixels differ";
    }
}

// The cursor calls reach the real pointer: a warp moves it, a clip rectangle keeps
// later warps inside, an image cursor can be made current and destroyed.
TEST_F(DesktopWindowTest, CursorPositionClipAndImage) {
    auto pointer = [&] { return server.Output("xdotool getmouselocation"); };
    ASSERT_TRUE(wnd::SetCursorPos(300, 200));
    Settle(200);
    EXPECT_EQ(pointer().rfind("x:300 y:200 ", 0), 0u) << pointer();

    const wnd::Rect clip{100, 100, 420, 340};  // the client area
    ASSERT_TRUE(wnd::ClipCursor(&clip));
    ASSERT_TRUE(wnd::SetCursorPos(1000, 900));  // held inside by the layer
    Settle(200);
    EXPECT_EQ(wnd::GetCursorPos(), (wnd::Point{419, 339}));
    EXPECT_EQ(pointer().rfind("x:419 y:339 ", 0), 0u) << pointer();
    ASSERT_TRUE(wnd::ClipCursor(nullptr));

    const wnd::CursorHandle cursor = MagentaCursor();
    ASSERT_NE(cursor, 0u);
    EXPECT_EQ(wnd::SetCursor(cursor), wnd::kArrowCursor);
    EXPECT_EQ(wnd::ShowCursor(false), -1);
    EXPECT_EQ(wnd::ShowCursor(true), 0);
    EXPECT_TRUE(wnd::DestroyCursor(cursor));
    EXPECT_EQ(wnd::GetCursor(), 0u);
}

// Focus moved by the desktop (xdotool as a window manager would) reaches the layer as
// Activate events and GetFocus.
TEST_F(DesktopWindowTest, FocusFromOutsideActivates) {
    wnd::WindowDesc desc;
    desc.className = "DesktopTestOther";
    desc.title = "Other";
    desc.x = 600;
    desc.y = 100;
    desc.width = 200;
    desc.height = 150;
    const wnd::WindowHandle other = wnd::CreateWindow(desc);
    wnd::ShowWindow(other, wnd::kShowNormal);  // the server may give the new window the focus
    Settle(300);
    wnd::SetFocus(window);
    Settle(300);
    ASSERT_EQ(wnd::GetFocus(), window);
    ASSERT_TRUE(server.Run("xdotool windowfocus --sync " + std::to_string(wnd::GetNativeWindowId(other))));
    const std::vector<Event> activates =
        OfKinds(Collect([&](const std::vector<Event>&) { return wnd::GetFocus() == other; }), {EventKind::Activate});
    EXPECT_EQ(wnd::GetFocus(), other);
    ASSERT_EQ(activates.size(), 2u);
    EXPECT_EQ(std::make_tuple(activates[0].window, activates[0].code, activates[1].window, activates[1].code),
              std::make_tuple(window, uint32_t(wnd::kActivateInactive), other, uint32_t(wnd::kActivateActive)));
}

// A press on a window without the focus, with nothing on the desktop to move it (no
// window manager), activates the window before the press arrives.
TEST_F(DesktopWindowTest, PressOnAnUnfocusedWindowActivatesIt) {
    wnd::SetFocus(0);
    Settle(300);
    ASSERT_EQ(wnd::GetFocus(), 0u);
    ASSERT_TRUE(server.Run("xdotool mousemove --window " + id + " 40 40 click 1"));
    const std::vector<Event> events = OfKinds(Collect([](const std::vector<Event>& e) {
                                                  return Count(e, EventKind::ButtonUp) > 0;
                                              }),
                                              {EventKind::Activate, EventKind::ButtonDown});
    EXPECT_EQ(wnd::GetFocus(), window);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(std::make_tuple(events[0].kind, events[0].window, events[0].code),
              std::make_tuple(EventKind::Activate, window, uint32_t(wnd::kActivateActive)));
    EXPECT_EQ(events.back().kind, EventKind::ButtonDown);
}

// What the X server shows as the pointer (XFixes, through libX11 from Python): "width
// height hotspot-x hotspot-y" and the most opaque pixel as 0xAARRGGBB.
std::string PointerImage(const xvfbtest::Server& server) {
    return server.Output(
        "/usr/bin/python3 -c \""
        "import ctypes as c;x=c.cdll.LoadLibrary('libX11.so.6');f=c.cdll.LoadLibrary('libXfixes.so.3');"
        "x.XOpenDisplay.restype=c.c_void_p;x.XCloseDisplay.argtypes=[c.c_void_p];\n"
        "class I(c.Structure):_fields_=[('x',c.c_short),('y',c.c_short),('w',c.c_ushort),('h',c.c_ushort),"
        "('xh',c.c_ushort),('yh',c.c_ushort),('serial',c.c_ulong),('pixels',c.POINTER(c.c_ulong)),"
        "('atom',c.c_ulong),('name',c.c_char_p)]\n"
        "f.XFixesGetCursorImage.restype=c.POINTER(I);f.XFixesGetCursorImage.argtypes=[c.c_void_p];"
        "d=x.XOpenDisplay(None);i=f.XFixesGetCursorImage(d).contents;"
        "p=[i.pixels[k]&0xffffffff for k in range(i.w*i.h)];"
        "print(i.w,i.h,i.xh,i.yh,'%08x'%max(p,key=lambda v:v>>24));x.XCloseDisplay(d)\"");
}

// The pointer over the window shows the cursor set last: an image cursor with its
// hotspot, the arrow, and nothing at all for none.
TEST_F(DesktopWindowTest, PointerShowsTheCursorSet) {
    if (!shelltest::Shell("/usr/bin/python3 -c 'import ctypes'")) GTEST_SKIP() << "python3 is not installed";
    const wnd::CursorHandle cursor = MagentaCursor();
    ASSERT_NE(cursor, 0u);
    // Over the client area. The move's SetCursor event goes to the default procedure,
    // which sets the arrow (as the platform's does), before the cases set theirs.
    ASSERT_TRUE(wnd::SetCursorPos(200, 200));
    Settle(300);
    struct Case {
        wnd::CursorHandle cursor;
        const char* expected;  // what PointerImage prints; null: anything visible
    } cases[] = {
        {cursor, "32 32 3 4 ffff00ff"},
        {0, nullptr},
        {wnd::kArrowCursor, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cursor);
        wnd::SetCursor(c.cursor);
        Settle(200);
        const std::string shown = PointerImage(server);
        ASSERT_FALSE(shown.empty()) << "XFixes did not answer";
        if (c.expected) EXPECT_EQ(shown, c.expected);
        else if (c.cursor == 0) EXPECT_EQ(shown.substr(shown.rfind(' ') + 1), "00000000") << shown;
        else EXPECT_NE(shown.substr(shown.rfind(' ') + 1, 2), "00") << shown;
    }
    EXPECT_TRUE(wnd::DestroyCursor(cursor));
}

// A game device plugged in or out reaches every window as the device-change notice.
TEST_F(DesktopWindowTest, PluggedGameDevicesNotifyTheWindow) {
    const char* reason = nullptr;
    if (!hid::StartDesktopInput(&reason)) GTEST_SKIP() << "no controller system: " << reason;
    const uint32_t joystick = hid::AttachVirtualController(false);
    ASSERT_NE(joystick, 0u);
    const std::vector<Event> changes = Await(EventKind::DeviceChange, 1);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(std::make_pair(changes[0].window, changes[0].code), std::make_pair(window, uint32_t(wnd::kDeviceNodesChanged)));
    ASSERT_TRUE(hid::DetachVirtualController(joystick));
    EXPECT_EQ(Await(EventKind::DeviceChange, 1).size(), 1u);
    hid::ResetInputLayer();
}

TEST_F(DesktopWindowTest, DisplayModesComeFromTheServer) {
    EXPECT_EQ(std::make_pair(wnd::GetScreenWidth(), wnd::GetScreenHeight()), std::make_pair(1280, 1024));
    wnd::DisplayMode mode;
    ASSERT_TRUE(wnd::EnumDisplaySettings(wnd::kRegistrySettings, &mode));
    EXPECT_EQ(std::make_pair(mode.width, mode.height), std::make_pair(1280u, 1024u));
}

TEST(DesktopWindowFallback, NoDisplayStaysHeadless) {
    const char* saved = std::getenv("DISPLAY");
    const std::string keep = saved ? saved : "";
    unsetenv("DISPLAY");
    const char* savedWayland = std::getenv("WAYLAND_DISPLAY");
    const std::string keepWayland = savedWayland ? savedWayland : "";
    unsetenv("WAYLAND_DISPLAY");
    wnd::ResetWindowLayer();
    const char* reason = nullptr;
    EXPECT_FALSE(wnd::StartDesktopWindows(&reason));
    EXPECT_STREQ(reason, "no display (DISPLAY and WAYLAND_DISPLAY are unset)");
    EXPECT_FALSE(wnd::IsDesktopWindows());
    wnd::WindowDesc desc;
    desc.className = "Headless";
    const wnd::WindowHandle w = wnd::CreateWindow(desc);
    EXPECT_NE(w, 0u);
    EXPECT_EQ(wnd::GetNativeWindowId(w), 0u);
    const uint32_t pixel = 0xFF00FF00;
    EXPECT_FALSE(wnd::PresentPixels(w, &pixel, 1, 1));
    wnd::ResetWindowLayer();
    if (!keep.empty()) setenv("DISPLAY", keep.c_str(), 1);
    if (!keepWayland.empty()) setenv("WAYLAND_DISPLAY", keepWayland.c_str(), 1);
}

}  // namespace
