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
    struct Case {
        K kind;
        B button;
        bool fromTouch;
        int32_t clientWidth, clientHeight;
        uint32_t posts;
        std::vector<uint32_t> keys;  // the mouse key down after each input frame; none: dropped
    } cases[] = {
        {K::ButtonDown, B::Middle, false, 800, 600, 1, {kMouseButtonLeft + 2}},
        {K::ButtonDoubleClick, B::Left, false, 800, 600, 2, {kMouseButtonLeft + 3, kMouseButtonLeft}},
        {K::ButtonDoubleClick, B::Right, false, 800, 600, 2, {kMouseButtonLeft + 4, kMouseButtonLeft + 1}},
        {K::ButtonDoubleClick, B::Middle, false, 800, 600, 2, {kMouseButtonLeft + 5, kMouseButtonLeft + 2}},
        {K::ButtonDown, B::Left, true, 800, 600, 1, {}},  // synthesised from touch or pen
        {K::ButtonDown, B::Left, false, 0, 600, 1, {}},   // minimised
        {K::ButtonDown, B::Left, false, 800, 0, 1, {}},
        {K::MouseMove, B::Left, false, 800, 600, 0, {}},
    };
    for (const Case& c : cases) {
        InputManager input;
        wnd::Event message;
        message.kind = c.kind, message.button = c.button, message.fromTouch = c.fromTouch;
        message.x = 200, message.y = 150;
        const app::MouseButtonEvents events = app::MouseButtonEventsFor(message);
        ASSERT_EQ(events.count, c.posts);
        for (uint32_t i = 0; i < events.count; ++i)
            EXPECT_EQ(app::PostMouseButtonEvent(input, events.kinds[i], message, c.clientWidth, c.clientHeight),
                      !c.keys.empty());
        for (size_t frame = 0; frame < std::max<size_t>(c.keys.size(), 1); ++frame) {
            input.Update();
            for (uint32_t key = kMouseButtonLeft; key < kMouseButtonLeft + kMouseButtonCount; ++key)
                EXPECT_EQ(input.IsKeyPressed(key), frame < c.keys.size() && key == c.keys[frame]) << key;
            if (!c.keys.empty()) {
                EXPECT_EQ(input.GetCursorPosition().x + input.GetCursorPosition().y, 0.5f);
            }
        }
    }
}

}  // namespace
