// Scene-parameter templates: the 88 properties, the three curves, the wrapper rebuild and
// the transitions.
#include "scene/entities/SceneParametersTemplate.h"

#include <cstddef>

#include "core/config/ProjectConfig.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/SceneParametersEntity.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTexture.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"

namespace {

RTTIClass* gSceneParametersTemplateClass = nullptr;

constexpr const char* kCloudTextureFolder = "Textures";
constexpr uint32_t kSceneColorFlags = 8;
constexpr uint32_t kSceneLoadNoWait = 4;  // load flag: do not wait for the textures
constexpr const char* kUISceneParamTemplate = "UI scene param template";
const char kSunTwoSidedModeNames[] = "Single sided\0Double sided\0Gooch lighting\0";

using ScnT = SceneParametersTemplate;
using ScnV = SceneParameterValues;
using ScnR = SceneParameterRest;
constexpr size_t kSceneValuesOffset = RTTI_OFFSETOF(ScnT, values);
constexpr size_t kSceneRestOffset = kSceneValuesOffset + offsetof(ScnV, rest);

void SceneGroup(RTTIClass* c, const char* name) { c->AddProperty(new RTTIPropertyGroup(name)); }
void SceneSeparator(RTTIClass* c, const char* name) { c->AddProperty(new RTTIPropertySeparator(name)); }

template <class F>
void SceneValue(RTTIClass* c, const char* name, size_t offset, uint32_t flags = 0, const void* extra = nullptr) {
    AddDirect<F>(c, name, kSceneValuesOffset + offset, flags, extra);
}
template <class F>
void SceneRest(RTTIClass* c, const char* name, size_t offset, uint32_t flags = 0) {
    AddDirect<F>(c, name, kSceneRestOffset + offset, flags);
}

template <class E>
void AddCurveKey(E& envelope, uint32_t keyTime, const auto& value) {
    envelope.keyTimes.Add(keyTime);
    envelope.keyFlags.Add(uint8_t(0));
    envelope.keys.Add(value);
}

// Samples the envelope at count ascending times with one playback state.
template <class E, class Out, class Store>
void SampleCurve(const E& envelope, uint32_t count, float secondsPerEntry, Out value, Store store) {
    EnvelopeState state;
    float previous = 0.0f;
    for (uint32_t j = 0; j < count; ++j) {
        const float t = float(j) * secondsPerEntry;
        envelope.Advance(state, t - previous);
        previous = t;
        envelope.Evaluate(state, value);
        store(j, value);
    }
}

}  // namespace

SceneParametersTemplate::SceneParametersTemplate()
    : toneMappingCurve(ENVELOPE_COMBINE_KEYS_ONLY),
      colorLookupCurve(ENVELOPE_COMBINE_MULTIPLY),
      rgbShiftScaleCurve(ENVELOPE_COMBINE_KEYS_ONLY) {
    typeId = ENTITY_SCENEPARAMBOX;
    wireframeColor.SetFromVector(Vector(1.0f, 0.5f, 0.0f, 1.0f));
    toneMappingCurve.SetConstantValue(Vector(0, 0, 0, 0));
    AddCurveKey(toneMappingCurve, 0, Vector(0, 0, 0, 0));
    AddCurveKey(toneMappingCurve, 1024, Vector(1, 1, 1, 1));
    AddCurveKey(toneMappingCurve, 4096, Vector(1, 1, 1, 1));
    colorLookupCurve.SetConstantValue(scene_colors::kWhite);
    AddCurveKey(colorLookupCurve, 0, HDRColor(0, 0, 0, 0, 1.0f));
    AddCurveKey(colorLookupCurve, 1024, HDRColor(255, 255, 255, 0, 1.0f));
    rgbShiftScaleCurve.SetConstantValue(Vector(0, 0, 0, 0));
    AddCurveKey(rgbShiftScaleCurve, 0, Vector(0, 0, 0, 0));
    AddCurveKey(rgbShiftScaleCurve, 10240, Vector(0, 0, 0, 0));
}

SceneParametersTemplate::~SceneParametersTemplate() {
    if (wrapper) wrapper->Release(!gResourceManager.OnWorkerThread(), false);
    wrapper = nullptr;
    ReleaseTextures();
}

