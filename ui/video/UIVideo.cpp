#include "ui/video/UIVideo.h"

#include "core/rtti/RTTIClass.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"
#include "ui/video/VideoEngine.h"

namespace {

constexpr uint32_t kVideoUIShaderPair = 11;  // "FixedPipelineReplacement" "VIDEO"
constexpr uint32_t kFirstPlaneSampler = 1;
constexpr uint32_t kUnitQuadStride = 20;  // position and one texture coordinate

}  // namespace

const RTTIClass* UIVideo::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UIVideo"); }

void UIVideo::Draw() {
    const UIElementRenderHalf& half = Render();
    Matrix scale, world;
    scale.LoadScale(half.size.x, half.size.y, 1.0f);
    world.Mul(half.localMatrix, scale);  // the unit quad is scaled first, then placed
    DrawFrameQuad(world);
}

void UIVideo::DrawFrameQuad(const Matrix& world) {
    if (!gVideoEngine || !gVideoEngine->HasFrame() || !gShaderManager) return;
    VornexRenderer& r = gVornexRenderer;
    gfx::Device* device = r.Device();
    if (!device) return;
    for (uint32_t i = 0; i < VideoEngine::kPlaneCount; ++i)
        r.SetTexture(kFirstPlaneSampler + i, gVideoEngine->Plane(i), VideoEngine::kPlaneSamplerFlags);
    uint32_t srgb = 0;
    device->GetRenderState(gfx::RS_SRGBWRITEENABLE, &srgb);
    r.SetSRGBWriteState(0);
    const ShaderPair& pair = gShaderManager->Fixed(kVideoUIShaderPair);
    pair.Bind();
    const Vector white(1.0f, 1.0f, 1.0f, 1.0f);
    r.SetModelMatrix(world);
    r.SetModelColor(white);
    if (pair.vertexObject) {
        pair.vertexObject->SetModelMatrix(world, false);
        pair.vertexObject->SetModelColor(white);
    }
    device->SetFVF(gfx::FVF_XYZ | gfx::FVF_TEX1);
    device->SetStreamSource(0, r.GetBuiltInMesh(MESH_UNIT_QUAD).vertices, 0, kUnitQuadStride);
    r.DrawPrimitive(gfx::PT_TRIANGLEFAN, 0, 2);
    device->SetStreamSource(0, nullptr, 0, 0);
    r.SetSRGBWriteState(uint8_t(srgb));
}
