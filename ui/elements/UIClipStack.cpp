#include "ui/elements/UIClipStack.h"

#include <algorithm>

#include "core/math/Matrix.h"
#include "platform/gfx/GfxDevice.h"
#include "render/VornexRenderer.h"

namespace {
UIClipStack* gClipStack = nullptr;

int32_t PixelClamp(float value, uint32_t limit) {
    // Truncation towards zero as the conversion asks, then into the viewport.
    const float clamped = std::clamp(value, 0.0f, float(limit));
    return int32_t(clamped);
}
}  // namespace

void UIClipStack::Push(const Matrix& world, const Vector& size) {
    Matrix m;
    m.Mul(gVornexRenderer.ViewProjectionMatrix(), world);  // world first, then the camera
    const float corners[4][2] = {{0, 0}, {size.x, 0}, {0, size.y}, {size.x, size.y}};
    UIClipRect r{};
    for (uint32_t i = 0; i < 4; ++i) {
        Vector p;
        p.TransformHomogen(m, Vector(corners[i][0], corners[i][1], 0.0f, 1.0f));
        if (i == 0) {
            r = {p.x, p.y, p.x, p.y};
            continue;
        }
        r.left = std::min(r.left, p.x), r.right = std::max(r.right, p.x);
        r.bottom = std::min(r.bottom, p.y), r.top = std::max(r.top, p.y);
    }
    if (rects.empty()) {
        if (gfx::Device* device = gVornexRenderer.Device()) device->SetRenderState(gfx::RS_SCISSORTESTENABLE, 1);
    } else {
        const UIClipRect& t = rects.back();
        r.left = std::max(r.left, t.left), r.right = std::min(r.right, t.right);
        r.top = std::min(r.top, t.top), r.bottom = std::max(r.bottom, t.bottom);
    }
    r.right = std::max(r.right, r.left);
    r.top = std::max(r.top, r.bottom);
    rects.push_back(r);
    ApplyScissor(r);
}

void UIClipStack::Pop() {
    if (rects.empty()) return;
    rects.pop_back();
    if (!rects.empty()) {
        ApplyScissor(rects.back());
        return;
    }
    if (gfx::Device* device = gVornexRenderer.Device()) device->SetRenderState(gfx::RS_SCISSORTESTENABLE, 0);
}

bool UIClipStack::Top(UIClipRect* out) const {
    if (rects.empty()) return false;
    *out = rects.back();
    return true;
}

UIClipStack::PixelRect UIClipStack::ToPixels(const UIClipRect& r, uint32_t width, uint32_t height) {
    const float w = float(width), h = float(height);
    return {PixelClamp((r.left + 1.0f) * 0.5f * w, width), PixelClamp((0.5f - r.top * 0.5f) * h, height),
            PixelClamp((r.right + 1.0f) * 0.5f * w, width), PixelClamp((0.5f - r.bottom * 0.5f) * h, height)};
}

void UIClipStack::ApplyScissor(const UIClipRect& r) const {
    gfx::Device* device = gVornexRenderer.Device();
    if (!device) return;
    gfx::Viewport viewport{};
    device->GetViewport(&viewport);
    const PixelRect p = ToPixels(r, viewport.width, viewport.height);
    const gfx::Rect rect{p.left, p.top, p.right, p.bottom};
    device->SetScissorRect(&rect);
}

void CreateUIClipStack() {
    if (!gClipStack) gClipStack = new UIClipStack;
}

void DestroyUIClipStack() {
    delete gClipStack;
    gClipStack = nullptr;
}

UIClipStack& GetUIClipStack() { return *gClipStack; }
