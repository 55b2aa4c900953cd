// test-depends: shader_data quorvel2
// test-timeout: 600
// The main loop over the headless window on an engine over generated data.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../engine/EngineDataSet.h"
#include "CaptureLogSink.h"
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "engine/VornexEngine.h"
#include "engine/services/GameClock.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "platform/gfx/GfxRecorder.h"
#include "platform/os/Clock.h"
#include "platform/os/Signals.h"
#include "platform/os/SingleInstance.h"
#include "render/VornexRenderer.h"

namespace {

using K = wnd::EventKind;
constexpr int64_t kSecond = os::kCounterFrequency;
std::vector<uint32_t> gSleeps;

struct LoopDelegate : GameDelegate {
    int activations = 0, deactivations = 0, closes = 0, resolutionChanges = 0;
    bool canSleep = true;
    std::vector<uint32_t> keys, chars;
    bool CanSleep() override { return canSleep; }
    void OnAppActivate(bool) override { ++activations; }
    void OnAppDeactivate(bool) override { ++deactivations; }
    void OnClose() override { ++closes; }
    void OnScreenResolutionChanged() override { ++resolutionChanges; }
    void OnInputEvent(int32_t kind, uint32_t value) override {
        if (kind == INPUTEVENT_KEYBOARD_KEYPRESS) keys.push_back(value);
        if (kind == INPUTEVENT_KEYBOARD_CHAR) chars.push_back(value);
    }
};

class MainLoopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        set = new enginetest::EngineDataSet();
        set->WriteProjectConfig();
        wnd::ResetWindowLayer();
        app::ResetMainWindowState();
        clock.Install();
        app::gMainWindow.idle = [](uint32_t ms) { gSleeps.push_back(ms); };
        gGameConfig->windowWidth = 1280;
        gGameConfig->windowHeight = 720;
        gGameConfig->fullScreenMode = true;  // held back: the window layer is headless
        const uint32_t changes = wnd::DisplayChangeCount();
        ASSERT_TRUE(app::CreateMainWindow(wnd::kShowNormal, "Loop Test"));
        window = app::gMainWindow.window;
        stateAtStart = wnd::GetShowState(window);
        app::StartGame(&delegate, nullptr, 0);
        Pass();
        startedWindowedKeepingTheSetting = !app::gMainWindow.fullScreenActive && app::gMainWindow.fullScreenHeldBack &&
                                           gGameConfig->fullScreenMode && wnd::DisplayChangeCount() == changes;
    }
    static void TearDownTestSuite() {
        if (gGame->IsInitialised()) {
            gGame->Quit();
            app::RunMainLoopPass();
        }
        gVornexEngine.SetConfiguration(nullptr);
        app::ResetMainWindowState();
        wnd::ResetWindowLayer();
        clock.Uninstall();
        delete set;
    }
    static void Pass(int n = 1) {
        for (int i = 0; i < n; ++i) ASSERT_TRUE(app::RunMainLoopPass());
    }
    static wnd::Event Event(K kind, uint32_t code = 0, int32_t x = 100, int32_t y = 50) {
        wnd::Event e;
        e.kind = kind, e.window = window, e.code = code, e.x = x, e.y = y;
        return e;
    }
    static void Post(const wnd::Event& e) { ASSERT_TRUE(wnd::PostEvent(e)); }
    // Style, z-order and place: full screen covers the screen, a framed window is centred.
    static void ExpectPresentation(uint32_t style, bool topmost) {
        EXPECT_EQ(wnd::GetWindowStyle(window), style);
        EXPECT_EQ((wnd::GetWindowExStyle(window) & wnd::kExStyleTopmost) != 0, topmost);
        wnd::Rect outer;
        wnd::GetWindowRect(window, &outer);
        const int32_t width = wnd::GetScreenWidth(), height = wnd::GetScreenHeight();
        const int32_t x = topmost ? 0 : (width - outer.Width()) / 2, y = topmost ? 0 : (height - outer.Height()) / 2;
        EXPECT_EQ(outer, (wnd::Rect{x, y, topmost ? width : x + outer.Width(), topmost ? height : y + outer.Height()}));
    }
    static bool MouseKeyDown(uint32_t offset) { return gGame->GetInputManager()->IsKeyPressed(kMouseButtonLeft + offset); }
    static float CursorX() { return gGame->GetInputManager()->GetCursorPosition().x; }

    static inline enginetest::EngineDataSet* set;
    static inline os::ManualClock clock{1'000'000'000};  // static: the render thread may read it late
    static inline LoopDelegate delegate;
    static inline uint32_t window;
    static inline wnd::ShowState stateAtStart;
    static inline bool startedWindowedKeepingTheSetting = false;
};