const RTTIClass* SceneParametersTemplate::RegisterRTTIClass() {
    if (gSceneParametersTemplateClass) return gSceneParametersTemplateClass;
    EntityTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gSceneParametersTemplateClass, "SceneParametersTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SceneParametersTemplate(); });
    SceneValue<float>(c, "Attack time", offsetof(ScnV, attackTime));
    SceneGroup(c, "SUN");
    SceneValue<bool>(c, "Affects sun", offsetof(ScnV, affectsSun));
    SceneValue<float>(c, "Light yaw", offsetof(ScnV, lightYaw));
    SceneValue<float>(c, "Light pitch", offsetof(ScnV, lightPitch));
    SceneValue<HDRColor>(c, "Color", offsetof(ScnV, color), kSceneColorFlags);
    SceneValue<uint32_t>(c, "Two sided mode", offsetof(ScnV, twoSidedMode), kPropertyFlagEnum, kSunTwoSidedModeNames);
    SceneValue<float>(c, "Wrap around factor", offsetof(ScnV, wrapAroundFactor));
    SceneValue<HDRColor>(c, "Secondary color", offsetof(ScnV, secondaryColor), kSceneColorFlags);
    SceneValue<HDRColor>(c, "Side color", offsetof(ScnV, sideColor));
    SceneValue<float>(c, "Shadow strength", offsetof(ScnV, shadowStrength));
    SceneValue<float>(c, "Fake shadow strength", offsetof(ScnV, fakeShadowStrength));
    SceneSeparator(c, "Specular");
    SceneValue<bool>(c, "Separate specular params", offsetof(ScnV, separateSpecularParams));
    SceneValue<float>(c, "Specular yaw", offsetof(ScnV, specularYaw));
    SceneValue<float>(c, "Specular pitch", offsetof(ScnV, specularPitch));
    SceneValue<HDRColor>(c, "Specular color", offsetof(ScnV, specularColor), kSceneColorFlags);
    SceneValue<float>(c, "Specular multiplier", offsetof(ScnV, specularMultiplier));
    SceneGroup(c, "Cloud look");
    SceneValue<bool>(c, "Affects texture and color", offsetof(ScnV, affectsTextureAndColor));
    AddDirect<NameString>(c, "Cloud texture file name", RTTI_OFFSETOF(ScnT, cloudTextureFileName),
                          kPropertyFlagFileName, kCloudTextureFolder);
    SceneValue<HDRColor>(c, "Cloud color", offsetof(ScnV, cloudColor));
    SceneGroup(c, "Cloud projection");
    SceneValue<bool>(c, "Affects projection", offsetof(ScnV, affectsProjection));
    SceneValue<float>(c, "Cloud projection yaw", offsetof(ScnV, cloudProjectionYaw));
    SceneValue<float>(c, "Cloud projection pitch", offsetof(ScnV, cloudProjectionPitch));
    SceneValue<float>(c, "Cloud projection scale", offsetof(ScnV, cloudProjectionScale));
    SceneValue<float>(c, "Cloud projection rotation", offsetof(ScnV, cloudProjectionRotation));
    SceneValue<Vector>(c, "Cloud drift", offsetof(ScnV, cloudDrift));
    SceneGroup(c, "Layer clouds");
    SceneValue<bool>(c, "Affects layer texture", offsetof(ScnV, affectsLayerTexture));
    AddDirect<NameString>(c, "Texture file name", RTTI_OFFSETOF(ScnT, layerTextureFileName),
                          kPropertyFlagFileName, kCloudTextureFolder);
    SceneValue<HDRColor>(c, "Layer cloud color", offsetof(ScnV, layerCloudColor));
    SceneValue<bool>(c, "Affects layer projection", offsetof(ScnV, affectsLayerProjection));
    SceneValue<float>(c, "Layer cloud heigh", offsetof(ScnV, layerCloudHeigh));
    SceneValue<float>(c, "Layer projection scale", offsetof(ScnV, layerProjectionScale));
    SceneValue<float>(c, "Layer projection rotation", offsetof(ScnV, layerProjectionRotation));
    SceneValue<Vector>(c, "Layer cloud drift", offsetof(ScnV, layerCloudDrift));
    SceneGroup(c, "Fog");
    SceneRest<HDRColor>(c, "Fog color", offsetof(ScnR, fogColor));
    SceneRest<float>(c, "Fog start", offsetof(ScnR, fogStart));
    SceneRest<float>(c, "Fog end", offsetof(ScnR, fogEnd));
    SceneGroup(c, "Glow");
    SceneRest<float>(c, "Glow threshold", offsetof(ScnR, glowThreshold));
    SceneRest<float>(c, "Glow softness", offsetof(ScnR, glowSoftness));
    SceneRest<HDRColor>(c, "Glow color", offsetof(ScnR, glowColor));
    SceneGroup(c, "Tone mapping");
    c->AddProperty(new RTTIEmbeddedObjectProperty<TEnvelope<Vector>>("Tone mapping curve",
                                                                     RTTI_OFFSETOF(ScnT, toneMappingCurve)));
    SceneRest<float>(c, "Exposition", offsetof(ScnR, exposition));
    SceneRest<bool>(c, "SRGB", offsetof(ScnR, srgb));
    SceneRest<HDRColor>(c, "Low spec mode color correction", offsetof(ScnR, lowSpecModeColorCorrection));
    SceneGroup(c, "Color lookup");
    c->AddProperty(new RTTIEmbeddedObjectProperty<TEnvelope<HDRColor>>("Color lookup curve",
                                                                       RTTI_OFFSETOF(ScnT, colorLookupCurve)));
    SceneRest<HDRColor>(c, "Exclude color 0", offsetof(ScnR, excludeColor0));
    SceneRest<HDRColor>(c, "Exclude color 1", offsetof(ScnR, excludeColor1));
    SceneRest<float>(c, "Exclude color 0 falloff start", offsetof(ScnR, excludeColor0FalloffStart));
    SceneRest<float>(c, "Exclude color 0 falloff end", offsetof(ScnR, excludeColor0FalloffEnd));
    SceneRest<float>(c, "Exclude color 1 falloff start", offsetof(ScnR, excludeColor1FalloffStart));
    SceneRest<float>(c, "Exclude color 1 falloff end", offsetof(ScnR, excludeColor1FalloffEnd));
    SceneGroup(c, "Screen color");
    SceneRest<HDRColor>(c, "Top color", offsetof(ScnR, topColor));
    SceneRest<HDRColor>(c, "Bottom color", offsetof(ScnR, bottomColor));
    SceneGroup(c, "Vignette");
    SceneRest<float>(c, "Vignette start", offsetof(ScnR, vignetteStart));
    SceneRest<float>(c, "Vignette end", offsetof(ScnR, vignetteEnd));
    SceneRest<float>(c, "Vignette aspect", offsetof(ScnR, vignetteAspect));
    SceneGroup(c, "Contrast and saturation");
    SceneRest<float>(c, "Image local contrast", offsetof(ScnR, imageLocalContrast));
    SceneRest<float>(c, "Image local contrast variation", offsetof(ScnR, imageLocalContrastVariation));
    SceneRest<float>(c, "Image contrast", offsetof(ScnR, imageContrast));
    SceneRest<float>(c, "Image saturation", offsetof(ScnR, imageSaturation));
    SceneRest<float>(c, "Low spec contrast multiplier", offsetof(ScnR, lowSpecContrastMultiplier));
    SceneRest<float>(c, "Low spec saturation multiplier", offsetof(ScnR, lowSpecSaturationMultiplier));
    SceneGroup(c, "Zoom blur");
    SceneRest<float>(c, "Zoom blur strength", offsetof(ScnR, zoomBlurStrength));
    SceneRest<float>(c, "Zoom blur source ratio", offsetof(ScnR, zoomBlurSourceRatio));
    SceneRest<float>(c, "Zoom blur blurred ratio", offsetof(ScnR, zoomBlurBlurredRatio));
    SceneRest<float>(c, "Mac zoom blur source ratio multiplier", offsetof(ScnR, macZoomBlurSourceRatioMultiplier));
    SceneRest<float>(c, "Mac zoom blur blurred ratio multiplier", offsetof(ScnR, macZoomBlurBlurredRatioMultiplier));
    SceneRest<HDRColor>(c, "No blur color correction", offsetof(ScnR, noBlurColorCorrection));
    SceneGroup(c, "Sharpen");
    SceneRest<float>(c, "Sharpen strength", offsetof(ScnR, sharpenStrength));
    SceneGroup(c, "RGB shift");
    c->AddProperty(new RTTIEmbeddedObjectProperty<TEnvelope<Vector>>("RGB shift scale curve",
                                                                     RTTI_OFFSETOF(ScnT, rgbShiftScaleCurve)));
    SceneRest<float>(c, "RGB shift scale curve length (max=5)", offsetof(ScnR, rgbShiftScaleCurveLength));
    SceneGroup(c, "FXAA");
    SceneRest<bool>(c, "FXAA enabled", offsetof(ScnR, fxaaEnabled));
    SceneRest<float>(c, "Subpix aliasing (0.5 - sharper, 1.0 - softer)", offsetof(ScnR, subpixAliasing));
    SceneRest<float>(c, "Edge treshold", offsetof(ScnR, edgeTreshold));
    SceneRest<float>(c, "Edge treshold min", offsetof(ScnR, edgeTresholdMin));
    SceneRest<float>(c, "Console subpix aliasing (0.33 - sharper, 0.5 - default)",
                     offsetof(ScnR, consoleSubpixAliasing));
    SceneRest<float>(c, "Console edge treshold", offsetof(ScnR, consoleEdgeTreshold));
    SceneRest<float>(c, "Console edge treshold min", offsetof(ScnR, consoleEdgeTresholdMin));
    SceneGroup(c, "SSAO");
    SceneRest<float>(c, "SSAO intensity", offsetof(ScnR, ssaoIntensity));
    SceneRest<float>(c, "SSAO radius", offsetof(ScnR, ssaoRadius));
    SceneRest<bool>(c, "SSAO use normal maps", offsetof(ScnR, ssaoUseNormalMaps));
    SceneRest<float>(c, "SSAO decrease with lighting", offsetof(ScnR, ssaoDecreaseWithLighting));
    SceneRest<HDRColor>(c, "SSAO color", offsetof(ScnR, ssaoColor), kSceneColorFlags);
    SceneGroup(c, "Shader effect");
    SceneRest<float>(c, "Battle mode desaturation", offsetof(ScnR, battleModeDesaturation));
    SceneRest<HDRColor>(c, "Diffuse color multiplier", offsetof(ScnR, diffuseColorMultiplier));
    SceneRest<HDRColor>(c, "SFX color multiplier", offsetof(ScnR, sfxColorMultiplier));
    SceneGroup(c, "iOS specific");
    SceneRest<float>(c, "iPad2 square contrast factor", offsetof(ScnR, iPad2SquareContrastFactor));
    SceneRest<float>(c, "iPad2 brightness", offsetof(ScnR, iPad2Brightness));
    SceneRest<float>(c, "Fake diffuse normal scale", offsetof(ScnR, fakeDiffuseNormalScale));
    return c;
}

