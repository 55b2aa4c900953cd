// The post-processing passes (render thread). Each pass has one shape: its shader pair
// must be valid (else nothing is bound or drawn), it binds its target with the given
// flags and the viewport (0, 0, size), or keeps the bound target and takes the back
// buffer's size, binds its textures, sets its constants and draws the full-screen quad
// as a fan of two triangles. Vertex c0 is usually (W / w, H / h, 0.5 / w, 0.5 / h): the
// pass's share of the render-size target and half a texel.
//
// Sampler flags: 1 sRGB read, 2 and 4 clamped, 8 point filtering. The glow and the blurs
// work in linear space (sRGB write and read), the composite writes with the parameter
// set's sRGB switch (and converts the lookup table it reads itself), and every pass
// after it works on the gamma-encoded picture.
#include <cmath>

#include "render/DeviceObjectHandle.h"
#include "render/PostProcessMath.h"
#include "render/VornexRenderer.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "render/shaders/PostProcessChain.h"

using namespace gfx;

namespace {

constexpr uint32_t kClampedLinear = SAMPLER_CLAMP_U | SAMPLER_CLAMP_V;          // 6
constexpr uint32_t kSrgbClampedLinear = kClampedLinear | SAMPLER_SRGB;          // 7
constexpr uint32_t kSrgbWrappedLinear = SAMPLER_SRGB;                           // 1
constexpr float kExcludePower = 0.9090909f;   // 1 / 1.1
constexpr float kExcludeRampScale = 0.5773672f;

struct QuadVertex {
    float x, y, z, u, v;
};
static_assert(sizeof(QuadVertex) == 20, "the full-screen quad's vertex is 20 bytes");

// The render-size target's width and height as floats (1 for an empty size).
void TargetSize(float* w, float* h) {
    const VornexRenderer& r = gVornexRenderer;
    *w = static_cast<float>(r.RenderWidth() ? r.RenderWidth() : 1);
    *h = static_cast<float>(r.RenderHeight() ? r.RenderHeight() : 1);
}

void DrawQuad() { gVornexRenderer.DrawPrimitive(PT_TRIANGLEFAN, 0, 2); }

const SceneParameterBlock* Parameters() {
    const SceneParametersWrapper* set = gRendererScene ? gRendererScene->GetCurrentParameters() : nullptr;
    return set ? &set->Values() : nullptr;
}

Vector Splat(float v) { return Vector(v, v, v, v); }

Vector ExcludeColour(const HDRColor& c) {
    const Vector v = c.ToLinearVector();
    return Vector(std::pow(v.x, kExcludePower), std::pow(v.y, kExcludePower), std::pow(v.z, kExcludePower), v.w);
}

}  // namespace

bool PostProcessChain::BeginPass(const ShaderPair& pair, Surface* target, uint32_t targetFlags, uint32_t width,
                                 uint32_t height, float* sizeW, float* sizeH) const {
    if (!pair.IsValid()) return false;
    VornexRenderer& r = gVornexRenderer;
    pair.Bind();
    if (target) {
        r.SetRenderTargets(target, nullptr, targetFlags);
        r.ApplyViewport(0, 0, width, height, 0.0f, 1.0f);
        *sizeW = static_cast<float>(width);
        *sizeH = static_cast<float>(height);
    } else {
        *sizeW = static_cast<float>(r.BackBufferWidth());
        *sizeH = static_cast<float>(r.BackBufferHeight());
    }
    return true;
}

void PostProcessChain::GlowSource(uint32_t width, uint32_t height) {
    const SceneParameterBlock* p = Parameters();
    const ShaderPair& pair = passShaders[PASS_GLOW_SOURCE];
    VornexRenderer& r = gVornexRenderer;
    float sw, sh, w, h;
    if (!p || !BeginPass(pair, r.Target(TARGET_LIGHT_0).surface, 1, (width + 3) >> 2, (height + 3) >> 2, &sw, &sh))
        return;
    TargetSize(&w, &h);
    r.SetTexture(0, r.Target(TARGET_SCENE_COLOR).texture, kClampedLinear);
    const Vector vc[2] = {Vector(1.0f, 1.0f, 2.0f / w, 2.0f / h), Vector(1.0f / w, 1.0f / h, -1.0f / w, 1.0f / h)};
    pair.SetVertexConstants(0, &vc[0].x, 2);
    const Vector pc = Splat(p->rest.glowThreshold);
    pair.SetPixelConstants(0, &pc.x, 1);
    DrawQuad();
}

