#include "scene/SceneEffectServices.h"

namespace {
SceneEffectServices gDefaultSceneEffectServices;
SceneEffectServices* gSceneEffectServices = &gDefaultSceneEffectServices;
}  // namespace

SceneEffectServices& GetSceneEffectServices() { return *gSceneEffectServices; }

void SetSceneEffectServices(SceneEffectServices* services) { gSceneEffectServices = services ? services : &gDefaultSceneEffectServices; }
