// The render-side scene-parameter set: filled from a template's values, copied by
// section, blended between two sets and read by the passes. See the header for the
// block's layout.
#include "render/scene/SceneParametersWrapper.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "core/math/MathHelpers.h"
#include "render/DeviceObjectHandle.h"
#include "render/RenderJobs.h"
#include "render/resources/ResourceTexture.h"

namespace {

constexpr float kKeyTimeUnit = 1.0f / 1024.0f;  // envelope key times are in 1/1024 s

Vector Splat(float v) { return Vector(v, v, v, v); }
Vector Lerp(const Vector& a, const Vector& b, float t) { return a * (1.0f - t) + b * t; }
float Lerp(float a, float b, float t) { return a * (1.0f - t) + b * t; }

// Channels blended in float, then the integer part of x + 0.5, clamped to 0..255; the
// intensity as a float.
HDRColor Lerp(const HDRColor& a, const HDRColor& b, float t) {
    HDRColor out;
    for (int k = 0; k < 4; ++k) {
        const float x = float(a.c[k]) * (1.0f - t) + float(b.c[k]) * t;
        out.c[k] = uint8_t(std::clamp(int(x + 0.5f), 0, 255));
    }
    out.intensity = Lerp(a.intensity, b.intensity, t);
    return out;
}

// (0, 0, 1, 0) turned about x by the pitch, then about y by the yaw (degrees).
Vector Direction(float yaw, float pitch) {
    Matrix rx, ry, m;
    rx.LoadXRotation(pitch);
    ry.LoadYRotation(yaw);
    m.Mul(ry, rx);  // rx first, then ry
    Vector d;
    d.Transform(m, Vector(0, 0, 1, 0));
    return d;
}

// About x by -pitch, about y by -yaw, about z by the rotation, then a uniform 1 / scale.
Matrix CloudMatrix(float yaw, float pitch, float scale, float rotation) {
    Matrix rx, ry, rz, s, m;
    rx.LoadXRotation(-pitch);
    ry.LoadYRotation(-yaw);
    rz.LoadZRotation(rotation);
    s.LoadUniformScale(1.0f / scale);
    Matrix xy, xyz;
    xy.Mul(ry, rx);    // rx first
    xyz.Mul(rz, xy);   // then rz
    m.Mul(s, xyz);     // then the scale
    return m;
}

// A uniform 1 / scale, then about z by the rotation.
Matrix LayerMatrix(float scale, float rotation) {
    Matrix s, rz, m;
    s.LoadUniformScale(1.0f / scale);
    rz.LoadZRotation(rotation);
    m.Mul(rz, s);
    return m;
}

DeviceObjectHandle* HandleOf(const ResourceTexture* texture) { return texture ? texture->Handle() : nullptr; }

void SwapReference(DeviceObjectHandle*& slot, DeviceObjectHandle* handle) {
    if (handle) handle->AddRef();
    if (slot) slot->Unref();
    slot = handle;
}

// The floats and colours of SceneParameterRest, for the blend (bools are taken whole).
enum class RestKind : uint8_t { Float, Color };
struct RestField {
    uint32_t offset;
    RestKind kind;
};
#define REST_F(name) {uint32_t(offsetof(SceneParameterRest, name)), RestKind::Float}
#define REST_C(name) {uint32_t(offsetof(SceneParameterRest, name)), RestKind::Color}
constexpr RestField kRestFields[] = {
    REST_C(fogColor), REST_F(fogStart), REST_F(fogEnd), REST_F(glowThreshold), REST_F(glowSoftness),
    REST_C(glowColor), REST_F(exposition), REST_C(lowSpecModeColorCorrection), REST_C(excludeColor0),
    REST_C(excludeColor1), REST_F(excludeColor0FalloffStart), REST_F(excludeColor0FalloffEnd),
    REST_F(excludeColor1FalloffStart), REST_F(excludeColor1FalloffEnd), REST_C(topColor), REST_C(bottomColor),
    REST_F(vignetteStart), REST_F(vignetteEnd), REST_F(vignetteAspect), REST_F(imageLocalContrast),
    REST_F(imageLocalContrastVariation), REST_F(imageContrast), REST_F(imageSaturation),
    REST_F(lowSpecContrastMultiplier), REST_F(lowSpecSaturationMultiplier), REST_F(zoomBlurStrength),
    REST_F(zoomBlurSourceRatio), REST_F(zoomBlurBlurredRatio), REST_F(macZoomBlurSourceRatioMultiplier),
    REST_F(macZoomBlurBlurredRatioMultiplier), REST_C(noBlurColorCorrection), REST_F(sharpenStrength),
    REST_F(rgbShiftScaleCurveLength), REST_F(subpixAliasing), REST_F(edgeTreshold), REST_F(edgeTresholdMin),
    REST_F(consoleSubpixAliasing), REST_F(consoleEdgeTreshold), REST_F(consoleEdgeTresholdMin),
    REST_F(ssaoIntensity), REST_F(ssaoRadius), REST_F(ssaoDecreaseWithLighting), REST_C(ssaoColor),
    REST_F(battleModeDesaturation), REST_C(diffuseColorMultiplier), REST_C(sfxColorMultiplier),
    REST_F(iPad2SquareContrastFactor), REST_F(iPad2Brightness), REST_F(fakeDiffuseNormalScale),
};
#undef REST_F
#undef REST_C

void BlendRest(SceneParameterRest& out, const SceneParameterRest& a, const SceneParameterRest& b, float t) {
    // The bools (and padding) come from the nearer set, so both ends reproduce their set.
    SceneParameterRest result;
    std::memcpy(static_cast<void*>(&result), t < 0.5f ? &a : &b, sizeof result);
    auto* o = reinterpret_cast<uint8_t*>(&result);
    const auto* pa = reinterpret_cast<const uint8_t*>(&a);
    const auto* pb = reinterpret_cast<const uint8_t*>(&b);
    for (const RestField& f : kRestFields) {
        if (f.kind == RestKind::Float) {
            float x, y;
            std::memcpy(&x, pa + f.offset, sizeof x);
            std::memcpy(&y, pb + f.offset, sizeof y);
            const float v = Lerp(x, y, t);
            std::memcpy(o + f.offset, &v, sizeof v);
        } else {
            HDRColor x, y;
            std::memcpy(&x, pa + f.offset, sizeof x);
            std::memcpy(&y, pb + f.offset, sizeof y);
            const HDRColor v = Lerp(x, y, t);
            std::memcpy(o + f.offset, &v, sizeof v);
        }
    }
    std::memcpy(static_cast<void*>(&out), &result, sizeof out);
}

#define BLOCK(name) offsetof(SceneParameterBlock, name)
constexpr size_t kBlendedVectors[] = {
    BLOCK(light.lightColor), BLOCK(light.secondaryColor), BLOCK(light.sideColor), BLOCK(light.specularColor),
    BLOCK(light.lightYaw), BLOCK(light.lightPitch), BLOCK(light.specularYaw), BLOCK(light.specularPitch),
    BLOCK(light.wrapAroundFactor), BLOCK(light.shadowStrength), BLOCK(light.fakeShadowStrength), BLOCK(cloudColor),
    BLOCK(cloudYaw), BLOCK(cloudPitch), BLOCK(cloudScale), BLOCK(cloudRotation), BLOCK(cloudDrift),
    BLOCK(layerColor), BLOCK(layerHeight), BLOCK(layerScale), BLOCK(layerRotation), BLOCK(layerDrift),
};
#undef BLOCK

}  // namespace

