#pragma once
// The window layer's process-wide state, shared by its facets (Window.cpp: windows,
// placement and focus; WindowEvents.cpp: the queue, dispatch and touch records;
// WindowScreen.cpp: display modes, the cursor and the reset). Main thread only.
#include <deque>
#include <string>
#include <vector>

#include "platform/window/Window.h"

namespace wnd::detail {

struct WindowRecord {
    WindowHandle handle = 0;
    std::string className;
    std::string title;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    FrameSize frame{};  // taken from the style at creation and on kPosFrameChanged
    Rect rect;          // window rectangle, screen coordinates
    Rect restoreRect;   // the rectangle before maximising
    ShowState show = ShowState::Hidden;
    bool destroying = false;
    WindowProcedure procedure = nullptr;
    void* context = nullptr;
    void* native = nullptr;  // the desktop window (SDL_Window) while the desktop back end runs
    uint32_t nativeId = 0;   // its window id
};

struct TouchRecord {
    TouchHandle handle = 0;
    WindowHandle window = 0;
    std::vector<TouchContact> contacts;
};

struct CursorRecord {
    CursorHandle handle = 0;
    CursorImage image;
    void* native = nullptr;  // the desktop cursor (SDL_Cursor)
};

constexpr uint32_t kMaxQueuedEvents = 4096;
constexpr uint32_t kMaxDisplayModes = 64;

struct State {
    std::vector<WindowRecord> windows;  // creation order
    WindowHandle nextWindow = 1;
    WindowHandle focus = 0;
    Requests requests;
    bool ctrlDown = false;
    bool shiftDown = false;

    std::deque<Event> queue;
    uint32_t defaultHandled[static_cast<uint32_t>(EventKind::Count)] = {};
    std::vector<TouchRecord> touches;
    TouchHandle nextTouch = 1;

    std::vector<DisplayMode> modes;
    uint32_t desktopMode = 0;
    uint32_t currentMode = 0;
    bool changeFails = false;
    uint32_t changeCount = 0;

    int32_t cursorCounter = 0;
    bool clipped = false;
    Rect clip;
    Point cursorPos;
    std::vector<CursorRecord> cursors;  // the arrow first
    CursorHandle nextCursor = kArrowCursor + 1;
    CursorHandle currentCursor = kArrowCursor;

    bool desktop = false;  // the desktop back end runs
    uint8_t desktopModifiers = 0;  // as the desktop's input delivered them so far
    uint8_t takenModifiers = 0;    // those of the desktop event PeekEvent took last
    KeyTranslator translator = nullptr;
};

State& GetState();
WindowRecord* FindRecord(WindowHandle window);
Rect ScreenRect();
// Appends without the window check (the layer's own notifications).
void Enqueue(const Event& event);
void Notify(EventKind kind, WindowHandle window, uint32_t code = 0, int32_t x = 0, int32_t y = 0);
// Called when a window ends: its queued events, touch records and the focus go.
void ForgetWindow(WindowHandle window);

// The desktop back end (WindowDesktop.cpp); each does nothing while it is not running.
// Creates or updates the real window from the record.
void SyncNative(WindowRecord& w);
void DestroyNative(WindowRecord& w);
void SyncNativeFocus(WindowHandle window);
// Turns pending desktop input into queued events.
void PumpDesktop();
void DesktopFlash(const WindowRecord& w, uint32_t flags);
void DesktopCursorVisible(bool visible);
void DesktopClip(const Rect* rect);
void DesktopWarp(Point p);
void* DesktopCreateCursor(const CursorImage& image);
void DesktopDestroyCursor(void* cursor);
// The arrow's record shows the desktop's arrow; null shows no cursor at all, as setting
// none does on the platform.
void DesktopSetCursor(const CursorRecord* cursor);
// Puts the focus window into that mode (full screen) or back to the desktop; false
// when the desktop refuses.
bool DesktopChangeMode(const DisplayMode& mode, bool desktopMode);

}  // namespace wnd::detail
