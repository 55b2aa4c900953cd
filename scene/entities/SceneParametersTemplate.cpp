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
#include "engine/services/EngineServices.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTexture.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"

namespace {

RTTIClass* gSceneParametersTemplateClass = nullptr;

constexpr const char* kTextureFolder = "Textures";
constexpr uint32_t kColorFlags = 8;
constexpr uint32_t kLoadKeepResources = 4;  // load flag: do not wait for the textures
constexpr const char* kUISceneParamTemplate = "UI scene param template";
const char kTwoSidedModeNames[] = "Single sided\0Double sided\0Gooch lighting\0";

using T = SceneParametersTemplate;
using V = SceneParameterValues;
using R = SceneParameterRest;
constexpr size_t kValues = RTTI_OFFSETOF(T, values);
constexpr size_t kRest = kValues + offsetof(V, rest);

void Group(RTTIClass* c, const char* name) { c->AddProperty(new RTTIPropertyGroup(name)); }
void Separator(RTTIClass* c, const char* name) { c->AddProperty(new RTTIPropertySeparator(name)); }

template <class F>
void Value(RTTIClass* c, const char* name, size_t offset, uint32_t flags = 0, const void* extra = nullptr) {
    AddDirect<F>(c, name, kValues + offset, flags, extra);
}
template <class F>
void Rest(RTTIClass* c, const char* name, size_t offset, uint32_t flags = 0) {
    AddDirect<F>(c, name, kRest + offset, flags);
}

template <class E>
void AddKey(E& envelope, uint32_t keyTime, const auto& value) {
    envelope.keyTimes.Add(keyTime);
    envelope.keyFlags.Add(uint8_t(0));
    envelope.keys.Add(value);
}

// Samples the envelope at count ascending times with one playback state.
template <class E, class Out, class Store>
void Sample(const E& envelope, uint32_t count, float secondsPerEntry, Out value, Store store) {
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
    AddKey(toneMappingCurve, 0, Vector(0, 0, 0, 0));
    AddKey(toneMappingCurve, 1024, Vector(1, 1, 1, 1));
    AddKey(toneMappingCurve, 4096, Vector(1, 1, 1, 1));
    colorLookupCurve.SetConstantValue(scene_colors::kWhite);
    AddKey(colorLookupCurve, 0, HDRColor(0, 0, 0, 0, 1.0f));
    AddKey(colorLookupCurve, 1024, HDRColor(255, 255, 255, 0, 1.0f));
    rgbShiftScaleCurve.SetConstantValue(Vector(0, 0, 0, 0));
    AddKey(rgbShiftScaleCurve, 0, Vector(0, 0, 0, 0));
    AddKey(rgbShiftScaleCurve, 10240, Vector(0, 0, 0, 0));
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
    Value<float>(c, "Attack time", offsetof(V, attackTime));
    Group(c, "SUN");
    Value<bool>(c, "Affects sun", offsetof(V, affectsSun));
    Value<float>(c, "Light yaw", offsetof(V, lightYaw));
    Value<float>(c, "Light pitch", offsetof(V, lightPitch));
    Value<HDRColor>(c, "Color", offsetof(V, color), kColorFlags);
    Value<uint32_t>(c, "Two sided mode", offsetof(V, twoSidedMode), kPropertyFlagEnum, kTwoSidedModeNames);
    Value<float>(c, "Wrap around factor", offsetof(V, wrapAroundFactor));
    Value<HDRColor>(c, "Secondary color", offsetof(V, secondaryColor), kColorFlags);
    Value<HDRColor>(c, "Side color", offsetof(V, sideColor));
    Value<float>(c, "Shadow strength", offsetof(V, shadowStrength));
    Value<float>(c, "Fake shadow strength", offsetof(V, fakeShadowStrength));
    Separator(c, "Specular");
    Value<bool>(c, "Separate specular params", offsetof(V, separateSpecularParams));
    Value<float>(c, "Specular yaw", offsetof(V, specularYaw));
    Value<float>(c, "Specular pitch", offsetof(V, specularPitch));
    Value<HDRColor>(c, "Specular color", offsetof(V, specularColor), kColorFlags);
    Value<float>(c, "Specular multiplier", offsetof(V, specularMultiplier));
    Group(c, "Cloud look");
    Value<bool>(c, "Affects texture and color", offsetof(V, affectsTextureAndColor));
    AddDirect<NameString>(c, "Cloud texture file name", RTTI_OFFSETOF(T, cloudTextureFileName), kPropertyFlagFileName,
                          kTextureFolder);
    Value<HDRColor>(c, "Cloud color", offsetof(V, cloudColor));
    Group(c, "Cloud projection");
    Value<bool>(c, "Affects projection", offsetof(V, affectsProjection));
    Value<float>(c, "Cloud projection yaw", offsetof(V, cloudProjectionYaw));
    Value<float>(c, "Cloud projection pitch", offsetof(V, cloudProjectionPitch));
    Value<float>(c, "Cloud projection scale", offsetof(V, cloudProjectionScale));
    Value<float>(c, "Cloud projection rotation", offsetof(V, cloudProjectionRotation));
    Value<Vector>(c, "Cloud drift", offsetof(V, cloudDrift));
    Group(c, "Layer clouds");
    Value<bool>(c, "Affects layer texture", offsetof(V, affectsLayerTexture));
    AddDirect<NameString>(c, "Texture file name", RTTI_OFFSETOF(T, layerTextureFileName), kPropertyFlagFileName,
                          kTextureFolder);
    Value<HDRColor>(c, "Layer cloud color", offsetof(V, layerCloudColor));
    Value<bool>(c, "Affects layer projection", offsetof(V, affectsLayerProjection));
    Value<float>(c, "Layer cloud heigh", offsetof(V, layerCloudHeigh));
    Value<float>(c, "Layer projection scale", offsetof(V, layerProjectionScale));
    Value<float>(c, "Layer projection rotation", offsetof(V, layerProjectionRotation));
    Value<Vector>(c, "Layer cloud drift", offsetof(V, layerCloudDrift));
    Group(c, "Fog");
    Rest<HDRColor>(c, "Fog color", offsetof(R, fogColor));
    Rest<float>(c, "Fog start", offsetof(R, fogStart));
    Rest<float>(c, "Fog end", offsetof(R, fogEnd));
    Group(c, "Glow");
    Rest<float>(c, "Glow threshold", offsetof(R, glowThreshold));
    Rest<float>(c, "Glow softness", offsetof(R, glowSoftness));
    Rest<HDRColor>(c, "Glow color", offsetof(R, glowColor));
    Group(c, "Tone mapping");
    c->AddProperty(new RTTIEmbeddedObjectProperty<TEnvelope<Vector>>("Tone mapping curve",
                                                                     RTTI_OFFSETOF(T, toneMappingCurve)));
    Rest<float>(c, "Exposition", offsetof(R, exposition));
    Rest<bool>(c, "SRGB", offsetof(R, srgb));
    Rest<HDRColor>(c, "Low spec mode color correction", offsetof(R, lowSpecModeColorCorrection));
    Group(c, "Color lookup");
    c->AddProperty(new RTTIEmbeddedObjectProperty<TEnvelope<HDRColor>>("Color lookup curve",
                                                                       RTTI_OFFSETOF(T, colorLookupCurve)));
    Rest<HDRColor>(c, "Exclude color 0", offsetof(R, excludeColor0));
    Rest<HDRColor>(c, "Exclude color 1", offsetof(R, excludeColor1));
    Rest<float>(c, "Exclude color 0 falloff start", offsetof(R, excludeColor0FalloffStart));
    Rest<float>(c, "Exclude color 0 falloff end", offsetof(R, excludeColor0FalloffEnd));
    Rest<float>(c, "Exclude color 1 falloff start", offsetof(R, excludeColor1FalloffStart));
    Rest<float>(c, "Exclude color 1 falloff end", offsetof(R, excludeColor1FalloffEnd));
    Group(c, "Screen color");
    Rest<HDRColor>(c, "Top color", offsetof(R, topColor));
    Rest<HDRColor>(c, "Bottom color", offsetof(R, bottomColor));
    Group(c, "Vignette");
    Rest<float>(c, "Vignette start", offsetof(R, vignetteStart));
    Rest<float>(c, "Vignette end", offsetof(R, vignetteEnd));
    Rest<float>(c, "Vignette aspect", offsetof(R, vignetteAspect));
    Group(c, "Contrast and saturation");
    Rest<float>(c, "Image local contrast", offsetof(R, imageLocalContrast));
    Rest<float>(c, "Image local contrast variation", offsetof(R, imageLocalContrastVariation));
    Rest<float>(c, "Image contrast", offsetof(R, imageContrast));
    Rest<float>(c, "Image saturation", offsetof(R, imageSaturation));
    Rest<float>(c, "Low spec contrast multiplier", offsetof(R, lowSpecContrastMultiplier));
    Rest<float>(c, "Low spec saturation multiplier", offsetof(R, lowSpecSaturationMultiplier));
    Group(c, "Zoom blur");
    Rest<float>(c, "Zoom blur strength", offsetof(R, zoomBlurStrength));
    Rest<float>(c, "Zoom blur source ratio", offsetof(R, zoomBlurSourceRatio));
    Rest<float>(c, "Zoom blur blurred ratio", offsetof(R, zoomBlurBlurredRatio));
    Rest<float>(c, "Mac zoom blur source ratio multiplier", offsetof(R, macZoomBlurSourceRatioMultiplier));
    Rest<float>(c, "Mac zoom blur blurred ratio multiplier", offsetof(R, macZoomBlurBlurredRatioMultiplier));
    Rest<HDRColor>(c, "No blur color correction", offsetof(R, noBlurColorCorrection));
    Group(c, "Sharpen");
    Rest<float>(c, "Sharpen strength", offsetof(R, sharpenStrength));
    Group(c, "RGB shift");
    c->AddProperty(new RTTIEmbeddedObjectProperty<TEnvelope<Vector>>("RGB shift scale curve",
                                                                     RTTI_OFFSETOF(T, rgbShiftScaleCurve)));
    Rest<float>(c, "RGB shift scale curve length (max=5)", offsetof(R, rgbShiftScaleCurveLength));
    Group(c, "FXAA");
    Rest<bool>(c, "FXAA enabled", offsetof(R, fxaaEnabled));
    Rest<float>(c, "Subpix aliasing (0.5 - sharper, 1.0 - softer)", offsetof(R, subpixAliasing));
    Rest<float>(c, "Edge treshold", offsetof(R, edgeTreshold));
    Rest<float>(c, "Edge treshold min", offsetof(R, edgeTresholdMin));
    Rest<float>(c, "Console subpix aliasing (0.33 - sharper, 0.5 - default)", offsetof(R, consoleSubpixAliasing));
    Rest<float>(c, "Console edge treshold", offsetof(R, consoleEdgeTreshold));
    Rest<float>(c, "Console edge treshold min", offsetof(R, consoleEdgeTresholdMin));
    Group(c, "SSAO");
    Rest<float>(c, "SSAO intensity", offsetof(R, ssaoIntensity));
    Rest<float>(c, "SSAO radius", offsetof(R, ssaoRadius));
    Rest<bool>(c, "SSAO use normal maps", offsetof(R, ssaoUseNormalMaps));
    Rest<float>(c, "SSAO decrease with lighting", offsetof(R, ssaoDecreaseWithLighting));
    Rest<HDRColor>(c, "SSAO color", offsetof(R, ssaoColor), kColorFlags);
    Group(c, "Shader effect");
    Rest<float>(c, "Battle mode desaturation", offsetof(R, battleModeDesaturation));
    Rest<HDRColor>(c, "Diffuse color multiplier", offsetof(R, diffuseColorMultiplier));
    Rest<HDRColor>(c, "SFX color multiplier", offsetof(R, sfxColorMultiplier));
    Group(c, "iOS specific");
    Rest<float>(c, "iPad2 square contrast factor", offsetof(R, iPad2SquareContrastFactor));
    Rest<float>(c, "iPad2 brightness", offsetof(R, iPad2Brightness));
    Rest<float>(c, "Fake diffuse normal scale", offsetof(R, fakeDiffuseNormalScale));
    return c;
}

const RTTIClass* SceneParametersTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }

