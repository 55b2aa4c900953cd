// Effect definitions: properties, the global list and resolving (see
// scene/sfx/SFXDefinition.h).
#include "scene/sfx/SFXDefinition.h"

#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/Sync.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "render/RenderJobs.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTexture.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"
#include "scene/SceneSoundServices.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/sfx/SFXContext.h"

CriticalSection* gSFXDefinitionListLock = nullptr;
SFXDefinition* SFXDefinition::listHead = nullptr;
SFXDefinition* SFXDefinition::listTail = nullptr;

namespace {

RTTIClass* gDefinitionClass = nullptr;
RTTIClass* gElementClass = nullptr;
RTTIClass* gQuadClass = nullptr;
RTTIClass* gParticleClass = nullptr;
RTTIClass* gMeshClass = nullptr;
RTTIClass* gPointLightClass = nullptr;
RTTIClass* gSpotLightClass = nullptr;
RTTIClass* gSoundClass = nullptr;
uint32_t gLiveCount = 0;

constexpr uint32_t kVectorFlags = 64;
constexpr uint32_t kColorFlags = 1;
constexpr uint32_t kTemplateReferenceFlags = 4096;
constexpr uint32_t kMeshTemplateTypeRow = 1;
constexpr uint32_t kParticleTemplateTypeRow = 6;
constexpr const char* kTextureFolder = "Textures";
constexpr const char* kShaderFamily = "FixedPipelineReplacement";

const char kFaceCameraNames[] =
    "None\0Screen-full\0Camera-full\0Fix-X\0Fix-Y\0Screen fix-X\0Screen fix-Y\0Camera offset\0";
const char kTacticalExtendedNames[] = "Same as VR\0True\0False\0";
const char kBlendingNames[] = "None\0Alpha\0Add\0Add+Alpha\0Inv alpha\0Subtract\0Modulate\0Modulate inv\0Min\0";
const char kAlphaTestNames[] = "None\0Greater\0Less\0";
const char kRefractionLevelNames[] = "Ultra low\0Low\0Medium\0High\0Very high\0";

template <class E>
void AddEnvelope(RTTIClass* c, const char* name, size_t offset, uint32_t flags = 0) {
    c->AddProperty(new RTTIEmbeddedObjectProperty<E>(name, offset, nullptr, flags));
}

void Group(RTTIClass* c, const char* name) { c->AddProperty(new RTTIPropertyGroup(name)); }

// The pass mask of a mesh's seven rendering flags (rendering flag k is render byte k + 1):
// from 16; flag 2 gives bit 1; flag 0 adds 6; flag 1 adds 8; flag 3 adds 32 when asked;
// flag 4 sets the secondary-pass byte and flag 6 the second flag byte.
void PassMaskFromMesh(const MeshTemplateRenderingData* data, bool withFlag3, uint32_t& mask, uint8_t& secondary,
                      uint8_t& second) {
    mask = 16;
    if (!data) return;
    if (data->renderBytes[3]) mask |= 1;
    if (data->renderBytes[1]) mask += 6;
    if (data->renderBytes[2]) mask += 8;
    if (withFlag3 && data->renderBytes[4]) mask += 32;
    if (data->renderBytes[5]) secondary = 1;
    if (data->renderBytes[7]) second = 1;
}

void ReleaseShader(ResourceShader*& s) {
    if (s) s->Release();
    s = nullptr;
}

// The render thread reads definitions through their contexts: the main thread flushes and
// waits before changing one. A definition read on the loader thread is new and has none.
void FlushRenderer() {
    if (!gResourceManager.OnWorkerThread()) gVornexRenderer.FlushCommands(true);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// SFXElementDefinition

SFXElementDefinition::SFXElementDefinition() {
    position.SetConstantValue(Vector(0, 0, 0, 1));
    rotation.SetConstantValue(Vector(0, 0, 0, 0));
    scale.SetConstantValue(Vector(1, 1, 1, 0));
    color.SetConstantValue(HDRColor{255, 255, 255, 255, 1.0f});
}

SFXElementDefinition::~SFXElementDefinition() { RTTIFreeString(description); }

const RTTIClass* SFXElementDefinition::RegisterClass() {
    if (gElementClass) return gElementClass;
    TEnvelope<Vector>::RegisterClass();
    TEnvelope<HDRColor>::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gElementClass, "SFXElementDefinition", kRTTIRootBaseName);
    using P = SFXElementDefinition;
    AddEnvelope<TEnvelope<Vector>>(c, "Position", RTTI_OFFSETOF(P, position));
    AddEnvelope<TEnvelope<Vector>>(c, "Rotation", RTTI_OFFSETOF(P, rotation));
    AddEnvelope<TEnvelope<Vector>>(c, "Scale", RTTI_OFFSETOF(P, scale));
    AddDirect<Vector>(c, "Pivot", RTTI_OFFSETOF(P, pivot), kVectorFlags);
    AddEnvelope<TEnvelope<HDRColor>>(c, "Color", RTTI_OFFSETOF(P, color), kColorFlags);
    AddDirect<uint32_t>(c, "Face camera mode", RTTI_OFFSETOF(P, faceCameraMode), kPropertyFlagEnum, kFaceCameraNames);
    AddDirect<float>(c, "Face camera offset", RTTI_OFFSETOF(P, faceCameraOffset));
    AddDirect<char*>(c, "Description", RTTI_OFFSETOF(P, description));
    AddDirect<bool>(c, "Scale with parent", RTTI_OFFSETOF(P, scaleWithParent));
    AddDirect<bool>(c, "Visible in combat view", RTTI_OFFSETOF(P, visibleInCombatView));
    AddDirect<bool>(c, "Visible in tactical view", RTTI_OFFSETOF(P, visibleInTacticalView));
    AddDirect<uint8_t>(c, "Visible in tactical extended", RTTI_OFFSETOF(P, visibleInTacticalExtended),
                       kPropertyFlagEnum, kTacticalExtendedNames);
    AddDirect<bool>(c, "Enabled", RTTI_OFFSETOF(P, enabled));
    AddDirect<bool>(c, "Expands bounding box", RTTI_OFFSETOF(P, expandsBoundingBox));
    AddDirect<bool>(c, "Use FSE SFX color mult", RTTI_OFFSETOF(P, useFSEColorMult));
    return c;
}

void SFXElementDefinition::OnPropertyChanged(const char*) {
    if (owner) FlushRenderer();
    Resolve(true);
    if (owner) owner->SetupAllContexts();
}

bool SFXElementDefinition::NameMatches(const char* name) const {
    return name && description && std::strcmp(name, description) == 0;
}

void SFXElementDefinition::Bind(const Envelope& e, uint32_t state) {
    SFXEnvelopeBinding b;
    b.envelope = &e;
    b.state = state;
    envelopeBindings.Add(b);
}

void SFXElementDefinition::Resolve(bool) {
    envelopeBindings.Clear();
    Bind(position, SFX_STATE_POSITION);
    Bind(rotation, SFX_STATE_ROTATION);
    Bind(scale, SFX_STATE_SCALE);
    Bind(color, SFX_STATE_COLOR);
    viewMask = 0;
    if (visibleInCombatView) viewMask |= 1;
    if (visibleInTacticalView) viewMask |= 2;
    if (visibleInTacticalExtended == SFX_TACTICAL_EXTENDED_TRUE ||
        (visibleInTacticalExtended == SFX_TACTICAL_EXTENDED_SAME_AS_VR && visibleInTacticalView))
        viewMask |= 4;
}

// ---------------------------------------------------------------------------------------
// Quad

SFXQuadElementDefinition::SFXQuadElementDefinition() : textureFileName("SFX/glow.dds") {}

SFXQuadElementDefinition::~SFXQuadElementDefinition() { SFXQuadElementDefinition::ReleaseResources(); }

const RTTIClass* SFXQuadElementDefinition::RegisterClass() {
    if (gQuadClass) return gQuadClass;
    SFXElementDefinition::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gQuadClass, "SFXQuadElementDefinition", "SFXElementDefinition",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SFXQuadElementDefinition(); });
    using P = SFXQuadElementDefinition;
    AddDirect<NameString>(c, "Texture file name", RTTI_OFFSETOF(P, textureFileName), kPropertyFlagFileName,
                          kTextureFolder);
    AddDirect<uint32_t>(c, "Texture frames X", RTTI_OFFSETOF(P, textureFramesX));
    AddDirect<uint32_t>(c, "Texture frames Y", RTTI_OFFSETOF(P, textureFramesY));
    AddDirect<float>(c, "Random frame timeout", RTTI_OFFSETOF(P, randomFrameTimeout));
    AddEnvelope<TEnvelope<Vector>>(c, "Frame animation curve", RTTI_OFFSETOF(P, frameAnimationCurve));
    AddDirect<uint32_t>(c, "Blending mode", RTTI_OFFSETOF(P, blendingMode), kPropertyFlagEnum, kBlendingNames);
    AddDirect<uint32_t>(c, "Alpha test mode", RTTI_OFFSETOF(P, alphaTestMode), kPropertyFlagEnum, kAlphaTestNames);
    AddDirect<float>(c, "Alpha reference value", RTTI_OFFSETOF(P, alphaReference));
    AddDirect<float>(c, "Refraction power", RTTI_OFFSETOF(P, refractionPower));
    AddDirect<float>(c, "Refraction granularity", RTTI_OFFSETOF(P, refractionGranularity));
    AddDirect<uint32_t>(c, "Refraction level", RTTI_OFFSETOF(P, refractionLevel), kPropertyFlagEnum,
                        kRefractionLevelNames);
    AddDirect<Vector>(c, "UV center", RTTI_OFFSETOF(P, uvCenter));
    AddDirect<bool>(c, "Softness", RTTI_OFFSETOF(P, softness));
    AddDirect<bool>(c, "2-sided", RTTI_OFFSETOF(P, twoSided));
    AddDirect<bool>(c, "Depth read", RTTI_OFFSETOF(P, depthRead));
    Group(c, "Lens flare");
    AddDirect<bool>(c, "Render as lens flare", RTTI_OFFSETOF(P, renderAsLensFlare));
    AddDirect<float>(c, "Flare distance", RTTI_OFFSETOF(P, flareDistance));
    return c;
}

