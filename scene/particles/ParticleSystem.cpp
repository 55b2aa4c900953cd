// Particle-system definitions: properties, the global list and resolving (see
// scene/particles/ParticleSystem.h).
#include "scene/particles/ParticleSystem.h"

#include <cstring>
#include <vector>

#include "core/Sync.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"

CriticalSection* gParticleSystemListLock = nullptr;

namespace {

RTTIClass* gParticleSystemClass = nullptr;
ParticleSystem* gHead = nullptr;
ParticleSystem* gTail = nullptr;
uint32_t gLiveCount = 0;

constexpr const char* kDefaultTexture = "SFX/glow.dds";
constexpr const char* kShaderFamily = "Particle";
constexpr const char* kTextureFolder = "Textures";
constexpr uint32_t kMotionVectorFlags = 64;         // the editor's flag on the emission and motion vectors
constexpr uint32_t kTemplateReferenceFlags = 4096;  // a GUID naming a template
constexpr uint32_t kMeshTemplateTypeRow = 1;        // MeshTemplate's row of the template type table

const char kBlendingModeNames[] = "None\0Alpha\0Add\0Add+Alpha\0Inv alpha\0Subtract\0Modulate\0Modulate inv\0Min\0";
const char kAlphaTestModeNames[] = "None\0Greater\0Less\0";
const char kSortModeNames[] = "None\0Reverse\0";
const char kFaceCameraModeNames[] = "Local X\0Local Y\0Local Z\0Face camera\0Velocity align\0Velocity normal\0";
const char kAnimationModeNames[] = "Random frame\0Cycle\0Cycle with blend\0";

void Group(RTTIClass* c, const char* name) { c->AddProperty(new RTTIPropertyGroup(name)); }
void Separator(RTTIClass* c, const char* name) { c->AddProperty(new RTTIPropertySeparator(name)); }

void Append(char (&text)[kParticleShaderOptionsSize], const char* option) {
    const size_t used = std::strlen(text);
    std::strncat(text, option, sizeof(text) - 1 - used);
}

}  // namespace