SceneParameterValues::SceneParameterValues() {
    for (uint32_t j = 0; j < kToneCurveEntries; ++j) toneMappingCurve[j] = Splat(std::min(float(j) / 256.0f, 1.0f));
    const HDRColor first{0, 0, 0, 0, 1.0f}, last{255, 255, 255, 0, 1.0f};
    for (uint32_t j = 0; j < kColorLookupEntries; ++j) colorLookupCurve[j].Lerp(first, last, float(j) / 63.0f);
}

SceneParametersWrapper::SceneParametersWrapper() { std::memset(block, 0, sizeof block); }

SceneParametersWrapper::~SceneParametersWrapper() {
    SetCloudTexture(nullptr);
    SetLayerTexture(nullptr);
}

void SceneParametersWrapper::SetCloudTexture(DeviceObjectHandle* handle) { SwapReference(Values().cloudTexture, handle); }
void SceneParametersWrapper::SetLayerTexture(DeviceObjectHandle* handle) { SwapReference(Values().layerTexture, handle); }

void SceneParametersWrapper::CopyRange(const SceneParametersWrapper& other, uint32_t offset, uint32_t bytes) {
    DeviceObjectHandle* cloud = Values().cloudTexture;
    DeviceObjectHandle* layer = Values().layerTexture;
    std::memcpy(block + offset, other.block + offset, bytes);
    // The bytes brought the other set's handles without references: restore ours, then
    // swap properly.
    SceneParameterBlock& v = Values();
    v.cloudTexture = cloud, v.layerTexture = layer;
    const auto inside = [&](size_t field) { return field >= offset && field < offset + bytes; };
    if (inside(offsetof(SceneParameterBlock, cloudTexture))) SetCloudTexture(other.Values().cloudTexture);
    if (inside(offsetof(SceneParameterBlock, layerTexture))) SetLayerTexture(other.Values().layerTexture);
}

