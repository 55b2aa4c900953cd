// Targets, clears, copies between surfaces, scenes, present and reset.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/gfx/DeviceImpl.h"
#include "platform/gfx/GlBackend.h"
#include "platform/gfx/PixelFormat.h"

namespace gfx::detail {
namespace {

bool ValidRect(const Rect& r, uint32_t width, uint32_t height) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
           r.right <= static_cast<int32_t>(width) && r.bottom <= static_cast<int32_t>(height);
}

Rect Whole(const SurfaceImpl* s) { return {0, 0, static_cast<int32_t>(s->width), static_cast<int32_t>(s->height)}; }

bool Intersect(const Rect& a, const Rect& b, Rect* out) {
    out->left = std::max(a.left, b.left);
    out->top = std::max(a.top, b.top);
    out->right = std::min(a.right, b.right);
    out->bottom = std::min(a.bottom, b.bottom);
    return out->left < out->right && out->top < out->bottom;
}

}  // namespace

// Copies or scales src rect of s into dst rect of d, texel centre to texel centre.
void Blit(SurfaceImpl* s, const Rect& sr, SurfaceImpl* d, const Rect& dr, TextureFilter filter) {
    const int32_t sw = sr.right - sr.left, sh = sr.bottom - sr.top;
    const int32_t dw = dr.right - dr.left, dh = dr.bottom - dr.top;
    const bool sameFormat = s->format == d->format;
    if (sameFormat && sw == dw && sh == dh) {
        for (int32_t y = 0; y < dh; ++y)
            std::memmove(d->Texel(dr.left, dr.top + y), s->Texel(sr.left, sr.top + y),
                         static_cast<size_t>(dw) * d->texelBytes);
        return;
    }
    const float sx = static_cast<float>(sw) / static_cast<float>(dw);
    const float sy = static_cast<float>(sh) / static_cast<float>(dh);
    std::vector<uint8_t> copy;  // source and destination may be the same bytes
    const bool alias = s == d;
    if (alias) copy = s->bytes;
    auto texel = [&](int32_t x, int32_t y) -> const uint8_t* {
        const size_t offset = static_cast<size_t>(y) * s->pitch + static_cast<size_t>(x) * s->texelBytes;
        return alias ? copy.data() + offset : s->bytes.data() + offset;
    };
    if (filter == TEXF_LINEAR) {
        // The source columns and weights are the same on every row; a source row is
        // decoded once for all the destination rows that sample it (rows y and y + 1
        // never share a slot).
        std::vector<int32_t> columns(2 * static_cast<size_t>(dw));
        std::vector<float> weights(static_cast<size_t>(dw));
        for (int32_t x = 0; x < dw; ++x) {
            const float fx = (static_cast<float>(x) + 0.5f) * sx - 0.5f;
            const float cx = std::clamp(fx, 0.0f, static_cast<float>(sw - 1));
            const int32_t x0 = static_cast<int32_t>(cx);
            columns[2 * x] = x0;
            columns[2 * x + 1] = std::min(x0 + 1, sw - 1);
            weights[x] = cx - static_cast<float>(x0);
        }
        std::vector<float> rows[2] = {std::vector<float>(4 * static_cast<size_t>(sw)),
                                      std::vector<float>(4 * static_cast<size_t>(sw))};
        int32_t rowOf[2] = {-1, -1};
        auto row = [&](int32_t y) -> const float* {
            const int slot = y & 1;
            if (rowOf[slot] != y) {
                DecodeTexels(s->format, texel(sr.left, sr.top + y), static_cast<uint32_t>(sw), s->texelBytes,
                             rows[slot].data());
                rowOf[slot] = y;
            }
            return rows[slot].data();
        };
        std::vector<float> out(4 * static_cast<size_t>(dw));
        for (int32_t y = 0; y < dh; ++y) {
            const float fy = (static_cast<float>(y) + 0.5f) * sy - 0.5f;
            const float cy = std::clamp(fy, 0.0f, static_cast<float>(sh - 1));
            const int32_t y0 = static_cast<int32_t>(cy), y1 = std::min(y0 + 1, sh - 1);
            const float ay = cy - static_cast<float>(y0);
            const float* upper = row(y0);
            const float* lower = row(y1);
            for (int32_t x = 0; x < dw; ++x) {
                const float ax = weights[x];
                const float* c00 = upper + 4 * columns[2 * x];
                const float* c10 = upper + 4 * columns[2 * x + 1];
                const float* c01 = lower + 4 * columns[2 * x];
                const float* c11 = lower + 4 * columns[2 * x + 1];
                for (int c = 0; c < 4; ++c) {
                    const float top = c00[c] + (c10[c] - c00[c]) * ax;
                    const float bottom = c01[c] + (c11[c] - c01[c]) * ax;
                    out[4 * x + c] = top + (bottom - top) * ay;
                }
            }
            EncodeTexels(d->format, out.data(), static_cast<uint32_t>(dw), d->texelBytes, d->Texel(dr.left, dr.top + y));
        }
        return;
    }
    for (int32_t y = 0; y < dh; ++y) {
        for (int32_t x = 0; x < dw; ++x) {
            const float fx = (static_cast<float>(x) + 0.5f) * sx - 0.5f;
            const float fy = (static_cast<float>(y) + 0.5f) * sy - 0.5f;
            const int32_t px = std::clamp(static_cast<int32_t>(std::floor(fx + 0.5f)), 0, sw - 1);
            const int32_t py = std::clamp(static_cast<int32_t>(std::floor(fy + 0.5f)), 0, sh - 1);
            if (sameFormat) {
                std::memcpy(d->Texel(dr.left + x, dr.top + y), texel(sr.left + px, sr.top + py), d->texelBytes);
                continue;
            }
            float out[4];
            DecodeTexel(s->format, texel(sr.left + px, sr.top + py), out);
            EncodeTexel(d->format, out, d->Texel(dr.left + x, dr.top + y));
        }
    }
}