const RTTIClass* ParticleSystem::RegisterClass() {
    if (gParticleSystemClass) return gParticleSystemClass;
    RTTIClass* c = CreateRegisteredClass(gParticleSystemClass, "ParticleSystem", kRTTIRootBaseName);
    using P = ParticleSystem;
    Group(c, "Basic parameters");
    AddDirect<bool>(c, "Local space", RTTI_OFFSETOF(P, localSpace));
    AddDirect<float>(c, "Life time", RTTI_OFFSETOF(P, lifeTime));
    AddDirect<float>(c, "Life time variable", RTTI_OFFSETOF(P, lifeTimeVar));
    AddDirect<float>(c, "Spawn rate", RTTI_OFFSETOF(P, spawnRate));
    AddDirect<Vector>(c, "Emitter size", RTTI_OFFSETOF(P, emitterSize), kMotionVectorFlags);
    AddDirect<Vector>(c, "Initial velocity", RTTI_OFFSETOF(P, initialVelocity), kMotionVectorFlags);
    AddDirect<Vector>(c, "Initial velocity var", RTTI_OFFSETOF(P, initialVelocityVar), kMotionVectorFlags);
    AddDirect<Vector>(c, "Global gravity", RTTI_OFFSETOF(P, globalGravity), kMotionVectorFlags);
    AddDirect<Vector>(c, "Local gravity", RTTI_OFFSETOF(P, localGravity), kMotionVectorFlags);
    AddDirect<float>(c, "Velocity damping", RTTI_OFFSETOF(P, velocityDamping));

    Group(c, "Circle velocity");
    AddDirect<bool>(c, "Circle velocity enabled", RTTI_OFFSETOF(P, circleVelocityEnabled));
    AddDirect<float>(c, "Circle velocity yaw range", RTTI_OFFSETOF(P, circleVelocityYawRange));
    AddDirect<float>(c, "Circle velocity pitch range", RTTI_OFFSETOF(P, circleVelocityPitchRange));
    AddDirect<float>(c, "Circle velocity const", RTTI_OFFSETOF(P, circleVelocityConst));
    AddDirect<float>(c, "Circle velocity var", RTTI_OFFSETOF(P, circleVelocityVar));

    Group(c, "Shape parameters");
    AddDirect<uint32_t>(c, "Face camera mode", RTTI_OFFSETOF(P, faceCameraMode), kPropertyFlagEnum,
                        kFaceCameraModeNames);
    AddDirect<Vector>(c, "Anchor", RTTI_OFFSETOF(P, anchor));
    AddDirect<Vector>(c, "Shape", RTTI_OFFSETOF(P, shape));

    Group(c, "Rotation parameters");
    AddDirect<bool>(c, "Random rotation at start", RTTI_OFFSETOF(P, randomRotationAtStart));
    AddDirect<float>(c, "Rotation speed", RTTI_OFFSETOF(P, rotationSpeed));
    AddDirect<float>(c, "Rotation speed var", RTTI_OFFSETOF(P, rotationSpeedVar));
    AddDirect<float>(c, "Secondary rotation speed", RTTI_OFFSETOF(P, secondaryRotationSpeed));
    AddDirect<float>(c, "Secondary rotation speed var", RTTI_OFFSETOF(P, secondaryRotationSpeedVar));

    Group(c, "Texture parameters");
    AddDirect<NameString>(c, "Texture file name", RTTI_OFFSETOF(P, textureFileName), kPropertyFlagFileName,
                          kTextureFolder);
    AddDirect<uint32_t>(c, "Texture frames X", RTTI_OFFSETOF(P, textureFramesX));
    AddDirect<uint32_t>(c, "Texture frames Y", RTTI_OFFSETOF(P, textureFramesY));
    AddDirect<uint32_t>(c, "Animation mode", RTTI_OFFSETOF(P, animationMode), kPropertyFlagEnum, kAnimationModeNames);
    AddDirect<float>(c, "Desaturation factor", RTTI_OFFSETOF(P, desaturationFactor));

    Group(c, "Mesh parameters");
    AddDirect<SimpleGUID>(c, "Mesh template", RTTI_OFFSETOF(P, meshTemplateGuid), kTemplateReferenceFlags);
    AddDirect<NameString>(c, "Shader preset", RTTI_OFFSETOF(P, shaderPreset));

    Group(c, "Color and size");
    AddDirect<uint32_t>(c, "Blending mode", RTTI_OFFSETOF(P, blendingMode), kPropertyFlagEnum, kBlendingModeNames);
    AddDirect<uint32_t>(c, "Alpha test mode", RTTI_OFFSETOF(P, alphaTestMode), kPropertyFlagEnum,
                        kAlphaTestModeNames);
    AddDirect<uint32_t>(c, "Sort mode", RTTI_OFFSETOF(P, sortMode), kPropertyFlagEnum, kSortModeNames);
    AddDirect<float>(c, "Alpha reference value", RTTI_OFFSETOF(P, alphaReference));
    AddDirect<bool>(c, "Z buffer write", RTTI_OFFSETOF(P, zBufferWrite));
    AddDirect<bool>(c, "Softness", RTTI_OFFSETOF(P, softness));
    static const char* const kNodeNames[kParticleNodes][4] = {
        {"Node 0", nullptr, "Node 0 size", "Node 0 color"},
        {"Node 1", "Node 1 time", "Node 1 size", "Node 1 color"},
        {"Node 2", "Node 2 time", "Node 2 size", "Node 2 color"},
        {"Node 3", nullptr, "Node 3 size", "Node 3 color"}};
    for (uint32_t n = 0; n < kParticleNodes; ++n) {
        Separator(c, kNodeNames[n][0]);
        if (kNodeNames[n][1]) AddDirect<float>(c, kNodeNames[n][1], RTTI_OFFSETOF(P, nodeTime) + n * sizeof(float));
        AddDirect<float>(c, kNodeNames[n][2], RTTI_OFFSETOF(P, nodeSize) + n * sizeof(float));
        AddDirect<HDRColor>(c, kNodeNames[n][3], RTTI_OFFSETOF(P, nodeColor) + n * sizeof(HDRColor));
    }

    Group(c, "iPhone specific");
    AddDirect<bool>(c, "High precision mode", RTTI_OFFSETOF(P, highPrecisionMode));
    return c;
}

ParticleSystem::ParticleSystem() : textureFileName(kDefaultTexture) {
    nodeColor[0].SetFromVector(Vector(1.0f, 1.0f, 1.0f, 0.0f));
    nodeColor[1].SetFromVector(Vector(1.0f, 1.0f, 1.0f, 1.0f));
    nodeColor[2].SetFromVector(Vector(1.0f, 1.0f, 1.0f, 1.0f));
    nodeColor[3].SetFromVector(Vector(1.0f, 1.0f, 1.0f, 0.0f));
    CriticalSectionGuard guard(gParticleSystemListLock);
    previous = gTail;
    if (gTail) gTail->next = this;
    else gHead = this;
    gTail = this;
    ++gLiveCount;
}

