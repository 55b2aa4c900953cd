#include "render/SceneDrawServices.h"

namespace {
SceneDrawServices gDefaultSceneDrawServices;
SceneDrawServices* gSceneDrawServices = &gDefaultSceneDrawServices;
}  // namespace

SceneDrawServices& GetSceneDrawServices() { return *gSceneDrawServices; }

void SetSceneDrawServices(SceneDrawServices* services) { gSceneDrawServices = services ? services : &gDefaultSceneDrawServices; }
