#pragma once
// UIClipStack: the clip rectangles of the tree draw's clip-children elements, nested by
// intersection, and the scissor rectangle of the top one. Rectangles are in normalised
// device coordinates (x and y from -1 to 1, y up).
//
// Render thread only; one global, made by the UI's start-up table.
#include <cstdint>
#include <vector>

class Matrix;
struct Vector;

struct UIClipRect {
    float left, top, right, bottom;
};

class UIClipStack {
public:
    UIClipStack() { rects.reserve(2); }
    // Pushes the element rectangle (0, 0)-(w, h) through the matrix and the renderer's
    // view-projection, intersected with the top; enables the scissor test on the first.
    void Push(const Matrix& world, const Vector& size);
    // Removes the top: the new top becomes the scissor rectangle, or the test goes off.
    void Pop();
    // The top rectangle; false when the stack is empty.
    bool Top(UIClipRect* out) const;
    bool Empty() const { return rects.empty(); }
    uint32_t Depth() const { return uint32_t(rects.size()); }

    // The scissor rectangle of a clip rectangle in a viewport of width x height pixels,
    // clamped to the viewport (an empty intersection gives a zero-area rectangle).
    struct PixelRect {
        int32_t left, top, right, bottom;
    };
    static PixelRect ToPixels(const UIClipRect& r, uint32_t width, uint32_t height);

private:
    void ApplyScissor(const UIClipRect& r) const;
    std::vector<UIClipRect> rects;
};

void CreateUIClipStack();
void DestroyUIClipStack();
UIClipStack& GetUIClipStack();