const RTTIClass* SceneParametersTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }

Entity* SceneParametersTemplate::CreateEntity() { return new SceneParametersEntity(); }

void SceneParametersTemplate::OnLoaded(uint32_t options) {
    EntityTemplate::OnLoaded(options);
    RebuildWrapper((options & kSceneLoadNoWait) == 0);
}

bool SceneParametersTemplate::ReadTemplateProperties(BoundedReader& in) {
    if (!EntityTemplate::ReadTemplateProperties(in)) return false;
    RebuildWrapper(true);
    return true;
}

void SceneParametersTemplate::OnPropertyChanged(const char* propertyName) {
    RebuildWrapper(true);
    NotifyEntitiesOfChange();
    if (gProjectConfig && !guid.IsNull() && gProjectConfig->uiSceneParamTemplate == guid) {
        ApplyAsUISceneParameters();
        gProjectConfig->OnPropertyChanged(kUISceneParamTemplate);
    }
}

void SceneParametersTemplate::StartTransition(uint32_t mode, float seconds) {
    if (!wrapper || !gRendererScene) return;
    if (seconds < 0.0f) seconds = values.attackTime;
    gRendererScene->PostSceneParameters(wrapper, mode, seconds);
}

void SceneParametersTemplate::ApplyAsUISceneParameters() {
    if (wrapper && gRendererScene) gRendererScene->PostSceneParametersChanged(wrapper);
}

