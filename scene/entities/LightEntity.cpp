// Light template and light entity: properties, the four set-ups with their local boxes,
// and the editor drawing.
#include "scene/entities/LightEntity.h"

#include <algorithm>
#include <cmath>

#include "core/math/BoundingBox4.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTexture.h"
#include "render/scene/RendererLightWrapper.h"

namespace {

RTTIClass* gLightTemplateClass = nullptr;
RTTIClass* gLightEntityClass = nullptr;

const char kLightTypeNames[] = "Point\0Spot\0Tube\0Directional ambient\0";
const char kLightTwoSidedModeNames[] = "Single sided\0Double sided\0Gooch lighting\0";
constexpr const char* kLightTextureFolder = "Textures";
constexpr uint32_t kLightColorFlags = 8;
constexpr uint32_t kLightMaskVectorFlags = 64;
constexpr uint32_t kLightLoadKeepMask = 4;  // load flag: the mask is not reloaded
constexpr float kLightDegreesToRadians = 0.017453292f;

void LightGroup(RTTIClass* c, const char* name) { c->AddProperty(new RTTIPropertyGroup(name)); }

Vector LightDrawColour(const EntityTemplate* t, uint32_t flags) {
    if (flags & 2) return Vector(1, 1, 1, 1);
    return t ? t->wireframeColor.ToLinearVector() : Vector(1, 1, 1, 1);
}

}  // namespace

// ---------------------------------------------------------------------------------
// LightTemplate

LightTemplate::LightTemplate() {
    typeId = ENTITY_LIGHT;
    wireframeColor = HDRColor(0, 255, 0, 255, 1.0f);
}

const RTTIClass* LightTemplate::RegisterRTTIClass() {
    if (gLightTemplateClass) return gLightTemplateClass;
    EntityTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gLightTemplateClass, "LightTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new LightTemplate(); });
    AddDirect<uint32_t>(c, "Light type", RTTI_OFFSETOF(LightTemplate, lightType), kPropertyFlagEnum, kLightTypeNames);
    return c;
}

const RTTIClass* LightTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }

Entity* LightTemplate::CreateEntity() { return new LightEntity(); }

bool LightTemplate::DrawHelper(const Matrix& m, const Vector&, uint32_t flags, const char*) {
    const Vector colour = LightDrawColour(this, flags);
    switch (lightType) {
    case LIGHT_KIND_POINT: gVornexRenderer.DebugDrawPointLight(m, colour, 0.3f, 1.0f); return true;
    case LIGHT_KIND_SPOT: gVornexRenderer.DebugDrawSpotLight(m, colour, 0.3f, 1.0f, 30.0f); return true;
    case LIGHT_KIND_TUBE: gVornexRenderer.DebugDrawTubeLight(m, colour, 0.3f, 1.0f, 1.0f); return true;
    case LIGHT_KIND_DIRECTIONAL_AMBIENT: gVornexRenderer.DebugDrawAmbientLight(m, colour); return true;
    default: return false;
    }
}

// ---------------------------------------------------------------------------------
// LightEntity

LightEntity::LightEntity() : proxy(new RendererLightWrapper) {
    color.SetFromVector(Vector(1, 1, 1, 1));
    secondaryColor.SetFromVector(Vector(0.25f, 0.25f, 0.25f, 0.25f));
    sideColor.SetFromVector(Vector(0, 0, 0, 0));
    proxy->MarkDirty();
}

LightEntity::~LightEntity() {
    // The proxy dies on the render thread after every command already posted for it.
    proxy->Release(true, false);
    proxy = nullptr;
    ReleaseMask();
}

const RTTIClass* LightEntity::RegisterRTTIClass() {
    if (gLightEntityClass) return gLightEntityClass;
    Entity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gLightEntityClass, "LightEntity", "Entity");
    using L = LightEntity;
    AddDirect<HDRColor>(c, "Color", RTTI_OFFSETOF(L, color), kLightColorFlags);
    AddDirect<float>(c, "Specualar multiplier", RTTI_OFFSETOF(L, specularMultiplier));
    AddDirect<float>(c, "Start falloff", RTTI_OFFSETOF(L, startFalloff));
    AddDirect<float>(c, "End falloff", RTTI_OFFSETOF(L, endFalloff));
    LightGroup(c, "Spotlight specific");
    AddDirect<float>(c, "Spotlight width", RTTI_OFFSETOF(L, spotlightWidth));
    AddDirect<float>(c, "Spotlight softness", RTTI_OFFSETOF(L, spotlightSoftness));
    LightGroup(c, "Tube specific");
    AddDirect<float>(c, "Tube length", RTTI_OFFSETOF(L, tubeLength));
    LightGroup(c, "Directional ambient specific");
    AddDirect<uint32_t>(c, "Two sided mode", RTTI_OFFSETOF(L, twoSidedMode), kPropertyFlagEnum,
                        kLightTwoSidedModeNames);
    AddDirect<float>(c, "Wrap around factor", RTTI_OFFSETOF(L, wrapAroundFactor));
    AddDirect<HDRColor>(c, "Secondary color", RTTI_OFFSETOF(L, secondaryColor), kLightColorFlags);
    AddDirect<HDRColor>(c, "Side color", RTTI_OFFSETOF(L, sideColor));
    LightGroup(c, "Mask");
    AddDirect<NameString>(c, "Mask texture file name", RTTI_OFFSETOF(L, maskFileName), kPropertyFlagFileName,
                          kLightTextureFolder);
    AddDirect<Vector>(c, "Mask texture rotation", RTTI_OFFSETOF(L, maskRotation), kLightMaskVectorFlags);
    AddDirect<Vector>(c, "Mask texture scale", RTTI_OFFSETOF(L, maskScale), kLightMaskVectorFlags);
    return c;
}