void SFXQuadElementDefinition::SetTextureFramesX(uint32_t x) {
    textureFramesX = x;
    UpdateFrameLayout();
}

void SFXQuadElementDefinition::SetTextureFramesY(uint32_t y) {
    textureFramesY = y;
    UpdateFrameLayout();
}

void SFXQuadElementDefinition::UpdateFrameLayout() {
    // A count of 0 would divide by zero: the frame size uses at least 1.
    const float x = 1.0f / static_cast<float>(textureFramesX > 0 ? textureFramesX : 1u);
    const float y = 1.0f / static_cast<float>(textureFramesY > 0 ? textureFramesY : 1u);
    frameSize = Vector(x, y, x, y);
    const uint64_t count = uint64_t(textureFramesX) * textureFramesY;
    frameCount = count > 1 ? static_cast<uint32_t>(count > 0xFFFFFFFFull ? 0xFFFFFFFFull : count) : 1u;
}

void SFXQuadElementDefinition::ShaderOptions(char* text, uint32_t size) const {
    std::snprintf(text, size, "TEXTURE %s%s", softness ? "SOFTNESS " : "", frameCount > 1 ? "TEXTURE_ANIMATION " : "");
}

void SFXQuadElementDefinition::ReleaseResources() {
    // The device texture's reference that Resolve added goes with it.
    if (textureHandle) SubmitTextureDeletionJob(textureHandle, false);
    textureHandle = nullptr;
    if (texture) texture->Release();
    texture = nullptr;
    ReleaseShader(vertexShader);
    ReleaseShader(pixelShader);
    ReleaseShader(refractionPixelShader);
}