void PostProcessChain::GaussBlur(Surface* surfaceA, const DeviceObjectHandle* textureA, Surface* surfaceB,
                                 const DeviceObjectHandle* textureB, uint32_t passWidth, uint32_t passHeight,
                                 float sigma, float stepScale) {
    const ShaderPair& pair = passShaders[PASS_GAUSS_BLUR];
    VornexRenderer& r = gVornexRenderer;
    if (!pair.IsValid() || !surfaceA || !surfaceB) return;
    float w, h;
    TargetSize(&w, &h);
    const float qx = static_cast<float>(passWidth), qy = static_cast<float>(passHeight);
    const GaussKernel k = ComputeGaussKernel(sigma);
    Vector vc[4] = {Vector(qx / w, qy / h, 0.5f / w, 0.5f / h), Vector(0.0f, stepScale / h, 0.0f, 0.0f),
                    Vector(-k.offset[2], -k.offset[1], -k.offset[0], 0.0f),
                    Vector(k.offset[0], k.offset[1], k.offset[2], 0.0f)};
    const Vector pc[2] = {Vector(qx / w - 0.5f / w, qy / h - 0.5f / h, 0.0f, 0.0f),
                          Vector(k.weight[2], k.weight[1], k.weight[0], k.centre)};
    // The pass area from memory: corners at -1 and 1, texture coordinates from half a
    // texel to the area's extent plus half a texel.
    const float u0 = 0.5f / w, v0 = 0.5f / h, u1 = qx / w + 0.5f / w, v1 = qy / h + 0.5f / h;
    const QuadVertex quad[4] = {{-1, 1, 0, u0, v0}, {1, 1, 0, u1, v0}, {1, -1, 0, u1, v1}, {-1, -1, 0, u0, v1}};

    for (uint32_t pass = 0; pass < 2; ++pass) {
        float sw, sh;
        BeginPass(pair, pass == 0 ? surfaceB : surfaceA, 1, passWidth, passHeight, &sw, &sh);
        r.SetTexture(0, pass == 0 ? textureA : textureB, kSrgbClampedLinear);
        if (pass == 1) vc[1] = Vector(stepScale / w, 0.0f, 0.0f, 0.0f);
        pair.SetVertexConstants(0, &vc[0].x, 4);
        pair.SetPixelConstants(0, &pc[0].x, 2);
        r.SetCullMode(CULL_NONE);
        r.SetDepthState(CMP_ALWAYS, 0, 0, 0);
        r.SetBlendMode(0);
        r.SetAlphaTest(0, 0);
        r.Device()->SetFVF(FVF_XYZ | FVF_TEX1);
        r.DrawPrimitiveUP(PT_TRIANGLEFAN, 2, quad, sizeof(QuadVertex));
    }
    r.SetTexture(0, nullptr, kSrgbClampedLinear);
}

void PostProcessChain::DownscaleLuminance(uint32_t width, uint32_t height) {
    const SceneParameterBlock* p = Parameters();
    const ShaderPair& pair = passShaders[PASS_DOWNSCALE_LUMINANCE];
    VornexRenderer& r = gVornexRenderer;
    Surface* target = r.Target(TARGET_LIGHT_0).surface;
    if (!p || !pair.IsValid() || !target) return;
    pair.Bind();
    r.SetRenderTargets(target, nullptr, 1);
    const uint32_t rw = r.RenderWidth(), rh = r.RenderHeight();
    // The alpha of the glow's cell (whose colour the blurs have finished).
    r.ApplyViewport(0, 0, (rw + 3) >> 2, (rh + 3) >> 2, 0.0f, 1.0f);
    float w, h;
    TargetSize(&w, &h);
    r.SetTexture(0, r.Target(TARGET_SCENE_COLOR).texture, kClampedLinear);
    r.SetTexture(1, toneCurve, kSrgbClampedLinear);
    const Vector vc[2] = {Vector(1.0f, 1.0f, 2.0f / w, 2.0f / h), Vector(1.0f / w, 1.0f / h, -1.0f / w, 1.0f / h)};
    pair.SetVertexConstants(0, &vc[0].x, 2);
    const Vector pc = Splat(p->rest.exposition);
    pair.SetPixelConstants(0, &pc.x, 1);
    r.SetColorWriteMask(8);
    DrawQuad();
    r.SetColorWriteMask(15);
}

