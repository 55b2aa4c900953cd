// Start-up table of the engine.
#include "engine/EngineStaticInit.h"

#include "engine/camera/CameraSubcontrollers.h"
#include "engine/camera/Cameras.h"
#include "engine/script/LuaWrapper.h"

namespace {

bool gLuaWrapperBuilt = false;

// The script host object (its state is made later, by engine start-up). Built after the
// small-object pools of the same module, so it is destroyed, closing any state still
// open, before they are.
void CreateScriptHost() {
    if (gLuaWrapperBuilt) return;
    CreateGlobalLuaWrapper();
    gLuaWrapperBuilt = true;
    PushExitHandler(
        [](void*) {
            DestroyGlobalLuaWrapper();
            gLuaWrapperBuilt = false;
        },
        nullptr);
}

using K = StaticInitKind;

const StaticInitRow kEngineRows[] = {
    {2, K::BareClassRegistration, "LCBaseCameraSubcontroller", nullptr, 0, 0},
    {5, K::BareClassRegistration, "BaseCamera", nullptr, 0, 0},
    {5, K::ClassRegistration, "YawPitchCamera", &StaticInitRegister<YawPitchCamera>, 0, 0},
    {5, K::ClassRegistration, "PerspectiveCamera", &StaticInitRegister<PerspectiveCamera>, 0, 0},
    {5, K::ClassRegistration, "TargetViewCamera", &StaticInitRegister<TargetViewCamera>, 0, 0},
    {5, K::ClassRegistration, "GameCameraControllerCamera", &StaticInitRegister<GameCameraControllerCamera>, 0, 0},
    {5, K::ClassRegistration, "LCRTSCameraSubcontroller", &StaticInitRegister<LCRTSCameraSubcontroller>, 0, 0},
    {9, K::GlobalObject, "gLua", &CreateScriptHost, 0, 0},
};

}  // namespace

const StaticInitTable kEngineStaticInit = {kEngineRows, sizeof(kEngineRows) / sizeof(kEngineRows[0])};
