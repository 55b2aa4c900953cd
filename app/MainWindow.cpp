// The main window and the main loop. The window is the window layer's headless window;
// presentation switches between a framed window and a topmost popup over a changed
// display mode. The loop runs one pass per frame on the main thread: events, the quit
// check, the Game's resolution and full-screen requests, focus loss and regain, the
// tick, the frame, and the deferred resize.
#include "app/MainWindow.h"
#include "app/CommandLine.h"
#include "app/Failure.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/Log.h"
#include "core/PathLimit.h"
#include "core/Time.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "engine/VornexEngine.h"
#include "engine/entity/Entity.h"
#include "engine/script/LuaWrapper.h"
#include "game/Game.h"
#include "platform/os/Clock.h"
#include "platform/os/Signals.h"
#include "platform/os/Thread.h"
#include "platform/gfx/ImageWriter.h"
#include "platform/os/SingleInstance.h"
#include "render/VornexRenderer.h"
#include "sound/SoundEngine.h"

namespace app {

MainWindowState gMainWindow;

namespace {

constexpr uint32_t kFullScreenFields = wnd::kModePixelWidth | wnd::kModePixelHeight;



void Idle(uint32_t milliseconds) {
    if (gMainWindow.idle) gMainWindow.idle(milliseconds);
    else gVornexEngine.Idle(milliseconds);
}

// The renderer reset at the size (0 x 0 keeps the renderer's), with the entities'
// rendering contexts released around it.
void ResetRenderer(uint32_t width, uint32_t height) {
    MainWindowState& s = gMainWindow;
    Entity::ReleaseAllRenderingContexts();
    gVornexRenderer.Reset(s.window, width, height, true, s.fullScreenActive);
    Entity::RestoreAllRenderingContexts();
    UpdateCursorClip();
}

void LogRunSummary() {
    const MainWindowState& s = gMainWindow;
    const double seconds = double(os::ReadCounter() - s.runStart) / double(os::kCounterFrequency);
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Ran %u frames (%u ticks) in %.2f s", s.renderedFrames,
               s.ticks, seconds);
}

// A second start's request: the window comes back maximised and focused, and the Game
// is active again (the regain below would otherwise restore the window's old size).
void BringToFront() {
    MainWindowState& s = gMainWindow;
    wnd::SetFocus(s.window);
    wnd::ShowWindow(s.window, wnd::kShowMaximized);
    wnd::SetForegroundWindow(s.window);
    if (s.deactivated) {
        s.deactivated = false;
        gGame->Activate(false);
    }
}

}  // namespace

void ResetMainWindowState() { gMainWindow = MainWindowState{}; }

void UpdateCursorClip() {
    MainWindowState& s = gMainWindow;
    wnd::Rect client;
    if (!s.fullScreenActive || !wnd::GetClientRect(s.window, &client)) {
        wnd::ClipCursor(nullptr);
        return;
    }
    wnd::Point origin{0, 0};
    wnd::ClientToScreen(s.window, &origin);
    const wnd::Rect screen{origin.x, origin.y, origin.x + client.Width(), origin.y + client.Height()};
    if (!wnd::ClipCursor(&screen)) wnd::ClipCursor(nullptr);
}

void RestoreDesktopMode(bool leaveFullScreen) {
    MainWindowState& s = gMainWindow;
    gVornexRenderer.FlushCommands(true);
    wnd::ChangeDisplaySettings(&s.desktopMode);
    s.displayModeChanged = false;
    if (leaveFullScreen) s.fullScreenActive = false;
}

void ApplyFullScreenRequest(bool fullScreen) {
    MainWindowState& s = gMainWindow;
    if (fullScreen == s.fullScreenRequested) return;
    s.fullScreenRequested = fullScreen;
    s.fullScreenHeldBack = false;  // asked for now: the setting follows
    uint32_t width = fullScreen ? s.fullScreenMode.width : s.windowedWidth;
    uint32_t height = fullScreen ? s.fullScreenMode.height : s.windowedHeight;
    if (!fullScreen && s.fullScreenActive) RestoreDesktopMode(true);
    if (SetDisplayMode(&width, &height)) {
        gGame->OnResolutionChanged(width, height, false);
        gVornexRenderer.RequestDeviceReset();
    }
}

void RegisterMainWindowClass() { gMainWindow.classRegistered = true; }

