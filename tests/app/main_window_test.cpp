// test-sources: ../engine/NumpyReference.cpp
// The main window's sizing rule against a float32 reference, and mouse button messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "engine/NumpyReference.h"
#include "engine/input/InputManager.h"

namespace {

TEST(MainWindow, SizingRectMatchesTheReferenceForEveryEdge) {
    wnd::ResetWindowLayer();
    // Above the minimum in both shapes, below it, at it, and odd sizes that truncate.
    const wnd::Rect proposals[] = {{100, 50, 1400, 900}, {-20, 10, 1000, 1200}, {300, 300, 500, 400},
                                   {0, 0, 816, 489},     {0, 0, 800, 450},      {7, 3, 1931, 777}};
    std::ostringstream input;
    std::vector<std::string> results;
    for (uint32_t style : {wnd::kStyleOverlappedWindow, wnd::kStylePopup}) {
        const wnd::WindowHandle window = wnd::CreateWindow({"SizingTest", "", style});
        const wnd::FrameSize frame = wnd::FrameForStyle(style);
        for (uint32_t edge = 0; edge <= 9; ++edge) {
            for (const wnd::Rect& p : proposals) {
                wnd::Rect r = p;
                app::ConstrainSizingRect(window, &r, edge);
                results.push_back(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) +
                                  " " + std::to_string(r.bottom));
                input << edge << ' ' << p.left << ' ' << p.top << ' ' << p.right << ' ' << p.bottom << ' '
                      << frame.left + frame.right << ' ' << frame.top + frame.bottom << '\n';
            }
        }
    }
    EXPECT_EQ(results, RunNumpyReference("../app/sizing_reference.py", input.str()));
}

TEST(MainWindow, ButtonMessagesPostTheirEventsInOrderOrNothing) {
    using K = wnd::EventKind;
    using B = wnd::MouseButton;
    // The main loop's tests drive left clicks, touch and a minimised window; these are the rest.
    struct Case { K kind; B button; int32_t clientHeight; uint32_t posts; std::vector<uint32_t> keys; } cases[] = {
        {K::ButtonDown, B::Middle, 600, 1, {kMouseButtonLeft + 2}},  // the mouse key down after each input frame
        {K::ButtonDoubleClick, B::Right, 600, 2, {kMouseButtonLeft + 4, kMouseButtonLeft + 1}},
        {K::ButtonDoubleClick, B::Middle, 600, 2, {kMouseButtonLeft + 5, kMouseButtonLeft + 2}},
        {K::ButtonDown, B::Left, 0, 1, {}},  // no client area: dropped
        {K::MouseMove, B::Left, 600, 0, {}},
    };
    for (const Case& c : cases) {
        InputManager input;
        wnd::Event message;
        message.kind = c.kind, message.button = c.button, message.x = 200, message.y = 150;
        const app::MouseButtonEvents events = app::MouseButtonEventsFor(message);
        ASSERT_EQ(events.count, c.posts);
        for (uint32_t i = 0; i < events.count; ++i)
            EXPECT_EQ(app::PostMouseButtonEvent(input, events.kinds[i], message, 800, c.clientHeight),
                      !c.keys.empty());
        for (size_t frame = 0; frame < std::max<size_t>(c.keys.size(), 1); ++frame) {
            input.Update();
            for (uint32_t key = kMouseButtonLeft; key < kMouseButtonLeft + kMouseButtonCount; ++key)
                EXPECT_EQ(input.IsKeyPressed(key), frame < c.keys.size() && key == c.keys[frame]) << key;
            EXPECT_TRUE(c.keys.empty() || input.GetCursorPosition().x + input.GetCursorPosition().y == 0.5f);
        }
    }
}

}  // namespace
