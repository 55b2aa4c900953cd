// Task handlers of the render thread that are neither device management, state,
// targets nor debug drawing: stored values, frame parameters, gamma and screen scale,
// the function call (47) and text (45).
//
// Every handler reads its whole payload first; a payload cut short ends the block.
#include <cmath>
#include <cstring>

#include "core/Log.h"
#include "core/ThreadCheck.h"
#include "core/Time.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "render/SceneDrawServices.h"
#include "render/UIDrawServices.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"
#include "render/shaders/PostProcessChain.h"
#include "render/scene/RenderSceneGrid.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"

bool VornexRenderer::TaskNothing(CommandRingBuffer&) { return true; }

bool VornexRenderer::TaskCreateDevice(CommandRingBuffer& r) {
    uintptr_t windowHandle = 0;
    uint8_t flags = 0;
    if (!Read(r, windowHandle, flags)) return false;
    if (!device) CreateDevice(static_cast<uint32_t>(windowHandle), flags);
    return true;
}

bool VornexRenderer::TaskResetDevice(CommandRingBuffer& r) {
    uintptr_t windowHandle = 0;
    PresentParameterBlock block;
    if (!Read(r, windowHandle, block)) return false;
    CriticalSectionGuard guard(&rendererLock);
    blockInForce = block;
    ApplyPresentParameters(static_cast<uint32_t>(windowHandle));
    return true;
}

void VornexRenderer::CreateSceneGrid() {
    if (!sceneGrid) sceneGrid = new RenderSceneGrid;
}

void VornexRenderer::ReleaseSceneGrid() {
    delete sceneGrid;
    sceneGrid = nullptr;
}

void VornexRenderer::RebuildSceneGrid(const BoundingBox4& box, float cellSize) {
    if (!sceneGrid) return;
    // While a loading screen is up, the loader's jobs keep flowing through a long rebuild.
    auto runJobs = [](void* self) { static_cast<VornexRenderer*>(self)->RunResourceJobs(0, 0.0f); };
    sceneGrid->Rebuild(box, cellSize, loadingScreen ? +runJobs : nullptr, this);
}

void VornexRenderer::SetSceneGridValue(float value) {
    if (sceneGrid) sceneGrid->SetValue(value);
}

void VornexRenderer::UpdateSceneLighting(const RenderFrameClock clocks[3]) {
    if (!gRendererScene) return;
    gRendererScene->Update(clocks);
    // The scene constants' fog colour (ps c220) is the set in force's "Fog color".
    if (const SceneParametersWrapper* set = gRendererScene->GetCurrentParameters())
        sceneParameterValues = set->Values().rest.fogColor.ToLinearVector();
}

bool VornexRenderer::TaskRequestDeviceReset(CommandRingBuffer&) {
    deviceResetPending.store(true, std::memory_order_release);
    return true;
}

bool VornexRenderer::TaskGameDelegate(CommandRingBuffer& r) { return Read(r, gameDelegate); }

// The loading screen's fade-in runs on the hardware clock (the UI action flag for system
// time): while a scene loads no UI frame advances the smooth game clock, so a fade on it
// would never end.
constexpr uint32_t kLoadingScreenFadeClock = 32;

bool VornexRenderer::TaskLoadingScreen(CommandRingBuffer& r) {
    UIElement* screen = nullptr;
    uint8_t unused = 0, overScene = 0;
    if (!Read(r, screen, unused, overScene)) return false;
    if (presenter->IsRunning()) presenter->Flush();
    loadingScreenOverScene = overScene;
    if (screen && screen != loadingScreen) {
        loadingScreen = screen;
        UIDrawServices& ui = GetUIDrawServices();
        UIElement* element = screen;
        ui.RemoveActions(element, -1);
        const Vector opaqueWhite(1, 1, 1, 1);
        const bool fadeIn = ui.HasFadeIn(element);
        ui.SetColor(element, fadeIn ? Vector(1, 1, 1, 0) : opaqueWhite);
        if (fadeIn) ui.AddColorAction(element, 0.3f, opaqueWhite, kLoadingScreenFadeClock, 0);
        CriticalSectionGuard guard(&rendererLock);
        LoadingScreenPresent();
    }
    return true;
}

bool VornexRenderer::TaskBlankFrame(CommandRingBuffer& r) {
    uint32_t value = 0;
    if (!Read(r, value)) return false;
    blankFrameMode = value != 0;
    if (blankFrameMode) PresentBlankFrame();
    return true;
}

bool VornexRenderer::TaskResetOverride(CommandRingBuffer&) {
    overrideIndex = -1;
    return true;
}

bool VornexRenderer::TaskLayerMasks(CommandRingBuffer& r) {
    return Read(r, frameVisibleLayers, frameBlockRenderingMask);
}

bool VornexRenderer::TaskOutlineTypeMask(CommandRingBuffer& r) { return Read(r, outlineTypeMask); }