namespace {

// The display's listed mode nearest the size (the smallest sum of the width and height
// differences; the first of equals); false when it lists none.
bool NearestScreenMode(uint32_t width, uint32_t height, wnd::DisplayMode* out) {
    bool any = false;
    uint64_t best = 0;
    wnd::DisplayMode mode;
    for (uint32_t i = 0; wnd::EnumDisplaySettings(i, &mode); ++i) {
        const uint64_t distance = uint64_t(mode.width > width ? mode.width - width : width - mode.width) +
                                  uint64_t(mode.height > height ? mode.height - height : height - mode.height);
        if (any && distance >= best) continue;
        any = true;
        best = distance;
        *out = mode;
    }
    return any;
}

// Full screen the display could not give: a window of the windowed size instead, and the
// saved setting stays as the user chose it.
bool FallBackToWindow(uint32_t* width, uint32_t* height) {
    MainWindowState& s = gMainWindow;
    s.fullScreenRequested = false;
    s.fullScreenHeldBack = true;
    *width = s.windowedWidth;
    *height = s.windowedHeight;
    return SetDisplayMode(width, height);
}

}  // namespace

bool SetDisplayMode(uint32_t* width, uint32_t* height) {
    MainWindowState& s = gMainWindow;
    if (!s.window || !wnd::IsWindow(s.window)) return false;
    const uint32_t style = wnd::GetWindowStyle(s.window);
    if (!s.fullScreenRequested) {
        const int32_t screenWidth = wnd::GetScreenWidth(), screenHeight = wnd::GetScreenHeight();
        *width = std::min<uint32_t>(*width, static_cast<uint32_t>(screenWidth));
        *height = std::min<uint32_t>(*height, static_cast<uint32_t>(screenHeight));
        s.windowedWidth = *width;
        s.windowedHeight = *height;
        const uint32_t windowed = (style & kWindowedStyleKeep) | kFramedStyleBits;
        wnd::SetWindowStyle(s.window, windowed);
        wnd::Rect outer{0, 0, static_cast<int32_t>(*width), static_cast<int32_t>(*height)};
        wnd::AdjustWindowRect(&outer, windowed, wnd::GetWindowExStyle(s.window));
        wnd::SetWindowPos(s.window, wnd::ZOrder::NotTopmost, (screenWidth - outer.Width()) / 2,
                          (screenHeight - outer.Height()) / 2, outer.Width(), outer.Height(), wnd::kPosFrameChanged);
        return true;
    }
    DisplayModeEntry mode;
    if (gVornexRenderer.FindDisplayMode(*width, *height, &mode)) {
        *width = mode.width;
        *height = mode.height;
    }
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Switching screen resolution to %dx%d",
               static_cast<int>(*width), static_cast<int>(*height));
    s.fullScreenMode = s.desktopMode;
    s.fullScreenMode.fields = kFullScreenFields;
    s.fullScreenMode.width = *width;
    s.fullScreenMode.height = *height;
    gVornexRenderer.FlushCommands(true);
    if (wnd::ChangeDisplaySettings(&s.fullScreenMode) != wnd::kDisplayChangeSuccessful) {
        // The renderer's mode list is not the display's: the display's own mode nearest
        // the request; else the full-screen mode in force stays, or a window is used.
        const uint32_t asked[2] = {*width, *height};
        wnd::DisplayMode nearest;
        const bool other = NearestScreenMode(*width, *height, &nearest) &&
                           (nearest.width != *width || nearest.height != *height);
        if (other) {
            s.fullScreenMode.width = nearest.width;
            s.fullScreenMode.height = nearest.height;
        }
        if (!other || wnd::ChangeDisplaySettings(&s.fullScreenMode) != wnd::kDisplayChangeSuccessful) {
            s.fullScreenMode.width = asked[0];
            s.fullScreenMode.height = asked[1];
            const bool logged = s.refusedWidth == asked[0] && s.refusedHeight == asked[1];
            s.refusedWidth = asked[0];
            s.refusedHeight = asked[1];
            // Full screen in force at another mode stays. Without it (the first switch,
            // or its return after a focus loss gave the desktop mode back) the request
            // goes: a window, so that no later pass retries the mode refused here.
            if (s.fullScreenActive && s.displayModeChanged) {
                if (!logged)
                    gLog.Warning(LogCategory::Engine, "The display cannot switch to %ux%u: full screen stays as it was",
                                 asked[0], asked[1]);
                return false;
            }
            gLog.Warning(LogCategory::Engine, "The display cannot switch to %ux%u: the program runs in a window",
                         asked[0], asked[1]);
            s.fullScreenActive = false;
            return FallBackToWindow(width, height);
        }
        gLog.Warning(LogCategory::Engine, "The display has no %ux%u mode: full screen at %ux%u instead", asked[0],
                     asked[1], nearest.width, nearest.height);
        *width = nearest.width;
        *height = nearest.height;
    }
    s.fullScreenActive = true;
    s.displayModeChanged = true;
    wnd::SetWindowStyle(s.window, (style & ~kFramedStyleBits) | wnd::kStylePopup);
    wnd::SetWindowPos(s.window, wnd::ZOrder::Topmost, 0, 0, static_cast<int32_t>(*width),
                      static_cast<int32_t>(*height), wnd::kPosFrameChanged);
    return true;
}

