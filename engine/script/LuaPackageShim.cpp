// The number shim of the generated binding packages (see LuaPackageShim.h). This file
// sees tolua++'s own functions: it does not include the renaming header.
#include <tolua++.h>

#include "engine/script/LuaNumber.h"

ScriptNumber ScriptPackageToNumber(lua_State* L, int index, lua_Number fallback) {
    return ScriptNumber(tolua_tonumber(L, index, fallback));
}

ScriptNumber ScriptPackageToFieldNumber(lua_State* L, int table, int index, lua_Number fallback) {
    return ScriptNumber(tolua_tofieldnumber(L, table, index, fallback));
}

void ScriptPackagePushNumber(lua_State* L, lua_Number value) { tolua_pushnumber(L, ScriptPushValue(value)); }

void ScriptPackagePushFieldNumber(lua_State* L, int table, int index, lua_Number value) {
    tolua_pushfieldnumber(L, table, index, ScriptPushValue(value));
}

void ScriptPackageConstant(lua_State* L, const char* name, lua_Number value) {
    tolua_constant(L, name, ScriptPushValue(value));
}