namespace {

// Writes one texel's bytes over a rectangle: the first row by doubling copies, the
// other rows as copies of the first.
void FillTexels(SurfaceImpl* s, const Rect& r, const uint8_t* texel) {
    const size_t rowBytes = static_cast<size_t>(r.right - r.left) * s->texelBytes;
    uint8_t* first = s->Texel(r.left, r.top);
    std::memcpy(first, texel, s->texelBytes);
    for (size_t done = s->texelBytes; done < rowBytes; done *= 2)
        std::memcpy(first + done, first, std::min(done, rowBytes - done));
    for (int32_t y = r.top + 1; y < r.bottom; ++y) std::memcpy(s->Texel(r.left, y), first, rowBytes);
}

void FillColor(SurfaceImpl* s, const Rect& r, Color color) {
    float rgba[4];
    ColorToFloats(color, rgba);
    uint8_t texel[16];
    EncodeTexel(s->format, rgba, texel);
    FillTexels(s, r, texel);
}

void FillDepth(SurfaceImpl* s, const Rect& r, bool depth, float z, bool stencil, uint32_t stencilValue) {
    const float clamped = std::clamp(z, 0.0f, 1.0f);
    uint8_t texel[4];
    switch (s->format) {
    case FMT_D16:
    case FMT_D16_LOCKABLE:
    case FMT_D15S1: {
        if (!depth) return;
        const auto v = static_cast<uint16_t>(clamped * 65535.0f + 0.5f);
        std::memcpy(texel, &v, 2);
        break;
    }
    case FMT_D32F_LOCKABLE:
        if (!depth) return;
        std::memcpy(texel, &clamped, 4);
        break;
    case FMT_D32: {
        if (!depth) return;
        const auto v = static_cast<uint32_t>(static_cast<double>(clamped) * 4294967295.0 + 0.5);
        std::memcpy(texel, &v, 4);
        break;
    }
    default: {  // 24-bit depth in the high bits, stencil (or unused) in the low byte
        // The bits a clear leaves alone (the stencil byte of a depth-only clear, the
        // depth of a stencil-only one) and the bits it writes.
        uint32_t keep = 0xFFFFFFFFu, set = 0;
        if (depth) {
            keep &= 0xFFu;
            set = static_cast<uint32_t>(static_cast<double>(clamped) * 16777215.0 + 0.5) << 8;
        }
        if (stencil) {
            keep &= ~0xFFu;
            set = (set & ~0xFFu) | (stencilValue & 0xFFu);
        }
        if (keep == 0xFFFFFFFFu) return;
        if (keep == 0) {
            std::memcpy(texel, &set, 4);
            break;
        }
        for (int32_t y = r.top; y < r.bottom; ++y) {
            uint8_t* p = s->Texel(r.left, y);
            for (int32_t x = r.left; x < r.right; ++x, p += 4) {
                uint32_t v;
                std::memcpy(&v, p, 4);
                v = (v & keep) | set;
                std::memcpy(p, &v, 4);
            }
        }
        return;
    }
    }
    FillTexels(s, r, texel);
}

}  // namespace

