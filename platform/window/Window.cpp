// Windows, placement, show states and focus of the headless window layer.
//
// The client area is always derived: origin = window rectangle's top-left plus the
// frame's left and top, size = window size minus the frame (never negative), 0 x 0
// while minimised. Every call that changes the client origin or size posts Move and
// Size, as the original platform sends them from its placement calls.
#include <algorithm>

#include "platform/window/WindowImpl.h"

namespace wnd {

using namespace detail;

namespace {

Point ClientOrigin(const WindowRecord& w) { return {w.rect.left + w.frame.left, w.rect.top + w.frame.top}; }

Point ClientSize(const WindowRecord& w) {
    if (w.show == ShowState::Minimized) return {0, 0};
    const int32_t width = w.rect.Width() - w.frame.left - w.frame.right;
    const int32_t height = w.rect.Height() - w.frame.top - w.frame.bottom;
    return {std::max(width, 0), std::max(height, 0)};
}

uint32_t SizeType(const WindowRecord& w) {
    switch (w.show) {
        case ShowState::Minimized: return kSizeMinimized;
        case ShowState::Maximized: return kSizeMaximized;
        default: return kSizeRestored;
    }
}

// Runs a change and posts Move and Size for whatever it moved.
template <class F>
void ChangeGeometry(WindowRecord& w, F change, bool forceSize = false) {
    const Point origin = ClientOrigin(w);
    const Point size = ClientSize(w);
    change();
    const Point newOrigin = ClientOrigin(w);
    const Point newSize = ClientSize(w);
    if (!(newOrigin == origin)) Notify(EventKind::Move, w.handle, 0, newOrigin.x, newOrigin.y);
    if (forceSize || !(newSize == size))
        Notify(EventKind::Size, w.handle, SizeType(w), newSize.x, newSize.y);
}

}  // namespace

FrameSize FrameForStyle(uint32_t style) {
    return (style & (kStyleCaption | kStyleThickFrame)) ? kFramedWindowFrame : kPopupFrame;
}

bool AdjustWindowRect(Rect* rect, uint32_t style, uint32_t /*exStyle*/) {
    if (!rect) return false;
    const FrameSize f = FrameForStyle(style);
    rect->left -= f.left;
    rect->top -= f.top;
    rect->right += f.right;
    rect->bottom += f.bottom;
    return true;
}

WindowHandle CreateWindow(const WindowDesc& desc) {
    if (!desc.className || !desc.className[0]) return 0;
    State& s = GetState();
    WindowRecord w;
    w.handle = s.nextWindow++;
    w.className = desc.className;
    w.title = desc.title ? desc.title : "";
    w.style = desc.style;
    w.exStyle = desc.exStyle;
    w.frame = FrameForStyle(desc.style);
    w.rect = {desc.x, desc.y, desc.x + std::max(desc.width, 0), desc.y + std::max(desc.height, 0)};
    w.restoreRect = w.rect;
    s.windows.push_back(w);
    SyncNative(s.windows.back());
    return w.handle;
}

bool DestroyWindow(WindowHandle window) {
    WindowRecord* w = FindRecord(window);
    if (!w || w->destroying) return false;
    w->destroying = true;
    if (GetState().focus == window) GetState().focus = 0;
    Notify(EventKind::Destroy, window);
    return true;
}

bool IsWindow(WindowHandle window) { return FindRecord(window) != nullptr; }

WindowHandle FindWindow(const char* className) {
    if (!className) return 0;
    for (const WindowRecord& w : GetState().windows)
        if (!w.destroying && w.className == className) return w.handle;
    return 0;
}

bool SetWindowText(WindowHandle window, const char* text) {
    WindowRecord* w = FindRecord(window);
    if (!w) return false;
    w->title = text ? text : "";
    SyncNative(*w);
    return true;
}

const char* GetWindowText(WindowHandle window) {
    const WindowRecord* w = FindRecord(window);
    return w ? w->title.c_str() : "";
}

uint32_t GetWindowStyle(WindowHandle window) {
    const WindowRecord* w = FindRecord(window);
    return w ? w->style : 0;
}

bool SetWindowStyle(WindowHandle window, uint32_t style) {
    WindowRecord* w = FindRecord(window);
    if (!w) return false;
    w->style = style;
    return true;
}

uint32_t GetWindowExStyle(WindowHandle window) {
    const WindowRecord* w = FindRecord(window);
    return w ? w->exStyle : 0;
}

bool GetWindowRect(WindowHandle window, Rect* rect) {
    const WindowRecord* w = FindRecord(window);
    if (!w || !rect) return false;
    *rect = w->rect;
    return true;
}

bool GetClientRect(WindowHandle window, Rect* rect) {
    const WindowRecord* w = FindRecord(window);
    if (!w || !rect) return false;
    const Point size = ClientSize(*w);
    *rect = {0, 0, size.x, size.y};
    return true;
}

bool SetWindowPos(WindowHandle window, ZOrder order, int32_t x, int32_t y, int32_t width, int32_t height,
                  uint32_t flags) {
    WindowRecord* w = FindRecord(window);
    if (!w) return false;
    if (order == ZOrder::Topmost) w->exStyle |= kExStyleTopmost;
    if (order == ZOrder::NotTopmost) w->exStyle &= ~kExStyleTopmost;
    ChangeGeometry(*w, [&] {
        if (flags & kPosFrameChanged) w->frame = FrameForStyle(w->style);
        Rect r = w->rect;
        if (!(flags & kPosNoMove)) r = {x, y, x + r.Width(), y + r.Height()};
        if (!(flags & kPosNoSize)) r.right = r.left + std::max(width, 0), r.bottom = r.top + std::max(height, 0);
        w->rect = r;
        if (w->show == ShowState::Maximized) w->show = ShowState::Normal;
        w->restoreRect = r;
    });
    SyncNative(*w);
    return true;
}

bool MoveWindow(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) {
    if (!SetWindowPos(window, ZOrder::Unchanged, x, y, width, height, 0)) return false;
    if (repaint) Notify(EventKind::Paint, window);
    return true;
}

bool ShowWindow(WindowHandle window, int32_t command) {
    WindowRecord* w = FindRecord(window);
    if (!w) return false;
    State& s = GetState();
    const bool wasVisible = w->show != ShowState::Hidden;
    switch (command) {
        case kShowHide:
            w->show = ShowState::Hidden;
            if (s.focus == window) SetFocus(0);
            break;
        case kShowMinimized:
        case kShowMinimize:
        case kShowMinNoActive:
            if (s.focus == window) SetFocus(0);
            ChangeGeometry(*w, [&] { w->show = ShowState::Minimized; }, true);
            break;
        case kShowMaximized:
            ChangeGeometry(
                *w,
                [&] {
                    if (w->show != ShowState::Maximized) w->restoreRect = w->rect;
                    const Rect screen = ScreenRect();
                    w->rect = {screen.left - w->frame.left, screen.top - w->frame.top, screen.right + w->frame.right,
                               screen.bottom + w->frame.bottom};
                    w->show = ShowState::Maximized;
                },
                true);
            break;
        case kShowNormal:
        case kShowRestore:
            if (command == kShowRestore) s.requests.restores++;
            ChangeGeometry(
                *w,
                [&] {
                    if (w->show == ShowState::Maximized) w->rect = w->restoreRect;
                    w->show = ShowState::Normal;
                },
                w->show != ShowState::Normal);
            break;
        default:
            if (w->show == ShowState::Hidden) w->show = ShowState::Normal;
            break;
    }
    SyncNative(*w);
    return wasVisible;
}

ShowState GetShowState(WindowHandle window) {
    const WindowRecord* w = FindRecord(window);
    return w ? w->show : ShowState::Hidden;
}

bool UpdateWindow(WindowHandle window) {
    if (!FindRecord(window)) return false;
    Notify(EventKind::Paint, window);
    return true;
}

WindowHandle GetFocus() { return GetState().focus; }

bool SetFocus(WindowHandle window) {
    State& s = GetState();
    if (window && !FindRecord(window)) return false;
    if (s.focus == window) return true;
    const WindowHandle old = s.focus;
    s.focus = window;
    if (old) Notify(EventKind::Activate, old, kActivateInactive);
    if (window) Notify(EventKind::Activate, window, kActivateActive);
    SyncNativeFocus(window);
    return true;
}

bool SetForegroundWindow(WindowHandle window) { return window && SetFocus(window); }

bool ClientToScreen(WindowHandle window, Point* point) {
    const WindowRecord* w = FindRecord(window);
    if (!w || !point) return false;
    const Point origin = ClientOrigin(*w);
    point->x += origin.x;
    point->y += origin.y;
    return true;
}

bool ScreenToClient(WindowHandle window, Point* point) {
    const WindowRecord* w = FindRecord(window);
    if (!w || !point) return false;
    const Point origin = ClientOrigin(*w);
    point->x -= origin.x;
    point->y -= origin.y;
    return true;
}

bool FlashWindowEx(WindowHandle window, uint32_t flags, uint32_t count, uint32_t timeoutMs) {
    if (!FindRecord(window)) return false;
    Requests& r = GetState().requests;
    r.flashes++;
    r.lastFlash = {window, flags, count, timeoutMs};
    DesktopFlash(*FindRecord(window), flags);
    return true;
}

bool MessageBeep(uint32_t type) {
    Requests& r = GetState().requests;
    r.beeps++;
    r.lastBeepType = type;
    return true;
}

const Requests& GetRequests() { return GetState().requests; }

void SetCtrlKeyDown(bool down) { GetState().ctrlDown = down; }
bool IsCtrlKeyDown() {
    const State& s = GetState();
    return s.ctrlDown || (s.desktop && (s.takenModifiers & kModifierCtrl));
}

void SetShiftKeyDown(bool down) { GetState().shiftDown = down; }
bool IsShiftKeyDown() {
    const State& s = GetState();
    return s.shiftDown || (s.desktop && (s.takenModifiers & kModifierShift));
}

uint32_t GetDoubleClickTime() { return kDoubleClickTimeMs; }

namespace detail {

WindowRecord* FindRecord(WindowHandle window) {
    if (!window) return nullptr;
    for (WindowRecord& w : GetState().windows)
        if (w.handle == window) return &w;
    return nullptr;
}

}  // namespace detail

}  // namespace wnd
