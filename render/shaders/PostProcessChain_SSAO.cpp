// Screen-space ambient occlusion of the deferred lighting (render thread).
//
// "SSAOPrepare" samples eight kernel points around each pixel in the depth source and
// writes the raw occlusion into the first occlusion target; "SSAOBlur" blurs it across,
// into the second, and down ("FINAL_PASS"), where it multiplies light buffer B into the
// final target (light buffer A). Each pass draws the full-screen quad as a fan of two
// triangles with vertex c0 = (W / w, H / h, 0.5 / w, 0.5 / h): the viewport's share of
// the target and half a texel.
#include <cmath>

#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/shaders/PostProcessChain.h"

using namespace gfx;

namespace {

constexpr uint32_t kPointClamp = SAMPLER_CLAMP_U | SAMPLER_CLAMP_V | SAMPLER_POINT;  // 14

// The kernel: four points at radius 0.5 and four at 1.0, each set turned by quarter turns.
constexpr float kKernel[8][2] = {{0.439996f, 0.237493f},  {-0.237493f, 0.439996f}, {-0.439996f, -0.237493f},
                                 {0.237494f, -0.439996f}, {0.286383f, 0.958115f},  {-0.958115f, 0.286382f},
                                 {-0.286383f, -0.958115f}, {0.958115f, -0.286382f}};

// Binds the target with the viewport (0, 0, width, height) and sets vertex c0.
void BindTarget(Surface* target, uint32_t width, uint32_t height) {
    VornexRenderer& r = gVornexRenderer;
    r.SetRenderTargets(target, nullptr, 2);
    r.ApplyViewport(0, 0, width, height, 0.0f, 1.0f);
    SurfaceDesc desc{};
    target->GetDesc(&desc);
    const float w = static_cast<float>(desc.width), h = static_cast<float>(desc.height);
    const Vector c0(static_cast<float>(width) / w, static_cast<float>(height) / h, 0.5f / w, 0.5f / h);
    r.SetVertexShaderConstants(0, &c0.x, 1);
}

void DrawQuad() {
    VornexRenderer& r = gVornexRenderer;
    const BuiltInMesh& quad = r.GetBuiltInMesh(MESH_FULLSCREEN_QUAD);
    r.Device()->SetFVF(FVF_XYZ | FVF_TEX1);
    r.Device()->SetStreamSource(0, quad.vertices, 0, quad.stride);
    r.DrawPrimitive(PT_TRIANGLEFAN, 0, 2);
}

}  // namespace

bool PostProcessChain::CanRunSSAO() const {
    const RenderTarget& a = gVornexRenderer.Target(TARGET_OCCLUSION_0);
    const RenderTarget& b = gVornexRenderer.Target(TARGET_OCCLUSION_1);
    return passShaders[PASS_SSAO_PREPARE].IsValid() && passShaders[PASS_SSAO_PREPARE_NORMAL_MAPS].IsValid() &&
           passShaders[PASS_SSAO_BLUR].IsValid() && passShaders[PASS_SSAO_BLUR_FINAL].IsValid() && a.surface &&
           a.texture && b.surface && b.texture;
}

void PostProcessChain::SSAOPrepare(Surface* target, const DeviceObjectHandle* normalTexture, uint32_t width,
                                   uint32_t height, bool useNormalMaps, float intensity, float radius) {
    if (!target || !passShaders[PASS_SSAO_PREPARE].IsValid() || !passShaders[PASS_SSAO_PREPARE_NORMAL_MAPS].IsValid())
        return;
    VornexRenderer& r = gVornexRenderer;
    const ShaderPair& pair = passShaders[useNormalMaps ? PASS_SSAO_PREPARE_NORMAL_MAPS : PASS_SSAO_PREPARE];
    pair.Bind();
    BindTarget(target, width, height);
    r.SetTexture(0, normalTexture, kPointClamp);
    r.SetTexture(10, r.DepthSourceTexture(), kPointClamp);

    const float radiusScaled = static_cast<float>(height) / 1080.0f * radius;
    const float clamped = std::fmin(std::fmax(radiusScaled, 1.0f), 20.0f);
    const float r2 = radiusScaled * radiusScaled, r4 = r2 * r2;
    float term = r4 != 0.0f ? intensity * 0.625f / r4 : 0.0f;
    if (!std::isfinite(term)) term = 0.0f;
    Vector c[12];
    c[0] = Vector(radiusScaled, r2, clamped, term);
    r.ProjectionConstants(&c[1]);
    const Vector& q = c[1];
    for (uint32_t i = 0; i < 8; ++i) {
        const float x = kKernel[i][0], y = kKernel[i][1];
        c[4 + i] = Vector(x * q.x * clamped, y * q.y * clamped, x * q.z * clamped, y * q.w * clamped);
    }
    pair.SetPixelConstants(0, &c[0].x, 12);
    DrawQuad();
    r.SetTexture(0, nullptr, 0);
}

void PostProcessChain::SSAOBlur(Surface* finalTarget, const DeviceObjectHandle* prepared, Surface* temporary,
                                const DeviceObjectHandle* temporaryTexture, const DeviceObjectHandle* lightTexture,
                                uint32_t width, uint32_t height, float decreaseWithLighting, const Vector& colour,
                                float stepScale) {
    const ShaderPair& across = passShaders[PASS_SSAO_BLUR];
    const ShaderPair& down = passShaders[PASS_SSAO_BLUR_FINAL];
    if (!finalTarget || !temporary || !across.IsValid() || !down.IsValid()) return;
    VornexRenderer& r = gVornexRenderer;
    const float w = static_cast<float>(width ? width : 1), h = static_cast<float>(height ? height : 1);
    Vector c[3];
    c[1] = Vector(1.0f - colour.x, 1.0f - colour.y, 1.0f - colour.z, 0.0f);
    c[2] = Vector(colour.x, colour.y, colour.z, 1.0f);

    across.Bind();
    BindTarget(temporary, width, height);
    r.SetTexture(0, prepared, SAMPLER_POINT);
    c[0] = Vector(stepScale / w, 0.0f, decreaseWithLighting, 0.0f);
    across.SetPixelConstants(0, &c[0].x, 3);
    DrawQuad();

    down.Bind();
    BindTarget(finalTarget, width, height);
    r.SetTexture(0, temporaryTexture, SAMPLER_POINT);
    r.SetTexture(1, lightTexture, SAMPLER_POINT);
    c[0] = Vector(0.0f, stepScale / h, decreaseWithLighting, 0.0f);
    down.SetPixelConstants(0, &c[0].x, 3);
    DrawQuad();
    r.SetTexture(0, nullptr, 0);
}
