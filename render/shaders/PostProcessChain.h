#pragma once
// PostProcessChain: turns the linear HDR scene colour into the picture on screen, on the
// render thread (render task 22). Bit 0 of the mode bits runs the whole chain: a glow
// (bright pass and Gaussian blur at quarter size in the corner of light buffer A), an
// optional downscaled luminance in that cell's alpha, the composite ("Postprocess": tone curve,
// colour lookup, contrast, vignette, outlines, colour factor), then FXAA (mode bit 2),
// an RGB shift and a zoom blur (applied twice, in one draw), each only when switched
// on. Without bit 0 the composite is a plain copy. The same object blurs the screen behind UI blur panels,
// runs the deferred lighting's ambient occlusion and holds the outline renderer.
//
// Targets: light buffers A (TARGET_LIGHT_0) and B (TARGET_LIGHT_1) are the chain's
// intermediates. At the back buffer's size the last pass writes the bound target; at
// another size the chain ends in A or B and GetOutputTarget tells the upscale which.
//
// Threads: render thread (and the main thread while it creates or resets the device
// with the render thread drained). ReleaseShaders is the one main-thread entry: it
// posts the release to the render thread while the renderer runs.
#include <cstdint>

#include "core/config/OutlineParams.h"
#include "core/math/Matrix.h"
#include "core/math/Vector.h"
#include "render/VornexRenderer.h"
#include "render/shaders/OutlineRenderer.h"
#include "render/shaders/ShaderManager.h"

class DeviceObjectHandle;
struct SceneParameterBlock;
namespace gfx {
class Surface;
struct SurfaceDesc;
struct Rect;
}

class PostProcessChain {
public:
    static constexpr uint32_t kCompositeShaderCount = 64;  // by the 6-bit option mask
    enum PassShader : uint32_t {
        PASS_GLOW_SOURCE, PASS_GAUSS_BLUR, PASS_ZOOM_BLUR, PASS_DILATE, PASS_DOWNSCALE_LUMINANCE, PASS_FXAA,
        PASS_RGB_SHIFT, PASS_OUTLINES, PASS_OUTLINES_LOW_SPEC, PASS_SSAO_PREPARE, PASS_SSAO_PREPARE_NORMAL_MAPS,
        PASS_SSAO_BLUR, PASS_SSAO_BLUR_FINAL,
        PASS_SHADER_COUNT
    };

    static constexpr uint32_t kToneCurveTexels = 1024;
    static constexpr uint32_t kColorLookupTexels = 64;
    static constexpr uint32_t kMaxBlurIterations = 64;
    enum : uint32_t { MODE_CHAIN = 1, MODE_FXAA = 4 };

    PostProcessChain() = default;
    ~PostProcessChain();
    PostProcessChain(const PostProcessChain&) = delete;
    PostProcessChain& operator=(const PostProcessChain&) = delete;

    // The render-task-22 entry (mode bits: bit 0 the whole chain, bit 2 FXAA): runs the
    // passes into the bound render target 0.
    void PostProcess(uint32_t modeBits);
    void RunPasses(uint32_t modeBits);
    // The lookup textures (dirty when made) and the outline grid; after every device
    // creation or reset, released before it.
    void CreateDeviceObjects();
    void ReleaseDeviceObjects();
    // Main thread: drops every shader pair on the render thread (a task-47 call and a
    // flush with wait while the renderer runs; directly when it does not).
    void ReleaseShaders();
    // Render thread: the release itself.
    void ReleaseShadersNow();

    // The light buffer that holds the chain's final image when the render size differs
    // from the back buffer's (B before any run).
    RenderTargetId GetOutputTarget() const { return outputTarget; }

