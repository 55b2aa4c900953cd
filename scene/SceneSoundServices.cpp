#include "scene/SceneSoundServices.h"

namespace {
SceneSoundServices gDefaultSceneSoundServices;
SceneSoundServices* gSceneSoundServices = &gDefaultSceneSoundServices;
}  // namespace

SceneSoundServices& GetSceneSoundServices() { return *gSceneSoundServices; }

void SetSceneSoundServices(SceneSoundServices* services) { gSceneSoundServices = services ? services : &gDefaultSceneSoundServices; }
