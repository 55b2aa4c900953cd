#pragma once
// PostProcessChain: the render-thread holder of the post-processing shaders and the
// outline parameter blocks. The passes come later; for now the chain keeps its shader
// pairs (filled by the shader manager), the primary and secondary outline blocks
// (render tasks 20 and 21) and empty device-object and pass entry points, which the
// renderer already calls at the right places.
//
// Threads: render thread (and the main thread while it creates or resets the device
// with the render thread drained).
#include <cstdint>

#include "core/config/OutlineParams.h"
#include "core/math/Vector.h"
#include "render/shaders/OutlineRenderer.h"
#include "render/shaders/ShaderManager.h"

class DeviceObjectHandle;
namespace gfx {
class Surface;
}

class PostProcessChain {
public:
    static constexpr uint32_t kCompositeShaderCount = 32;  // by the 5-bit option mask
    enum PassShader : uint32_t {
        PASS_GLOW_SOURCE, PASS_GAUSS_BLUR, PASS_ZOOM_BLUR, PASS_DILATE, PASS_DOWNSCALE_LUMINANCE, PASS_FXAA,
        PASS_RGB_SHIFT, PASS_OUTLINES, PASS_OUTLINES_LOW_SPEC, PASS_SSAO_PREPARE, PASS_SSAO_PREPARE_NORMAL_MAPS,
        PASS_SSAO_BLUR, PASS_SSAO_BLUR_FINAL,
        PASS_SHADER_COUNT
    };

    // The render-task-22 entry (mode bits: bit 0 the whole chain, bit 2 FXAA).
    void PostProcess(uint32_t modeBits);
    void CreateDeviceObjects();
    void ReleaseDeviceObjects();
    void ReleaseShaders();

    // Ambient occlusion (PostProcessChain_SSAO.cpp): the four SSAO pairs are valid and
    // both occlusion targets exist.
    bool CanRunSSAO() const;
    // The raw occlusion of the depth source into the target (viewport width x height).
    void SSAOPrepare(gfx::Surface* target, const DeviceObjectHandle* normalTexture, uint32_t width, uint32_t height,
                     bool useNormalMaps, float intensity, float radius);
    // Horizontal blur into the temporary target, then the vertical blur that writes the
    // light buffer B (lightTexture) times the occlusion into the final target.
    void SSAOBlur(gfx::Surface* finalTarget, const DeviceObjectHandle* prepared, gfx::Surface* temporary,
                  const DeviceObjectHandle* temporaryTexture, const DeviceObjectHandle* lightTexture, uint32_t width,
                  uint32_t height, float decreaseWithLighting, const Vector& colour, float stepScale);

    void SetOutlineParams(const OutlineParams& params, bool secondary) { (secondary ? secondaryOutline : primaryOutline) = params; }
    const OutlineParams& PrimaryOutlineParams() const { return primaryOutline; }
    const OutlineParams& SecondaryOutlineParams() const { return secondaryOutline; }
    uint32_t PostProcessCount() const { return postProcessCount; }
    OutlineRenderer& Outlines() { return outlines; }

    ShaderPair compositeShaders[kCompositeShaderCount];
    ShaderPair passShaders[PASS_SHADER_COUNT];

private:
    OutlineParams primaryOutline;
    OutlineParams secondaryOutline;
    uint32_t postProcessCount = 0;
    OutlineRenderer outlines;
};
