#include "ui/elements/UIBlur.h"

#include <cmath>

#include "platform/gfx/GfxDevice.h"
#include "render/VornexRenderer.h"
#include "render/shaders/PostProcessChain.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"
#include "ui/elements/UIQuadBatch.h"

namespace {
constexpr uint32_t kBlurQualityLevel = 2;
constexpr uint32_t kBlurShaderSlot = 7;            // plain copy
constexpr uint32_t kBlurSaturationShaderSlot = 8;  // with the saturation in pixel c4
constexpr float kFallbackGrey = 0.02f, kFallbackAlpha = 0.84f;
constexpr float kSaturationEpsilon = 0.001f;
}  // namespace

UIBlur::UIBlur() {
    SetLuaClass("UIBlur");
    RaiseFlag(UIFLAG_DRAWPENDINGUIELEMENTSBEFORE, false);
}

void UIBlur::SetBlurParams(float value, uint32_t count) {
    PostUIOpValues(kUIBlurFamily, UIOP_BLUR_PARAMS, this, value, count);
}

void UIBlur::SetSaturation(float value) { PostUIOpValues(kUIBlurFamily, UIOP_BLUR_SATURATION, this, value); }

void UIBlur::HandleBlurOp(uint32_t op, UIElement* element, UIOpReader& payload) {
    UIBlur* b = static_cast<UIBlur*>(element);
    bool ok = b != nullptr;
    if (ok && op == UIOP_BLUR_PARAMS) ok = payload.ReadValue(b->sigma) && payload.ReadValue(b->iterations);
    else if (ok && op == UIOP_BLUR_SATURATION) ok = payload.ReadValue(b->saturation);
    if (!ok || payload.Left()) payload.Skip(payload.Left());
}

void UIBlur::Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) {
    VornexRenderer& r = gVornexRenderer;
    const DeviceObjectHandle* copy = nullptr;
    Vector scale, offset;
    if (r.QualityLevel() >= kBlurQualityLevel && r.Device()) {
        Matrix transform;
        transform.Mul(r.ViewProjectionMatrix(), world);  // the element, then the camera
        const Vector& s = Render().size;
        const Vector corners[4] = {Vector(0, 0, 0, 1), Vector(s.x, 0, 0, 1), Vector(s.x, s.y, 0, 1),
                                   Vector(0, s.y, 0, 1)};
        copy = r.PostProcess().BlurScreenQuad(&scale, &offset, transform, corners, sigma, iterations);
    }
    if (!copy) {
        DrawFlatQuad(world, Vector(kFallbackGrey, kFallbackGrey, kFallbackGrey, colour.w * kFallbackAlpha), mirrored,
                     fade);
        return;
    }
    const Vector saturationConstant(saturation, saturation, saturation, saturation);
    UIScreenQuad quad;
    quad.shaderSlot = std::fabs(saturation - 1.0f) <= kSaturationEpsilon ? kBlurShaderSlot : kBlurSaturationShaderSlot;
    quad.texture = copy;
    quad.sampler = kUISamplerClampSRGB;
    quad.texScale = &scale;
    quad.texOffset = &offset;
    quad.pixelConstant = &saturationConstant;
    DrawUIScreenQuad(*this, world, colour, mirrored, quad);
}

void DrawUIScreenQuad(const UIElement& element, const Matrix& world, const Vector& colour, bool mirrored,
                      const UIScreenQuad& q) {
    VornexRenderer& r = gVornexRenderer;
    gfx::Device* device = r.Device();
    if (!device) return;
    const UIElementRenderHalf& rs = element.Render();
    const ShaderPair* pair = gShaderManager ? &gShaderManager->Fixed(q.shaderSlot) : nullptr;
    Matrix model, scale;
    scale.LoadScale(rs.size.x, rs.size.y, 1.0f);
    model.Mul(world, scale);  // the unit quad to the size, then the element
    r.SetTexture(0, q.texture, q.sampler);
    r.SetBlendMode(rs.blendMode);
    r.SetCullMode(mirrored != r.CameraMirrored() ? kUICullClockwise : kUICullCounterClockwise);
    r.SetDepthState((rs.flags & UIFLAG_DEPTHTEST) ? kUIDepthLessEqual : kUIDepthAlways, 0, 0, 0);
    if (q.texScale) r.SetVertexShaderConstants(kUITexScaleRegister, &q.texScale->x, 1);
    if (q.texOffset) r.SetVertexShaderConstants(kUITexOffsetRegister, &q.texOffset->x, 1);
    if (q.pixelConstant) r.SetPixelShaderConstants(kUIScreenQuadPixelRegister, &q.pixelConstant->x, 1);
    if (pair) {
        pair->Bind();
        if (pair->vertexObject) {
            pair->vertexObject->SetModelMatrix(model, false);
            pair->vertexObject->SetModelColor(colour);
        }
    }
    const BuiltInMesh& quad = r.GetBuiltInMesh(MESH_UNIT_QUAD);
    device->SetFVF(gfx::FVF_XYZ | gfx::FVF_TEX1);
    device->SetStreamSource(0, quad.vertices, 0, quad.stride);
    r.DrawPrimitive(gfx::PT_TRIANGLEFAN, 0, 2);
    device->SetStreamSource(0, nullptr, 0, 0);
}