void DeviceImpl::CreateImplicitTargets() {
    if (implicitSwapChain) {
        implicitSwapChain->Rebuild(params);
    } else {
        implicitSwapChain = std::make_unique<SwapChainImpl>(this, params);
        implicitSwapChain->deviceOwned = true;
        implicitSwapChain->publicRefs = 0;
    }
    autoDepth.reset();
    if (params.enableAutoDepthStencil) {
        autoDepth = std::make_unique<SurfaceImpl>(this, SurfaceRole::DepthStencil, params.backBufferWidth,
                                                  params.backBufferHeight, params.autoDepthStencilFormat,
                                                  USAGE_DEPTHSTENCIL, POOL_DEFAULT, params.multiSampleType,
                                                  params.multiSampleQuality, false);
        autoDepth->deviceOwned = true;
        autoDepth->publicRefs = 0;
    }
}

Result DeviceImpl::CheckPresentParameters(PresentParameters* p, CallKind call) {
    if (p->multiSampleType != MULTISAMPLE_NONE && GetCapabilityFaults().refuseMultisample) return ERR_INVALIDCALL;
    if (p->backBufferWidth > 16384 || p->backBufferHeight > 16384)
        return Report(true, call, "present-parameters", "back buffer %ux%u", p->backBufferWidth, p->backBufferHeight);
    if (p->backBufferFormat == FMT_UNKNOWN) p->backBufferFormat = FMT_X8R8G8B8;
    FormatInfo info;
    if (!GetFormatInfo(p->backBufferFormat, &info) || info.depth || info.blockCompressed)
        return Report(true, call, "present-parameters", "back-buffer format %u", p->backBufferFormat);
    // A zero size in a window takes the current back buffer's (there is no real window to measure).
    if (p->backBufferWidth == 0) p->backBufferWidth = params.backBufferWidth ? params.backBufferWidth : 640;
    if (p->backBufferHeight == 0) p->backBufferHeight = params.backBufferHeight ? params.backBufferHeight : 480;
    if (p->backBufferCount == 0) p->backBufferCount = 1;
    if (p->enableAutoDepthStencil && !IsDepthFormat(p->autoDepthStencilFormat))
        return Report(true, call, "present-parameters", "automatic depth format %u", p->autoDepthStencilFormat);
    return OK;
}

// ---------------------------------------------------------------- frame

Result DeviceImpl::TestCooperativeLevel() {
    CallScope scope(this, CallKind::TestCooperativeLevel);
    return lost ? ERR_DEVICENOTRESET : OK;
}

Result DeviceImpl::BeginScene() {
    CallScope scope(this, CallKind::BeginScene);
    LogCall(CallKind::BeginScene, {});
    if (inScene) return Report(true, CallKind::BeginScene, "scene-nested", "BeginScene inside a scene");
    inScene = true;
    return OK;
}

Result DeviceImpl::EndScene() {
    CallScope scope(this, CallKind::EndScene);
    LogCall(CallKind::EndScene, {});
    if (!inScene) return Report(true, CallKind::EndScene, "scene-not-begun", "EndScene without BeginScene");
    inScene = false;
    if (backend) backend->Finish();  // the scene's pixels are done: queries and other threads see them
    return OK;
}

Result DeviceImpl::PresentLocked(CallKind call) {
    if (lost) return ERR_DEVICELOST;
    if (loseOnNextPresent) {
        loseOnNextPresent = false;
        lost = true;
        return ERR_DEVICELOST;
    }
    if (inScene) Report(false, call, "present-inside-scene", "Present between BeginScene and EndScene");
    ++presents;
    return OK;
}

