#pragma once
// SceneParametersWrapper: the render-side copy of one scene-parameter set, an
// 18,400-byte block of values kept as bytes. The scene-parameter manager (RendererScene)
// copies sets whole or by section and blends between them; the values it reads and the
// blend are virtual, with the least behaviour here (no drift, range 0 to 1, no colour
// correction, a blend that switches to its target at t = 1), so that the full
// scene-parameter wrapper replaces them.
//
// Block layout known here: bytes 0 to 2 say whether the light, cloud and layer sections
// are present; the sections follow at the offsets of kSceneParameterSections.
//
// Threads: render thread, except construction and Release (main thread).
#include <cstdint>

#include "core/math/Matrix.h"
#include "render/VornexRendererObject.h"

constexpr uint32_t kSceneParameterBlockBytes = 18400;

enum SceneParameterSection : uint32_t {
    SCENE_SECTION_LIGHT,
    SCENE_SECTION_CLOUD,
    SCENE_SECTION_LAYER,
    SCENE_SECTION_COUNT
};

struct SceneParameterSectionBytes {
    uint32_t offset, bytes;
};
// Light: eleven vectors and two directions; cloud: colour, drift, four values and the
// projection matrix; layer: colour, height, drift, two values and the projection matrix.
inline constexpr SceneParameterSectionBytes kSceneParameterSections[SCENE_SECTION_COUNT] = {
    {16, 13 * 16}, {224, 7 * 16 + 64}, {400, 5 * 16 + 64}};
static_assert(kSceneParameterSections[SCENE_SECTION_LAYER].offset +
                  kSceneParameterSections[SCENE_SECTION_LAYER].bytes <=
              kSceneParameterBlockBytes);

class SceneParametersWrapper : public VornexRendererObject {
public:
    SceneParametersWrapper();

    uint8_t* Block() { return block; }
    const uint8_t* Block() const { return block; }
    bool SectionPresent(uint32_t section) const { return block[section] != 0; }

    void CopyFrom(const SceneParametersWrapper& other);
    // Copies each section that other marks as present (with its present byte).
    void CopySectionsFrom(const SceneParametersWrapper& other);

    // The values a set starts with, and a blend towards the defaults ends with.
    virtual void LoadDefaults();
    // This = a x (1 - t) + b x t; here: unchanged until t reaches 1, then b.
    virtual void Blend(const SceneParametersWrapper& a, const SceneParametersWrapper& b, float t);
    virtual Vector CloudDrift() const { return Vector(0, 0, 0, 0); }
    virtual Vector LayerDrift() const { return Vector(0, 0, 0, 0); }
    virtual float RangeStart() const { return 0.0f; }
    virtual float RangeEnd() const { return 1.0f; }
    virtual Vector CorrectionColor() const { return Vector(1, 1, 1, 1); }
    virtual float CorrectionAmount() const { return 0.0f; }
    // Rebuilds the cloud projection from the scroll offsets (each in [0, 1)).
    virtual void RebuildCloudProjection(const Vector& cloudOffset, const Vector& layerOffset) {}

private:
    alignas(16) uint8_t block[kSceneParameterBlockBytes];
};