const RTTIClass* LightEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

void LightEntity::OnPropertyChanged(const char*) {
    RefreshAfterChange();
    UpdateLight(true);
}

void LightEntity::OnLoaded(uint32_t options) {
    Entity::OnLoaded(options);
    UpdateLight((options & kLightLoadKeepMask) == 0);
}

uint32_t LightEntity::GetLightType() const {
    auto* t = dynamic_cast<const LightTemplate*>(GetTemplate());
    return t ? t->lightType : LIGHT_KIND_POINT;
}

float LightEntity::InnerRange() const { return std::min(startFalloff, endFalloff); }
float LightEntity::OuterRange() const { return std::max(startFalloff, endFalloff); }

void LightEntity::ReleaseMask() {
    if (maskTexture) maskTexture->Release();
    maskTexture = nullptr;
}

void LightEntity::UpdateLight(bool reload) {
    ReleaseMask();
    DeviceObjectHandle* texture = nullptr;
    if (!maskFileName.IsEmpty()) {
        maskTexture = gResourceManager.GetResource(RESOURCE_TEXTURE, maskFileName.CStr(), 0, true, 0);
        if (maskTexture && reload) maskTexture->Load(true);
        if (auto* t = dynamic_cast<ResourceTexture*>(maskTexture)) texture = t->Handle();
    }
    const Vector colour = color.ToLinearVector();
    const float inner = InnerRange(), outer = OuterRange();
    switch (GetLightType()) {
    case LIGHT_KIND_POINT:
        proxy->PostPointLight(colour, specularMultiplier, inner, outer, texture, maskRotation, maskScale);
        SetLocalBoundingBox(BoundingBox4(Vector(-outer, -outer, -outer, 1), Vector(outer, outer, outer, 1)));
        break;
    case LIGHT_KIND_SPOT: {
        proxy->PostSpotLight(colour, specularMultiplier, inner, outer, spotlightWidth, spotlightSoftness, texture,
                             maskRotation, maskScale);
        const float h = std::tan(spotlightWidth * kLightDegreesToRadians) * outer;
        SetLocalBoundingBox(BoundingBox4(Vector(-h, -h, -0.1f, 1), Vector(h, h, outer, 1)));
        break;
    }
    case LIGHT_KIND_TUBE: {
        proxy->PostTubeLight(colour, specularMultiplier, inner, outer, tubeLength, texture, maskRotation, maskScale);
        const float half = tubeLength * 0.5f;
        SetLocalBoundingBox(BoundingBox4(Vector(-outer, -outer, -half, 1), Vector(outer, outer, half, 1)));
        break;
    }
    case LIGHT_KIND_DIRECTIONAL_AMBIENT:
        proxy->PostDirectionalAmbientLight(colour, secondaryColor.ToLinearVector(), sideColor.ToLinearVector(),
                                           specularMultiplier, twoSidedMode, wrapAroundFactor, texture, maskRotation,
                                           maskScale, GetBlockRenderingMask());
        SetLocalBoundingBox(BoundingBox4(Vector(-0.5f, -0.5f, -4.0f, 1), Vector(0.5f, 0.5f, 1.0f, 1)));
        break;
    default: break;
    }
    PropagateGlobalLocation();
}

void LightEntity::DrawHelpers(uint32_t flags) {
    Entity::DrawHelpers(flags);
    const Vector colour = LightDrawColour(GetTemplate(), flags);
    const Matrix& m = GetGlobalLocationMatrix();
    const float inner = InnerRange(), outer = OuterRange();
    switch (GetLightType()) {
    case LIGHT_KIND_POINT: gVornexRenderer.DebugDrawPointLight(m, colour, inner, outer); break;
    case LIGHT_KIND_SPOT: gVornexRenderer.DebugDrawSpotLight(m, colour, inner, outer, spotlightWidth); break;
    case LIGHT_KIND_TUBE: gVornexRenderer.DebugDrawTubeLight(m, colour, inner, outer, tubeLength * 0.5f); break;
    case LIGHT_KIND_DIRECTIONAL_AMBIENT: gVornexRenderer.DebugDrawAmbientLight(m, colour); break;
    default: break;
    }
}

bool LightEntity::RenderWithoutContext(uint32_t) {
    gVornexRenderer.PostRegisterLight(&proxy->Light());
    return true;
}

void LightEntity::UpdateGlobalLocation() {
    Entity::UpdateGlobalLocation();
    proxy->PostTransform(GetGlobalLocationMatrix());
}
