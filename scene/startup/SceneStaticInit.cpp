// Start-up table of the scene library.
#include "scene/startup/SceneStaticInit.h"

#include "engine/services/EngineServices.h"
#include "scene/mesh/MeshTemplate.h"

namespace {

void ClearSceneHooksHandler(void*) { ClearSceneHooks(); }

void InstallSceneHooksRow() {
    InstallSceneHooks();
    PushExitHandler(&ClearSceneHooksHandler, nullptr);
}

using K = StaticInitKind;
const StaticInitRow kSceneRows[] = {
    {4, K::Constants, "gEngineServices (scene)", &InstallSceneHooksRow, 0, 0},
    {8, K::ClassRegistration, "MeshTemplate", &StaticInitRegister<MeshTemplate>, 0, 0},
    {8, K::ClassRegistration, "MeshTemplateAnimationDefinition", &StaticInitRegister<MeshTemplateAnimationDefinition>,
     0, 0},
    {8, K::TemplateTypeRow, "MeshTemplate", nullptr, ENTITY_MESH, 0},
};

}  // namespace

void InstallSceneHooks() { gEngineServices.setMeshShaderPreset = &MeshTemplate::SetFallbackShaderPreset; }

void ClearSceneHooks() {
    gEngineServices.setMeshShaderPreset = nullptr;
    MeshTemplate::SetFallbackShaderPreset(nullptr);
}

const StaticInitTable kSceneStaticInit = {kSceneRows, sizeof(kSceneRows) / sizeof(kSceneRows[0])};
