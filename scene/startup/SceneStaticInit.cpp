// Start-up table of the scene library.
#include "scene/startup/SceneStaticInit.h"

#include "core/Sync.h"
#include "engine/services/EngineServices.h"
#include "scene/envelopes/Envelope.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleSystem.h"

namespace {

void ClearSceneHooksHandler(void*) { ClearSceneHooks(); }

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
    {8, K::ClassRegistration, "MeshTemplate", &StaticInitRegister<MeshTemplate>, 0, 0},
    {8, K::ClassRegistration, "MeshTemplateAnimationDefinition", &StaticInitRegister<MeshTemplateAnimationDefinition>,
     0, 0},
    {8, K::TemplateTypeRow, "MeshTemplate", nullptr, ENTITY_MESH, 0},
    {8, K::ClassRegistration, "MeshEntity", &StaticInitRegister<MeshEntity>, 0, 0},
    {11, K::Lock, "gParticleSystemListLock", &StaticInitCreateGlobal<CriticalSection, gParticleSystemListLock>, 0, 0},
    {11, K::ClassRegistration, "ParticleSystem", &StaticInitRegister<ParticleSystem>, 0, 0},
};

}  // namespace

void InstallSceneHooks() {
    gEngineServices.setMeshShaderPreset = &MeshTemplate::SetFallbackShaderPreset;
    gEngineServices.meshPlayerCollisionType = &MeshPlayerCollisionType;
    gEngineServices.meshCollisionData = &MeshCollisionDataOf;
    InstallMeshRenderHooks();
}

void ClearSceneHooks() {
    ClearMeshRenderHooks();
    gEngineServices.meshPlayerCollisionType = nullptr;
    gEngineServices.meshCollisionData = nullptr;
    gEngineServices.setMeshShaderPreset = nullptr;
    MeshTemplate::SetFallbackShaderPreset(nullptr);
}

const StaticInitTable kSceneStaticInit = {kSceneRows, sizeof(kSceneRows) / sizeof(kSceneRows[0])};
