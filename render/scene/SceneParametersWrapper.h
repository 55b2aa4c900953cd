#pragma once
// SceneParametersWrapper: the render-side copy of one scene-parameter set, an
// 18,400-byte block (SceneParameterBlock) that the scene-parameter manager
// (RendererScene) copies whole or by section, blends between sets, and that the
// lighting and post-processing passes read.
//
// Block layout (offsets fixed by the static_asserts below):
//   0     the five "affects" flags: sun, texture and colour, projection, layer texture,
//         layer projection (one byte each)
//   16    light section: light, secondary, side and specular colours (linear vectors),
//         light yaw/pitch, specular yaw/pitch, wrap-around factor, shadow strength, fake
//         shadow strength (each value in all four components) and the light and
//         specular direction vectors
//   224   cloud look: cloud colour (linear; zero without a texture), cloud texture slot
//   256   cloud projection: yaw, pitch, scale, rotation (splat), drift, the matrix
//   400   layer look: layer colour, layer texture slot
//   432   layer projection: height, scale, rotation (splat), drift, the matrix
//   560   SceneParameterRest (fog to fake diffuse normal scale, template layout)
//   then  the sampled tone mapping, colour lookup and RGB shift curves
// Each flag guards the byte range of its section (kSceneParameterSections), which
// CopySectionsFrom copies when the source's flag is set.
//
// Values other parts take by role: the fog colour of the scene constants is
// rest.fogColor as a linear vector (x, y, z, 1 - w); RangeStart/RangeEnd are "Fog start"
// and "Fog end"; the light desaturation is rest.battleModeDesaturation; the deferred and
// forward draw colours are rest.diffuseColorMultiplier and rest.sfxColorMultiplier as
// linear vectors. No template value is a correction colour: CorrectionColor is white and
// CorrectionAmount 0.
//
// The texture slots each hold one reference to a DeviceObjectHandle; copies between
// wrappers take their own references.
//
// Threads: CopyFromTemplate on the thread that rebuilds the template's wrapper (main or
// loader) before the wrapper is handed to the renderer; everything else on the render
// thread, except construction and Release (main thread).
#include <cstddef>
#include <cstdint>

#include "core/math/HDRColor.h"
#include "core/math/Matrix.h"
#include "render/VornexRendererObject.h"
#include "render/scene/SceneParameterValues.h"

class DeviceObjectHandle;

constexpr uint32_t kSceneParameterBlockBytes = 18400;

enum SceneParameterSection : uint32_t {
    SCENE_SECTION_SUN,
    SCENE_SECTION_CLOUD_LOOK,
    SCENE_SECTION_CLOUD_PROJECTION,
    SCENE_SECTION_LAYER_LOOK,
    SCENE_SECTION_LAYER_PROJECTION,
    SCENE_SECTION_COUNT
};

struct SceneLightSection {
    Vector lightColor, secondaryColor, sideColor, specularColor;
    Vector lightYaw, lightPitch, specularYaw, specularPitch;
    Vector wrapAroundFactor, shadowStrength, fakeShadowStrength;
    Vector lightDirection, specularDirection;
};

struct SceneParameterBlock {
    uint8_t affects[SCENE_SECTION_COUNT];
    uint8_t pad0[11];
    SceneLightSection light;
    // Cloud look.
    Vector cloudColor;
    DeviceObjectHandle* cloudTexture;
    uint8_t pad1[16 - sizeof(void*)];
    // Cloud projection.
    Vector cloudYaw, cloudPitch, cloudScale, cloudRotation, cloudDrift;
    Matrix cloudProjection;
    // Layer look.
    Vector layerColor;
    DeviceObjectHandle* layerTexture;
    uint8_t pad2[16 - sizeof(void*)];
    // Layer projection.
    Vector layerHeight, layerScale, layerRotation, layerDrift;
    Matrix layerProjection;
    SceneParameterRest rest;
    Vector toneMappingCurve[kToneCurveEntries];
    HDRColor colorLookupCurve[kColorLookupEntries];
    float rgbShiftScaleCurve[kRgbShiftEntries];
};

struct SceneParameterSectionBytes {
    uint32_t offset, bytes;
};
inline constexpr SceneParameterSectionBytes kSceneParameterSections[SCENE_SECTION_COUNT] = {
    {16, 208}, {224, 32}, {256, 144}, {400, 32}, {432, 128}};

