#include "bindings/BindingsStaticInit.h"

#include "engine/script/LuaBindings.h"
#include "game/delegate/GameBindingPackages.h"

// The generated open functions (bindings/pkg/*.pkg).
int tolua_EngineCore_open(lua_State* L);
int tolua_Math_open(lua_State* L);
int tolua_InputConstants_open(lua_State* L);
int tolua_Camera_open(lua_State* L);
int tolua_CharacterController_open(lua_State* L);
int tolua_Sound_open(lua_State* L);
int tolua_Video_open(lua_State* L);
int tolua_Entity_open(lua_State* L);
int tolua_UI_open(lua_State* L);
int tolua_Multiplayer_open(lua_State* L);
int tolua_GameDelegate_open(lua_State* L);
// The game's packages (bindings/pkg/game/*.pkg) and its native script functions
// (bindings/game/ScriptFunctions.h, a layer above this table).
int tolua_GameEntities_open(lua_State* L);
int tolua_GameProfileCamera_open(lua_State* L);
int tolua_GameTest_open(lua_State* L);
int tolua_GameDesktop_open(lua_State* L);
int RegisterGameScriptFunctions(lua_State* L);

namespace {

// One line per package; the host opens them by order, whatever the order here.
void RegisterPackages() {
    RegisterLuaBindingPackage(LUA_PACKAGE_ENGINE_CORE, &tolua_EngineCore_open);
    RegisterLuaBindingPackage(LUA_PACKAGE_MATH, &tolua_Math_open);
    RegisterLuaBindingPackage(LUA_PACKAGE_INPUT_CONSTANTS, &tolua_InputConstants_open);
    RegisterLuaBindingPackage(LUA_PACKAGE_CAMERA, &tolua_Camera_open);
    RegisterLuaBindingPackage(LUA_PACKAGE_CHARACTER_CONTROLLER, &tolua_CharacterController_open);
    RegisterLuaBindingPackage(LUA_PACKAGE_SOUND, &tolua_Sound_open);
    RegisterLuaBindingPackage(LUA_PACKAGE_VIDEO, &tolua_Video_open);
    RegisterLuaBindingPackage(LUA_PACKAGE_ENTITY, &tolua_Entity_open);
    RegisterLuaBindingPackage(LUA_PACKAGE_USER_INTERFACE, &tolua_UI_open);
    RegisterLuaBindingPackage(LUA_PACKAGE_MULTIPLAYER, &tolua_Multiplayer_open);
    RegisterLuaBindingPackage(LUA_PACKAGE_GAME_DELEGATE, &tolua_GameDelegate_open);
}

// The game's packages go to the game's list, not the host's: the game's delegate opens
// them when it registers its bindings, after the engine's packages, in this order.
void RegisterGamePackages() {
    RegisterGameBindingPackage(1, &tolua_GameEntities_open);
    RegisterGameBindingPackage(2, &tolua_GameProfileCamera_open);
    RegisterGameBindingPackage(3, &tolua_GameTest_open);
    RegisterGameBindingPackage(4, &tolua_GameDesktop_open);
    RegisterGameBindingPackage(5, &RegisterGameScriptFunctions);
    PushExitHandler([](void*) { ClearGameBindingPackages(); }, nullptr);
}

const StaticInitRow kBindingsRows[] = {
    {13, StaticInitKind::GlobalObject, "ScriptBindingPackages", &RegisterPackages, 0, 0},
    {13, StaticInitKind::GlobalObject, "GameBindingPackages", &RegisterGamePackages, 0, 0},
};

}  // namespace

const StaticInitTable kBindingsStaticInit = {kBindingsRows, sizeof kBindingsRows / sizeof kBindingsRows[0]};
