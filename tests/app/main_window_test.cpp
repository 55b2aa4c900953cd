// The main window's sizing rule against an independent float32 reference, and mouse
// button messages reaching the input manager in order, normalised, or dropped.
// test-sources: ../engine/NumpyReference.cpp
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "engine/NumpyReference.h"
#include "engine/input/InputManager.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { wnd::ResetWindowLayer(); }
    void TearDown() override { wnd::ResetWindowLayer(); }
};

TEST_F(MainWindowTest, SizingRectMatchesTheReferenceForEveryEdge) {
    const uint32_t styles[] = {wnd::kStyleOverlappedWindow, wnd::kStylePopup};
    // Proposed rectangles: above the minimum in both shapes, below it, at it exactly,
    // and one wider than 16:9 with odd sizes that truncation rounds.
    const wnd::Rect proposals[] = {
        {100, 50, 1400, 900}, {-20, 10, 1000, 1200}, {300, 300, 500, 400},
        {0, 0, 816, 489},     {0, 0, 800, 450},      {7, 3, 1931, 777},
    };
    std::ostringstream input;
    std::vector<wnd::Rect> results;
    for (uint32_t style : styles) {
        wnd::WindowDesc desc;
        desc.className = "SizingTest";
        desc.style = style;
        desc.width = 900;
        desc.height = 600;
        const wnd::WindowHandle window = wnd::CreateWindow(desc);
        ASSERT_NE(window, 0u);
        wnd::Rect frame;
        ASSERT_TRUE(wnd::AdjustWindowRect(&frame, style, 0));
        for (uint32_t edge = 0; edge <= 9; ++edge) {
            for (const wnd::Rect& p : proposals) {
                wnd::Rect r = p;
                app::ConstrainSizingRect(window, &r, edge);
                results.push_back(r);
                input << edge << ' ' << p.left << ' ' << p.top << ' ' << p.right << ' ' << p.bottom << ' '
                      << frame.Width() << ' ' << frame.Height() << '\n';
            }
        }
    }
    const std::vector<std::string> expected = RunNumpyReference("../app/sizing_reference.py", input.str());
    ASSERT_EQ(expected.size(), results.size());
    std::istringstream cases(input.str());
    for (size_t i = 0; i < results.size(); ++i) {
        std::string caseLine;
        std::getline(cases, caseLine);
        const wnd::Rect& r = results[i];
        EXPECT_EQ(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
                      std::to_string(r.bottom),
                  expected[i])
            << "edge left top right bottom frame: " << caseLine;
    }
}

TEST_F(MainWindowTest, ButtonMessagesPostTheirEventsInOrder) {
    struct Case {
        wnd::EventKind kind;
        wnd::MouseButton button;
        std::vector<uint32_t> keys;  // the mouse key down after each input frame
    } cases[] = {
        {wnd::EventKind::ButtonDown, wnd::MouseButton::Left, {kMouseButtonLeft}},
        {wnd::EventKind::ButtonDown, wnd::MouseButton::Middle, {kMouseButtonLeft + 2}},
        // A double click: its own key for one frame, then a button-down.
        {wnd::EventKind::ButtonDoubleClick, wnd::MouseButton::Left, {kMouseButtonLeft + 3, kMouseButtonLeft}},
        {wnd::EventKind::ButtonDoubleClick, wnd::MouseButton::Right, {kMouseButtonLeft + 4, kMouseButtonLeft + 1}},
        {wnd::EventKind::ButtonDoubleClick, wnd::MouseButton::Middle, {kMouseButtonLeft + 5, kMouseButtonLeft + 2}},
        {wnd::EventKind::MouseMove, wnd::MouseButton::Left, {}},
    };
    for (const Case& c : cases) {
        InputManager input;
        wnd::Event message;
        message.kind = c.kind;
        message.button = c.button;
        message.x = 200;
        message.y = 150;
        const app::MouseButtonEvents events = app::MouseButtonEventsFor(message);
        ASSERT_EQ(events.count, c.keys.size());
        for (uint32_t i = 0; i < events.count; ++i)
            EXPECT_TRUE(app::PostMouseButtonEvent(input, events.kinds[i], message, 800, 600));
        for (uint32_t expectedKey : c.keys) {
            input.Update();
            for (uint32_t key = kMouseButtonLeft; key < kMouseButtonLeft + kMouseButtonCount; ++key)
                EXPECT_EQ(input.IsKeyPressed(key), key == expectedKey) << key - kMouseButtonLeft;
            EXPECT_FLOAT_EQ(input.GetCursorPosition().x, 0.25f);
            EXPECT_FLOAT_EQ(input.GetCursorPosition().y, 0.25f);
        }
    }
}

TEST_F(MainWindowTest, TouchMessagesAndAnEmptyClientAreaPostNothing) {
    wnd::Event touch;
    touch.kind = wnd::EventKind::ButtonDown;
    touch.fromTouch = true;
    wnd::Event mouse;
    mouse.kind = wnd::EventKind::ButtonDown;
    struct Case {
        const wnd::Event* message;
        int32_t width, height;
    } dropped[] = {{&touch, 800, 600}, {&mouse, 0, 600}, {&mouse, 800, 0}, {&mouse, 0, 0}};
    InputManager input;
    for (const Case& c : dropped) EXPECT_FALSE(app::PostMouseButtonEvent(input, 0, *c.message, c.width, c.height));
    input.Update();
    EXPECT_FALSE(input.IsKeyPressed(kMouseButtonLeft));
}

}  // namespace
