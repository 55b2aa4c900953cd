#include "ui/video/UIVideo.h"

#include "core/rtti/RTTIClass.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "ui/elements/UIBlur.h"
#include "ui/video/VideoEngine.h"

namespace {

constexpr uint32_t kVideoUIShaderPair = 11;  // "FixedPipelineReplacement" "VIDEO"
constexpr uint32_t kFirstPlaneSampler = 1;

}  // namespace

const RTTIClass* UIVideo::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UIVideo"); }

void UIVideo::Draw(const Matrix& world, const Vector&, bool mirrored, const UIFadeRecord*) {
    if (!gVideoEngine || !gVideoEngine->HasFrame()) return;
    VornexRenderer& r = gVornexRenderer;
    gfx::Device* device = r.Device();
    if (!device) return;
    for (uint32_t i = 0; i < VideoEngine::kPlaneCount; ++i)
        r.SetTexture(kFirstPlaneSampler + i, gVideoEngine->Plane(i), VideoEngine::kPlaneSamplerFlags);
    uint32_t srgb = 0;
    device->GetRenderState(gfx::RS_SRGBWRITEENABLE, &srgb);
    r.SetSRGBWriteState(0);
    UIScreenQuad quad;
    quad.shaderSlot = kVideoUIShaderPair;
    DrawUIScreenQuad(*this, world, Vector(1.0f, 1.0f, 1.0f, 1.0f), mirrored, quad);
    r.SetSRGBWriteState(uint8_t(srgb));
}