void SFXQuadElementDefinition::RequestResources() {
    if (texture) texture->Load(true);
}

void SFXQuadElementDefinition::Resolve(bool load) {
    SFXElementDefinition::Resolve(load);
    Bind(frameAnimationCurve, SFX_STATE_KIND_FIRST);
    ReleaseResources();
    UpdateFrameLayout();
    if (!textureFileName.IsEmpty()) {
        texture = gResourceManager.GetResource(RESOURCE_TEXTURE, textureFileName.CStr(), 0, true, 0);
        if (texture) {
            texture->Load(load);
            textureHandle = static_cast<ResourceTexture*>(texture)->Handle();
            SubmitResourceAddRefJob(textureHandle, false);
        }
    }
    if (!gShaderManager) return;
    char options[96];
    ShaderOptions(options, sizeof options);
    const uint32_t mode = load ? SHADER_LOAD_QUEUED : SHADER_LOAD_HERE;
    gShaderManager->GetShader(kShaderFamily, options, &vertexShader, &pixelShader, mode, load, 0);
    if (refractionPower > 0.0f) {
        std::strncat(options, "REFRACTION ", sizeof options - std::strlen(options) - 1);
        ResourceShader* vs = nullptr;
        ResourceShader* ps = nullptr;
        gShaderManager->GetShader(kShaderFamily, options, &vs, &ps, mode, load, 0);
        if (vs != vertexShader) {
            gLog.Error(LogCategory::Resources,
                       "Refraction option in FixedPipelineReplacement affects vertex shader. It's supposed not to! "
                       "Please report this incident to the shader's author.");
            ReleaseShader(ps);
        } else {
            refractionPixelShader = ps;
        }
        ReleaseShader(vs);
    }
}

