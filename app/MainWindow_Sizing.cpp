// The 16:9 sizing rule of the main window.
#include <algorithm>
#include <climits>

#include "app/MainWindow.h"

namespace app {

namespace {

constexpr float kHeightPerWidth = 0.5625f;
constexpr float kWidthPerHeight = 1.7777778f;

// Rectangles of a sizing drag come from outside; sums saturate instead of wrapping.
int32_t Clamp(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }
int64_t HeightFor(int64_t width) { return static_cast<int64_t>(static_cast<float>(width) * kHeightPerWidth); }
int64_t WidthFor(int64_t height) { return static_cast<int64_t>(static_cast<float>(height) * kWidthPerHeight); }

}  // namespace

void ConstrainSizingRect(wnd::WindowHandle window, wnd::Rect* rect, uint32_t edge) {
    if (!rect) return;
    wnd::Rect frame;
    if (!wnd::AdjustWindowRect(&frame, wnd::GetWindowStyle(window), wnd::GetWindowExStyle(window))) frame = {};
    const int64_t frameWidth = frame.Width(), frameHeight = frame.Height();
    const int64_t left = rect->left, top = rect->top, right = rect->right, bottom = rect->bottom;
    int64_t width = std::max<int64_t>(right - left - frameWidth, kMinClientWidth);
    int64_t height = std::max<int64_t>(bottom - top - frameHeight, kMinClientHeight);
    switch (edge) {
    case 1:  // left
        rect->bottom = Clamp(top + HeightFor(width) + frameHeight);
        rect->left = Clamp(right - width - frameWidth);
        break;
    case 2:  // right
        rect->bottom = Clamp(top + HeightFor(width) + frameHeight);
        rect->right = Clamp(left + width + frameWidth);
        break;
    case 3:  // top
        rect->top = Clamp(bottom - height - frameHeight);
        rect->right = Clamp(left + WidthFor(height) + frameWidth);
        break;
    case 6:  // bottom
        rect->bottom = Clamp(top + height + frameHeight);
        rect->right = Clamp(left + WidthFor(height) + frameWidth);
        break;
    case 4:
    case 5:
    case 7:
    case 8: {  // corners: the shorter side follows the longer one
        if (static_cast<float>(height) / static_cast<float>(width) > kHeightPerWidth)
            width = WidthFor(height);
        else
            height = HeightFor(width);
        if (edge <= 5)
            rect->top = Clamp(bottom - height - frameHeight);
        else
            rect->bottom = Clamp(top + height + frameHeight);
        if (edge == 4 || edge == 7)
            rect->left = Clamp(right - width - frameWidth);
        else
            rect->right = Clamp(left + width + frameWidth);
        break;
    }
    default:
        break;
    }
}

}  // namespace app