ParticleSystem::~ParticleSystem() {
    ReleaseResolved();
    CriticalSectionGuard guard(gParticleSystemListLock);
    if (previous) previous->next = next;
    else gHead = next;
    if (next) next->previous = previous;
    else gTail = previous;
    --gLiveCount;
}

uint32_t ParticleSystem::LiveCount() {
    CriticalSectionGuard guard(gParticleSystemListLock);
    return gLiveCount;
}

void ParticleSystem::ReleaseResolved() {
    if (vertexShader) vertexShader->Release();
    if (pixelShader) pixelShader->Release();
    if (texture) texture->Release();
    if (meshTemplate) meshTemplate->Release();
    vertexShader = pixelShader = nullptr;
    texture = nullptr;
    meshTemplate = nullptr;
}

uint32_t ParticleSystem::EffectQuality() { return gVornexRenderer.QualityLevel(); }

void ParticleSystem::ShaderOptions(uint32_t effectQuality, char (&text)[kParticleShaderOptionsSize]) const {
    text[0] = 0;
    if (faceCameraMode == PARTICLE_FACE_VELOCITY_ALIGN) Append(text, "VELOCITY_ALIGN ");
    else if (faceCameraMode == PARTICLE_FACE_VELOCITY_NORMAL) Append(text, "VELOCITY_NORMAL ");
    if (randomRotationAtStart || rotationSpeed != 0.0f || rotationSpeedVar != 0.0f) Append(text, "ROTATION ");
    if (textureFramesX > 1 || textureFramesY >= 2) {
        Append(text, "TEXTURE_ANIMATION ");
        if (animationMode == PARTICLE_ANIMATION_RANDOM_FRAME) Append(text, "RANDOM_TEXTURE_FRAME ");
        else if (animationMode == PARTICLE_ANIMATION_CYCLE_WITH_BLEND) Append(text, "TEXTURE_FRAME_INTERPOLATION ");
    }
    if (desaturationFactor > 0.0f && effectQuality != 0) Append(text, "TEXTURE_DESATURATION ");
    if (blendingMode == PARTICLE_BLEND_NONE || blendingMode == PARTICLE_BLEND_ALPHA ||
        blendingMode == PARTICLE_BLEND_INV_ALPHA)
        Append(text, "BLEND_ALPHA ");
    if (softness && effectQuality > 1) Append(text, "SOFTNESS ");
    if (fog) Append(text, "FOG ");
}

void ParticleSystem::Resolve(bool flag) {
    const bool load = !flag;
    ReleaseResolved();
    if (!meshTemplateGuid.IsNull()) {
        // Mesh particles draw the template's mesh: no particle shader, no texture.
        EntityTemplate* t = gEntityTemplateRegistry.AcquireTemplateByGUID(meshTemplateGuid, load ? 1u : 0u);
        if (t && TemplateTypeTable::IsA(t->GetTypeId(), kMeshTemplateTypeRow)) meshTemplate = t;
        else if (t) t->Release();
        return;
    }
    char options[kParticleShaderOptionsSize];
    ShaderOptions(EffectQuality(), options);
    if (gShaderManager)
        gShaderManager->GetShader(kShaderFamily, options, &vertexShader, &pixelShader,
                                  load ? SHADER_LOAD_QUEUED : SHADER_LOAD_HERE, false, 0);
    texture = gResourceManager.GetResource(RESOURCE_TEXTURE, textureFileName.CStr(), 0, true, 0);
    if (texture) texture->Load(load);
}

void ParticleSystem::RefreshAllShaders() {
    // The list is copied under the lock and resolved outside it: resolving waits for the
    // loader thread, which may be constructing a definition (and so waiting for the lock).
    // Definitions are destroyed on the main thread, the thread that refreshes; one
    // destroyed meanwhile is no longer in the list and is skipped.
    std::vector<ParticleSystem*> live;
    {
        CriticalSectionGuard guard(gParticleSystemListLock);
        live.reserve(gLiveCount);
        for (ParticleSystem* p = gHead; p; p = p->next) live.push_back(p);
    }
    for (ParticleSystem* p : live) {
        bool listed = false;
        {
            CriticalSectionGuard guard(gParticleSystemListLock);
            for (ParticleSystem* q = gHead; q && !listed; q = q->next) listed = q == p;
        }
        if (listed) p->Resolve(false);
    }
}