bool VornexRenderer::TaskBucketEnable(CommandRingBuffer& r) {
    uint32_t bucket = 0;
    uint8_t on = 0;
    if (!Read(r, bucket, on)) return false;
    if (bucket < 32) {
        if (on)
            bucketEnableMask |= 1u << bucket;
        else
            bucketEnableMask &= ~(1u << bucket);
    }
    return true;
}

bool VornexRenderer::TaskOutlineParams(CommandRingBuffer& r) {
    OutlineParams params;
    if (!Read(r, params)) return false;
    postProcess->SetOutlineParams(params, false);
    return true;
}

bool VornexRenderer::TaskSecondaryOutlineParams(CommandRingBuffer& r) {
    OutlineParams params;
    if (!Read(r, params)) return false;
    postProcess->SetOutlineParams(params, true);
    return true;
}

bool VornexRenderer::TaskShadowMapPass(CommandRingBuffer& r) {
    uint32_t value = 0;
    uint8_t secondStep = 0;
    if (!Read(r, value, secondStep)) return false;
    RunShadowMapPass(value, secondStep);
    return true;
}

bool VornexRenderer::TaskBrightness(CommandRingBuffer& r) {
    float b = 0.0f;
    if (!Read(r, b)) return false;
    if (b == brightness) return true;
    brightness = b;
    const float exponent = (1.0f - b) * 1.4f + b * 0.6f;
    gfx::GammaRamp ramp;
    for (uint32_t i = 0; i < 256; ++i) {
        float v = powf(static_cast<float>(i) / 255.0f, exponent) * 65535.0f + 0.5f;
        // A brightness far outside 0..1 must not overflow the 16-bit entries.
        if (!(v >= 0.0f)) v = 0.0f;
        if (v > 65535.0f) v = 65535.0f;
        ramp.red[i] = ramp.green[i] = ramp.blue[i] = static_cast<uint16_t>(v);
    }
    if (device) device->SetGammaRamp(0, 0, &ramp);
    return true;
}

namespace {
bool ApplyScreenScale(float input, float* stored) {
    float v = input * 0.15f + 0.85f;
    if (!(v >= 0.85f)) v = 0.85f;
    if (v > 1.0f) v = 1.0f;
    if (std::fabs(v - *stored) > 0.001f) *stored = v;
    return true;
}
}  // namespace

bool VornexRenderer::TaskScreenScaleX(CommandRingBuffer& r) {
    float s = 0.0f;
    return Read(r, s) && ApplyScreenScale(s, &screenScaleX);
}

bool VornexRenderer::TaskScreenScaleY(CommandRingBuffer& r) {
    float s = 0.0f;
    return Read(r, s) && ApplyScreenScale(s, &screenScaleY);
}

bool VornexRenderer::TaskCamera(CommandRingBuffer& r) {
    Matrix viewMatrix, projectionMatrix, third;
    Vector planes[6];
    if (!Read(r, viewMatrix, projectionMatrix, third, planes)) return false;
    SetCameraState(viewMatrix, projectionMatrix, third, 0);
    return true;
}

bool VornexRenderer::TaskCameraMatrices(CommandRingBuffer& r) { return Read(r, secondCamera[0], secondCamera[1]); }

bool VornexRenderer::TaskCameraFloat(CommandRingBuffer& r) { return Read(r, cameraValue); }

bool VornexRenderer::TaskVisualizationMode(CommandRingBuffer& r) {
    uint32_t mode = 0;
    if (!Read(r, mode)) return false;
    if (mode != visualizationMode) visualizationMode = mode;
    return true;
}

bool VornexRenderer::TaskFlagByte(CommandRingBuffer& r) { return Read(r, flagByte); }

bool VornexRenderer::TaskClear(CommandRingBuffer& r) {
    uint32_t flags = 0, stencil = 0;
    float rgba[4];
    float depth = 0.0f;
    if (!Read(r, flags, rgba, depth, stencil)) return false;
    ClearTarget(flags, Vector(rgba[0], rgba[1], rgba[2], rgba[3]) * colorFactor, depth, stencil);
    return true;
}

bool VornexRenderer::TaskSleep(CommandRingBuffer& r) {
    uint32_t ms = 0;
    if (!Read(r, ms)) return false;
    os::Sleep(ms);
    return true;
}

bool VornexRenderer::TaskFrameParams(CommandRingBuffer& r) {
    RenderFrameClock clocks[3];
    uint32_t flags = 0;
    for (RenderFrameClock& c : clocks)
        if (!Read(r, c.ticks, c.frameTime)) return false;
    if (!Read(r, flags)) return false;
    if (clocks[0].frameTime < 0.0f) clocks[0].frameTime = 0.0f;
    for (uint32_t i = 0; i < 3; ++i) {
        frameTicks[i] = clocks[i].ticks;
        frameSeconds[i] = Time(clocks[i].ticks).ToSeconds();
    }
    if (!(flags & 1u)) {
        GetSceneDrawServices().UpdateParticleSystems(clocks[0].frameTime, clocks[1].frameTime, clocks[2].frameTime);
        GetSceneDrawServices().UpdateEffects(clocks);
    }
    UpdateSceneLighting(clocks);
    GetUIDrawServices().ProcessPendingDeletion();
    return true;
}

