#pragma once
// Included first into every generated binding package (cmake: project_lua_package).
//
// Renames tolua++'s number conversions, number pushes and constants to the engine's
// versions, which apply the float rule of LuaNumber.h: conversions return a
// ScriptNumber (so the generated casts saturate), pushes and constants go through a
// 32-bit float. Nothing else in the generated code changes.
#include <tolua++.h>

#include "engine/script/LuaNumber.h"

ScriptNumber ScriptPackageToNumber(lua_State* L, int index, lua_Number fallback);
ScriptNumber ScriptPackageToFieldNumber(lua_State* L, int table, int index, lua_Number fallback);
void ScriptPackagePushNumber(lua_State* L, lua_Number value);
void ScriptPackagePushFieldNumber(lua_State* L, int table, int index, lua_Number value);
void ScriptPackageConstant(lua_State* L, const char* name, lua_Number value);

#define tolua_tonumber ScriptPackageToNumber
#define tolua_tofieldnumber ScriptPackageToFieldNumber
#define tolua_pushnumber ScriptPackagePushNumber
#define tolua_pushfieldnumber ScriptPackagePushFieldNumber
#define tolua_constant ScriptPackageConstant
