// Render targets: made after every device creation and reset from the render size, the
// back-buffer size, the depth-texture capabilities and the quality settings of the
// present-parameter block in force; the refraction copy; the event queries.
#include "core/Log.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"

using namespace gfx;

namespace {
const char* const kTargetNames[TARGET_COUNT] = {
    "main depth", "back-buffer-size depth", "normal target", "multisampled colour surface",
    "multisampled depth surface", "scene colour", "back-buffer-size colour", "refraction copy", "linear depth",
    "light buffer 0", "light buffer 1", "occlusion target 0", "occlusion target 1", "shadow map",
    "shadow colour dummy",
};
}  // namespace

const char* RenderTargetName(RenderTargetId id) { return id < TARGET_COUNT ? kTargetNames[id] : "?"; }

bool VornexRenderer::CreateTargetTexture(RenderTarget* target, uint32_t width, uint32_t height, Format format,
                                         uint32_t usage, bool surfaceOnly) {
    ReleaseTarget(target);
    if (!device) return false;
    if (surfaceOnly)
        return Succeeded(device->CreateDepthStencilSurface(width, height, format, MULTISAMPLE_NONE, 0, 1,
                                                           &target->surface, nullptr)) &&
               target->surface;
    auto* holder = new DeviceObjectHandle;
    if (!holder->CreateTexture(width, height, 1, usage, format, POOL_DEFAULT)) {
        holder->Unref();
        return false;
    }
    target->texture = holder;
    holder->Texture2D()->GetSurfaceLevel(0, &target->surface);
    return true;
}

void VornexRenderer::ReleaseTarget(RenderTarget* target) {
    SafeReleaseInterface(&target->surface);
    if (target->texture) {
        target->texture->Unref();
        target->texture = nullptr;
    }
}

void VornexRenderer::ReleaseRenderTargets() {
    for (RenderTarget& t : targets) ReleaseTarget(&t);
    for (Query*& q : eventQueries) SafeReleaseInterface(&q);
    for (DeviceObjectHandle** cube : {&ambientCube, &smallAmbientCube})
        if (*cube) {
            (*cube)->Unref();
            *cube = nullptr;
        }
}

namespace {
uint32_t MsaaSamples(uint32_t mode) { return mode == 1 ? 2 : mode == 2 ? 4 : 0; }
}  // namespace

void VornexRenderer::CreateRenderTargets() {
    ReleaseRenderTargets();
    const uint32_t W = renderWidth, H = renderHeight, BW = backBufferWidth, BH = backBufferHeight;
    gLog.Print(LogSeverity::Information, LogCategory::RenderDevice, "Render target size: %dx%d", int(W), int(H));
    gLog.Print(LogSeverity::Information, LogCategory::RenderDevice, "Backbuffer size: %dx%d", int(BW), int(BH));
    if (!device || W == 0 || H == 0) return;
    const PresentParameterBlock& b = blockInForce;
    const bool scaled = W != BW || H != BH;

    const Format depthFormat = intz ? FMT_INTZ : FMT_RAWZ;
    if (hardwareDepth) {
        CreateTargetTexture(&targets[TARGET_MAIN_DEPTH], W, H, depthFormat, USAGE_DEPTHSTENCIL, false);
        if (scaled) CreateTargetTexture(&targets[TARGET_BACKBUFFER_DEPTH], BW, BH, depthFormat, USAGE_DEPTHSTENCIL, false);
    } else {
        CreateTargetTexture(&targets[TARGET_MAIN_DEPTH], W, H, FMT_D24S8, USAGE_DEPTHSTENCIL, true);
        if (scaled) CreateTargetTexture(&targets[TARGET_BACKBUFFER_DEPTH], BW, BH, FMT_D24S8, USAGE_DEPTHSTENCIL, true);
    }

    normalFormat = FMT_A2B10G10R10;
    if (!CreateTargetTexture(&targets[TARGET_NORMAL], W, H, normalFormat, USAGE_RENDERTARGET, false)) {
        gLog.Error(LogCategory::Resources,
                   "The GPU does not support the 10:10:10:2 render target; the renderer switches to A8R8G8B8");
        normalFormat = FMT_A8R8G8B8;
        CreateTargetTexture(&targets[TARGET_NORMAL], W, H, normalFormat, USAGE_RENDERTARGET, false);
    }
    sceneColorFormat = b.quality >= 2 ? FMT_A16B16G16R16F : normalFormat;

    if (const uint32_t samples = MsaaSamples(b.msaaMode)) {
        const auto ms = static_cast<MultisampleType>(samples);
        device->CreateRenderTarget(W, H, sceneColorFormat, ms, 0, 0, &targets[TARGET_MSAA_COLOR].surface, nullptr);
        device->CreateDepthStencilSurface(W, H, FMT_D24S8, ms, 0, 1, &targets[TARGET_MSAA_DEPTH].surface, nullptr);
    }
    CreateTargetTexture(&targets[TARGET_SCENE_COLOR], W, H, sceneColorFormat, USAGE_RENDERTARGET, false);
    if (scaled) CreateTargetTexture(&targets[TARGET_BACKBUFFER_COLOR], BW, BH, FMT_A8R8G8B8, USAGE_RENDERTARGET, false);
    if (b.refraction) CreateTargetTexture(&targets[TARGET_REFRACTION], W, H, sceneColorFormat, USAGE_RENDERTARGET, false);
    if (!hardwareDepth) CreateTargetTexture(&targets[TARGET_LINEAR_DEPTH], W, H, FMT_R32F, USAGE_RENDERTARGET, false);
    CreateTargetTexture(&targets[TARGET_LIGHT_0], W, H, FMT_A8R8G8B8, USAGE_RENDERTARGET, false);
    CreateTargetTexture(&targets[TARGET_LIGHT_1], W, H, FMT_A8R8G8B8, USAGE_RENDERTARGET, false);

    ambientCube = new DeviceObjectHandle;
    ambientCube->CreateCubeTexture(64, 1, USAGE_RENDERTARGET, FMT_A8R8G8B8, POOL_DEFAULT);
    smallAmbientCube = new DeviceObjectHandle;
    if (smallAmbientCube->CreateCubeTexture(4, 1, USAGE_RENDERTARGET, FMT_A8R8G8B8, POOL_DEFAULT)) {
        Surface* previous = nullptr;
        device->GetRenderTarget(0, &previous);
        const Viewport saved = viewport;
        for (uint32_t face = 0; face < 6; ++face) {
            Surface* s = nullptr;
            if (Failed(smallAmbientCube->Cube()->GetCubeMapSurface(static_cast<CubeFace>(face), 0, &s))) continue;
            SetRenderTargets(s, nullptr, 2);
            ApplyViewport(0, 0, 4, 4, 0.0f, 1.0f);
            ClearTarget(CLEAR_TARGET, Vector(0, 0, 0, 0), 1.0f, 0);
            s->Release();
        }
        if (previous) {
            viewport = saved;
            SetRenderTargets(previous, nullptr, renderTargetFlags & ~2u);
            previous->Release();
        }
    }

    if (b.quality >= 3) {
        CreateTargetTexture(&targets[TARGET_OCCLUSION_0], W, H, FMT_G16R16F, USAGE_RENDERTARGET, false);
        CreateTargetTexture(&targets[TARGET_OCCLUSION_1], W, H, FMT_G16R16F, USAGE_RENDERTARGET, false);
    }
    if (const uint32_t S = b.shadowMapSize) {
        CreateTargetTexture(&targets[TARGET_SHADOW_MAP], S, S, FMT_D16, USAGE_DEPTHSTENCIL, false);
        // The colour target bound beside the map takes its size: a device keeps the
        // viewport inside render target 0, so a smaller one would clip the map's draws.
        // Colour writes are off while it is bound.
        CreateTargetTexture(&targets[TARGET_SHADOW_DUMMY], S, S, FMT_A8R8G8B8, USAGE_RENDERTARGET, false);
    }
    for (Query*& q : eventQueries) device->CreateQuery(QUERYTYPE_EVENT, &q);
}