    // The passes (PostProcessChain_Passes.cpp). Each draws nothing when its pair is not
    // valid. A target of null keeps the bound target and sizes the pass by the back buffer.
    void GlowSource(uint32_t width, uint32_t height);
    void GaussBlur(gfx::Surface* surfaceA, const DeviceObjectHandle* textureA, gfx::Surface* surfaceB,
                   const DeviceObjectHandle* textureB, uint32_t passWidth, uint32_t passHeight, float sigma,
                   float stepScale);
    void DownscaleLuminance(uint32_t width, uint32_t height);
    void Tonemap(bool enabled, const DeviceObjectHandle* glow, const DeviceObjectHandle* outline, gfx::Surface* target,
                 uint32_t width, uint32_t height, const Vector& colourFactor, bool fxaaFollows);
    void FXAA(const DeviceObjectHandle* source, gfx::Surface* target, uint32_t width, uint32_t height);
    void RGBShift(const DeviceObjectHandle* source, gfx::Surface* target, uint32_t width, uint32_t height, float amount);
    // The zoom blur applied twice, as one draw.
    void ZoomBlur(const DeviceObjectHandle* source, gfx::Surface* target, uint32_t width, uint32_t height, float scale);
    // The RGB-shift amount now: the parameter set's curve over the renderer clock plus
    // the task-34 offset.
    float CurrentRgbShiftAmount() const;

    // UI blur panels (PostProcessChain_UIBlur.cpp): copies the screen rectangle under the
    // element's corners (transformed by the matrix) into A at half size, blurs it the
    // given number of times (at most 64) and returns A's texture with the
    // texture-coordinate scale and offset (x, y) under which the element reads it.
    // Whether a frame copies again is asked of gPostprocessManager at the frame's first
    // blur (a frame being one PostProcess run). While refreshing is off every copy is also
    // kept in a texture of its own (A is the chain's intermediate), and a frame that does
    // not copy returns that texture with the last copy's scale and offset.
    const DeviceObjectHandle* BlurScreenQuad(Vector* scale, Vector* offset, const Matrix& transform,
                                             const Vector corners[4], float sigma, uint32_t iterations);
    // The kept copy goes with the other device objects (and the holder with the chain).
    void ReleaseUIBlurCopy(bool holderToo);

    // Lookup textures (PostProcessChain_Lookup.cpp).
    const DeviceObjectHandle* ToneCurveTexture() const { return toneCurve; }
    const DeviceObjectHandle* ColorLookupTexture() const { return colorLookup; }
    // The tone curve and the colour lookup folded (the tone curve's size and mapping).
    const DeviceObjectHandle* ToneLookupTexture() const { return toneLookup; }
    bool ToneCurveDirty() const { return toneCurveDirty; }
    bool ColorLookupDirty() const { return colorLookupDirty; }
    // Refills the three textures from the set's curves and clears the dirty flags (a
    // texture that cannot be locked keeps its bytes and is clean all the same).
    void FillLookupTextures(const SceneParameterBlock& p);

    const Matrix& CameraInverse() const { return cameraInverse; }
    const Vector& CameraPosition() const { return cameraPosition; }

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
    // Binds the pass's pair, target and viewport; the size its constants use (the given
    // one with a target, else the back buffer's). False when the pair is not valid.
    bool BeginPass(const ShaderPair& pair, gfx::Surface* target, uint32_t targetFlags, uint32_t width,
                   uint32_t height, float* sizeW, float* sizeH) const;
    // Whether the chain reconstructs and composes the outlines this frame: outlines on
    // and something gathered, or a softness whose blend covers even pixels no outline
    // reaches (the outline image, cleared, then darkens the whole picture).
    bool OutlinesDrawn() const;
    // The UI blur: copies the area of A into the kept copy (made at A's size on first
    // use); the kept copy's holder, or A's when it cannot be made.
    const DeviceObjectHandle* KeepCopy(gfx::Surface* source, const gfx::SurfaceDesc& desc, const gfx::Rect& area);

    OutlineParams primaryOutline;
    OutlineParams secondaryOutline;
    uint32_t postProcessCount = 0;
    OutlineRenderer outlines;
    DeviceObjectHandle* toneCurve = nullptr;
    DeviceObjectHandle* colorLookup = nullptr;
    DeviceObjectHandle* toneLookup = nullptr;
    bool toneCurveDirty = true, colorLookupDirty = true;
    Matrix cameraInverse = Matrix::IDENTITY;
    Vector cameraPosition{0, 0, 0, 1};
    RenderTargetId outputTarget = TARGET_LIGHT_1;
    // The UI blur's frame (the PostProcess count it was decided for), its decision, the
    // kept copy and the last copy's texture-coordinate scale and offset.
    uint32_t blurFrame = 0;
    bool blurDecided = false, blurRedo = true, blurKeptValid = false;
    DeviceObjectHandle* blurKept = nullptr;
    Vector blurScale{1, 1, 0, 0}, blurOffset{0, 0, 0, 0};
};
