#pragma once
// SceneParameterValues: the values of one scene-parameter template, in the template's
// property order, with the template's defaults. The template fills a record and hands it
// to SceneParametersWrapper::CopyFromTemplate; its registered defaults are those of a
// default-constructed record, so every default lives here.
//
// Colours keep the template's HDRColor form (SceneParameterRest is copied into the
// wrapper's block as it is). The three envelopes arrive already sampled:
//   "Tone mapping curve"   kToneCurveEntries vectors, entry j sampled at j / 256 s
//   "Color lookup curve"   kColorLookupEntries colours, entry j sampled at j / 63 s
//   "RGB shift scale curve" kRgbShiftEntries floats, the x of the vector envelope at 5j / 63 s
//
// Threads: filled by whichever thread rebuilds the template's wrapper (main or loader).
#include <cstdint>

#include "core/math/HDRColor.h"
#include "core/math/Vector.h"

class ResourceTexture;

constexpr uint32_t kToneCurveEntries = 1024;
constexpr uint32_t kColorLookupEntries = 64;
constexpr uint32_t kRgbShiftEntries = 64;

namespace scene_colors {
constexpr HDRColor kWhite{255, 255, 255, 255, 1.0f};
constexpr HDRColor kClear{0, 0, 0, 0, 1.0f};
}  // namespace scene_colors

// The template's values from "Fog color" to "Fake diffuse normal scale" without the
// curves, in property order. The wrapper's block holds this record unchanged; blends
// mix every float and HDRColor and take the bools from the nearer set.
struct SceneParameterRest {
    HDRColor fogColor = scene_colors::kWhite;
    float fogStart = 700.0f;
    float fogEnd = 1500.0f;
    float glowThreshold = 0.8f;
    float glowSoftness = 2.0f;
    HDRColor glowColor = scene_colors::kWhite;
    float exposition = 1.0f;
    bool srgb = true;
    HDRColor lowSpecModeColorCorrection = scene_colors::kWhite;
    HDRColor excludeColor0 = scene_colors::kClear;
    HDRColor excludeColor1 = scene_colors::kClear;
    float excludeColor0FalloffStart = 0.0f;
    float excludeColor0FalloffEnd = 0.0f;
    float excludeColor1FalloffStart = 0.0f;
    float excludeColor1FalloffEnd = 0.0f;
    HDRColor topColor = scene_colors::kClear;
    HDRColor bottomColor = scene_colors::kClear;
    float vignetteStart = 0.0f;
    float vignetteEnd = 0.1f;
    float vignetteAspect = 0.8f;
    float imageLocalContrast = 1.0f;
    float imageLocalContrastVariation = 0.9f;
    float imageContrast = 1.0f;
    float imageSaturation = 1.0f;
    float lowSpecContrastMultiplier = 1.0f;
    float lowSpecSaturationMultiplier = 1.0f;
    float zoomBlurStrength = 0.0f;
    float zoomBlurSourceRatio = 0.0f;
    float zoomBlurBlurredRatio = 1.0f;
    float macZoomBlurSourceRatioMultiplier = 1.5f;
    float macZoomBlurBlurredRatioMultiplier = 0.8f;
    HDRColor noBlurColorCorrection = scene_colors::kWhite;
    float sharpenStrength = 0.0f;
    float rgbShiftScaleCurveLength = 1.0f;  // "RGB shift scale curve length (max=5)"
    bool fxaaEnabled = false;
    float subpixAliasing = 0.75f;
    float edgeTreshold = 0.125f;
    float edgeTresholdMin = 0.0625f;
    float consoleSubpixAliasing = 0.5f;
    float consoleEdgeTreshold = 0.125f;
    float consoleEdgeTresholdMin = 0.05f;
    float ssaoIntensity = 0.0f;
    float ssaoRadius = 15.0f;
    bool ssaoUseNormalMaps = true;
    float ssaoDecreaseWithLighting = 0.0f;
    HDRColor ssaoColor{0, 0, 0, 255, 1.0f};
    float battleModeDesaturation = 0.0f;
    HDRColor diffuseColorMultiplier = scene_colors::kWhite;
    HDRColor sfxColorMultiplier = scene_colors::kWhite;
    float iPad2SquareContrastFactor = 0.0f;
    float iPad2Brightness = 1.0f;
    float fakeDiffuseNormalScale = 0.5f;
};

struct SceneParameterValues {
    float attackTime = 1.0f;  // seconds
    // "SUN"
    bool affectsSun = false;
    float lightYaw = 0.0f;     // degrees
    float lightPitch = 45.0f;  // degrees
    HDRColor color = scene_colors::kWhite;
    uint32_t twoSidedMode = 0;  // 0 single sided, 1 double sided, 2 Gooch lighting
    float wrapAroundFactor = 0.0f;
    HDRColor secondaryColor{63, 63, 63, 0, 1.0f};  // set from (0.25, 0.25, 0.25, 0)
    HDRColor sideColor = scene_colors::kClear;
    float shadowStrength = 0.5f;
    float fakeShadowStrength = 0.8f;
    bool separateSpecularParams = false;
    float specularYaw = 0.0f;
    float specularPitch = 45.0f;
    HDRColor specularColor = scene_colors::kWhite;
    float specularMultiplier = 1.0f;
    // "Cloud look" and "Cloud projection"
    bool affectsTextureAndColor = false;
    ResourceTexture* cloudTexture = nullptr;  // "Cloud texture file name", loaded; none: no clouds
    HDRColor cloudColor = scene_colors::kWhite;
    bool affectsProjection = false;
    float cloudProjectionYaw = 0.0f;
    float cloudProjectionPitch = 60.0f;
    float cloudProjectionScale = 10.0f;
    float cloudProjectionRotation = 0.0f;
    Vector cloudDrift{0, 0, 0, 0};
    // "Layer clouds"
    bool affectsLayerTexture = false;
    ResourceTexture* layerTexture = nullptr;  // "Texture file name", loaded
    HDRColor layerCloudColor = scene_colors::kWhite;
    bool affectsLayerProjection = false;
    float layerCloudHeigh = 50.0f;
    float layerProjectionScale = 10.0f;
    float layerProjectionRotation = 0.0f;
    Vector layerCloudDrift{0, 0, 0, 0};

    SceneParameterRest rest;

    // The default curves: tone mapping keys 0 at 0 s and 1 at 1 s and 4 s (linear),
    // colour lookup keys (0, 0, 0, 0) at 0 s and (255, 255, 255, 0) at 1 s, no RGB shift.
    Vector toneMappingCurve[kToneCurveEntries];
    HDRColor colorLookupCurve[kColorLookupEntries];
    float rgbShiftScaleCurve[kRgbShiftEntries] = {};

    SceneParameterValues();
};
