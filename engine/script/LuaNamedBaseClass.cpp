#include "engine/script/LuaNamedBaseClass.h"

LuaNamedBaseClass::LuaNamedBaseClass(const char* className) : luaClassName(className) {}

void LuaNamedBaseClass::SetLuaClass(const char* className) { luaClassName = className; }

void LuaNamedBaseClass::SetLuaClassFromScript(const char* className) {
    if (nativeClassName.IsEmpty()) nativeClassName = luaClassName;
    luaClassName = className;
}