// ---------------------------------------------------------------------------------------
// Template elements

SFXTemplateElementDefinition::~SFXTemplateElementDefinition() { SFXTemplateElementDefinition::ReleaseResources(); }

void SFXTemplateElementDefinition::ReleaseResources() {
    if (heldTemplate) heldTemplate->Release();
    heldTemplate = nullptr;
}

void SFXTemplateElementDefinition::RequestResources() {
    if (heldTemplate) heldTemplate->QueueRequest(0);
}

bool SFXTemplateElementDefinition::AcquireTemplate(bool load, uint32_t typeRow, const char* message) {
    EntityTemplate* t = templateGuid.IsNull() ? nullptr : gEntityTemplateRegistry.AcquireTemplateByGUID(templateGuid, load ? 1u : 0u);
    if (t == heldTemplate) {
        // The registry gave one more use of the held template.
        if (t) t->Release();
    } else {
        ReleaseResources();
        heldTemplate = t;
    }
    if (heldTemplate && !TemplateTypeTable::IsA(heldTemplate->GetTypeId(), typeRow)) {
        const char* name = heldTemplate->GetName();
        gLog.Error(LogCategory::Engine, message, name ? name : "");
        ReleaseResources();
    }
    return heldTemplate != nullptr;
}

// ---------------------------------------------------------------------------------------
// Particle

SFXParticleElementDefinition::SFXParticleElementDefinition() {
    spawnRateMultiplier.SetConstantValue(Vector(1, 0, 0, 0));
}

const RTTIClass* SFXParticleElementDefinition::RegisterClass() {
    if (gParticleClass) return gParticleClass;
    SFXElementDefinition::RegisterClass();
    RTTIClass* c =
        CreateRegisteredClass(gParticleClass, "SFXParticleElementDefinition", "SFXElementDefinition",
                              [](int32_t) -> RTTIPolyBaseClass* { return new SFXParticleElementDefinition(); });
    using P = SFXParticleElementDefinition;
    AddDirect<SimpleGUID>(c, "Particle template", RTTI_OFFSETOF(P, templateGuid), kTemplateReferenceFlags);
    AddEnvelope<TEnvelope<Vector>>(c, "Spawn rate multiplier", RTTI_OFFSETOF(P, spawnRateMultiplier));
    return c;
}