static_assert(offsetof(SceneParameterBlock, light) == kSceneParameterSections[SCENE_SECTION_SUN].offset);
static_assert(sizeof(SceneLightSection) == kSceneParameterSections[SCENE_SECTION_SUN].bytes);
static_assert(offsetof(SceneParameterBlock, cloudColor) == kSceneParameterSections[SCENE_SECTION_CLOUD_LOOK].offset);
static_assert(offsetof(SceneParameterBlock, cloudYaw) == kSceneParameterSections[SCENE_SECTION_CLOUD_PROJECTION].offset);
static_assert(offsetof(SceneParameterBlock, layerColor) ==
              kSceneParameterSections[SCENE_SECTION_CLOUD_PROJECTION].offset +
                  kSceneParameterSections[SCENE_SECTION_CLOUD_PROJECTION].bytes);
static_assert(offsetof(SceneParameterBlock, layerColor) == kSceneParameterSections[SCENE_SECTION_LAYER_LOOK].offset);
static_assert(offsetof(SceneParameterBlock, layerHeight) == kSceneParameterSections[SCENE_SECTION_LAYER_PROJECTION].offset);
static_assert(offsetof(SceneParameterBlock, rest) == 560);
static_assert(sizeof(SceneParameterBlock) <= kSceneParameterBlockBytes);

// A colour envelope as the sampler reads it: mode (0 step, 1 linear, 2 cubic Bezier),
// key times in 1/1024 s and the keys.
struct ColorEnvelopeView {
    uint32_t mode = 0;
    const uint32_t* times = nullptr;
    const HDRColor* keys = nullptr;
    uint32_t count = 0;
};

class SceneParametersWrapper : public VornexRendererObject {
public:
    SceneParametersWrapper();
    ~SceneParametersWrapper() override;  // drops both texture references

    uint8_t* Block() { return block; }
    const uint8_t* Block() const { return block; }
    SceneParameterBlock& Values() { return *reinterpret_cast<SceneParameterBlock*>(block); }
    const SceneParameterBlock& Values() const { return *reinterpret_cast<const SceneParameterBlock*>(block); }
    bool SectionPresent(uint32_t section) const { return section < SCENE_SECTION_COUNT && block[section] != 0; }

    void CopyFrom(const SceneParametersWrapper& other);
    // Copies each section that other marks as present (with its flag).
    void CopySectionsFrom(const SceneParametersWrapper& other);

    // The values of a default-constructed SceneParameterValues, without textures.
    void LoadDefaults();
    // Fills the block from a template's values; each texture's device handle gains one
    // reference through a resource job (in the command stream when inStream).
    void CopyFromTemplate(const SceneParameterValues& values, bool inStream);
    // This = a x (1 - t) + b x t for every float and colour; directions and projections
    // rebuilt; flags from b, the other bools from the nearer set; a texture slot b leaves empty keeps a's while t < 1.
    // Virtual so that tests can record the blends the manager runs.
    virtual void Blend(const SceneParametersWrapper& a, const SceneParametersWrapper& b, float t);
    // Render thread: drop the old reference, store the handle and add one.
    void SetCloudTexture(DeviceObjectHandle* handle);
    void SetLayerTexture(DeviceObjectHandle* handle);

    // The envelope at time t (seconds) from key index i; out is unchanged for an empty
    // envelope or an unknown mode.
    static void SampleEnvelope(const ColorEnvelopeView& envelope, uint32_t index, float t, HDRColor& out);

    Vector CloudDrift() const { return Values().cloudDrift; }
    Vector LayerDrift() const { return Values().layerDrift; }
    float RangeStart() const { return Values().rest.fogStart; }
    float RangeEnd() const { return Values().rest.fogEnd; }
    Vector CorrectionColor() const { return Vector(1, 1, 1, 1); }
    float CorrectionAmount() const { return 0.0f; }
    // Rebuilds the cloud projection from its angles and scale, then shifts it by the cloud
    // scroll offset (in [0, 1)) in texture space: x and y of the translation row. The
    // layer projection keeps no scroll: the composite adds the manager's layer offset
    // itself (RendererScene::LayerOffset), so a scrolled matrix would move it twice.
    void RebuildCloudProjection(const Vector& cloudOffset);

private:
    void RebuildDerived();
    // Copies bytes [offset, offset + bytes) from other, keeping this wrapper's texture
    // references right for slots inside the range.
    void CopyRange(const SceneParametersWrapper& other, uint32_t offset, uint32_t bytes);

    alignas(16) uint8_t block[kSceneParameterBlockBytes];
};