void ApplyClientSize() {
    MainWindowState& s = gMainWindow;
    wnd::Rect client;
    if (!wnd::GetClientRect(s.window, &client) || client.Width() <= 0 || client.Height() <= 0) return;
    const uint32_t width = static_cast<uint32_t>(client.Width()), height = static_cast<uint32_t>(client.Height());
    // Nothing changed for the renderer: its reset keeps the size (0 x 0) and the Game
    // is not told.
    uint32_t resetWidth = 0, resetHeight = 0;
    if (width != s.appliedWidth || height != s.appliedHeight ||
        s.fullScreenActive != (gVornexRenderer.BlockInForce().fullScreen != 0)) {
        s.appliedWidth = resetWidth = width;
        s.appliedHeight = resetHeight = height;
        gGame->OnResolutionChanged(width, height, false);
    }
    if (!s.fullScreenHeldBack) gGameConfig->fullScreenMode = s.fullScreenActive;
    if (!s.fullScreenActive) {
        s.windowedWidth = gGameConfig->windowWidth = width;
        s.windowedHeight = gGameConfig->windowHeight = height;
    }
    gVornexEngine.SaveConfig();
    ResetRenderer(resetWidth, resetHeight);
}

bool CreateMainWindow(int32_t showCommand, const char* title) {
    MainWindowState& s = gMainWindow;
    wnd::EnumDisplaySettings(wnd::kCurrentSettings, &s.desktopMode);
    wnd::WindowDesc desc;
    desc.className = kMainWindowClass;
    desc.title = kInitialCaption;
    desc.style = kMainWindowStyle;
    desc.x = kInitialX;
    desc.y = kInitialY;
    desc.width = kInitialWidth;
    desc.height = kInitialHeight;
    s.window = wnd::CreateWindow(desc);
    if (!s.window) {
        SayFailure("The program cannot start: its main window cannot be created");
        return false;
    }
    wnd::SetWindowProcedure(s.window, &MainWindowProc, nullptr);
    if (!gVornexEngine.Init(s.window, title, gGameConfig, true)) {
        // The engine's shutdown has closed the log: the line reaches standard error only.
        char line[640];
        std::snprintf(line, sizeof line, "The program cannot start: %s",
                      gVornexEngine.StartFailure()[0] ? gVornexEngine.StartFailure() : "the engine did not start");
        SayFailure(line);
        return false;
    }
    wnd::SetWindowText(s.window, gVornexEngine.Title());
    s.fullScreenRequested = gGameConfig->fullScreenMode;
    // Without a desktop there is no screen to switch: a headless run starts windowed at
    // the configured size, and the saved full-screen setting stays as it was.
    if (s.fullScreenRequested && !wnd::IsDesktopWindows()) {
        s.fullScreenRequested = false;
        s.fullScreenHeldBack = true;
    }
    s.fullScreenMode = s.desktopMode;
    s.fullScreenMode.width = static_cast<uint32_t>(wnd::GetScreenWidth());
    s.fullScreenMode.height = static_cast<uint32_t>(wnd::GetScreenHeight());
    s.windowedWidth = gGameConfig->windowWidth;
    s.windowedHeight = gGameConfig->windowHeight;
    uint32_t width = s.fullScreenRequested ? s.fullScreenMode.width : s.windowedWidth;
    uint32_t height = s.fullScreenRequested ? s.fullScreenMode.height : s.windowedHeight;
    if (!SetDisplayMode(&width, &height)) {
        char line[128];
        std::snprintf(line, sizeof line, "The program cannot start: its window cannot be shown at %ux%u", width, height);
        SayFailure(line);
        gVornexEngine.Shutdown();
        return false;
    }
    wnd::ShowWindow(s.window, showCommand);
    wnd::UpdateWindow(s.window);
    // A window shown on the desktop takes the keyboard focus.
    wnd::SetFocus(s.window);
    return true;
}