void PostProcessChain::Tonemap(bool enabled, const DeviceObjectHandle* glow, const DeviceObjectHandle* outline,
                               Surface* target, uint32_t width, uint32_t height, const Vector& factor,
                               bool fxaaFollows) {
    const SceneParameterBlock* p = Parameters();
    if (!p) return;
    VornexRenderer& r = gVornexRenderer;
    const SceneParameterRest& rest = p->rest;
    uint32_t mask = 0;
    if (enabled) {
        mask = COMPOSITE_ENABLED;
        if (OutlinesDrawn()) mask |= COMPOSITE_OUTLINES;
        if (std::fabs(rest.imageLocalContrast - 1.0f) > 0.0001f) mask |= COMPOSITE_LOCAL_CONTRAST;
        if (fxaaFollows) mask |= COMPOSITE_LUM_IN_ALPHA;
        if (r.BlockInForce().quality < 2) mask |= COMPOSITE_LOW_SPEC_MODE;
        if (rest.sharpenStrength != 0.0f) mask |= COMPOSITE_SHARPEN;
    }
    const ShaderPair& pair = compositeShaders[mask];
    float sw, sh, w, h;
    if (!BeginPass(pair, target, rest.srgb ? 1 : 0, width, height, &sw, &sh)) return;
    TargetSize(&w, &h);
    float contrast = rest.imageContrast, saturation = rest.imageSaturation;
    if (mask & COMPOSITE_LOW_SPEC_MODE) {
        contrast *= rest.lowSpecContrastMultiplier;
        saturation *= rest.lowSpecSaturationMultiplier;
    }

    r.SetTexture(0, r.Target(TARGET_SCENE_COLOR).texture, kClampedLinear);
    if (enabled) {
        r.SetTexture(1, glow, kSrgbClampedLinear);
        r.SetTexture(2, outline, kClampedLinear);
        r.SetTexture(3, toneLookup, kClampedLinear);  // sRGB bytes, converted by the shader
        r.SetTexture(5, p->cloudTexture, kSrgbWrappedLinear);
    }

    const float qw = static_cast<float>((static_cast<uint32_t>(sw) + 3) >> 2);
    const float qh = static_cast<float>((static_cast<uint32_t>(sh) + 3) >> 2);
    const float a = rest.vignetteAspect;
    Matrix layer;
    layer.Transpose(p->layerProjection);
    const Vector& scroll = gRendererScene->LayerOffset();
    Vector vc[15];
    vc[0] = Vector(sw / w, sh / h, 0.5f / w, 0.5f / h);
    vc[1] = Vector(qw / sw, qh / sh, 0.125f / w, 0.125f / h);
    vc[2] = Vector(0.5f / w, 0.5f / h, 0.5f / w, -0.5f / h);
    vc[3] = Vector(2.0f * a, 2.0f / a, -a, -1.0f / a);
    vc[4] = rest.topColor.ToLinearVector() * factor;
    vc[5] = rest.bottomColor.ToLinearVector() * factor;
    for (uint32_t i = 0; i < 4; ++i) vc[6 + i] = cameraInverse.r[i];
    vc[10] = cameraPosition;
    vc[11] = layer.r[0];
    vc[12] = layer.r[1];
    vc[13] = Vector(scroll.x, scroll.y, scroll.z, p->layerHeight.x);
    vc[14] = factor;
    pair.SetVertexConstants(0, &vc[0].x, 15);

    const Ramp vignette = ComputeRamp(rest.vignetteStart, rest.vignetteEnd);
    const Ramp exclude0 = ComputeRamp(rest.excludeColor0FalloffStart, rest.excludeColor0FalloffEnd);
    const Ramp exclude1 = ComputeRamp(rest.excludeColor1FalloffStart, rest.excludeColor1FalloffEnd);
    const float variation = std::fmin(std::fmax(rest.imageLocalContrastVariation, 0.0f), 1.0f);
    Vector pc[10];
    pc[0] = rest.glowColor.ToLinearVector();
    pc[1] = Vector(-vignette.scale / 2.0f, vignette.offset + vignette.scale, saturation, contrast);
    pc[2] = Vector(rest.imageLocalContrast, 0.5f - variation / 2.0f, 0.5f + variation / 2.0f, 0.0f);
    pc[3] = OutlineSoftnessPair(primaryOutline.softness);
    pc[4] = ExcludeColour(rest.excludeColor0);
    pc[5] = ExcludeColour(rest.excludeColor1);
    pc[6] = Vector(exclude0.scale * kExcludeRampScale, exclude1.scale * kExcludeRampScale, exclude0.offset,
                   exclude1.offset);
    pc[7] = Vector(-0.5f / w, -0.5f / h, -rest.sharpenStrength, rest.exposition);
    pc[8] = p->layerColor;
    pc[9] = rest.lowSpecModeColorCorrection.ToLinearVector();
    pair.SetPixelConstants(0, &pc[0].x, 10);
    DrawQuad();
    r.SetTexture(1, nullptr, kSrgbClampedLinear);
    r.SetTexture(2, nullptr, kClampedLinear);
}

