#pragma once
// Hand-written parts of the game's entity package: the mission selector's route element
// is made like the UI package's elements, so that one from new_local or the class call
// is the script's (released through its own Release when collected) and one from new is
// released by the script.
#include "bindings/manual/UI.h"
#include "game/path/ZKRMissionSelectorPathRenderer.h"

#define TOLUA_DISABLE_tolua_GameEntities_ZKRMissionSelectorPathRenderer_new00
#define TOLUA_DISABLE_tolua_GameEntities_ZKRMissionSelectorPathRenderer_new00_local

inline int tolua_GameEntities_ZKRMissionSelectorPathRenderer_new00(lua_State* L) {
    return LuaUINewElement(L, new ZKRMissionSelectorPathRenderer(), "ZKRMissionSelectorPathRenderer", false);
}
inline int tolua_GameEntities_ZKRMissionSelectorPathRenderer_new00_local(lua_State* L) {
    return LuaUINewElement(L, new ZKRMissionSelectorPathRenderer(), "ZKRMissionSelectorPathRenderer", true);
}