void SceneParametersWrapper::CopyFrom(const SceneParametersWrapper& other) {
    if (&other != this) CopyRange(other, 0, sizeof block);
}

void SceneParametersWrapper::CopySectionsFrom(const SceneParametersWrapper& other) {
    if (&other == this) return;
    for (uint32_t s = 0; s < SCENE_SECTION_COUNT; ++s) {
        if (!other.SectionPresent(s)) continue;
        block[s] = other.block[s];
        CopyRange(other, kSceneParameterSections[s].offset, kSceneParameterSections[s].bytes);
    }
}

void SceneParametersWrapper::LoadDefaults() {
    const auto defaults = std::make_unique<SceneParameterValues>();
    SetCloudTexture(nullptr);
    SetLayerTexture(nullptr);
    CopyFromTemplate(*defaults, false);
}

void SceneParametersWrapper::CopyFromTemplate(const SceneParameterValues& t, bool inStream) {
    SceneParameterBlock& v = Values();
    const uint8_t affects[SCENE_SECTION_COUNT] = {t.affectsSun, t.affectsTextureAndColor, t.affectsProjection,
                                                  t.affectsLayerTexture, t.affectsLayerProjection};
    std::memcpy(v.affects, affects, sizeof affects);

    // The sun.
    SceneLightSection& l = v.light;
    l.lightYaw = Splat(t.lightYaw), l.lightPitch = Splat(t.lightPitch);
    l.lightColor = t.color.ToLinearVector();
    if (t.separateSpecularParams) {
        l.specularColor = t.specularColor.ToLinearVector() * t.specularMultiplier;
        l.specularYaw = Splat(t.specularYaw), l.specularPitch = Splat(t.specularPitch);
    } else {
        Vector c = l.lightColor;
        c.w = t.color.intensity;
        l.specularColor = c * t.specularMultiplier;
        l.specularYaw = l.lightYaw, l.specularPitch = l.lightPitch;
    }
    l.wrapAroundFactor = Splat(t.wrapAroundFactor);
    l.shadowStrength = Splat(t.shadowStrength);
    l.fakeShadowStrength = Splat(t.fakeShadowStrength);
    l.secondaryColor = l.sideColor = Vector(0, 0, 0, 0);
    if (t.twoSidedMode == 1 || t.twoSidedMode == 2) l.secondaryColor = t.secondaryColor.ToLinearVector();
    if (t.twoSidedMode == 2) l.sideColor = (l.lightColor + l.secondaryColor) * 0.5f;
    const Vector side = t.sideColor.ToLinearVector();
    l.sideColor = l.sideColor * (1.0f - side.w) + side * side.w;

    // The clouds and the layer.
    DeviceObjectHandle* cloud = HandleOf(t.cloudTexture);
    DeviceObjectHandle* layer = HandleOf(t.layerTexture);
    v.cloudColor = cloud ? t.cloudColor.ToLinearVector() : Vector(0, 0, 0, 0);
    v.cloudDrift = t.cloudDrift;
    v.cloudYaw = Splat(t.cloudProjectionYaw), v.cloudPitch = Splat(t.cloudProjectionPitch);
    v.cloudScale = Splat(t.cloudProjectionScale), v.cloudRotation = Splat(t.cloudProjectionRotation);
    v.layerColor = layer ? t.layerCloudColor.ToLinearVector() : Vector(0, 0, 0, 0);
    v.layerHeight = Splat(t.layerCloudHeigh);
    v.layerDrift = t.layerCloudDrift;
    v.layerScale = Splat(t.layerProjectionScale), v.layerRotation = Splat(t.layerProjectionRotation);

    v.rest = t.rest;
    std::memcpy(v.toneMappingCurve, t.toneMappingCurve, sizeof v.toneMappingCurve);
    std::memcpy(v.colorLookupCurve, t.colorLookupCurve, sizeof v.colorLookupCurve);
    std::memcpy(v.rgbShiftScaleCurve, t.rgbShiftScaleCurve, sizeof v.rgbShiftScaleCurve);
    RebuildDerived();

    // The slots take their references through resource jobs, so a rebuild on the main
    // or loader thread touches no count the render thread is changing. The slots are
    // empty here: a template fills a new wrapper.
    if (v.cloudTexture) v.cloudTexture->Unref();
    if (v.layerTexture) v.layerTexture->Unref();
    v.cloudTexture = cloud, v.layerTexture = layer;
    SubmitResourceAddRefJob(cloud, inStream);
    SubmitResourceAddRefJob(layer, inStream);
}

