// The main window's procedure: one small handler per event kind, dispatched through a
// table. Kinds without a handler, and handled ones that fall through, go to the window
// layer's default procedure.
#include "app/MainWindow.h"
#include "core/Time.h"
#include "game/Game.h"
#include "engine/input/InputManager.h"
#include "platform/os/Clock.h"
#include "render/VornexRenderer.h"

namespace app {

namespace {

using Handler = int64_t (*)(wnd::Event& event);
constexpr uint32_t kEnterKey = 13;
constexpr uint32_t kBackspace = 8;

bool ClientSize(int32_t* width, int32_t* height) {
    wnd::Rect client;
    if (!wnd::GetClientRect(gMainWindow.window, &client)) return false;
    *width = client.Width();
    *height = client.Height();
    return *width > 0 && *height > 0;
}

int64_t OnDestroy(wnd::Event&) {
    gGame->Quit();
    gVornexRenderer.FlushCommands(true);
    return 0;
}

int64_t OnMove(wnd::Event&) {
    UpdateCursorClip();
    return 0;
}

int64_t OnSize(wnd::Event&) {
    MainWindowState& s = gMainWindow;
    if (s.resizing) return 0;
    wnd::Rect rect;
    wnd::GetWindowRect(s.window, &rect);
    if (!s.fullScreenActive && rect.Width() < rect.Height()) {
        ConstrainSizingRect(s.window, &rect, 2);  // as a right-edge drag
        wnd::MoveWindow(s.window, rect.left, rect.top, rect.Width(), rect.Height(), true);
        s.resizing = true;
        return 0;
    }
    ApplyClientSize();
    return 0;
}

int64_t OnActivate(wnd::Event& event) {
    if (event.code == wnd::kActivateActive) gGame->RefreshHardwareCursor();
    return 0;
}

int64_t OnPaint(wnd::Event&) {
    // Without a frame the client area stays black (nothing is drawn headless).
    if (wnd::GetFocus() != gMainWindow.window && gGame->IsInitialised() && !gMainWindow.resizing) {
        gGame->RenderFrame();
        // On the desktop the frame reaches the window only when handed to it.
        if (gMainWindow.presentIntoWindow) PresentIntoWindow();
    }
    return 0;
}

int64_t OnSetCursor(wnd::Event& event) {
    wnd::Point point{event.x, event.y};
    wnd::Rect client;
    if (wnd::ScreenToClient(gMainWindow.window, &point) && wnd::GetClientRect(gMainWindow.window, &client) &&
        point.x > client.left && point.x < client.right && point.y > client.top && point.y < client.bottom) {
        wnd::SetCursor(gGame->GetHardwareCursor());
        return 1;
    }
    return wnd::DefaultProcedure(event);
}

int64_t OnKeyDown(wnd::Event& event) {
    // A failure on the console: any key ends the run.
    if (gMainWindow.holding) {
        gGame->Quit();
        return 1;
    }
    if (event.code == kEnterKey && wnd::IsCtrlKeyDown()) {
        ApplyFullScreenRequest(!gMainWindow.fullScreenRequested);
        return 1;
    }
    return gGame->OnKeyDown(event.code) ? 1 : 0;
}

int64_t OnChar(wnd::Event& event) {
    if (event.code != kBackspace) gGame->OnChar(event.code);
    return 0;
}

int64_t OnSysCommand(wnd::Event& event) {
    return event.code == wnd::kSysCommandKeyMenu ? 0 : wnd::DefaultProcedure(event);
}

int64_t OnMouseMove(wnd::Event& event) {
    const MainWindowState& s = gMainWindow;
    if (s.touched && os::ReadCounter() - s.lastTouchTime <= Time::FromSeconds(kTouchMouseQuietSeconds).ticks) return 0;
    int32_t width = 0, height = 0;
    if (!ClientSize(&width, &height)) return 0;  // minimised: nothing to normalise against
    gGame->GetInputManager()->OnMouseMove(static_cast<float>(event.x) / static_cast<float>(width),
                                          static_cast<float>(event.y) / static_cast<float>(height));
    return 0;
}

int64_t OnButton(wnd::Event& event) {
    if (gMainWindow.holding) {
        if (event.kind == wnd::EventKind::ButtonDown) gGame->Quit();
        return 0;
    }
    int32_t width = 0, height = 0;
    ClientSize(&width, &height);
    const MouseButtonEvents events = MouseButtonEventsFor(event);
    for (uint32_t i = 0; i < events.count; ++i)
        PostMouseButtonEvent(*gGame->GetInputManager(), events.kinds[i], event, width, height);
    return 0;
}

int64_t OnWheel(wnd::Event& event) {
    gGame->GetInputManager()->SetWheelFromMessage(event.wheelDelta);
    return 0;
}

int64_t OnSizing(wnd::Event& event) {
    gMainWindow.resizing = true;
    gMainWindow.resizeDeadline = os::ReadCounter() + Time::FromSeconds(kResizeDelaySeconds).ticks;
    ConstrainSizingRect(gMainWindow.window, &event.rect, event.code);
    return 0;
}

int64_t OnDeviceChange(wnd::Event&) {
    gGame->GetInputManager()->OnDevicesChanged();
    return 0;
}

int64_t OnTouch(wnd::Event& event) {
    gMainWindow.touched = true;
    gMainWindow.lastTouchTime = os::ReadCounter();
    if (!gGame->OnTouch(event.code, event.touch)) return wnd::DefaultProcedure(event);
    return 0;
}

int64_t OnTabletGestureQuery(wnd::Event&) { return kTabletGestureStatus; }

constexpr Handler kHandlers[] = {
    &OnDestroy,  &OnMove,       &OnSize,        &OnActivate, &OnPaint,  &OnSetCursor,    &OnKeyDown,
    &OnChar,     &OnSysCommand, &OnMouseMove,   &OnButton,   &OnButton, &OnButton,       &OnWheel,
    &OnSizing,   &OnDeviceChange, &OnTouch,     &OnTabletGestureQuery,
};
static_assert(sizeof(kHandlers) / sizeof(kHandlers[0]) == static_cast<size_t>(wnd::EventKind::Count),
              "one handler per window event kind");

}  // namespace

int64_t MainWindowProc(wnd::Event& event, void*) {
    const auto kind = static_cast<size_t>(event.kind);
    if (kind >= static_cast<size_t>(wnd::EventKind::Count) || !gGame) return wnd::DefaultProcedure(event);
    return kHandlers[kind](event);
}

}  // namespace app