// Headless there is no screen to switch: the configured full screen waits, unsaved as
// windowed, until full screen is asked for.
TEST_F(MainLoopTest, HeadlessStartStaysWindowedAndKeepsTheSavedFullScreenSetting) {
    EXPECT_TRUE(startedWindowedKeepingTheSetting);
}

TEST_F(MainLoopTest, FocusLossDeactivatesOnceAndSleepsAsTheGameAllows) {
    for (const bool canSleep : {true, false}) {
        delegate.canSleep = canSleep;
        delegate.activations = delegate.deactivations = 0;
        gSleeps.clear();
        const uint32_t frames = gVornexRenderer.PostedFrames();
        wnd::SetFocus(0);
        Pass(2);
        wnd::SetFocus(0);  // a second loss
        Pass();
        EXPECT_EQ(delegate.deactivations, 1);
        EXPECT_EQ(gSleeps, std::vector<uint32_t>(3, canSleep ? 150 : 30));
        wnd::SetFocus(window);
        Post(Event(K::Paint));  // focused: the loop draws, the paint does not
        Pass();
        EXPECT_EQ(delegate.activations, 1);
        EXPECT_EQ(gVornexRenderer.PostedFrames(), frames + 1);  // drawn only while focused
        EXPECT_EQ(wnd::GetShowState(window), wnd::ShowState::Normal);
    }
    delegate.canSleep = true;
}

TEST_F(MainLoopTest, CtrlEnterTogglesFullScreenAndLossRestoresTheDesktop) {
    const uint32_t changes = wnd::DisplayChangeCount();
    wnd::SetCtrlKeyDown(true);
    Post(Event(K::KeyDown, 13));
    Pass();
    ExpectPresentation(0x86000000, true);
    EXPECT_EQ(wnd::DisplayChangeCount(), changes + 1);
    // A size event with nothing changed neither tells the Game nor resets the device.
    Pass(2);
    gfx::Recorder* recorder = gfx::GetRecorder(gVornexRenderer.Device());
    const uint64_t resets = recorder->CallCount(gfx::CallKind::Reset);
    delegate.resolutionChanges = 0;
    Post(Event(K::Size));
    Pass();
    EXPECT_TRUE(recorder->CallCount(gfx::CallKind::Reset) == resets && delegate.resolutionChanges == 0);
    // Focus lost: the desktop mode returns and the window minimises; regained: back, maximised.
    const struct { wnd::WindowHandle focus; uint32_t changes; wnd::ShowState state; } steps[] = {
        {0, changes + 2, wnd::ShowState::Minimized}, {window, changes + 3, wnd::ShowState::Maximized}};
    for (const auto& step : steps) {
        wnd::SetFocus(step.focus);
        Pass();
        EXPECT_EQ(wnd::DisplayChangeCount(), step.changes);
        EXPECT_EQ(wnd::GetShowState(window), step.state);
    }
    // A refused mode change clears the resolution request and keeps full screen.
    wnd::SetDisplayChangeFailure(true);
    gGame->RequestScreenResoultionChange(1024, 768);
    Pass();
    wnd::SetDisplayChangeFailure(false);
    uint32_t width = 0, height = 0;
    EXPECT_FALSE(gGame->GetPendingResolution(&width, &height));
    EXPECT_TRUE(app::gMainWindow.fullScreenActive);
    // An accepted one reaches the Game.
    gGame->RequestScreenResoultionChange(1280, 720);
    Pass();
    EXPECT_FALSE(gGame->GetPendingResolution(&width, &height));
    EXPECT_EQ(gGame->GetClientWidth(), 1280u);
    // Back to a window; Enter alone goes to the key handler.
    Post(Event(K::KeyDown, 13));
    Pass();
    ExpectPresentation(0x06CF0000, false);
    wnd::SetCtrlKeyDown(false);
    delegate.keys.clear();
    delegate.chars.clear();
    Post(Event(K::KeyDown, 13));
    Post(Event(K::Char, 8));  // backspace is a key, not a character
    Post(Event(K::Char, 'a'));
    Pass();
    EXPECT_TRUE(delegate.keys == std::vector<uint32_t>{13} && delegate.chars == std::vector<uint32_t>{'a'});
    EXPECT_FALSE(app::gMainWindow.fullScreenRequested);
    // Asked for and left again: the setting follows the window from then on.
    EXPECT_FALSE(app::gMainWindow.fullScreenHeldBack);
    app::ApplyClientSize();
    EXPECT_FALSE(gGameConfig->fullScreenMode);
}

