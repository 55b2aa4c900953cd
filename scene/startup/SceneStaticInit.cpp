// Start-up table of the scene library.
#include "scene/startup/SceneStaticInit.h"

namespace {

void ClearSceneHooksHandler(void*) { ClearSceneHooks(); }

void InstallSceneHooksRow() {
    InstallSceneHooks();
    PushExitHandler(&ClearSceneHooksHandler, nullptr);
}

using K = StaticInitKind;
const StaticInitRow kSceneRows[] = {
    {4, K::Constants, "gEngineServices (scene)", &InstallSceneHooksRow, 0, 0},
};

}  // namespace

void InstallSceneHooks() {}

void ClearSceneHooks() {}

const StaticInitTable kSceneStaticInit = {kSceneRows, sizeof(kSceneRows) / sizeof(kSceneRows[0])};