Entity* SceneParametersTemplate::CreateEntity() { return new SceneParametersEntity(); }

void SceneParametersTemplate::OnLoaded(uint32_t options) {
    EntityTemplate::OnLoaded(options);
    RebuildWrapper((options & kLoadKeepResources) == 0);
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
        auto* t = static_cast<ResourceTexture*>(gResourceManager.GetResource(RESOURCE_TEXTURE, name.CStr(), 0, true, 0));
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
    Sample(toneMappingCurve, kToneCurveEntries, 1.0f / 256.0f, Vector(),
           [&](uint32_t j, const Vector& v) { out.toneMappingCurve[j] = v; });
    Sample(colorLookupCurve, kColorLookupEntries, 1.0f / 63.0f, HDRColor(),
           [&](uint32_t j, const HDRColor& v) { out.colorLookupCurve[j] = v; });
    Sample(rgbShiftScaleCurve, kRgbShiftEntries, 5.0f / 63.0f, Vector(),
           [&](uint32_t j, const Vector& v) { out.rgbShiftScaleCurve[j] = v.x; });
}

void InstallSceneParametersHooks() {
    gEngineServices.sceneParametersStartTransition = [](EntityTemplate* t, uint32_t flags, float blendTime) {
        if (auto* s = dynamic_cast<SceneParametersTemplate*>(t)) s->StartTransition(flags, blendTime);
    };
    gEngineServices.sceneParametersStopTransition = [](EntityTemplate* t) {
        if (auto* s = dynamic_cast<SceneParametersTemplate*>(t)) s->ApplyAsUISceneParameters();
    };
}

void ClearSceneParametersHooks() {
    gEngineServices.sceneParametersStartTransition = nullptr;
    gEngineServices.sceneParametersStopTransition = nullptr;
}