// Full screen at a size the display does not list takes the display's nearest mode, and
// the back buffer, the targets and the window take that size; a display that switches to
// nothing leaves the program in its window. One line each.
TEST_F(MainLoopTest, FullScreenTheDisplayCannotGiveFallsBackToItsNearestModeOrAWindow) {
    std::vector<wnd::DisplayMode> saved;
    wnd::DisplayMode mode, desktop;
    for (uint32_t i = 0; wnd::EnumDisplaySettings(i, &mode); ++i) saved.push_back(mode);
    ASSERT_TRUE(wnd::EnumDisplaySettings(wnd::kRegistrySettings, &desktop));
    const uint32_t desktopIndex = uint32_t(std::find_if(saved.begin(), saved.end(), [&](const wnd::DisplayMode& m) {
                                               return m.width == desktop.width && m.height == desktop.height;
                                           }) - saved.begin());
    const wnd::DisplayMode laptop{0, 32, 1280, 800, 60};  // a screen the renderer's mode list lacks
    ASSERT_TRUE(wnd::SetDisplayModes(&laptop, 1, 0));
    CaptureLogSink log;
    log.Attach();
    wnd::SetCtrlKeyDown(true);
    Post(Event(K::KeyDown, 13));
    Pass(2);
    gVornexRenderer.FlushCommands(true);
    EXPECT_TRUE(app::gMainWindow.fullScreenActive);
    EXPECT_TRUE(log.Contains("mode: full screen at 1280x800 instead"));
    wnd::Rect client;
    ASSERT_TRUE(wnd::GetClientRect(window, &client));
    EXPECT_TRUE(client.Width() == 1280 && client.Height() == 800);
    EXPECT_TRUE(gVornexRenderer.BackBufferWidth() == 1280 && gVornexRenderer.BackBufferHeight() == 800);
    EXPECT_TRUE(gVornexRenderer.RenderWidth() == 1280 && gVornexRenderer.RenderHeight() == 800);
    Post(Event(K::KeyDown, 13));  // back to the window
    Pass(2);
    ASSERT_FALSE(app::gMainWindow.fullScreenActive);

    log.Clear();
    wnd::SetDisplayChangeFailure(true);
    Post(Event(K::KeyDown, 13));
    Pass(3);
    wnd::SetDisplayChangeFailure(false);
    wnd::SetCtrlKeyDown(false);
    EXPECT_FALSE(app::gMainWindow.fullScreenActive || app::gMainWindow.fullScreenRequested);
    ExpectPresentation(0x06CF0000, false);
    uint32_t lines = 0;
    for (const auto& m : log.Messages()) lines += m.text.find("The display cannot switch to") != std::string::npos;
    EXPECT_EQ(lines, 1u);
    Pass(2);
    gVornexRenderer.FlushCommands(true);
    ASSERT_TRUE(wnd::GetClientRect(window, &client));
    EXPECT_TRUE(gVornexRenderer.BackBufferWidth() == uint32_t(client.Width()) &&
                gVornexRenderer.BackBufferHeight() == uint32_t(client.Height()));
    ASSERT_TRUE(wnd::SetDisplayModes(saved.data(), uint32_t(saved.size()), desktopIndex));
    app::gMainWindow.fullScreenHeldBack = false;
}