Result DeviceImpl::Present(const Rect* source, const Rect* dest, void* window, const void* dirtyRegion) {
    CallScope scope(this, CallKind::Present);
    return PresentLocked(CallKind::Present);
}

Result SwapChainImpl::Present(const Rect* source, const Rect* dest, void* window, const void* dirtyRegion,
                              uint32_t flags) {
    CallScope scope(device, CallKind::SwapChainPresent);
    return device->PresentLocked(CallKind::SwapChainPresent);
}

Result DeviceImpl::Reset(PresentParameters* p) {
    CallScope scope(this, CallKind::Reset);
    if (!p) return ERR_INVALIDCALL;
    if (failResets > 0) {
        --failResets;
        lost = true;
        return failResetResult;
    }
    uint32_t liveDefault = 0;
    for (const auto& kind : live) liveDefault += kind[POOL_DEFAULT];
    const uint32_t heldImplicit =
        implicitSwapChain->publicRefs + (autoDepth ? autoDepth->publicRefs : 0);
    if (liveDefault > 0 || heldImplicit > 0) {
        lost = true;
        return Report(true, CallKind::Reset, "reset-live-default-objects",
                      "%u default-pool objects and %u back-buffer or depth references still alive", liveDefault,
                      heldImplicit);
    }
    PresentParameters next = *p;
    const Result r = CheckPresentParameters(&next, CallKind::Reset);
    if (Failed(r)) {
        lost = true;
        return r;
    }
    *p = next;
    // Unbind first so the old back buffer and depth surface are no longer referenced.
    params = next;
    ResetState();
    for (SurfaceImpl*& rt : state.renderTargets) Rebind<SurfaceImpl>(rt, nullptr);
    Rebind<SurfaceImpl>(state.depthStencil, nullptr);
    CreateImplicitTargets();
    ResetState();
    inScene = false;
    lost = false;
    return OK;
}

// ---------------------------------------------------------------- targets

Result DeviceImpl::GetBackBuffer(uint32_t swapChain, uint32_t index, BackBufferType type, Surface** surface) {
    CallScope scope(this, CallKind::GetBackBuffer);
    if (!surface) return ERR_INVALIDCALL;
    *surface = nullptr;
    if (swapChain != 0) return ERR_INVALIDCALL;
    return implicitSwapChain->GetBackBuffer(index, type, surface);
}

Result DeviceImpl::SetRenderTarget(uint32_t index, Surface* surface) {
    CallScope scope(this, CallKind::SetRenderTarget);
    if (index >= kMaxRenderTargets)
        return Report(true, CallKind::SetRenderTarget, "render-target-index", "index %u", index);
    SurfaceImpl* s = nullptr;
    if (!Own(surface, &s, CallKind::SetRenderTarget, "surface")) return ERR_INVALIDCALL;
    LogCall(CallKind::SetRenderTarget, {index}, s);
    if (s) {
        if (!s->IsRenderTarget())
            return Report(true, CallKind::SetRenderTarget, "render-target-usage",
                          "surface %u was not created as a render target", s->serial);
    } else if (index == 0) {
        return Report(true, CallKind::SetRenderTarget, "render-target-0-null", "render target 0 cannot be null");
    }
    Rebind(state.renderTargets[index], s);
    if (index == 0) {
        // Binding target 0 resets the viewport and the scissor rectangle to the whole target.
        state.viewport = {0, 0, s->width, s->height, 0.0f, 1.0f};
        state.scissor = {0, 0, static_cast<int32_t>(s->width), static_cast<int32_t>(s->height)};
    }
    return OK;
}

Result DeviceImpl::GetRenderTarget(uint32_t index, Surface** surface) {
    CallScope scope(this, CallKind::GetRenderTarget);
    if (!surface) return ERR_INVALIDCALL;
    *surface = nullptr;
    if (index >= kMaxRenderTargets) return ERR_INVALIDCALL;
    if (!state.renderTargets[index]) return ERR_NOTFOUND;
    return HandOut<Surface>(state.renderTargets[index], surface);
}

