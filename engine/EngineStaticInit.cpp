// The engine library's start-up rows, merged with the other libraries' by module.
#include "engine/EngineStaticInit.h"

#include "engine/camera/Cameras.h"

namespace {

using K = StaticInitKind;

const StaticInitRow kEngineRows[] = {
    {5, K::BareClassRegistration, "BaseCamera", nullptr, 0, 0},
    {5, K::ClassRegistration, "YawPitchCamera", &StaticInitRegister<YawPitchCamera>, 0, 0},
    {5, K::ClassRegistration, "PerspectiveCamera", &StaticInitRegister<PerspectiveCamera>, 0, 0},
    {5, K::ClassRegistration, "TargetViewCamera", &StaticInitRegister<TargetViewCamera>, 0, 0},
    {5, K::ClassRegistration, "GameCameraControllerCamera", &StaticInitRegister<GameCameraControllerCamera>, 0, 0},
};

}  // namespace

const StaticInitTable kEngineStaticInit = {kEngineRows, sizeof(kEngineRows) / sizeof(kEngineRows[0])};
