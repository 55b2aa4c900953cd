// Start-up table of the scene library.
#include "scene/startup/SceneStaticInit.h"

#include "core/Sync.h"
#include "engine/SceneRenderList.h"
#include "render/SceneDrawServices.h"
#include "render/scene/DebugPathList.h"
#include "engine/services/SceneContentServices.h"
#include "scene/animation/BaseAnimation.h"
#include "scene/animation/MeshEntityAnimation.h"
#include "scene/entities/CompoundEntity.h"
#include "scene/entities/EnvelopeEntity.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/entities/InGameUIEntity.h"
#include "scene/entities/LightEntity.h"
#include "scene/entities/SceneParametersTemplate.h"
#include "scene/entities/TriggerEntity.h"
#include "scene/envelopes/Envelope.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/particles/ParticleSystem.h"
#include "scene/particles/ParticleSystemInstance.h"
#include "scene/sfx/SFXContext.h"
#include "scene/sfx/SFXHooks.h"
#include "scene/sequences/LuaSequenceAction.h"
#include "scene/sequences/SequenceActions.h"
#include "scene/sequences/SequenceSystem.h"

namespace {

// The engine's scene-content services: mounts on meshes, triggers, scene parameters,
// sequences, the navigation's mesh collision and the path display.
class SceneLibraryServices final : public SceneContentServices {
public:
    void UnmountFromMesh(Entity* meshParent, Entity* child) override { ::UnmountFromMesh(meshParent, child); }
    void RemountOnMesh(Entity* meshParent, Entity* child) override { ::RemountOnMesh(meshParent, child); }
    bool SetAnimationReplication(Entity* entity, bool enable, uint32_t animProperty,
                                 uint32_t progressProperty) override {
        return SetMeshAnimationReplication(entity, enable, animProperty, progressProperty);
    }
    void SetMeshShaderPreset(const char* presetName) override { MeshTemplate::SetFallbackShaderPreset(presetName); }

    TriggerActivator* CreateTriggerTracker(Entity* entity) override {
        return TriggerEntity::CreateTriggerTracker(entity);
    }
    void QueueTriggerCheck(Entity* entity) override { TriggerEntity::QueueTriggerCheck(entity); }
    void DestroyTriggerTracker(Entity* entity, TriggerActivator* record) override {
        TriggerEntity::DestroyTriggerTracker(entity, record);
    }

    void StartSceneParametersTransition(EntityTemplate* t, uint32_t flags, float blendTime) override {
        ::StartSceneParametersTransition(t, flags, blendTime);
    }
    void StopSceneParametersTransition(EntityTemplate* t) override { ::StopSceneParametersTransition(t); }

    bool ReadSequenceProperties(BoundedReader& in) override { return ReadSequenceBlock(in); }
    void TickSequenceSystem() override {
        if (gSequenceSystem) gSequenceSystem->Tick();
    }
    void ClearSequenceSystem() override {
        if (gSequenceSystem) gSequenceSystem->Clear();
    }
    void ClearSequenceActionFactory() override {
        if (gSequenceActionFactory) gSequenceActionFactory->Clear();
    }

    uint32_t MeshPlayerCollisionType(Entity* mesh) override { return ::MeshPlayerCollisionType(mesh); }
    bool GetMeshCollisionData(Entity* mesh, MeshCollisionData* out) override { return MeshCollisionDataOf(mesh, out); }
    void SetDebugPathPoints(const Vector* points, uint32_t count) override {
        if (gSceneRenderList) gSceneRenderList->DebugPaths().SetPoints(points, count);
    }

