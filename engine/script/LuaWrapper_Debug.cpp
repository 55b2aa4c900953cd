// Script host: the stack dump.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <lua.hpp>
#include <tolua++.h>

#include "core/Log.h"
#include "engine/script/LuaWrapper.h"

namespace {

constexpr size_t kDumpLineSize = 4096;

void PrintLine(LuaWrapper::LinePrinter print, void* context, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void PrintLine(LuaWrapper::LinePrinter print, void* context, const char* format, ...) {
    char line[kDumpLineSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    print(line, context);
}

// The value on the top. tolua++'s test leaves values behind for a userdata whose
// metatable is not a class's, so the stack is restored after it.
bool IsUserType(lua_State* L, const char* type) {
    const int top = lua_gettop(L);
    tolua_Error error;
    const bool is = tolua_isusertype(L, top, type, 0, &error) != 0;
    lua_settop(L, top);
    return is;
}

// The value text of the local on the top of the stack.
void ValueText(lua_State* L, char* out, size_t size) {
    constexpr const char* kUnsupported = "<unsupported yet>";
    switch (lua_type(L, -1)) {
    case LUA_TSTRING:
        std::snprintf(out, size, "%s", lua_tostring(L, -1));
        return;
    case LUA_TNUMBER:
        std::snprintf(out, size, LUA_NUMBER_FMT, lua_tonumber(L, -1));
        return;
    case LUA_TBOOLEAN:
        out[0] = 0;
        return;
    case LUA_TUSERDATA: {
        // Only bound objects carry an object pointer; an entity is not described.
        if (IsUserType(L, "Entity")) break;
        const bool vector = IsUserType(L, "Vector");
        if (!vector && !IsUserType(L, "Matrix")) break;
        const auto* f = static_cast<const float*>(tolua_tousertype(L, lua_gettop(L), nullptr));
        if (!f) break;  // a dead handle
        if (vector)
            std::snprintf(out, size, "[%f %f %f %f]", f[0], f[1], f[2], f[3]);
        else
            std::snprintf(out, size, "[%f %f %f %f],[%f %f %f %f],[%f %f %f %f],[%f %f %f %f]", f[0], f[1], f[2], f[3],
                          f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12], f[13], f[14], f[15]);
        return;
    }
    default:
        break;
    }
    std::snprintf(out, size, "%s", kUnsupported);
}

void LogDumpLine(const char* line, void*) {
    const size_t n = std::strlen(line);
    gLog.Warning(LogCategory::Script, "%.*s", static_cast<int>(n && line[n - 1] == '\n' ? n - 1 : n), line);
}

}  // namespace

void LuaWrapper::DumpStack(LinePrinter print, void* context) {
    if (!state || !print) return;
    lua_State* L = state;
    lua_Debug ar;
    for (int level = 0; lua_getstack(L, level, &ar); ++level) {
        lua_getinfo(L, "Sln", &ar);
        PrintLine(print, context, "(%d) %s: %s:%s %s [line: %d] [defined: %d]\n", level, ar.what, ar.namewhat,
                  ar.short_src, ar.name ? ar.name : "?", ar.currentline, ar.linedefined);
        for (int i = 1;; ++i) {
            const char* name = lua_getlocal(L, &ar, i);
            if (!name) break;
            char value[kDumpLineSize];
            ValueText(L, value, sizeof value);
            PrintLine(print, context, "\t(%d) %s - type %s - value %s\n", i, name, luaL_typename(L, -1), value);
            lua_pop(L, 1);
        }
    }
}

void LuaWrapper::DumpLuaStackToConsole() {
    if (!state) return;
    gLog.Warning(LogCategory::Script, "Lua stack dump:");
    DumpStack(&LogDumpLine, nullptr);
}
