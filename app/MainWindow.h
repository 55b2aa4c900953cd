#pragma once
// The main window's helpers that the window procedure uses: the 16:9 sizing rule and
// the translation of mouse button messages into the input manager's mouse events.
//
// Threads: main thread only, like the window procedure.
#include <cstdint>

#include "platform/window/Window.h"

class InputManager;

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

}  // namespace app
