// The blurred screen copy behind UI blur panels (render thread, from the panel's draw).
//
// The panel's corners go through its transform to pixels of the bound target; their
// bounding rectangle, rounded outwards and clamped to the target, is copied with linear
// filtering into the top-left corner of light buffer A at half size (of the back buffer's
// scale), and blurred there. The caller draws its quad with A's texture and the returned
// texture-coordinate scale and offset: u across the panel's own (unclamped) rectangle
// then lands on the copied part of A. The bound target, its flags and viewport are bound
// again before returning, so the panel draws where it was meant to.
//
// Scripts may switch the per-frame copy off (PostprocessManager). Each copy made while it
// is off is also kept, blurred, in a texture of A's size (A itself is rewritten by the
// chain every frame), and the frames that do not copy hand back that texture with the
// scale and offset of the last copy.
#include <algorithm>
#include <cmath>

#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/shaders/PostProcessChain.h"
#include "render/shaders/PostprocessManager.h"

using namespace gfx;

namespace {

constexpr float kBehindCamera = 1e-6f;

int64_t ClampEdge(double v, uint32_t limit) {
    if (!(v > 0.0)) return 0;
    return v < static_cast<double>(limit) ? static_cast<int64_t>(v) : limit;
}

}  // namespace

const DeviceObjectHandle* PostProcessChain::BlurScreenQuad(Vector* scale, Vector* offset, const Matrix& transform,
                                                          const Vector corners[4], float sigma, uint32_t iterations) {
    VornexRenderer& r = gVornexRenderer;
    const RenderTarget& a = r.Target(TARGET_LIGHT_0);
    const RenderTarget& b = r.Target(TARGET_LIGHT_1);
    if (scale) *scale = Vector(1, 1, 0, 0);
    if (offset) *offset = Vector(0, 0, 0, 0);
    Device* device = r.Device();
    if (!device || !a.surface || !b.surface) return a.texture;
    const DeviceObjectHandle* result = a.texture;
    Surface* bound = nullptr;
    if (!blurDecided || blurFrame != postProcessCount) {
        blurDecided = true;
        blurFrame = postProcessCount;
        blurRedo = gPostprocessManager.TakeBlurRefresh();
    }
    if (!blurRedo && blurKeptValid) {
        if (scale) *scale = blurScale;
        if (offset) *offset = blurOffset;
        return blurKept;
    }
    if (Failed(device->GetRenderTarget(0, &bound)) || !bound) return a.texture;
    SurfaceDesc boundDesc{}, aDesc{};
    bound->GetDesc(&boundDesc);
    a.surface->GetDesc(&aDesc);
    Viewport viewport{};
    device->GetViewport(&viewport);
    const uint32_t flags = r.RenderTargetFlags();

    // The panel's rectangle in pixels of the viewport; the whole target when a corner
    // lies behind the camera.
    float left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
    bool whole = false;
    for (uint32_t i = 0; i < 4; ++i) {
        const Vector& c = corners[i];
        const Matrix& m = transform;
        const float x = c.x * m.r[0].x + c.y * m.r[1].x + c.z * m.r[2].x + m.r[3].x;
        const float y = c.x * m.r[0].y + c.y * m.r[1].y + c.z * m.r[2].y + m.r[3].y;
        const float w = c.x * m.r[0].w + c.y * m.r[1].w + c.z * m.r[2].w + m.r[3].w;
        if (!(w > kBehindCamera)) {
            whole = true;
            break;
        }
        const float px = (x / w + 1.0f) * 0.5f * static_cast<float>(viewport.width);
        const float py = (1.0f - y / w) * 0.5f * static_cast<float>(viewport.height);
        left = std::min(left, px), right = std::max(right, px);
        top = std::min(top, py), bottom = std::max(bottom, py);
    }
    if (whole || !std::isfinite(left + right + top + bottom)) {
        left = top = 0.0f;
        right = static_cast<float>(boundDesc.width);
        bottom = static_cast<float>(boundDesc.height);
    }
    const int64_t x0 = ClampEdge(std::floor(left), boundDesc.width), x1 = ClampEdge(std::ceil(right), boundDesc.width);
    const int64_t y0 = ClampEdge(std::floor(top), boundDesc.height), y1 = ClampEdge(std::ceil(bottom), boundDesc.height);

    if (x1 > x0 && y1 > y0) {
        // Half size at the back buffer's scale: r = back-buffer width / render width.
        const float ratio = r.RenderWidth() ? static_cast<float>(r.BackBufferWidth()) / static_cast<float>(r.RenderWidth())
                                            : 1.0f;
        const float twice = 2.0f * ratio;
        const uint32_t cw = std::min<uint32_t>(
            static_cast<uint32_t>((static_cast<float>(x1 - x0) + twice - 1.0f) / twice), aDesc.width);
        const uint32_t ch = std::min<uint32_t>(
            static_cast<uint32_t>((static_cast<float>(y1 - y0) + twice - 1.0f) / twice), aDesc.height);
        if (cw && ch) {
            const Rect source{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1),
                              static_cast<int32_t>(y1)};
            const Rect dest{0, 0, static_cast<int32_t>(cw), static_cast<int32_t>(ch)};
            device->StretchRect(bound, &source, a.surface, &dest, TEXF_LINEAR);
            const uint32_t n = std::min(iterations, kMaxBlurIterations);
            for (uint32_t i = 0; i < n; ++i) GaussBlur(a.surface, a.texture, b.surface, b.texture, cw, ch, sigma, 1.0f);
            const float sx = static_cast<float>(cw) / (static_cast<float>(x1 - x0) * static_cast<float>(aDesc.width));
            const float sy = static_cast<float>(ch) / (static_cast<float>(y1 - y0) * static_cast<float>(aDesc.height));
            blurScale = Vector((right - left) * sx, (bottom - top) * sy, 0.0f, 0.0f);
            blurOffset = Vector((left - static_cast<float>(x0)) * sx, (top - static_cast<float>(y0)) * sy, 0.0f, 0.0f);
            if (scale) *scale = blurScale;
            if (offset) *offset = blurOffset;
            if (!gPostprocessManager.IsBlurredImageRefreshing()) result = KeepCopy(a.surface, aDesc, dest);
            r.SetRenderTargets(bound, nullptr, flags);
            r.ApplyViewport(viewport.x, viewport.y, viewport.width, viewport.height, viewport.minZ, viewport.maxZ);
        }
    }
    bound->Release();
    return result;
}

const DeviceObjectHandle* PostProcessChain::KeepCopy(Surface* source, const SurfaceDesc& desc, const Rect& area) {
    const RenderTarget& a = gVornexRenderer.Target(TARGET_LIGHT_0);
    if (!blurKept) blurKept = new DeviceObjectHandle;
    if (!blurKept->Texture2D() &&
        !blurKept->CreateTexture(desc.width, desc.height, 1, USAGE_RENDERTARGET, desc.format, POOL_DEFAULT))
        return a.texture;
    Surface* kept = nullptr;
    if (Failed(blurKept->Texture2D()->GetSurfaceLevel(0, &kept)) || !kept) return a.texture;
    const bool copied = Succeeded(gVornexRenderer.Device()->StretchRect(source, &area, kept, &area, TEXF_POINT));
    kept->Release();
    blurKeptValid = copied;
    return copied ? blurKept : a.texture;
}

void PostProcessChain::ReleaseUIBlurCopy(bool holderToo) {
    blurKeptValid = false;
    if (!blurKept) return;
    if (holderToo) {
        blurKept->Unref();
        blurKept = nullptr;
    } else {
        blurKept->ReleaseInterface();
    }
}