// Full screen comes back when focus does; a display that then refuses the mode (and
// every nearer one) leaves the program in a window after one try and one line, instead of
// trying the same mode again at every pass.
TEST_F(MainLoopTest, AFullScreenModeRefusedOnItsReturnIsTriedOnceThenAWindow) {
    CaptureLogSink log;
    log.Attach();
    wnd::SetCtrlKeyDown(true);
    Post(Event(K::KeyDown, 13));
    Pass(2);
    wnd::SetCtrlKeyDown(false);
    ASSERT_TRUE(app::gMainWindow.fullScreenActive);
    wnd::SetFocus(0);
    Pass();
    ASSERT_FALSE(app::gMainWindow.displayModeChanged);
    wnd::SetDisplayChangeFailure(true);
    log.Clear();
    wnd::SetFocus(window);
    Pass(5);
    wnd::SetDisplayChangeFailure(false);
    uint32_t tries = 0, refusals = 0;
    for (const auto& m : log.Messages()) {
        tries += m.text.find("Switching screen resolution to") != std::string::npos;
        refusals += m.text.find("The display cannot switch to") != std::string::npos;
    }
    EXPECT_EQ(tries, 1u);
    EXPECT_EQ(refusals, 1u);
    EXPECT_TRUE(log.Contains("the program runs in a window"));
    EXPECT_FALSE(app::gMainWindow.fullScreenActive || app::gMainWindow.fullScreenRequested);
    ExpectPresentation(0x06CF0000, false);
    Pass(2);
    gVornexRenderer.FlushCommands(true);
    wnd::Rect client;
    ASSERT_TRUE(wnd::GetClientRect(window, &client));
    EXPECT_TRUE(gVornexRenderer.BackBufferWidth() == uint32_t(client.Width()) &&
                gVornexRenderer.BackBufferHeight() == uint32_t(client.Height()));
    app::gMainWindow.fullScreenHeldBack = false;
}

// The window is shown when it is made; full screen clips the cursor to it until focus
// goes, and going back to a window restores the windowed client size of before.
TEST_F(MainLoopTest, ShownAtStartClippedInFullScreenAndTheWindowedSizeComesBack) {
    EXPECT_EQ(stateAtStart, wnd::ShowState::Normal);
    wnd::Rect before;
    ASSERT_TRUE(wnd::GetClientRect(window, &before));
    ASSERT_LT(before.Width(), wnd::GetScreenWidth());  // distinguishable from the full-screen size
    wnd::Rect clip;
    EXPECT_FALSE(wnd::GetClipCursor(&clip));
    wnd::SetCtrlKeyDown(true);
    Post(Event(K::KeyDown, 13));
    Pass();
    ASSERT_TRUE(app::gMainWindow.fullScreenActive);
    EXPECT_TRUE(wnd::GetClipCursor(&clip));
    wnd::SetFocus(0);
    Pass();
    EXPECT_FALSE(wnd::GetClipCursor(&clip));  // released on focus loss
    wnd::SetFocus(window);
    Pass();
    Post(Event(K::KeyDown, 13));
    Pass();
    wnd::SetCtrlKeyDown(false);
    ASSERT_FALSE(app::gMainWindow.fullScreenActive);
    EXPECT_FALSE(wnd::GetClipCursor(&clip));
    wnd::Rect after;
    ASSERT_TRUE(wnd::GetClientRect(window, &after));
    EXPECT_EQ(after.Width(), before.Width());
    EXPECT_EQ(after.Height(), before.Height());
    Pass(2);
}