Result DeviceImpl::SetDepthStencilSurface(Surface* surface) {
    CallScope scope(this, CallKind::SetDepthStencilSurface);
    SurfaceImpl* s;
    if (!Own(surface, &s, CallKind::SetDepthStencilSurface, "surface")) return ERR_INVALIDCALL;
    LogCall(CallKind::SetDepthStencilSurface, {}, s);
    if (s && !s->IsDepth())
        return Report(true, CallKind::SetDepthStencilSurface, "depth-usage", "surface %u is not a depth surface",
                      s->serial);
    Rebind(state.depthStencil, s);
    return OK;
}

Result DeviceImpl::GetDepthStencilSurface(Surface** surface) {
    CallScope scope(this, CallKind::GetDepthStencilSurface);
    if (!surface) return ERR_INVALIDCALL;
    *surface = nullptr;
    if (!state.depthStencil) return ERR_NOTFOUND;
    return HandOut<Surface>(state.depthStencil, surface);
}

Result DeviceImpl::SetViewport(const Viewport* v) {
    CallScope scope(this, CallKind::SetViewport);
    if (!v) return ERR_INVALIDCALL;
    LogCall(CallKind::SetViewport, {}, nullptr, nullptr, v, sizeof *v);
    const SurfaceImpl* rt0 = state.renderTargets[0];
    if (v->width == 0 || v->height == 0 || static_cast<uint64_t>(v->x) + v->width > rt0->width ||
        static_cast<uint64_t>(v->y) + v->height > rt0->height || !(v->minZ >= 0.0f && v->minZ <= 1.0f) ||
        !(v->maxZ >= 0.0f && v->maxZ <= 1.0f))
        return Report(true, CallKind::SetViewport, "viewport-outside-target",
                      "viewport (%u, %u, %u, %u) outside the %ux%u target", v->x, v->y, v->width, v->height,
                      rt0->width, rt0->height);
    if (std::memcmp(&state.viewport, v, sizeof *v) == 0) return Dropped();
    state.viewport = *v;
    return OK;
}

Result DeviceImpl::GetViewport(Viewport* v) {
    CallScope scope(this, CallKind::Other);
    if (!v) return ERR_INVALIDCALL;
    *v = state.viewport;
    return OK;
}

Result DeviceImpl::SetScissorRect(const Rect* r) {
    CallScope scope(this, CallKind::SetScissorRect);
    if (r) LogCall(CallKind::SetScissorRect, {}, nullptr, nullptr, r, sizeof *r);
    if (!r || r->left > r->right || r->top > r->bottom)
        return Report(true, CallKind::SetScissorRect, "scissor-rect", "empty or inverted rectangle");
    if (std::memcmp(&state.scissor, r, sizeof *r) == 0) return Dropped();
    state.scissor = *r;
    return OK;
}

Result DeviceImpl::GetScissorRect(Rect* r) {
    CallScope scope(this, CallKind::Other);
    if (!r) return ERR_INVALIDCALL;
    *r = state.scissor;
    return OK;
}

// ---------------------------------------------------------------- clears and copies

bool DeviceImpl::ClipToTarget(const Rect& in, Rect* out) const {
    const Viewport& v = state.viewport;
    const Rect viewport = {static_cast<int32_t>(v.x), static_cast<int32_t>(v.y), static_cast<int32_t>(v.x + v.width),
                           static_cast<int32_t>(v.y + v.height)};
    if (!Intersect(in, viewport, out)) return false;
    if (state.states.renderStates[RS_SCISSORTESTENABLE]) return Intersect(*out, state.scissor, out);
    return true;
}

void DeviceImpl::ClearRect(SurfaceImpl* surface, const Rect& rect, uint32_t flags, Color color, float z,
                           uint32_t stencil) {
    Rect r;
    if (!Intersect(rect, Whole(surface), &r)) return;
    if (surface->IsDepth())
        FillDepth(surface, r, (flags & CLEAR_ZBUFFER) != 0, z, (flags & CLEAR_STENCIL) != 0, stencil);
    else
        FillColor(surface, r, color);
}

// EndScene finishes a scene's GPU work, so another thread's context sees it; work done
// outside a scene (clears, fills, copies) is finished at once for the same reason.
void DeviceImpl::FinishOutsideScene() {
    if (backend && !inScene) backend->Finish();
}

