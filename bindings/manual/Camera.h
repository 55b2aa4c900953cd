#pragma once
// Hand-written bindings of the camera package, included by its generated unit
// (bindings/pkg/Camera.pkg), each replacing the generated one of the same name.
//
// AddNewSubcontroller: the new subcontroller goes to the script under the class it
// reports (a strategy subcontroller with its own functions), through the host, whose
// handle dies with it; an unknown kind gives nil.
//
// The free cameras' `new`: the camera is the engine's, kept until the program ends
// (KeepCameraUntilExit); the script gets no collector and no delete for it.
#include <lua.hpp>

#include "bindings/frame/LuaBindingSupport.h"
#include "bindings/EntityBindings.h"
#include "engine/camera/CameraSubcontrollers.h"
#include "engine/camera/GameCameraController.h"
#include "engine/script/LuaNumber.h"
#include "engine/script/LuaWrapper.h"

#define TOLUA_DISABLE_tolua_Camera_GameCameraController_AddNewSubcontroller00
static int tolua_Camera_GameCameraController_AddNewSubcontroller00(lua_State* L) {
    auto* self = static_cast<GameCameraController*>(LuaBindingReader{"GameCameraController"}(L, 1, nullptr));
    const uint32_t kind = ScriptNumber(lua_tonumber(L, 2));
    if (LuaBindingRejected(L, !self, "GameCameraController.AddNewSubcontroller")) return 0;
    gLua.PushObject(self->AddNewSubcontroller(kind));
    return 1;
}

namespace camera_manual {

template <class T>
int NewLastingCamera(lua_State* L, const char* type) {
    T* camera = Mtolua_new((T)());
    KeepCameraUntilExit(camera);
    LuaBindingPushObject(L, camera, type);
    return 1;
}

}  // namespace camera_manual

#define TOLUA_DISABLE_tolua_Camera_PerspectiveCamera_new00
static int tolua_Camera_PerspectiveCamera_new00(lua_State* L) {
    return camera_manual::NewLastingCamera<PerspectiveCamera>(L, "PerspectiveCamera");
}

#define TOLUA_DISABLE_tolua_Camera_TargetViewCamera_new00
static int tolua_Camera_TargetViewCamera_new00(lua_State* L) {
    return camera_manual::NewLastingCamera<TargetViewCamera>(L, "TargetViewCamera");
}