void PostProcessChain::FXAA(const DeviceObjectHandle* source, Surface* target, uint32_t width, uint32_t height) {
    const SceneParameterBlock* p = Parameters();
    const ShaderPair& pair = passShaders[PASS_FXAA];
    float sw, sh, w, h;
    if (!p || !BeginPass(pair, target, 0, width, height, &sw, &sh)) return;
    VornexRenderer& r = gVornexRenderer;
    TargetSize(&w, &h);
    const SceneParameterRest& rest = p->rest;
    r.SetTexture(0, source, kClampedLinear);
    const Vector vc(sw / w, sh / h, 0.5f / w, 0.5f / h);
    pair.SetVertexConstants(0, &vc.x, 1);
    const float n = rest.consoleSubpixAliasing;
    const Vector pc[7] = {Vector(1.0f / w, 1.0f / h, 0.0f, 0.0f),
                          Vector(-n / w, -n / h, n / w, n / h),
                          Vector(-2.0f / w, -2.0f / h, 2.0f / w, 2.0f / h),
                          Vector(8.0f / w, 8.0f / h, -4.0f / w, -4.0f / h),
                          Vector(1.0f, -1.0f, 0.25f, -0.25f),
                          Vector(rest.subpixAliasing, rest.edgeTreshold, rest.edgeTresholdMin, 0.0f),
                          Vector(n, rest.consoleEdgeTreshold, rest.consoleEdgeTresholdMin, 0.0f)};
    pair.SetPixelConstants(0, &pc[0].x, 7);
    DrawQuad();
    r.SetTexture(0, nullptr, kClampedLinear);
}

void PostProcessChain::RGBShift(const DeviceObjectHandle* source, Surface* target, uint32_t width, uint32_t height,
                                float amount) {
    const ShaderPair& pair = passShaders[PASS_RGB_SHIFT];
    float sw, sh, w, h;
    if (!BeginPass(pair, target, 0, width, height, &sw, &sh)) return;
    VornexRenderer& r = gVornexRenderer;
    TargetSize(&w, &h);
    r.SetTexture(0, source, kClampedLinear);
    const Vector vc(sw / w, sh / h, 0.5f / w, 0.5f / h);
    pair.SetVertexConstants(0, &vc.x, 1);
    const float d = h * 2.0f / 1080.0f * amount;  // pixels of a 1080-line picture
    const Vector pc(d / w, d / h, 0.0f, 0.0f);
    pair.SetPixelConstants(0, &pc.x, 1);
    DrawQuad();
    r.SetTexture(0, nullptr, kClampedLinear);
}

void PostProcessChain::ZoomBlur(const DeviceObjectHandle* source, Surface* target, uint32_t width, uint32_t height,
                                float scale) {
    const SceneParameterBlock* p = Parameters();
    const ShaderPair& pair = passShaders[PASS_ZOOM_BLUR];
    float sw, sh, w, h;
    if (!p || !BeginPass(pair, target, 0, width, height, &sw, &sh)) return;
    VornexRenderer& r = gVornexRenderer;
    TargetSize(&w, &h);
    r.SetTexture(0, source, kClampedLinear);
    const Vector vc[2] = {Vector(sw / w, sh / h, 0.5f / w, 0.5f / h),
                          Vector(p->rest.zoomBlurStrength * scale * -0.005f, 0.0f, 0.0f, 0.0f)};
    pair.SetVertexConstants(0, &vc[0].x, 2);
    float weights[16];
    ZoomBlurTwiceWeights(p->rest.zoomBlurBlurredRatio, p->rest.zoomBlurSourceRatio, weights);
    // Offset 0 alone, then offsets 2k - 1 and 2k as one read at their weighted place
    // (between the two; halfway when their weights cancel).
    float pc[16] = {};
    pc[8] = weights[0];
    for (uint32_t k = 1; k < 8; ++k) {
        const float a = weights[2 * k - 1], b = weights[2 * k], sum = a + b;
        const float t = sum != 0.0f ? std::fmin(std::fmax(b / sum, 0.0f), 1.0f) : 0.5f;
        pc[k] = static_cast<float>(2 * k - 1) + t;
        pc[8 + k] = sum;
    }
    pair.SetPixelConstants(0, pc, 4);
    DrawQuad();
    r.SetTexture(0, nullptr, kClampedLinear);
}
