#pragma once
// The game's script packages, opened into the host's state when the game's delegate
// registers its bindings (after the engine's packages), in this order: the entity
// package, the profile and camera package, the test package, the desktop package, then
// the game's native script functions (ScriptFunctions.h). The delegate then publishes itself as gGameDelegate.
//
// Threads: main thread, with the script host.
struct lua_State;

int tolua_GameEntities_open(lua_State* L);
int tolua_GameProfileCamera_open(lua_State* L);
int tolua_GameTest_open(lua_State* L);
int tolua_GameDesktop_open(lua_State* L);

void OpenGamePackages(lua_State* L);