void SceneParametersWrapper::RebuildDerived() {
    SceneParameterBlock& v = Values();
    SceneLightSection& l = v.light;
    l.lightDirection = Direction(l.lightYaw.x, l.lightPitch.x);
    l.specularDirection = Direction(l.specularYaw.x, l.specularPitch.x);
    v.cloudProjection = CloudMatrix(v.cloudYaw.x, v.cloudPitch.x, v.cloudScale.x, v.cloudRotation.x);
    v.layerProjection = LayerMatrix(v.layerScale.x, v.layerRotation.x);
}

void SceneParametersWrapper::RebuildCloudProjection(const Vector& cloudOffset) {
    SceneParameterBlock& v = Values();
    v.cloudProjection = CloudMatrix(v.cloudYaw.x, v.cloudPitch.x, v.cloudScale.x, v.cloudRotation.x);
    v.cloudProjection.r[3].x += cloudOffset.x, v.cloudProjection.r[3].y += cloudOffset.y;
}

void SceneParametersWrapper::Blend(const SceneParametersWrapper& a, const SceneParametersWrapper& b, float t) {
    const SceneParameterBlock& x = a.Values();
    const SceneParameterBlock& y = b.Values();
    SceneParameterBlock& v = Values();

    // Every Vector of the light, cloud and layer sections (matrices and directions are
    // rebuilt below).
    for (size_t offset : kBlendedVectors) {
        Vector va, vb;
        std::memcpy(&va, a.block + offset, sizeof va);
        std::memcpy(&vb, b.block + offset, sizeof vb);
        const Vector r = Lerp(va, vb, t);
        std::memcpy(block + offset, &r, sizeof r);
    }
    BlendRest(v.rest, x.rest, y.rest, t);
    for (uint32_t j = 0; j < kToneCurveEntries; ++j)
        v.toneMappingCurve[j] = Lerp(x.toneMappingCurve[j], y.toneMappingCurve[j], t);
    for (uint32_t j = 0; j < kColorLookupEntries; ++j)
        v.colorLookupCurve[j] = Lerp(x.colorLookupCurve[j], y.colorLookupCurve[j], t);
    for (uint32_t j = 0; j < kRgbShiftEntries; ++j)
        v.rgbShiftScaleCurve[j] = Lerp(x.rgbShiftScaleCurve[j], y.rgbShiftScaleCurve[j], t);

    std::memcpy(v.affects, y.affects, sizeof v.affects);
    // A slot b leaves empty keeps a's texture until the blend ends, so clouds fade out.
    DeviceObjectHandle* cloud = y.cloudTexture || t >= 1.0f ? y.cloudTexture : x.cloudTexture;
    DeviceObjectHandle* layer = y.layerTexture || t >= 1.0f ? y.layerTexture : x.layerTexture;
    SetCloudTexture(cloud);
    SetLayerTexture(layer);
    RebuildDerived();
}

void SceneParametersWrapper::SampleEnvelope(const ColorEnvelopeView& e, uint32_t index, float t, HDRColor& out) {
    if (e.count == 0 || !e.keys || !e.times) return;
    const uint32_t last = e.count - 1;
    if (index >= last) {
        if (e.mode <= 2) out = e.keys[last];
        return;
    }
    const auto linear = [&] {
        const float t0 = float(e.times[index]) * kKeyTimeUnit, t1 = float(e.times[index + 1]) * kKeyTimeUnit;
        if (t1 > t0)
            out.Lerp(e.keys[index], e.keys[index + 1], std::clamp((t - t0) / (t1 - t0), 0.0f, 1.0f));
        else
            out = e.keys[index + 1];  // an empty interval
    };
    switch (e.mode) {
        case 0:
            out = e.keys[index];
            return;
        case 1:
            linear();
            return;
        case 2: {
            // A segment without its fourth key, or whose times do not increase, is
            // sampled linearly.
            const uint32_t s = index - index % 3;
            if (s + 3 > last || e.times[s + 3] <= e.times[s]) {
                linear();
                return;
            }
            float x[4];
            for (int k = 0; k < 4; ++k) x[k] = float(e.times[s + k]) * kKeyTimeUnit;
            const float u = BezierSolveT(x[0], x[1], x[2], x[3], std::clamp(t, x[0], x[3]));
            const float w = 1.0f - u;
            HDRColor r;
            r.SetScaled(e.keys[s], w * w * w);
            r.AddScaled(e.keys[s + 1], 3.0f * u * w * w);
            r.AddScaled(e.keys[s + 2], 3.0f * u * u * w);
            r.AddScaled(e.keys[s + 3], u * u * u);
            out = r;
            return;
        }
        default:
            return;
    }
}
