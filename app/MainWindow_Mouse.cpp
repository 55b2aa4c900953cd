// Mouse button messages of the main window.
#include "app/MainWindow.h"
#include "engine/input/InputManager.h"

namespace app {

MouseButtonEvents MouseButtonEventsFor(const wnd::Event& message) {
    // Kinds come in threes per button (left, right, middle): down, up, double click.
    const uint32_t base = static_cast<uint32_t>(message.button) * 3;
    MouseButtonEvents events;
    if (message.button > wnd::MouseButton::Middle) return events;
    switch (message.kind) {
    case wnd::EventKind::ButtonDown:
        events.kinds[events.count++] = base + MOUSEEVENT_LEFT_DOWN;
        break;
    case wnd::EventKind::ButtonUp:
        events.kinds[events.count++] = base + MOUSEEVENT_LEFT_UP;
        break;
    case wnd::EventKind::ButtonDoubleClick:
        events.kinds[events.count++] = base + MOUSEEVENT_LEFT_DOUBLE;
        events.kinds[events.count++] = base + MOUSEEVENT_LEFT_DOWN;
        break;
    default:
        break;
    }
    return events;
}

bool PostMouseButtonEvent(InputManager& input, uint32_t kind, const wnd::Event& message, int32_t clientWidth,
                          int32_t clientHeight) {
    if (message.fromTouch || clientWidth <= 0 || clientHeight <= 0) return false;
    return input.PostMouseEvent(kind, static_cast<float>(message.x) / static_cast<float>(clientWidth),
                                static_cast<float>(message.y) / static_cast<float>(clientHeight));
}

}  // namespace app
