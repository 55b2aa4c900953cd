#include "engine/services/SceneContentServices.h"

namespace {
SceneContentServices gDefaultSceneContentServices;
SceneContentServices* gSceneContentServices = &gDefaultSceneContentServices;
}  // namespace

SceneContentServices& GetSceneContentServices() { return *gSceneContentServices; }

void SetSceneContentServices(SceneContentServices* services) { gSceneContentServices = services ? services : &gDefaultSceneContentServices; }
