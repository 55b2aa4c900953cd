// The event queue of the headless window layer, dispatch into window procedures and
// the touch contact records behind touch events.
#include <algorithm>

#include "platform/window/WindowImpl.h"

namespace wnd {

using namespace detail;

namespace {

TouchRecord* FindTouch(TouchHandle handle) {
    if (!handle) return nullptr;
    for (TouchRecord& t : GetState().touches)
        if (t.handle == handle) return &t;
    return nullptr;
}

}  // namespace

bool SetWindowProcedure(WindowHandle window, WindowProcedure procedure, void* context) {
    WindowRecord* w = FindRecord(window);
    if (!w) return false;
    w->procedure = procedure;
    w->context = context;
    return true;
}

bool PostEvent(const Event& event) {
    if (!FindRecord(event.window)) return false;
    if (GetState().queue.size() >= kMaxQueuedEvents) return false;
    GetState().queue.push_back(event);
    return true;
}

bool PeekEvent(Event* event) {
    State& s = GetState();
    PumpDesktop();
    if (s.queue.empty()) {
        if (s.desktop) s.takenModifiers = s.desktopModifiers;  // caught up with the keyboard
        return false;
    }
    if (s.desktop) s.takenModifiers = s.queue.front().modifiers;
    if (event) *event = s.queue.front();
    s.queue.pop_front();
    return true;
}

uint32_t PendingEventCount() { return static_cast<uint32_t>(GetState().queue.size()); }

int64_t DispatchEvent(Event& event) {
    WindowRecord* w = FindRecord(event.window);
    if (!w) return 0;
    const WindowProcedure procedure = w->procedure;
    void* const context = w->context;
    const int64_t result = procedure ? procedure(event, context) : DefaultProcedure(event);
    // The procedure may have destroyed or created windows: look the record up again.
    w = FindRecord(event.window);
    if (!w) return result;
    if (event.kind == EventKind::Sizing) {
        const Rect r = event.rect;
        SetWindowPos(event.window, ZOrder::Unchanged, r.left, r.top, r.Width(), r.Height(), 0);
    } else if (event.kind == EventKind::Destroy && w->destroying) {
        const WindowHandle handle = w->handle;
        DestroyNative(*w);
        State& s = GetState();
        s.windows.erase(std::remove_if(s.windows.begin(), s.windows.end(),
                                       [&](const WindowRecord& r) { return r.handle == handle; }),
                        s.windows.end());
        ForgetWindow(handle);
    }
    return result;
}

int64_t DefaultProcedure(Event& event) {
    State& s = GetState();
    const uint32_t kind = static_cast<uint32_t>(event.kind);
    if (kind < static_cast<uint32_t>(EventKind::Count)) s.defaultHandled[kind]++;
    if (event.kind == EventKind::SetCursor) SetCursor(kArrowCursor);
    if (event.kind == EventKind::Touch) CloseTouchInputHandle(event.touch);
    return 0;
}

uint32_t DefaultHandledCount(EventKind kind) {
    const uint32_t k = static_cast<uint32_t>(kind);
    return k < static_cast<uint32_t>(EventKind::Count) ? GetState().defaultHandled[k] : 0;
}

bool PostTouchEvent(WindowHandle window, const TouchContact* contacts, uint32_t count) {
    State& s = GetState();
    if (!FindRecord(window) || !contacts || count == 0 || count > kMaxTouchContacts) return false;
    if (s.touches.size() >= kMaxOpenTouchHandles || s.queue.size() >= kMaxQueuedEvents) return false;
    TouchRecord t;
    t.handle = s.nextTouch++;
    t.window = window;
    if (s.nextTouch == 0) s.nextTouch = 1;
    t.contacts.assign(contacts, contacts + count);
    s.touches.push_back(std::move(t));
    Event e;
    e.kind = EventKind::Touch;
    e.window = window;
    e.code = count;
    e.touch = s.touches.back().handle;
    Enqueue(e);
    return true;
}

bool GetTouchInputInfo(TouchHandle handle, uint32_t count, TouchContact* out) {
    const TouchRecord* t = FindTouch(handle);
    if (!t || (count && !out)) return false;
    const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(t->contacts.size()));
    std::copy_n(t->contacts.begin(), n, out);
    return true;
}

bool CloseTouchInputHandle(TouchHandle handle) {
    State& s = GetState();
    const auto it =
        std::find_if(s.touches.begin(), s.touches.end(), [&](const TouchRecord& t) { return t.handle == handle; });
    if (it == s.touches.end()) return false;
    s.touches.erase(it);
    return true;
}

uint32_t OpenTouchHandleCount() { return static_cast<uint32_t>(GetState().touches.size()); }

namespace detail {

void Enqueue(const Event& event) {
    State& s = GetState();
    if (s.queue.size() < kMaxQueuedEvents) s.queue.push_back(event);
}

void Notify(EventKind kind, WindowHandle window, uint32_t code, int32_t x, int32_t y) {
    Event e;
    e.kind = kind;
    e.window = window;
    e.code = code;
    e.x = x;
    e.y = y;
    Enqueue(e);
}

void ForgetWindow(WindowHandle window) {
    State& s = GetState();
    s.touches.erase(std::remove_if(s.touches.begin(), s.touches.end(),
                                   [&](const TouchRecord& t) { return t.window == window; }),
                    s.touches.end());
    s.queue.erase(std::remove_if(s.queue.begin(), s.queue.end(), [&](const Event& e) { return e.window == window; }),
                  s.queue.end());
    if (s.focus == window) s.focus = 0;
}

}  // namespace detail

}  // namespace wnd