    SequenceSystem* GetSequenceSystem() const override { return gSequenceSystem; }
    SequenceSpawner* GetSequenceSpawner() const override { return gSequenceSpawner; }
    SequenceActionFactory* GetSequenceActionFactory() const override { return gSequenceActionFactory; }
};

SceneLibraryServices gSceneLibraryContentServices;

// The renderer's scene-content draws: particle systems, effect contexts, meshes.
class SceneLibraryDrawServices final : public SceneDrawServices {
public:
    void UpdateParticleSystems(float engineTime, float gameTime, float gameplayTime) override {
        ParticleSystemInstance::UpdateAll(engineTime, gameTime, gameplayTime);
    }
    void UpdateEffects(const RenderFrameClock clocks[3]) override { SFXContext::UpdateAll(clocks); }
    void DrawParticleSystem(ParticleSystemInstance* system, const Matrix&, const BoundingBox4*,
                            const Vector& colour) override {
        if (system) system->Draw(colour);
    }
    void InitParticleGlobals() override { ParticleSystemInstance::InitGlobals(); }
    void DrawMesh(const MeshTemplateRenderingData* mesh, const Matrix& world, const Matrix& previous,
                  const BoundingBox4* box,
                  const Vector& colour, uint32_t value, uint8_t flag, const float* records,
                  uint32_t recordCount) override {
        DrawStreamedMesh(mesh, world, previous, box, colour, value, flag, records, recordCount);
    }
    void BeginMeshDrawBatch(uint32_t pass, uint32_t mode) override {
        MeshTemplateRenderingData::BeginDrawBatch(pass, mode);
    }
    void FlushMeshDrawBatch(uint32_t passFlags) override { MeshTemplateRenderingData::FlushDrawBatch(passFlags); }
    void DrawSkinnedMesh(const MeshTemplateRenderingData* mesh, const Matrix& world, const Vector& colour,
                         const float* records, uint32_t recordCount) override {
        DrawStreamedSkinnedMesh(mesh, world, colour, records, recordCount);
    }
};

SceneLibraryDrawServices gSceneLibraryDrawServices;

void ClearSceneServicesHandler(void*) { ClearSceneServices(); }

// The twelve built-in entries, after every action class is registered.
void RegisterBuiltInActionsRow() {
    if (gSequenceActionFactory) RegisterBuiltInSequenceActions(*gSequenceActionFactory);
}

void InstallSceneServicesRow() {
    InstallSceneServices();
    PushExitHandler(&ClearSceneServicesHandler, nullptr);
}

using K = StaticInitKind;
const StaticInitRow kSceneRows[] = {
    {4, K::Constants, "SceneContentServices, SceneDrawServices and SceneEffectServices (scene)", &InstallSceneServicesRow, 0, 0},
    {5, K::ClassRegistration, "EnvelopeLoop", &StaticInitRegister<EnvelopeLoop>, 0, 0},
    {5, K::ClassRegistration, "Envelope", &StaticInitRegister<Envelope>, 0, 0},
    {5, K::ClassRegistration, "TEnvelopeVector", &StaticInitRegister<TEnvelope<Vector>>, 0, 0},
    {5, K::ClassRegistration, "TEnvelopeHDRColor", &StaticInitRegister<TEnvelope<HDRColor>>, 0, 0},
    {5, K::GlobalObject, "SequenceSystem", &StaticInitCreateGlobal<SequenceSystem, gSequenceSystem>, 0, 0},
    {5, K::ClassRegistration, "SequenceSystem", &StaticInitRegister<SequenceSystem>, 0, 0},
    {5, K::ClassRegistration, "Sequence", &StaticInitRegister<Sequence>, 0, 0},
    {5, K::ClassRegistration, "SequenceTrack", &StaticInitRegister<SequenceTrack>, 0, 0},
    {5, K::ClassRegistration, "SequenceAction (and the built-in actions)", &RegisterSequenceActionClasses, 0, 0},
    {5, K::GlobalObject, "SequenceActionFactory",
     &StaticInitCreateGlobal<SequenceActionFactory, gSequenceActionFactory>, 0, 0},
    {5, K::Constants, "SequenceActionFactory entries", &RegisterBuiltInActionsRow, 0, 0},
    {5, K::GlobalObject, "SequenceSpawner", &StaticInitCreateGlobal<SequenceSpawner, gSequenceSpawner>, 0, 0},
    {5, K::ClassRegistration, "TriggerEntity", &StaticInitRegister<TriggerEntity>, 0, 0},
    {8, K::ClassRegistration, "MeshTemplate", &StaticInitRegister<MeshTemplate>, 0, 0},
    {8, K::ClassRegistration, "MeshTemplateAnimationDefinition", &StaticInitRegister<MeshTemplateAnimationDefinition>,
     0, 0},
    {8, K::TemplateTypeRow, "MeshTemplate", nullptr, ENTITY_MESH, 0},
    {8, K::ClassRegistration, "TriggerTemplate", &StaticInitRegister<TriggerTemplate>, 0, 0},
    {8, K::TemplateTypeRow, "TriggerTemplate", nullptr, ENTITY_TRIGGER, 0},
    {8, K::ClassRegistration, "MeshEntity", &StaticInitRegister<MeshEntity>, 0, 0},
    {8, K::ClassRegistration, "LightTemplate", &StaticInitRegister<LightTemplate>, 0, 0},
    {8, K::TemplateTypeRow, "LightTemplate", nullptr, ENTITY_LIGHT, 0},
    {8, K::ClassRegistration, "LightEntity", &StaticInitRegister<LightEntity>, 0, 0},
    {8, K::ClassRegistration, "SceneParametersTemplate", &StaticInitRegister<SceneParametersTemplate>, 0, 0},
    {8, K::TemplateTypeRow, "SceneParametersTemplate", nullptr, ENTITY_SCENEPARAMBOX, 0},
    {8, K::ClassRegistration, "CompoundTemplate", &StaticInitRegister<CompoundTemplate>, 0, 0},
    {8, K::TemplateTypeRow, "CompoundTemplate", nullptr, ENTITY_COMPOUND, 0},
    {8, K::ClassRegistration, "CompoundEntity", &StaticInitRegister<CompoundEntity>, 0, 0},
    {8, K::ClassRegistration, "FlagTemplate", &StaticInitRegister<FlagTemplate>, 0, 0},
    {8, K::TemplateTypeRow, "FlagTemplate", nullptr, ENTITY_FLAG, 0},
    {8, K::ClassRegistration, "FlagEntity", &StaticInitRegister<FlagEntity>, 0, 0},
    {8, K::ClassRegistration, "GraphTemplate", &StaticInitRegister<GraphTemplate>, 0, 0},
    {8, K::TemplateTypeRow, "GraphTemplate", nullptr, ENTITY_GRAPH, 0},
    {8, K::ClassRegistration, "GraphEntity", &StaticInitRegister<GraphEntity>, 0, 0},
    {8, K::ClassRegistration, "InGameUITemplate", &StaticInitRegister<InGameUITemplate>, 0, 0},
    {8, K::TemplateTypeRow, "InGameUITemplate", nullptr, ENTITY_INGAMEUI, 0},
    {8, K::ClassRegistration, "InGameUIEntity", &StaticInitRegister<InGameUIEntity>, 0, 0},
    {8, K::ClassRegistration, "ColorEnvelopeTemplate", &StaticInitRegister<ColorEnvelopeTemplate>, 0, 0},
    {8, K::TemplateTypeRow, "ColorEnvelopeTemplate", nullptr, ENTITY_COLOR_ENVELOPE, 0},
    {8, K::ClassRegistration, "ColorEnvelopeEntity", &StaticInitRegister<ColorEnvelopeEntity>, 0, 0},
    {8, K::ClassRegistration, "VectorEnvelopeTemplate", &StaticInitRegister<VectorEnvelopeTemplate>, 0, 0},
    {8, K::TemplateTypeRow, "VectorEnvelopeTemplate", nullptr, ENTITY_VECTOR_ENVELOPE, 0},
    {8, K::ClassRegistration, "VectorEnvelopeEntity", &StaticInitRegister<VectorEnvelopeEntity>, 0, 0},
    {9, K::GlobalObject, "gMeshAnimationWorkspace", &StaticInitCreateGlobal<AnimationPoseWorkspace, gMeshAnimationWorkspace>, 0, 0},
    {11, K::Lock, "gParticleSystemListLock", &StaticInitCreateGlobal<CriticalSection, gParticleSystemListLock>, 0, 0},
    {11, K::ClassRegistration, "ParticleSystem", &StaticInitRegister<ParticleSystem>, 0, 0},
    {11, K::ClassRegistration, "ParticleTemplate", &StaticInitRegister<ParticleTemplate>, 0, 0},
    {11, K::TemplateTypeRow, "ParticleTemplate", nullptr, ENTITY_PARTICLE, 0},
    {11, K::ClassRegistration, "ParticleEntity", &StaticInitRegister<ParticleEntity>, 0, 0},
    {11, K::Lock, "gSFXDefinitionListLock", &StaticInitCreateGlobal<CriticalSection, gSFXDefinitionListLock>, 0, 0},
    {11, K::ClassRegistration, "SFXElementDefinition", &StaticInitRegister<SFXElementDefinition>, 0, 0},
    {11, K::ClassRegistration, "SFXDefinition", &StaticInitRegister<SFXDefinition>, 0, 0},
    {11, K::ClassRegistration, "SFXQuadElementDefinition", &StaticInitRegister<SFXQuadElementDefinition>, 0, 0},
    {11, K::ClassRegistration, "SFXParticleElementDefinition", &StaticInitRegister<SFXParticleElementDefinition>, 0, 0},
    {11, K::ClassRegistration, "SFXMeshElementDefinition", &StaticInitRegister<SFXMeshElementDefinition>, 0, 0},
    {11, K::ClassRegistration, "SFXPointLightElementDefinition", &StaticInitRegister<SFXPointLightElementDefinition>,
     0, 0},
    {11, K::ClassRegistration, "SFXSpotLightElementDefinition", &StaticInitRegister<SFXSpotLightElementDefinition>,
     0, 0},
    {11, K::ClassRegistration, "SFXSoundElementDefinition", &StaticInitRegister<SFXSoundElementDefinition>, 0, 0},
    {11, K::ClassRegistration, "SFXTemplate", &StaticInitRegister<SFXTemplate>, 0, 0},
    {11, K::TemplateTypeRow, "SFXTemplate", nullptr, ENTITY_SFX, 0},
    {11, K::ClassRegistration, "SFXEntity", &StaticInitRegister<SFXEntity>, 0, 0},
    {12, K::GlobalObject, "gSFXMeshAnimationWorkspace", &StaticInitCreateGlobal<AnimationPoseWorkspace, gSFXMeshAnimationWorkspace>, 0, 0},
    {12, K::ClassRegistration, "FlagEntityConnection", &StaticInitRegister<FlagEntityConnection>, 0, 0},
};

}  // namespace

void InstallSceneServices() {
    SetSceneContentServices(&gSceneLibraryContentServices);
    SetSceneDrawServices(&gSceneLibraryDrawServices);
    InstallMeshDeviceOwner();
    InstallParticleDeviceOwner();
    InstallSFXServices();
}

void ClearSceneServices() {
    ClearMeshDeviceOwner();
    ClearParticleDeviceOwner();
    ClearSFXServices();
    SetSceneContentServices(nullptr);
    SetSceneDrawServices(nullptr);
    MeshTemplate::SetFallbackShaderPreset(nullptr);
}

SceneContentServices& SceneLibraryContentServices() { return gSceneLibraryContentServices; }

SceneDrawServices& SceneLibraryDrawServices() { return gSceneLibraryDrawServices; }

const StaticInitTable kSceneStaticInit = {kSceneRows, sizeof(kSceneRows) / sizeof(kSceneRows[0])};