void SFXParticleElementDefinition::Resolve(bool load) {
    SFXElementDefinition::Resolve(load);
    secondaryPass = secondFlag = 0;
    passMask = 17;
    if (AcquireTemplate(load, kParticleTemplateTypeRow,
                        "Template %s is not particle while used as such in SFX definition")) {
        const auto* particles = dynamic_cast<const ParticleTemplate*>(heldTemplate);
        const auto* mesh = particles ? dynamic_cast<const MeshTemplate*>(particles->definition.meshTemplate) : nullptr;
        if (mesh) PassMaskFromMesh(mesh->GetRenderingData(), false, passMask, secondaryPass, secondFlag);
    }
    Bind(spawnRateMultiplier, SFX_STATE_KIND_FIRST);
}

// ---------------------------------------------------------------------------------------
// Mesh

SFXMeshElementDefinition::SFXMeshElementDefinition() { animationProgress.SetConstantValue(Vector(0, 0, 0, 0)); }

const RTTIClass* SFXMeshElementDefinition::RegisterClass() {
    if (gMeshClass) return gMeshClass;
    SFXElementDefinition::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gMeshClass, "SFXMeshElementDefinition", "SFXElementDefinition",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SFXMeshElementDefinition(); });
    using P = SFXMeshElementDefinition;
    AddDirect<SimpleGUID>(c, "Mesh template", RTTI_OFFSETOF(P, templateGuid), kTemplateReferenceFlags);
    AddDirect<NameString>(c, "Shader preset", RTTI_OFFSETOF(P, shaderPreset));
    AddDirect<NameString>(c, "Animation", RTTI_OFFSETOF(P, animation));
    AddEnvelope<TEnvelope<Vector>>(c, "AnimationProgress", RTTI_OFFSETOF(P, animationProgress));
    return c;
}

void SFXMeshElementDefinition::RefreshFromTemplate() {
    const auto* mesh = dynamic_cast<const MeshTemplate*>(heldTemplate);
    if (!mesh) return;
    templateBox = mesh->staticBoundingBox;
    secondaryPass = secondFlag = 0;
    PassMaskFromMesh(mesh->GetRenderingData(), true, passMask, secondaryPass, secondFlag);
    int32_t index = mesh->GetShaderPresetIndex(shaderPreset.CStr());
    if (index < 0) index = mesh->GetShaderPresetIndex("Default");
    presetIndex = index < 0 ? 0u : static_cast<uint32_t>(index);
}

void SFXMeshElementDefinition::Resolve(bool load) {
    SFXElementDefinition::Resolve(load);
    if (AcquireTemplate(load, kMeshTemplateTypeRow, "Template %s is not mesh while used as such in SFX definition"))
        RefreshFromTemplate();
    Bind(animationProgress, SFX_STATE_KIND_FIRST);
}

// ---------------------------------------------------------------------------------------
// Lights

SFXLightElementDefinition::SFXLightElementDefinition() {
    passMask = 2;
    range.SetConstantValue(Vector(0.5f, 1.0f, 0, 0));
}

SFXLightElementDefinition::~SFXLightElementDefinition() { SFXLightElementDefinition::ReleaseResources(); }

void SFXLightElementDefinition::ReleaseResources() {
    if (maskHandle) SubmitTextureDeletionJob(maskHandle, false);
    maskHandle = nullptr;
    if (maskTextureResource) maskTextureResource->Release();
    maskTextureResource = nullptr;
}