void SceneParametersTemplate::ReleaseTextures() {
    if (cloudTexture) cloudTexture->Release();
    if (layerTexture) layerTexture->Release();
    cloudTexture = layerTexture = nullptr;
}

void SceneParametersTemplate::RebuildWrapper(bool wait) {
    ReleaseTextures();
    // On the loader thread Load reads the file right here: a queued load would wait
    // behind the very command running this.
    auto take = [wait](const NameString& name) -> ResourceTexture* {
        if (name.IsEmpty()) return nullptr;
        Resource* r = gResourceManager.GetResource(RESOURCE_TEXTURE, name.CStr(), 0, true, 0);
        auto* t = static_cast<ResourceTexture*>(r);
        if (t) t->Load(wait);
        return t;
    };
    cloudTexture = take(cloudTextureFileName);
    layerTexture = take(layerTextureFileName);
    const bool inStream = !gResourceManager.OnWorkerThread();
    if (wrapper) wrapper->Release(inStream, false);
    auto record = std::make_unique<SceneParameterValues>();
    FillValues(*record);
    wrapper = new SceneParametersWrapper;
    wrapper->CopyFromTemplate(*record, inStream);
    wrapper->MarkDirty();
}

void SceneParametersTemplate::FillValues(SceneParameterValues& out) const {
    // Everything but the curves, then the textures and the sampled curves.
    out.attackTime = values.attackTime;
    out.affectsSun = values.affectsSun;
    out.lightYaw = values.lightYaw, out.lightPitch = values.lightPitch;
    out.color = values.color;
    out.twoSidedMode = values.twoSidedMode;
    out.wrapAroundFactor = values.wrapAroundFactor;
    out.secondaryColor = values.secondaryColor, out.sideColor = values.sideColor;
    out.shadowStrength = values.shadowStrength, out.fakeShadowStrength = values.fakeShadowStrength;
    out.separateSpecularParams = values.separateSpecularParams;
    out.specularYaw = values.specularYaw, out.specularPitch = values.specularPitch;
    out.specularColor = values.specularColor, out.specularMultiplier = values.specularMultiplier;
    out.affectsTextureAndColor = values.affectsTextureAndColor;
    out.cloudColor = values.cloudColor;
    out.affectsProjection = values.affectsProjection;
    out.cloudProjectionYaw = values.cloudProjectionYaw, out.cloudProjectionPitch = values.cloudProjectionPitch;
    out.cloudProjectionScale = values.cloudProjectionScale;
    out.cloudProjectionRotation = values.cloudProjectionRotation;
    out.cloudDrift = values.cloudDrift;
    out.affectsLayerTexture = values.affectsLayerTexture;
    out.layerCloudColor = values.layerCloudColor;
    out.affectsLayerProjection = values.affectsLayerProjection;
    out.layerCloudHeigh = values.layerCloudHeigh;
    out.layerProjectionScale = values.layerProjectionScale;
    out.layerProjectionRotation = values.layerProjectionRotation;
    out.layerCloudDrift = values.layerCloudDrift;
    out.rest = values.rest;
    out.cloudTexture = cloudTexture;
    out.layerTexture = layerTexture;
    SampleCurve(toneMappingCurve, kToneCurveEntries, 1.0f / 256.0f, Vector(),
           [&](uint32_t j, const Vector& v) { out.toneMappingCurve[j] = v; });
    SampleCurve(colorLookupCurve, kColorLookupEntries, 1.0f / 63.0f, HDRColor(),
           [&](uint32_t j, const HDRColor& v) { out.colorLookupCurve[j] = v; });
    SampleCurve(rgbShiftScaleCurve, kRgbShiftEntries, 5.0f / 63.0f, Vector(),
           [&](uint32_t j, const Vector& v) { out.rgbShiftScaleCurve[j] = v.x; });
}

void StartSceneParametersTransition(EntityTemplate* t, uint32_t flags, float blendTime) {
    if (auto* s = dynamic_cast<SceneParametersTemplate*>(t)) s->StartTransition(flags, blendTime);
}

void StopSceneParametersTransition(EntityTemplate* t) {
    if (auto* s = dynamic_cast<SceneParametersTemplate*>(t)) s->ApplyAsUISceneParameters();
}
