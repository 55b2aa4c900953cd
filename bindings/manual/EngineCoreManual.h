#pragma once
// Hand-written bindings of the engine-core package, included by its generated unit
// (bindings/pkg/EngineCore.pkg), each replacing the generated one of the same name.
#include <lua.hpp>

#include "bindings/EngineBindings.h"
#include "bindings/frame/LuaBindingSupport.h"
#include "bindings/manual/UI.h"
#include "engine/script/LuaUnicodeString.h"

// Rows that are one binding under two names: the second name registers the first's
// function.
#define TOLUA_DISABLE_tolua_EngineCore_Game_Pause200
#define tolua_EngineCore_Game_Pause200 tolua_EngineCore_Game_Pause00
#define TOLUA_DISABLE_tolua_EngineCore_Game_PauseGameplay200
#define tolua_EngineCore_Game_PauseGameplay200 tolua_EngineCore_Game_PauseGameplay00
#define TOLUA_DISABLE_tolua_EngineCore_LUAConfigHelper_GetScreenScaleX00
#define tolua_EngineCore_LUAConfigHelper_GetScreenScaleX00 tolua_EngineCore_LUAConfigHelper_GetZoom00

// GameTimer.GetElapsedGameTime(since): two numbers, the game time since `since` and the
// timer's last delta (both in seconds). Chosen for a timer (or nil), a live Time and
// nothing after it; anything else is the form without arguments.
static int tolua_EngineCore_GameTimer_GetElapsedGameTime00(lua_State* tolua_S);

#define TOLUA_DISABLE_tolua_EngineCore_GameTimer_GetElapsedGameTime01
static int tolua_EngineCore_GameTimer_GetElapsedGameTime01(lua_State* L) {
    tolua_Error error;
    if (!tolua_isusertype(L, 1, "const GameTimer", 0, &error) || tolua_isvaluenil(L, 2, &error) ||
        !tolua_isusertype(L, 2, "const Time", 0, &error) || !tolua_isnoobj(L, 3, &error))
        return tolua_EngineCore_GameTimer_GetElapsedGameTime00(L);
    const auto* self = static_cast<const GameTimer*>(LuaBindingReader{"GameTimer", true}(L, 1, nullptr));
    const auto* since = static_cast<const Time*>(LuaBindingReader{"Time"}(L, 2, nullptr));
    if (LuaBindingRejected(L, !self || !since, "GameTimer.GetElapsedGameTime")) return 0;
    tolua_pushnumber(L, static_cast<lua_Number>(self->GetElapsedGameTime(*since)));
    tolua_pushnumber(L, static_cast<lua_Number>(self->GetElapsedGameTime()));
    return 2;
}

// LuaUnicodeString.Instance(text): UTF-16 text crosses as a light userdata, which the
// generated user-type test never accepts, so the copying form is chosen here: the class
// table, then a text pointer or nil, then nothing. Anything else is the empty form.
static int tolua_EngineCore_LuaUnicodeString_Instance00(lua_State* tolua_S);

#define TOLUA_DISABLE_tolua_EngineCore_LuaUnicodeString_Instance01
static int tolua_EngineCore_LuaUnicodeString_Instance01(lua_State* L) {
    tolua_Error error;
    if (!tolua_isusertable(L, 1, "LuaUnicodeString", 0, &error) || !(lua_islightuserdata(L, 2) || lua_isnil(L, 2)) ||
        !tolua_isnoobj(L, 3, &error))
        return tolua_EngineCore_LuaUnicodeString_Instance00(L);
    const unichar* text = static_cast<const unichar*>(LuaBindingReader{kLuaBindingUnicharType}(L, 2, nullptr));
    if (LuaBindingRejected(L, false, "LuaUnicodeString.Instance")) return 0;
    LuaUnicodeString* copy = Mtolua_new((LuaUnicodeString)(UnicodeStringInstance(text)));
    LuaBindingPushOwned(L, copy, "LuaUnicodeString");
    LuaBindingRegisterGc(L, lua_gettop(L));
    return 1;
}