Result DeviceImpl::Clear(uint32_t rectCount, const Rect* rects, uint32_t flags, Color color, float z,
                         uint32_t stencil) {
    CallScope scope(this, CallKind::Clear);
    LogCall(CallKind::Clear, {rectCount, flags, color, __builtin_bit_cast(uint32_t, z), stencil}, nullptr, nullptr,
            rects, rects ? rectCount * sizeof(Rect) : 0);
    if ((rectCount == 0) != (rects == nullptr))
        return Report(true, CallKind::Clear, "clear-rects", "rectangle count and pointer disagree");
    if (flags == 0 || (flags & ~(CLEAR_TARGET | CLEAR_ZBUFFER | CLEAR_STENCIL)))
        return Report(true, CallKind::Clear, "clear-flags", "flags 0x%X", flags);
    if ((flags & (CLEAR_ZBUFFER | CLEAR_STENCIL)) && !state.depthStencil)
        return Report(true, CallKind::Clear, "clear-no-depth", "depth or stencil clear without a depth surface");
    if (flags & CLEAR_STENCIL) {
        FormatInfo info;
        GetFormatInfo(state.depthStencil->format, &info);
        if (!info.stencil)
            return Report(true, CallKind::Clear, "clear-no-stencil", "stencil clear of a format without stencil");
    }
    if (flags & CLEAR_ZBUFFER && !(z >= 0.0f && z <= 1.0f))
        return Report(true, CallKind::Clear, "clear-depth-range", "depth %f outside 0..1", static_cast<double>(z));
    std::vector<Rect> areas;
    if (rectCount == 0) {
        areas.push_back(Whole(state.renderTargets[0]));
    } else {
        areas.assign(rects, rects + rectCount);
    }
    for (const Rect& area : areas) {
        Rect r;
        if (!ClipToTarget(area, &r)) continue;
        if (backend) {
            backend->Clear(state, r, flags, color, z, stencil);
            continue;
        }
        if (flags & CLEAR_TARGET)
            for (SurfaceImpl* rt : state.renderTargets)
                if (rt) ClearRect(rt, r, CLEAR_TARGET, color, z, stencil);
        if (flags & (CLEAR_ZBUFFER | CLEAR_STENCIL)) ClearRect(state.depthStencil, r, flags, color, z, stencil);
    }
    FinishOutsideScene();
    return OK;
}

Result DeviceImpl::ColorFill(Surface* surface, const Rect* rect, Color color) {
    CallScope scope(this, CallKind::ColorFill);
    SurfaceImpl* s = AsSurface(surface);
    if (s) LogCall(CallKind::ColorFill, {color}, s, nullptr, rect, rect ? sizeof *rect : 0);
    if (!s || s->IsDepth() || s->texelBytes == 0 || (s->pool != POOL_DEFAULT))
        return Report(true, CallKind::ColorFill, "color-fill-surface", "needs a default-pool colour surface");
    Rect r = Whole(s);
    if (rect) {
        if (!ValidRect(*rect, s->width, s->height))
            return Report(true, CallKind::ColorFill, "rect-outside", "rectangle outside the surface");
        r = *rect;
    }
    if (backend) {
        backend->ColorFill(s, r, color);
        FinishOutsideScene();
        return OK;
    }
    FillColor(s, r, color);
    return OK;
}

