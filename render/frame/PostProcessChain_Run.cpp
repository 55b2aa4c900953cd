// The chain's run of render task 22 (render thread): the steps in order, reading the
// scene parameters in force. The passes themselves are in PostProcessChain_Passes.cpp.
#include <algorithm>
#include <cmath>

#include "platform/os/Clock.h"
#include "render/DeviceObjectHandle.h"
#include "render/PostProcessMath.h"
#include "render/VornexRenderer.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "render/shaders/PostProcessChain.h"

using namespace gfx;

namespace {

constexpr float kContrastEpsilon = 0.0001f;
constexpr float kZoomBlurMinimum = 0.0001f;
constexpr float kRgbShiftMinimum = 0.01f;

// The light buffer other than t.
RenderTargetId OtherLightBuffer(RenderTargetId t) { return t == TARGET_LIGHT_0 ? TARGET_LIGHT_1 : TARGET_LIGHT_0; }

}  // namespace

void PostProcessChain::PostProcess(uint32_t modeBits) {
    ++postProcessCount;
    RunPasses(modeBits);
}

void PostProcessChain::RunPasses(uint32_t modeBits) {
    VornexRenderer& r = gVornexRenderer;
    Device* device = r.Device();
    if (!device) return;

    // Save the bound target, its viewport and flags; depth always passes, unwritten.
    Surface* saved = nullptr;
    if (Failed(device->GetRenderTarget(0, &saved))) saved = nullptr;
    Viewport savedViewport{};
    device->GetViewport(&savedViewport);
    const uint32_t savedFlags = r.RenderTargetFlags();
    const uint32_t renderW = r.RenderWidth(), renderH = r.RenderHeight();
    // The passes into the light buffers never reach past their render size (a viewport
    // of the back buffer's size at another render size would be refused by the device).
    const uint32_t W = std::min(savedViewport.width, renderW), H = std::min(savedViewport.height, renderH);
    r.SetDepthState(CMP_ALWAYS, 0, 0, 0);
    SceneParametersWrapper* set = gRendererScene ? gRendererScene->GetCurrentParameters() : nullptr;

    const bool scaled = renderW != r.BackBufferWidth() || renderH != r.BackBufferHeight();
    // At another render size every pass writes a render-size buffer, which the back
    // buffer's depth surface may not cover (the device refuses such draws): the main
    // depth surface stands in until the chain ends.
    Surface* savedDepth = nullptr;
    Surface* mainDepth = r.Target(TARGET_MAIN_DEPTH).surface;
    const bool swapDepth = scaled && mainDepth && Succeeded(device->GetDepthStencilSurface(&savedDepth)) &&
                           savedDepth != mainDepth;
    if (swapDepth) device->SetDepthStencilSurface(mainDepth);
    const RenderTarget& a = r.Target(TARGET_LIGHT_0);
    RenderTargetId source = TARGET_LIGHT_1;  // the ping-pong's read side: the last image written
    outputTarget = TARGET_LIGHT_1;

    if (set) {
        const SceneParameterBlock& p = set->Values();
        const bool chain = (modeBits & MODE_CHAIN) != 0;
        const uint32_t quality = r.BlockInForce().quality;

        // The camera inverse: clip space back to world space (point x P^-1 x V^-1).
        if (!cameraInverse.Inverse(r.ViewProjectionMatrix())) cameraInverse = Matrix::IDENTITY;
        cameraPosition = r.CameraWorldMatrix().r[3];

        if (chain) {
            if (OutlinesDrawn()) {
                outlines.ReconstructOutlines(primaryOutline, false);
            } else if (r.BlockInForce().outlines && a.surface) {
                // Nothing to outline: no coverage, no dilation. A still starts the glow
                // cleared, as the reconstruction leaves it: the glow's filtered reads
                // reach past its quarter of A.
                r.SetColorWriteMask(15);
                r.SetRenderTargets(a.surface, nullptr, 2);
                r.ClearTarget(CLEAR_TARGET, Vector(0, 0, 0, 0), 1.0f, 0);
            }
            const bool changed = gRendererScene->LightingChanged();
            if (changed || toneCurveDirty || colorLookupDirty) {
                FillLookupTextures(p);
                gRendererScene->ClearLightingChanged();
            }
        }

        // The full-screen quad and the states every pass shares.
        const BuiltInMesh& quad = r.GetBuiltInMesh(MESH_FULLSCREEN_QUAD);
        device->SetFVF(FVF_XYZ | FVF_TEX1);
        device->SetStreamSource(0, quad.vertices, 0, 20);
        r.SetCullMode(CULL_NONE);
        r.SetAlphaTest(0, 0);
        r.SetBlendMode(0);
        r.SetDepthState(CMP_ALWAYS, 0, 0, 0);  // the outline reconstruction leaves its own

        const bool localContrast = std::fabs(p.rest.imageLocalContrast - 1.0f) > kContrastEpsilon;
        if (chain) {
            const RenderTarget& b = r.Target(TARGET_LIGHT_1);
            GlowSource(W, H);
            const uint32_t qw = (W + 3) >> 2, qh = (H + 3) >> 2;
            GaussBlur(a.surface, a.texture, b.surface, b.texture, qw, qh, p.rest.glowSoftness, 1.0f);
            GaussBlur(a.surface, a.texture, b.surface, b.texture, qw, qh, p.rest.glowSoftness, 2.0f);
            device->SetFVF(FVF_XYZ | FVF_TEX1);
            device->SetStreamSource(0, quad.vertices, 0, 20);
            if (localContrast) DownscaleLuminance(W, H);
        }

        const float amount = chain ? CurrentRgbShiftAmount() : 0.0f;
        const bool zoomBlur = chain && p.rest.zoomBlurStrength > kZoomBlurMinimum && quality >= 2;
        const bool rgbShift = chain && std::fabs(amount) > kRgbShiftMinimum && quality >= 2;
        const bool fxaa = chain && p.rest.fxaaEnabled && (modeBits & MODE_FXAA) && quality >= 3;
        const bool optional = zoomBlur || rgbShift || fxaa;

        if (!optional && saved) {
            r.SetRenderTargets(saved, nullptr, savedFlags);
            r.ApplyViewport(savedViewport.x, savedViewport.y, W, H, savedViewport.minZ, savedViewport.maxZ);
        }
        Vector factor(1, 1, 1, 1);
        if (!zoomBlur) factor = factor * p.rest.noBlurColorCorrection.ToLinearVector();

        const bool intoB = optional || scaled;
        Tonemap(chain, a.texture, r.Target(TARGET_NORMAL).texture, intoB ? r.Target(TARGET_LIGHT_1).surface : nullptr,
                W, H, factor, fxaa);

        // The optional passes: read `source`, write the other buffer, then swap; the last
        // one writes the saved target at the back buffer's size.
        const uint32_t passCount = (fxaa ? 1 : 0) + (rgbShift ? 1 : 0) + (zoomBlur ? 1 : 0);
        uint32_t done = 0;
        auto destination = [&](RenderTargetId dest) -> Surface* {
            return ++done == passCount && !scaled ? saved : r.Target(dest).surface;
        };
        auto swap = [&] { source = OtherLightBuffer(source); };
        if (fxaa) {
            FXAA(r.Target(source).texture, destination(OtherLightBuffer(source)), W, H);
            swap();
        }
        if (rgbShift) {
            RGBShift(r.Target(source).texture, destination(OtherLightBuffer(source)), W, H, amount);
            swap();
        }
        if (zoomBlur) {
            ZoomBlur(r.Target(source).texture, destination(OtherLightBuffer(source)), W, H, 1.0f);
            swap();
        }
        outputTarget = source;
    }

    // Bind the output: the saved target at the back buffer's size, else the light buffer
    // holding the image.
    Surface* output = scaled ? r.Target(outputTarget).surface : saved;
    if (output) r.SetRenderTargets(output, nullptr, savedFlags);
    if (saved) saved->Release();
    if (swapDepth) device->SetDepthStencilSurface(savedDepth);
    if (savedDepth) savedDepth->Release();
    device->SetStreamSource(0, nullptr, 0, 0);
}

bool PostProcessChain::OutlinesDrawn() const {
    if (!gVornexRenderer.BlockInForce().outlines) return false;
    return outlines.AllBits() != 0 || OutlineSoftnessPair(primaryOutline.softness).y < 0.0f;
}

float PostProcessChain::CurrentRgbShiftAmount() const {
    const SceneParametersWrapper* set = gRendererScene ? gRendererScene->GetCurrentParameters() : nullptr;
    if (!set) return 0.0f;
    const VornexRenderer& r = gVornexRenderer;
    return RgbShiftAmount(set->Values().rgbShiftScaleCurve, os::ReadCounter() - r.StartTime(), os::kCounterFrequency,
                          r.CameraValue());
}