// ---------------------------------------------------------------------------------------
// Refraction copy

bool ComputeRefractionRect(const BoundingBox4& bounds, const Matrix& world, const Matrix& viewProjection,
                           uint32_t width, uint32_t height, Rect* out) {
    Matrix toClip;
    toClip.Mul(viewProjection, world);  // world first, then view and projection
    float x0 = -1.0f, y0 = -1.0f, x1 = 1.0f, y1 = 1.0f;
    bool behind = false;
    float minX = 1e30f, minY = 1e30f, maxX = -1e30f, maxY = -1e30f;
    for (uint32_t i = 0; i < 8; ++i) {
        Vector p = bounds.GetVertex(i);
        p.Transform(toClip);
        if (!(p.w > 0.0f)) {
            behind = true;
            break;
        }
        const float x = p.x / p.w, y = p.y / p.w;
        minX = x < minX ? x : minX, maxX = x > maxX ? x : maxX;
        minY = y < minY ? y : minY, maxY = y > maxY ? y : maxY;
    }
    if (!behind) {
        x0 = minX - 0.01f, x1 = maxX + 0.01f, y0 = minY - 0.01f, y1 = maxY + 0.01f;
        x0 = x0 < -1.0f ? -1.0f : x0 > 1.0f ? 1.0f : x0;
        x1 = x1 < -1.0f ? -1.0f : x1 > 1.0f ? 1.0f : x1;
        y0 = y0 < -1.0f ? -1.0f : y0 > 1.0f ? 1.0f : y0;
        y1 = y1 < -1.0f ? -1.0f : y1 > 1.0f ? 1.0f : y1;
    }
    // Normalised coordinates to pixels, y down.
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    out->left = static_cast<int32_t>((x0 + 1.0f) * 0.5f * w);
    out->right = static_cast<int32_t>((x1 + 1.0f) * 0.5f * w);
    out->top = static_cast<int32_t>((1.0f - y1) * 0.5f * h);
    out->bottom = static_cast<int32_t>((1.0f - y0) * 0.5f * h);
    return out->right > out->left && out->bottom > out->top;
}

void VornexRenderer::UpdateRefraction(const BoundingBox4& bounds, const Matrix& world) {
    if (!device || !targets[TARGET_REFRACTION].surface || !targets[TARGET_SCENE_COLOR].surface) return;
    Rect rect;
    if (ComputeRefractionRect(bounds, world, viewProjection, renderWidth, renderHeight, &rect)) {
        Surface* source = needsResolve && targets[TARGET_MSAA_COLOR].surface ? targets[TARGET_MSAA_COLOR].surface
                                                                              : targets[TARGET_SCENE_COLOR].surface;
        device->StretchRect(source, &rect, targets[TARGET_REFRACTION].surface, &rect, TEXF_NONE);
    }
}