TEST_F(MainLoopTest, SizingDrawsNothingAndAppliesTheSizeAfterTheLastEvent) {
    wnd::Rect rect;
    wnd::GetWindowRect(window, &rect);
    wnd::Event sizing = Event(K::Sizing, 2);
    sizing.rect = {rect.left, rect.top, rect.left + 1616, rect.top + 900};
    const uint32_t frames = gVornexRenderer.PostedFrames();
    for (const int64_t step : {int64_t(0), kSecond / 10, kSecond * 15 / 100}) {  // 0.1 s and then 0.25 s
        clock.Advance(step);
        if (step < kSecond / 7) Post(sizing);
        Pass();
    }
    EXPECT_TRUE(app::gMainWindow.resizing);
    EXPECT_EQ(gVornexRenderer.PostedFrames(), frames);
    clock.Advance(kSecond / 10);
    Pass(2);
    wnd::Rect client;
    wnd::GetClientRect(window, &client);
    EXPECT_EQ(client.Width() * 9, client.Height() * 16);
    EXPECT_TRUE(gGame->GetClientWidth() == uint32_t(client.Width()) && gGameConfig->windowWidth == uint32_t(client.Width()));
    EXPECT_EQ(gVornexRenderer.PostedFrames(), frames + 1);
}

TEST_F(MainLoopTest, MouseMessagesReachTheInputManagerUnlessTouchOrAnEmptyClientStandsInTheWay) {
    Post(Event(K::ButtonDoubleClick));  // its event, then a button-down on the next frame
    Pass();
    EXPECT_TRUE(MouseKeyDown(3));
    Pass();
    EXPECT_TRUE(MouseKeyDown(0));
    Post(Event(K::ButtonUp));
    wnd::Event fromTouch = Event(K::ButtonDown);
    fromTouch.fromTouch = true;
    Post(fromTouch);
    Pass(2);
    EXPECT_FALSE(MouseKeyDown(0));
    // Moves within 0.3 s of a touch message are ignored.
    const wnd::TouchContact contact{100, 100, 1, wnd::kTouchDown};
    ASSERT_TRUE(wnd::PostTouchEvent(window, &contact, 1));
    Post(Event(K::MouseMove, 0, 0));
    Pass();
    EXPECT_NE(CursorX(), 0.0f);
    clock.Advance(kSecond * 31 / 100);
    Post(Event(K::MouseMove, 0, 0));
    Pass();
    EXPECT_EQ(CursorX(), 0.0f);
    // A minimised window ignores mouse messages.
    wnd::ShowWindow(window, wnd::kShowMinimize);
    Post(Event(K::MouseMove));
    Post(Event(K::ButtonDown));
    wnd::SetFocus(window);
    Pass();
    EXPECT_EQ(CursorX(), 0.0f);
    EXPECT_FALSE(MouseKeyDown(0));
    wnd::ShowWindow(window, wnd::kShowRestore);
    wnd::SetFocus(window);
    Pass();
}

TEST_F(MainLoopTest, TheProcedureAnswersTheRemainingEventsAndTheLastWheelNotchWins) {
    wnd::Rect frame;
    wnd::GetWindowRect(window, &frame);
    wnd::Point inside{10, 10};
    wnd::ClientToScreen(window, &inside);
    const struct { K kind; uint32_t code; wnd::Point at; int64_t result; uint32_t defaults; } cases[] = {
        {K::TabletGestureQuery, 0, {}, 0x01198319, 0}, {K::SysCommand, wnd::kSysCommandKeyMenu, {}, 0, 0},
        {K::SysCommand, 0xF020, {}, 0, 1},  // defaults: calls of the default procedure
        {K::SetCursor, 0, inside, 1, 0}, {K::SetCursor, 0, {frame.left, frame.top}, 0, 1}, {K::Count, 0, {}, 0, 0},
    };
    for (const auto& c : cases) {
        wnd::Event e = Event(c.kind, c.code, c.at.x, c.at.y);
        const uint32_t before = wnd::DefaultHandledCount(c.kind);
        EXPECT_EQ(app::MainWindowProc(e, nullptr), c.result) << int(c.kind) << " " << c.code;
        EXPECT_EQ(wnd::DefaultHandledCount(c.kind) - before, c.defaults) << int(c.kind) << " " << c.code;
    }
    wnd::Event wheel = Event(K::Wheel);
    wheel.wheelDelta = 240;
    Post(wheel);
    wheel.wheelDelta = -120;
    Post(wheel);
    Pass();
    EXPECT_EQ(gGame->GetInputManager()->GetMouseWheel(), -1.0f);
}