void SFXLightElementDefinition::Resolve(bool load) {
    SFXElementDefinition::Resolve(load);
    ReleaseResources();
    if (!maskTexture.IsEmpty()) {
        maskTextureResource = gResourceManager.GetResource(RESOURCE_TEXTURE, maskTexture.CStr(), 0, true, 0);
        if (maskTextureResource) {
            maskTextureResource->Load(load);
            maskHandle = static_cast<ResourceTexture*>(maskTextureResource)->Handle();
            SubmitResourceAddRefJob(maskHandle, false);
        }
    }
    Bind(range, SFX_STATE_KIND_FIRST);
}

static void AddLightProperties(RTTIClass* c, bool spot) {
    AddEnvelope<TEnvelope<Vector>>(c, "Range", RTTI_OFFSETOF(SFXLightElementDefinition, range));
    if (spot) {
        AddDirect<float>(c, "Spot width", RTTI_OFFSETOF(SFXSpotLightElementDefinition, spotWidth));
        AddDirect<float>(c, "Spot softness", RTTI_OFFSETOF(SFXSpotLightElementDefinition, spotSoftness));
    }
    AddDirect<NameString>(c, "Mask texture", RTTI_OFFSETOF(SFXLightElementDefinition, maskTexture),
                          kPropertyFlagFileName, kTextureFolder);
    AddDirect<bool>(c, "Draw light wireframe", RTTI_OFFSETOF(SFXLightElementDefinition, drawLightWireframe));
}

const RTTIClass* SFXPointLightElementDefinition::RegisterClass() {
    if (gPointLightClass) return gPointLightClass;
    SFXElementDefinition::RegisterClass();
    RTTIClass* c =
        CreateRegisteredClass(gPointLightClass, "SFXPointLightElementDefinition", "SFXElementDefinition",
                              [](int32_t) -> RTTIPolyBaseClass* { return new SFXPointLightElementDefinition(); });
    AddLightProperties(c, false);
    return c;
}

const RTTIClass* SFXSpotLightElementDefinition::RegisterClass() {
    if (gSpotLightClass) return gSpotLightClass;
    SFXElementDefinition::RegisterClass();
    RTTIClass* c =
        CreateRegisteredClass(gSpotLightClass, "SFXSpotLightElementDefinition", "SFXElementDefinition",
                              [](int32_t) -> RTTIPolyBaseClass* { return new SFXSpotLightElementDefinition(); });
    AddLightProperties(c, true);
    return c;
}

// ---------------------------------------------------------------------------------------
// Sound

SFXSoundElementDefinition::SFXSoundElementDefinition() {
    soundStartEnvelope.SetConstantValue(Vector(1, 0, 0, 0));
    volume.SetConstantValue(Vector(1, 0, 0, 0));
}

const RTTIClass* SFXSoundElementDefinition::RegisterClass() {
    if (gSoundClass) return gSoundClass;
    SFXElementDefinition::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gSoundClass, "SFXSoundElementDefinition", "SFXElementDefinition",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SFXSoundElementDefinition(); });
    using P = SFXSoundElementDefinition;
    AddDirect<NameString>(c, "Sound entry name", RTTI_OFFSETOF(P, soundEntryName));
    AddDirect<uint32_t>(c, "Sound channel", RTTI_OFFSETOF(P, soundChannel));
    AddEnvelope<TEnvelope<Vector>>(c, "Sound start envelope", RTTI_OFFSETOF(P, soundStartEnvelope));
    AddEnvelope<TEnvelope<Vector>>(c, "Volume", RTTI_OFFSETOF(P, volume));
    return c;
}

void SFXSoundElementDefinition::Preload() {
    if (!soundEntryName.IsEmpty()) GetSceneSoundServices().PreloadEntry(soundEntryName.CStr());
}

void SFXSoundElementDefinition::Resolve(bool load) {
    SFXElementDefinition::Resolve(load);
    Bind(soundStartEnvelope, SFX_STATE_KIND_FIRST);
    Bind(volume, SFX_STATE_KIND_SECOND);
}

// ---------------------------------------------------------------------------------------
// SFXDefinition

