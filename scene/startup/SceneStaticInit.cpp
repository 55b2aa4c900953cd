// Start-up table of the scene library.
#include "scene/startup/SceneStaticInit.h"

#include "core/Sync.h"
#include "engine/services/EngineServices.h"
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
#include "scene/sfx/SFXHooks.h"
#include "scene/sequences/LuaSequenceAction.h"
#include "scene/sequences/SequenceActions.h"
#include "scene/sequences/SequenceSystem.h"

namespace {

void ClearSceneHooksHandler(void*) { ClearSceneHooks(); }

// The twelve built-in entries, after every action class is registered.
void RegisterBuiltInActionsRow() {
    if (gSequenceActionFactory) RegisterBuiltInSequenceActions(*gSequenceActionFactory);
}

void InstallSceneHooksRow() {
    InstallSceneHooks();
    PushExitHandler(&ClearSceneHooksHandler, nullptr);
}

using K = StaticInitKind;
const StaticInitRow kSceneRows[] = {
    {4, K::Constants, "gEngineServices (scene)", &InstallSceneHooksRow, 0, 0},
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

void InstallSceneHooks() {
    EngineServices& s = gEngineServices;
    s.setMeshShaderPreset = &MeshTemplate::SetFallbackShaderPreset;
    s.meshPlayerCollisionType = &MeshPlayerCollisionType;
    s.meshCollisionData = &MeshCollisionDataOf;
    InstallMeshRenderHooks();
    InstallMeshAnimationHooks();
    InstallParticleRenderHooks();
    InstallSFXHooks();
    s.sequenceSystem = [] { return gSequenceSystem; };
    s.sequenceSpawner = [] { return gSequenceSpawner; };
    s.sequenceActionFactory = [] { return gSequenceActionFactory; };
    s.sequenceSystemInit = [](EntityManager* m, bool enable) {
        if (gSequenceSystem) gSequenceSystem->Init(m, enable);
    };
    s.sequenceSystemTick = [] {
        if (gSequenceSystem) gSequenceSystem->Tick();
    };
    s.sequenceSystemStopAllSequences = [](bool clearSemaphores, bool deferred, const char* next) {
        if (gSequenceSystem) gSequenceSystem->StopAllSequences(clearSemaphores, deferred, next);
    };
    s.sequenceSystemClear = [] {
        if (gSequenceSystem) gSequenceSystem->Clear();
    };
    s.sequenceActionFactoryClear = [] {
        if (gSequenceActionFactory) gSequenceActionFactory->Clear();
    };
    s.sequenceSystemReadProperties = [](BoundedReader& in) { return ReadSequenceBlock(in); };
    InstallTriggerHooks();
    InstallSceneParametersHooks();
}

void ClearSceneHooks() {
    EngineServices& s = gEngineServices;
    ClearMeshRenderHooks();
    ClearMeshAnimationHooks();
    ClearParticleRenderHooks();
    ClearSFXHooks();
    s.meshPlayerCollisionType = nullptr;
    s.meshCollisionData = nullptr;
    s.setMeshShaderPreset = nullptr;
    MeshTemplate::SetFallbackShaderPreset(nullptr);
    s.sequenceSystem = nullptr;
    s.sequenceSpawner = nullptr;
    s.sequenceActionFactory = nullptr;
    s.sequenceSystemInit = nullptr;
    s.sequenceSystemTick = nullptr;
    s.sequenceSystemStopAllSequences = nullptr;
    s.sequenceSystemClear = nullptr;
    s.sequenceActionFactoryClear = nullptr;
    s.sequenceSystemReadProperties = nullptr;
    ClearTriggerHooks();
    ClearSceneParametersHooks();
}

const StaticInitTable kSceneStaticInit = {kSceneRows, sizeof(kSceneRows) / sizeof(kSceneRows[0])};
