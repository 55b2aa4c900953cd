#pragma once
// The program's main window and main loop over the window layer's window (headless, or a
// real one on the desktop, where each rendered frame is presented into it): the
// single-instance check, the window and the engine start, windowed and full-screen
// presentation with display-mode changes, the window procedure that turns window events
// into Game and input calls, and the loop that pumps events, handles focus loss and
// regain, ticks the Game and renders one frame per pass. Also the helpers the window
// procedure uses: the 16:9 sizing rule and the mouse button events.
//
// Threads: main thread only, like the window procedure.
#include <cstdint>

#include "platform/window/Window.h"

class GameDelegate;
class InputManager;
namespace os {
class SingleInstance;
}

namespace app {

// The smallest client area a sizing drag leaves.
constexpr int32_t kMinClientWidth = 800;
constexpr int32_t kMinClientHeight = 450;

// Keeps a proposed window rectangle of a sizing drag at a 16:9 client area of at least
// kMinClientWidth x kMinClientHeight. edge: the sizing edge code (1 left, 2 right,
// 3 top, 4 top-left, 5 top-right, 6 bottom, 7 bottom-left, 8 bottom-right); any other
// code leaves the rectangle as it is. The frame comes from the window's style.
void ConstrainSizingRect(wnd::WindowHandle window, wnd::Rect* rect, uint32_t edge);

// The mouse events (MouseEventKind) a button message posts, in order: down and up one
// each; a double click its double-click event, then a button-down.
struct MouseButtonEvents {
    uint32_t count = 0;
    uint32_t kinds[2] = {};
};
MouseButtonEvents MouseButtonEventsFor(const wnd::Event& message);

// Posts one mouse event with the message's position normalised to the client size.
// Messages synthesised from touch or pen input, and any message while the client area
// is empty (a minimised window), are dropped: false.
bool PostMouseButtonEvent(InputManager& input, uint32_t kind, const wnd::Event& message, int32_t clientWidth,
                          int32_t clientHeight);

// ---- The main window ----
constexpr const char* kMainWindowClass = "BrintavolqueGame";
constexpr const char* kInitialCaption = "???";
constexpr uint32_t kMainWindowStyle = 0x86000000;  // popup, clip siblings, clip children
constexpr int32_t kInitialX = 100, kInitialY = 100, kInitialWidth = 800, kInitialHeight = 480;
// Style words of the two presentations.
constexpr uint32_t kWindowedStyleKeep = 0x7F30FFFF;
constexpr uint32_t kFramedStyleBits = 0x00CF0000;
// What the tablet-gesture query answers: press-and-hold, pen tap and barrel feedback,
// touch UI forcing, touch switch, flicks, smooth scrolling and flick fallback keys off;
// multi-touch data on.
constexpr int64_t kTabletGestureStatus = 0x01198319;
// The deferred resize after the last sizing event, and the time after a touch during
// which mouse moves are ignored, in seconds.
constexpr double kResizeDelaySeconds = 0.2;
constexpr double kTouchMouseQuietSeconds = 0.3;
// Sleeps of an unfocused pass, in milliseconds.
constexpr uint32_t kBackgroundSleepMs = 150;
constexpr uint32_t kBusyBackgroundSleepMs = 30;
// The renderer's present interval: a paced run presents at most one frame per interval,
// as a swap chain that waits for one vertical blank per present does.
constexpr double kPresentIntervalSeconds = 0.016;

// The process-wide state of the main window (one instance, main thread).
struct MainWindowState {
    wnd::WindowHandle window = 0;
    bool classRegistered = false;
    bool fullScreenRequested = false;
    bool fullScreenActive = false;
    bool fullScreenHeldBack = false;  // headless: the configured full screen was not applied
    bool deactivated = false;
    bool displayModeChanged = false;
    wnd::DisplayMode desktopMode;
    wnd::DisplayMode fullScreenMode;  // its width and height double as the full-screen size
    uint32_t windowedWidth = 0, windowedHeight = 0;
    uint32_t refusedWidth = 0, refusedHeight = 0;  // the full-screen size the display last refused (logged once)
    uint32_t appliedWidth = 0, appliedHeight = 0;
    bool resizing = false;
    int64_t resizeDeadline = 0;  // counter ticks
    bool touched = false;
    int64_t lastTouchTime = 0;  // counter ticks
    // The run: the frame limit (0: none), rendered frames, Game ticks, the start.
    uint32_t frameLimit = 0;
    uint32_t renderedFrames = 0;
    uint32_t ticks = 0;
    int64_t runStart = 0;
    bool paced = false;           // frames wait for their present interval
    int64_t nextPresentAt = 0;    // counter ticks; 0: the next frame goes at once
    bool startSceneChecked = false;  // the start scene's load has been looked at
    int exitCode = 0;                // AppMain's result after a quit (kExitSuccess unless something failed)
    // A failure is on the game console: the Game no longer ticks, and a key, a click or
    // the window's close ends the run (the desktop only; app/Failure.h).
    bool holding = false;
    bool logOnStandardError = false;  // --log -: the program's failure lines go through the log
    os::SingleInstance* instance = nullptr;  // not owned; null: no raise requests
    // Pictures of the back buffer: after the last frame (the frame limit, or the frame
    // in which the Game began to quit) and every Nth frame; null or 0: none.
    const char* screenshotPath = nullptr;
    uint32_t screenshotEvery = 0;
    const char* screenshotFolder = nullptr;
    // On the desktop: every rendered frame's back buffer is shown in the window.
    bool presentIntoWindow = false;
    bool presentPathLogged = false;
    uint32_t presentedFrames = 0;
    // The unfocused pass's sleep (VornexEngine::Idle unless a test records it).
    void (*idle)(uint32_t milliseconds) = nullptr;
};
extern MainWindowState gMainWindow;

// Forgets every field (tests; the window layer keeps its own state).
void ResetMainWindowState();

// The process entry's work: returns kExitSuccess after a normal quit; kExitAlreadyRunning
// when another instance already runs (it is asked to come to the front); kExitStartFailed
// when the window or the engine did not start, the game's scripts failed in its start-up
// calls or a scene could not be loaded; kExitScriptErrors after a run whose scripts
// reported errors. Each failure says so on standard error (app/Failure.h). args: the
// Game's argument vector (program name first). frameLimit: quit after that many rendered
// frames (0: no limit).
int AppMain(GameDelegate* delegate, const char* title, char** args, int argCount, uint32_t frameLimit);
void RegisterMainWindowClass();
// The window, the engine start-up, the title and the first presentation; false (the
// engine shut down again) on failure.
bool CreateMainWindow(int32_t showCommand, const char* title);
// Windowed or full screen (as requested) at the size, which may change to the
// display mode found; false while there is no window or when the mode change failed.
bool SetDisplayMode(uint32_t* width, uint32_t* height);
void ApplyClientSize();
// A changed full-screen wish (main-loop step and Ctrl+Enter): the new presentation at the
// full-screen or windowed size, the desktop mode back when leaving full screen.
void ApplyFullScreenRequest(bool fullScreen);
int64_t MainWindowProc(wnd::Event& event, void* context);
// The Game's start on the created window: cursor clip, Game::Init, Activate and the
// switch to the project's start scene.
void StartGame(GameDelegate* delegate, char** args, int argCount);
// One pass of the main loop; false when the loop has ended (the Game closed and the
// engine shut down).
bool RunMainLoopPass();
// Clips the cursor to the client area in full screen, else releases it.
void UpdateCursorClip();
// On the desktop: shows the back buffer of the frame drawn last in the window.
void PresentIntoWindow();
// The desktop mode back (renderer flushed first); clears display-mode-changed and,
// with leaveFullScreen, full-screen active.
void RestoreDesktopMode(bool leaveFullScreen);

}  // namespace app