namespace {
// The stepped sound plays each of the game timer's steps before the step's events run, so
// a sound a step starts begins at that step's time in the mixed file.
void AdvanceSteppedSound(float seconds) {
    if (gSoundEngine) gSoundEngine->AdvanceSteppedOutput(Time::FromFloatSeconds(seconds).ticks);
}
}  // namespace

void StartGame(GameDelegate* delegate, char** args, int argCount) {
    MainWindowState& s = gMainWindow;
    wnd::Rect client;
    wnd::GetClientRect(s.window, &client);
    UpdateCursorClip();
    const NameString startScene(gProjectConfig->defaultScene ? gProjectConfig->defaultScene : "");
    // What the scripts do from here on is the game's start-up (CheckStartScripts).
    gLua.BeginFailureRecord();
    gGame->Init(s.window, static_cast<uint32_t>(client.Width()), static_cast<uint32_t>(client.Height()), delegate,
                args, argCount);
    if (gSoundEngine && gSoundEngine->IsSteppedOutput()) GameTimer::ObserveTicks(&gGame->GetGameTimer(), &AdvanceSteppedSound);
    gGame->Activate(false);
    gGame->SwitchScene(startScene.CStr(), 0, nullptr);
    s.runStart = os::ReadCounter();
}

namespace {
// A scene switch is serviced by the next tick: a scene that could not be loaded (its load
// logged why) ends the run with the start-failure status instead of running an empty
// scene. The start scene's load also ends the game's start-up: a script failure until then
// ends the run too; so does a script failure in a later scene's start (the tick's own
// record: a mission that cannot start raises why). loading: the scene the tick was to
// load, null when none was pending.
void CheckSceneLoad(const char* loading) {
    MainWindowState& s = gMainWindow;
    if (!loading) return;
    if (gGame->LastSceneLoadFailed()) {
        char line[600];
        std::snprintf(line, sizeof line, "The %s %s could not be loaded", s.startSceneChecked ? "scene" : "start scene",
                      loading);
        s.startSceneChecked = true;
        EndRunWithFailure(kExitStartFailed, line, nullptr);
        return;
    }
    if (!s.startSceneChecked) {
        s.startSceneChecked = true;
        CheckStartScripts(false);
        return;
    }
    // A later scene: its record is the tick's own.
    const LuaWrapper::FailureRecord& r = gLua.GetFailureRecord();
    if (r.errors == 0) return;
    char line[600];
    std::snprintf(line, sizeof line, "The scene %s could not be started", loading);
    EndRunWithFailure(kExitStartFailed, line, r.firstError);
}

// A paced run's wait after a frame: the next one starts a present interval after this
// one was due. A run that fell more than one interval behind starts again from now
// rather than rushing frames to catch up.
void WaitForPresentInterval() {
    MainWindowState& s = gMainWindow;
    const int64_t interval = Time::FromSeconds(kPresentIntervalSeconds).ticks;
    const int64_t now = os::ReadCounter();
    if (s.nextPresentAt == 0 || now - s.nextPresentAt > interval) {
        s.nextPresentAt = now + interval;
        return;
    }
    if (now < s.nextPresentAt)
        os::SleepMicroseconds(static_cast<uint64_t>((s.nextPresentAt - now) * 1000000 / os::kCounterFrequency));
    s.nextPresentAt += interval;
}

// Waits for the render thread to finish the frames posted so far, then saves the back
// buffer as a PNG; one log line either way.
void SaveBackBuffer(const char* path) {
    gfx::Device* device = gVornexRenderer.Device();
    if (!device) return;
    gVornexRenderer.FlushCommands(true);
    gfx::Surface* back = nullptr;
    std::string error;
    bool saved = false;
    if (gfx::Succeeded(device->GetBackBuffer(0, 0, gfx::BACKBUFFER_TYPE_MONO, &back)) && back) {
        saved = gfx::SaveSurfacePng(device, back, path, &error);
        back->Release();
    } else {
        error = "no back buffer";
    }
    if (saved)
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Saved frame %u to %s", gMainWindow.renderedFrames, path);
    else
        gLog.Print(LogSeverity::Error, LogCategory::Engine, "Cannot save frame %u to %s: %s", gMainWindow.renderedFrames,
                   path, error.c_str());
}

}  // namespace

