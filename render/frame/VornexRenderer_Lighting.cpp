// Deferred lighting (render thread): the "Lighting" step of the deferred pre-pass fills
// the light buffers from the normal and depth targets.
#include "render/RenderHooks.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"
#include "render/scene/EntityRenderingContext.h"
#include "render/shaders/PostProcessChain.h"

using namespace gfx;

uint32_t VornexRenderer::LightBufferSamplerFlags() const {
    const uint32_t flags = SAMPLER_CLAMP_U | SAMPLER_CLAMP_V | SAMPLER_POINT;
    return srgbForcedOff.load(std::memory_order_acquire) ? flags : flags | SAMPLER_SRGB;
}

bool VornexRenderer::AmbientOcclusionDue(uint32_t passFlags) const { return false; }

void VornexRenderer::RenderGlobalLight(bool shadowsAllowed, bool occlusion) { lightBufferClearMark = true; }

void VornexRenderer::RenderLights() {}

void VornexRenderer::RenderAmbientOcclusion() {}

void VornexRenderer::GatherOutlines(uint32_t mask) {}
