#include "bindings/game/GamePackages.h"

#include "bindings/game/ScriptFunctions.h"

void OpenGamePackages(lua_State* L) {
    tolua_GameEntities_open(L);
    tolua_GameProfileCamera_open(L);
    tolua_GameTest_open(L);
    tolua_GameDesktop_open(L);
    RegisterGameScriptFunctions(L);
}
