#include "scene/SceneUIServices.h"

namespace {
SceneUIServices gDefaultSceneUIServices;
SceneUIServices* gSceneUIServices = &gDefaultSceneUIServices;
}  // namespace

SceneUIServices& GetSceneUIServices() { return *gSceneUIServices; }

void SetSceneUIServices(SceneUIServices* services) { gSceneUIServices = services ? services : &gDefaultSceneUIServices; }