TEST_F(MainLoopTest, ALostDeviceResetsTheRenderer) {
    CaptureLogSink log;
    log.Attach();
    gfx::GetRecorder(gVornexRenderer.Device())->LoseDeviceOnNextPresent();
    for (int i = 0; i < 4; ++i) {
        Pass();
        gVornexRenderer.FlushCommands(true);
    }
    EXPECT_TRUE(log.Contains("Render target size"));
    EXPECT_FALSE(gVornexRenderer.DeviceResetPending());
}

// Under step time each frame is one fixed step whatever the counter does between frames
// (nothing, a hitch, a short frame), and the game clock follows the steps, not the counter.
TEST_F(MainLoopTest, StepTimeMakesEveryFrameOneFixedStep) {
    FrameTimer& timer = gVornexEngine.Timer();
    wnd::SetFocus(window);
    timer.SetStepTime(true);
    Pass();  // measured from the last stamps the counter gave
    const uint32_t steps = gGame->GetFixedStepCount(), frames = gGame->GetTickedFrameCount();
    const int64_t gameTime = gGameClock->GetCurrentTime();
    const int64_t advances[] = {0, 2 * kSecond, kSecond / 1000, 0, kSecond / 15, 5 * kSecond, 0, 1};
    for (const int64_t advance : advances) {
        clock.Advance(advance);
        Pass();
    }
    const uint32_t n = uint32_t(std::size(advances));
    EXPECT_EQ(gGame->GetFixedStepCount() - steps, n);
    EXPECT_EQ(gGame->GetTickedFrameCount() - frames, n);
    // A stepped frame is 2/3 us longer than a game-clock step: one correction of one step
    // may fall in these frames, the counter's seven seconds may not.
    EXPECT_NEAR(double(gGameClock->GetCurrentTime() - gameTime), double(n * kGameClockStep), double(kGameClockStep + 1));
    // Back on the counter, which must not stand behind the stepped clock's stamps.
    clock.Set(std::max(clock.Now(), timer.Now()));
    timer.SetStepTime(false);
    Pass();
}

// Foreign datagrams are the lock's own tests' concern; here the raise reaches the window.
TEST_F(MainLoopTest, ASecondProgramRaisesTheWindow) {
    char pattern[] = "/tmp/raise_test_XXXXXX";
    const std::string runtime = mkdtemp(pattern);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    os::SingleInstance instance;
    ASSERT_EQ(instance.Acquire(app::kMainWindowClass), os::SingleInstance::Result::First);
    app::gMainWindow.instance = &instance;
    wnd::SetFocus(0);
    Pass();
    EXPECT_EQ(wnd::GetFocus(), 0u);
    // --frames 1: a second program that failed to see the first still ends. One that saw
    // it says so and ends with its own status.
    const std::string out = runtime + "/second.txt";
    const int status = std::system((PROJECT_BINARY_ROOT "/app/quorvel2 --frames 1 > '" + out + "' 2>&1").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == app::kExitAlreadyRunning) << status;
    std::ifstream in(out);
    const std::string said{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(said.rfind("quorvel2: Another copy of the program is already running", 0), 0u) << said;
    Pass();
    EXPECT_TRUE(wnd::GetFocus() == window && wnd::GetShowState(window) == wnd::ShowState::Maximized);
    app::gMainWindow.instance = nullptr;
    instance.Release();
    unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(runtime);
}

// Last: the loop ends here.
TEST_F(MainLoopTest, SigtermEndsTheLoopThroughTheGamesClose) {
    CaptureLogSink log;
    log.Attach();
    ASSERT_TRUE(os::InstallTerminationHandlers());
    raise(SIGTERM);
    EXPECT_FALSE(app::RunMainLoopPass());
    os::RemoveTerminationHandlers();
    struct sigaction now {};
    for (int sig : {SIGINT, SIGTERM}) EXPECT_TRUE(sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) << sig;
    EXPECT_EQ(delegate.closes, 1);
    EXPECT_TRUE(log.Contains("Ran "));
}

}  // namespace