Result DeviceImpl::StretchRect(Surface* source, const Rect* sourceRect, Surface* dest, const Rect* destRect,
                               TextureFilter filter) {
    CallScope scope(this, CallKind::StretchRect);
    SurfaceImpl* s = AsSurface(source);
    SurfaceImpl* d = AsSurface(dest);
    if (!s || !d) return Report(true, CallKind::StretchRect, "foreign-object", "null or foreign surface");
    if (callLogging) {
        // Both rectangles, each as a presence byte and the rectangle.
        uint8_t rects[2 * (1 + sizeof(Rect))] = {};
        rects[0] = sourceRect != nullptr;
        if (sourceRect) std::memcpy(rects + 1, sourceRect, sizeof(Rect));
        rects[1 + sizeof(Rect)] = destRect != nullptr;
        if (destRect) std::memcpy(rects + 2 + sizeof(Rect), destRect, sizeof(Rect));
        LogCall(CallKind::StretchRect, {filter}, s, d, rects, sizeof rects);
    }
    if (filter != TEXF_NONE && filter != TEXF_POINT && filter != TEXF_LINEAR)
        return Report(true, CallKind::StretchRect, "stretch-filter", "filter %u", filter);
    if (s->IsDepth() || d->IsDepth())
        return Report(true, CallKind::StretchRect, "stretch-depth", "depth surfaces cannot be stretched");
    if (!d->IsRenderTarget())
        return Report(true, CallKind::StretchRect, "stretch-dest-not-target",
                      "destination %u is not a render target or render-target texture level", d->serial);
    if (!s->IsRenderTarget() && s->role != SurfaceRole::OffscreenPlain)
        return Report(true, CallKind::StretchRect, "stretch-source", "source %u is not a render target", s->serial);
    if (d->multiSample != MULTISAMPLE_NONE)
        return Report(true, CallKind::StretchRect, "stretch-dest-multisampled", "destination is multisampled");
    if (s == d) return Report(true, CallKind::StretchRect, "stretch-same-surface", "source and destination are one surface");
    if (s->pool != POOL_DEFAULT || d->pool != POOL_DEFAULT)
        return Report(true, CallKind::StretchRect, "stretch-pool", "both surfaces must be in the default pool");
    const Rect sr = sourceRect ? *sourceRect : Whole(s);
    const Rect dr = destRect ? *destRect : Whole(d);
    if (!ValidRect(sr, s->width, s->height) || !ValidRect(dr, d->width, d->height))
        return Report(true, CallKind::StretchRect, "rect-outside", "rectangle outside a surface");
    if (s->texelBytes == 0 || d->texelBytes == 0)
        return Report(true, CallKind::StretchRect, "stretch-format", "block-compressed surfaces cannot be stretched");
    if (backend) {
        backend->StretchRect(s, sr, d, dr, filter);
        FinishOutsideScene();
        return OK;
    }
    Blit(s, sr, d, dr, filter);
    return OK;
}

Result DeviceImpl::GetRenderTargetData(Surface* renderTarget, Surface* destSurface) {
    CallScope scope(this, CallKind::Other);
    SurfaceImpl* s = AsSurface(renderTarget);
    SurfaceImpl* d = AsSurface(destSurface);
    if (!s || !d || !s->IsRenderTarget() || s->multiSample != MULTISAMPLE_NONE || d->pool != POOL_SYSTEMMEM ||
        s->width != d->width || s->height != d->height || s->format != d->format)
        return Report(true, CallKind::Other, "get-render-target-data",
                      "needs a non-multisampled target and a same-size, same-format system-memory surface");
    if (backend) backend->SyncToCpu(s);
    d->bytes = s->bytes;
    d->cpuDirty = true;
    return OK;
}

Result DeviceImpl::UpdateSurface(Surface* source, const Rect* sourceRect, Surface* dest, const void* destPoint) {
    CallScope scope(this, CallKind::Other);
    SurfaceImpl* s = AsSurface(source);
    SurfaceImpl* d = AsSurface(dest);
    if (!s || !d || s->pool != POOL_SYSTEMMEM || d->pool != POOL_DEFAULT || s->format != d->format ||
        s->texelBytes == 0)
        return Report(true, CallKind::Other, "update-surface", "needs system-memory source and default-pool destination");
    int32_t px = 0, py = 0;
    if (destPoint) {
        int32_t point[2];
        std::memcpy(point, destPoint, sizeof(point));
        px = point[0];
        py = point[1];
    }
    const Rect sr = sourceRect ? *sourceRect : Whole(s);
    const Rect dr = {px, py, px + (sr.right - sr.left), py + (sr.bottom - sr.top)};
    if (!ValidRect(sr, s->width, s->height) || !ValidRect(dr, d->width, d->height))
        return Report(true, CallKind::Other, "rect-outside", "rectangle outside a surface");
    if (backend) backend->SyncToCpu(d);
    Blit(s, sr, d, dr, TEXF_NONE);
    d->cpuDirty = true;
    return OK;
}

}  // namespace gfx::detail