bool VornexRenderer::TaskObjectQuery(CommandRingBuffer& r) {
    void* object = nullptr;
    uint32_t a = 0, b = 0, c = 0;
    uint32_t* result = nullptr;
    if (!Read(r, object, a, b, c, result)) return false;
    const uint32_t value = QueryRendererObject(object, a, b, c);
    if (result) *result = value;
    return true;
}

bool VornexRenderer::TaskScissor(CommandRingBuffer& r) {
    uint32_t hasRect = 0;
    gfx::Rect rect{};
    uint8_t enable = 0;
    if (!Read(r, hasRect)) return false;
    if (hasRect && !Read(r, rect)) return false;
    if (!Read(r, enable)) return false;
    if (device) {
        if (hasRect) device->SetScissorRect(&rect);
        device->SetRenderState(gfx::RS_SCISSORTESTENABLE, enable ? 1 : 0);
    }
    return true;
}

bool VornexRenderer::TaskText(CommandRingBuffer& r) {
    void* font = nullptr;
    Matrix matrix;
    float rgba[4];
    uint32_t valueA = 0, valueB = 0, textBytes = 0;
    uint8_t flag = 0;
    if (!Read(r, font, matrix, rgba, valueA, valueB, textBytes, flag) || textBytes > r.ReadLeft()) return false;
    GetUIDrawServices().DrawText(static_cast<Resource*>(font), reinterpret_cast<const char*>(r.ReadCursor()), textBytes,
                                 matrix,
                                          Vector(rgba[0], rgba[1], rgba[2], rgba[3]), valueA, flag, valueB);
    r.SkipRead(textBytes);
    return true;
}

bool VornexRenderer::TaskCall(CommandRingBuffer& r) {
    RenderCallFunction function = nullptr;
    uintptr_t argument = 0;
    if (!Read(r, function, argument)) return false;
    if (function) function(static_cast<uint32_t>(argument), r);
    return true;
}

bool VornexRenderer::TaskRenderPasses(CommandRingBuffer& r) {
    float rgba[4];
    uint32_t passFlags = 0;
    uint8_t clear = 0;
    if (!Read(r, rgba, passFlags, clear)) return false;
    RunScenePasses(Vector(rgba[0], rgba[1], rgba[2], rgba[3]), passFlags, clear);
    return true;
}

void VornexRenderer::PostProcessTargetMode(uint32_t modeBits) {
    ASSERT_ON_THREAD(ThreadId(), "render thread");
    if (!device) return;
    if (needsResolve && targets[TARGET_MSAA_COLOR].surface && targets[TARGET_SCENE_COLOR].surface) {
        device->StretchRect(targets[TARGET_MSAA_COLOR].surface, nullptr, targets[TARGET_SCENE_COLOR].surface, nullptr,
                            gfx::TEXF_POINT);
        needsResolve = false;
    }
    gfx::Surface* backBuffer = backBufferSurface;
    if (!backBuffer) device->GetBackBuffer(0, 0, gfx::BACKBUFFER_TYPE_MONO, &backBufferSurface);
    // sRGB write of the scene parameters in force (render-side scene state); off until then.
    const SceneParametersWrapper* set = gRendererScene ? gRendererScene->GetCurrentParameters() : nullptr;
    SetRenderTargets(backBufferSurface, nullptr, set && set->Values().rest.srgb ? 1 : 0);
    gfx::Surface* depth = targets[TARGET_BACKBUFFER_DEPTH].surface ? targets[TARGET_BACKBUFFER_DEPTH].surface
                                                                    : targets[TARGET_MAIN_DEPTH].surface;
    device->SetDepthStencilSurface(depth);
    depthInForce = depth;
    postProcess->PostProcess(modeBits);
    if (modeBits & 1u) lightBufferClearMark = true;
    colorFactor = Vector(1, 1, 1, 1);
}

// At a render size other than the back buffer's, the chain's image is stretched from the
// light buffer it ended in.
void VornexRenderer::Upscale() {
    ASSERT_ON_THREAD(ThreadId(), "render thread");
    if (!device) return;
    const bool scaled = renderWidth != backBufferWidth || renderHeight != backBufferHeight;
    gfx::Surface* image = targets[postProcess->GetOutputTarget()].surface;
    if (scaled && backBufferSurface && image) {
        device->StretchRect(image, nullptr, backBufferSurface, nullptr, gfx::TEXF_LINEAR);
        BindBackBuffer();
        ApplyViewport(0, 0, backBufferWidth, backBufferHeight, 0.0f, 1.0f);
    }
    device->SetDepthStencilSurface(nullptr);
    depthInForce = nullptr;
}