SFXDefinition::SFXDefinition() {
    CriticalSectionGuard guard(gSFXDefinitionListLock);
    listPrevious = listTail;
    if (listTail) listTail->listNext = this;
    else listHead = this;
    listTail = this;
    ++gLiveCount;
}

SFXDefinition::~SFXDefinition() {
    // A frame already queued may still update a context of this definition, with or
    // without elements.
    FlushRenderer();
    for (uint32_t i = 0; i < elements.Count(); ++i) delete elements[i];
    elements.Clear();
    CriticalSectionGuard guard(gSFXDefinitionListLock);
    if (listPrevious) listPrevious->listNext = listNext;
    else listHead = listNext;
    if (listNext) listNext->listPrevious = listPrevious;
    else listTail = listPrevious;
    --gLiveCount;
}

uint32_t SFXDefinition::LiveCount() {
    CriticalSectionGuard guard(gSFXDefinitionListLock);
    return gLiveCount;
}

const RTTIClass* SFXDefinition::RegisterClass() {
    if (gDefinitionClass) return gDefinitionClass;
    SFXElementDefinition::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gDefinitionClass, "SFXDefinition", kRTTIRootBaseName);
    using P = SFXDefinition;
    c->AddProperty(new RTTIDynarrayOfPolyObjectPointersProperty<Dynarray<SFXElementDefinition*>>(
        "Element definitions", RTTI_OFFSETOF(P, elements), ""));
    AddDirect<float>(c, "Delete timeout", RTTI_OFFSETOF(P, deleteTimeout));
    AddDirect<Vector>(c, "Scale for all elements", RTTI_OFFSETOF(P, scaleForAllElements), kVectorFlags);
    return c;
}

void SFXDefinition::AddElement(SFXElementDefinition* element) {
    if (!element) return;
    element->owner = this;
    elements.Add(element);
}

void SFXDefinition::OnPreDeserialize(uint32_t options) {
    if (!(options & 4)) FlushRenderer();
}

void SFXDefinition::OnLoaded(uint32_t options) {
    for (uint32_t i = 0; i < elements.Count(); ++i)
        if (elements[i]) elements[i]->owner = this;
    if (!(options & 4)) ResolveElements(true);
}

void SFXDefinition::OnPropertyChanged(const char*) {
    FlushRenderer();
    ResolveElements(true);
    SetupAllContexts();
}

void SFXDefinition::ResolveElements(bool load) {
    passMask = 0;
    secondaryPass = secondFlag = 0;
    for (uint32_t i = 0; i < elements.Count(); ++i) {
        SFXElementDefinition* e = elements[i];
        if (!e) continue;
        e->Resolve(load);
        passMask |= e->passMask;
        secondaryPass |= e->secondaryPass;
        secondFlag |= e->secondFlag;
    }
}

void SFXDefinition::SetupAllContexts() {
    for (SFXContext* c = firstContext; c; c = c->NextInChain()) c->Setup(this, Matrix::IDENTITY, false, 0);
}

void SFXDefinition::StripDisabledElements() {
    FlushRenderer();
    uint32_t kept = 0;
    for (uint32_t i = 0; i < elements.Count(); ++i) {
        SFXElementDefinition* e = elements[i];
        if (e && !e->enabled) {
            delete e;
            continue;
        }
        elements[kept++] = e;
    }
    elements.Resize(kept);
    SetupAllContexts();
}

void SFXDefinition::ForEachReleaseResources() {
    for (uint32_t i = 0; i < elements.Count(); ++i)
        if (elements[i]) elements[i]->ReleaseResources();
}

void SFXDefinition::PreloadAll() {
    FlushRenderer();
    for (uint32_t i = 0; i < elements.Count(); ++i)
        if (elements[i]) elements[i]->Preload();
}

void SFXDefinition::RequestAllResources() {
    for (uint32_t i = 0; i < elements.Count(); ++i)
        if (elements[i]) elements[i]->RequestResources();
}