// Shows the frame's back buffer in the window: read back and handed to the window
// (the drawing device renders off screen and shares no context with the window).
void PresentIntoWindow() {
    MainWindowState& s = gMainWindow;
    gfx::Device* device = gVornexRenderer.Device();
    if (!device) return;
    gVornexRenderer.FlushCommands(true);
    gfx::Surface* back = nullptr;
    std::vector<uint32_t> argb;
    uint32_t width = 0, height = 0;
    std::string error;
    bool read = false;
    if (gfx::Succeeded(device->GetBackBuffer(0, 0, gfx::BACKBUFFER_TYPE_MONO, &back)) && back) {
        read = gfx::ReadSurfaceArgb(device, back, &argb, &width, &height, &error);
        back->Release();
    } else {
        error = "no back buffer";
    }
    const bool shown = read && wnd::PresentPixels(s.window, argb.data(), width, height);
    if (shown) ++s.presentedFrames;
    if (!s.presentPathLogged) {
        s.presentPathLogged = true;
        if (shown)
            gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice,
                       "Presenting into the window: back buffer read back and uploaded each frame (%ux%u)", width,
                       height);
        else
            gLog.Print(LogSeverity::Warning, LogCategory::RenderDevice, "Cannot present into the window: %s",
                       read ? "the window refused the picture" : error.c_str());
    }
}

bool RunMainLoopPass() {
    MainWindowState& s = gMainWindow;
    // A termination signal closes the window; a second start asks for the front.
    if (os::TakeTerminationRequest()) wnd::DestroyWindow(s.window);
    if (s.instance && s.instance->TakeRaiseRequest()) BringToFront();
    // Window messages.
    wnd::Event event;
    while (wnd::PeekEvent(&event)) wnd::DispatchEvent(event);
    // A quitting Game closes the engine and ends the loop.
    if (gGame->IsQuitting()) {
        LogRunSummary();
        GameTimer::ObserveTicks(nullptr, nullptr);
        gGame->Close();
        CheckRunScriptErrors();
        gVornexEngine.Shutdown();
        if (s.fullScreenActive) RestoreDesktopMode(false);
        return false;
    }
    // A resolution the Game asked for: display mode, then a device reset.
    uint32_t width = 0, height = 0;
    if (gGame->GetPendingResolution(&width, &height)) {
        gVornexRenderer.FlushCommands(true);
        if (SetDisplayMode(&width, &height)) gGame->OnResolutionChanged(width, height, false);
        else gGame->ClearPendingResolution();
        gVornexRenderer.RequestDeviceReset();
    }
    // A full-screen switch the Game asked for.
    bool fullScreen = false;
    if (gGame->TakeFullScreenRequest(&fullScreen)) ApplyFullScreenRequest(fullScreen);
    // Focus: losing it deactivates the Game and idles; regaining it brings full screen
    // back and reactivates the Game.
    bool focused = wnd::GetFocus() == s.window;
    if (!focused) {
        if (s.fullScreenActive && s.displayModeChanged) RestoreDesktopMode(false);
        if (!s.deactivated) {
            if (s.fullScreenActive) wnd::ShowWindow(s.window, wnd::kShowMinimize);
            s.deactivated = true;
            gGame->Deactivate(false);
            wnd::ClipCursor(nullptr);
        }
        Idle(gGame->CanSleepInBackground() ? kBackgroundSleepMs : kBusyBackgroundSleepMs);
    } else {
        // Full screen comes back whenever its display mode is not in force: also after
        // a focus loss, which gave the desktop mode back but kept full screen active.
        if (s.fullScreenRequested && (!s.fullScreenActive || !s.displayModeChanged)) {
            width = s.fullScreenMode.width;
            height = s.fullScreenMode.height;
            SetDisplayMode(&width, &height);
            // A refused mode left a window: it comes back as it was, not maximised.
            if (s.deactivated) wnd::ShowWindow(s.window, s.fullScreenActive ? wnd::kShowMaximized : wnd::kShowRestore);
        } else if (s.deactivated) {
            wnd::ShowWindow(s.window, wnd::kShowRestore);
        }
        if (s.deactivated) {
            s.deactivated = false;
            gGame->Activate(false);
        }
        focused = !s.resizing;
    }
    // The Game's tick (none while a failure holds the run: the scripts are not run again).
    // A tick that loads a scene keeps its own record of the scripts' failures: the scene's
    // start failed when they failed (a frame that loads a scene runs no steps).
    if (!s.holding) {
        const char* pending = gGame->IsSwitchPending() ? gGame->PendingSceneName() : nullptr;
        char loading[fs::kMaxPath] = "";
        LuaWrapper::FailureRecord before;
        if (pending) {
            std::snprintf(loading, sizeof loading, "%s", pending);
            if (s.startSceneChecked) {
                before = gLua.GetFailureRecord();
                gLua.BeginFailureRecord();
            }
        }
        gGame->Tick(focused);
        ++s.ticks;
        const bool ownRecord = pending && s.startSceneChecked;
        CheckSceneLoad(pending ? loading : nullptr);
        if (ownRecord) gLua.MergeEarlierFailureRecord(before);
    }
    // A frame while focused and not resizing (a failed frame resets the renderer).
    if (!s.resizing && focused) {
        ++s.renderedFrames;
        if (!gGame->RenderFrame()) {
            wnd::Rect client;
            wnd::GetClientRect(s.window, &client);
            ResetRenderer(static_cast<uint32_t>(client.Width()), static_cast<uint32_t>(client.Height()));
        }
        if (s.presentIntoWindow) PresentIntoWindow();
        if (s.frameLimit && s.renderedFrames >= s.frameLimit) gGame->Quit();
        if (s.screenshotEvery && s.renderedFrames % s.screenshotEvery == 0) {
            char name[32];
            std::snprintf(name, sizeof name, "/frame-%06u.png", s.renderedFrames);
            SaveBackBuffer((std::string(s.screenshotFolder) + name).c_str());
        }
        if (s.screenshotPath && gGame->IsQuitting()) SaveBackBuffer(s.screenshotPath);
        if (s.paced && !gGame->IsQuitting()) WaitForPresentInterval();
    }
    // A resize that has settled applies the new client size.
    if (s.resizing && os::ReadCounter() > s.resizeDeadline) {
        s.resizing = false;
        ApplyClientSize();
    }
    return true;
}

int AppMain(GameDelegate* delegate, const char* title, char** args, int argCount, uint32_t frameLimit) {
    MainWindowState& s = gMainWindow;
    os::SingleInstance instance;
    if (instance.Acquire(kMainWindowClass) == os::SingleInstance::Result::Another) {
        SayFailure("Another copy of the program is already running (it was asked to come to the front); this one ends");
        gLog.Print(LogSeverity::Progress, LogCategory::Script, "Script errors: %u", LuaWrapper::GetErrorCount());
        return kExitAlreadyRunning;
    }
    s.instance = instance.IsHeld() ? &instance : nullptr;
    s.frameLimit = frameLimit;
    // Before the engine starts: an interrupt during its start-up (seconds of shader and
    // resource loading) is taken by the first pass and ends the run through the normal
    // shutdown, instead of killing the process half started.
    os::InstallTerminationHandlers();
    RegisterMainWindowClass();
    if (!CreateMainWindow(wnd::kShowNormal, title)) {
        gVornexEngine.Shutdown();
        if (s.fullScreenActive) RestoreDesktopMode(true);
        os::RemoveTerminationHandlers();
        s.instance = nullptr;
        return kExitStartFailed;
    }
    s.exitCode = kExitSuccess;
    s.startSceneChecked = false;
    s.holding = false;
    StartGame(delegate, args, argCount);
    // The Game's start-up calls ran the main script and its start events.
    CheckStartScripts(true);
    while (RunMainLoopPass()) {
    }
    os::RemoveTerminationHandlers();
    s.instance = nullptr;
    return s.exitCode;
}

}  // namespace app
