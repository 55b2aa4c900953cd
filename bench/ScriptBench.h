#pragma once
// The script benchmarks' start: the program's ordered start-up and the script host, once per
// process.
#include <lua.hpp>

#include <chrono>

#include "engine/script/LuaWrapper.h"
#include "tests/support/ProgramStaticInit.h"

namespace benchsupport {

inline void StartScriptHost() {
    static const bool started = [] {
        RunProgramStaticInit();
        gLua.Init();
        return true;
    }();
    (void)started;
}

// Compiles a loop once (LUA_NOREF when it does not compile); RunLoop runs it and answers
// its nanoseconds, clearing ok when it fails.
inline int CompileLoop(lua_State* L, const char* loop) {
    if (luaL_loadstring(L, loop) != 0) return LUA_NOREF;
    return luaL_ref(L, LUA_REGISTRYINDEX);
}

inline double RunLoop(lua_State* L, int ref, bool* ok) {
    const auto start = std::chrono::steady_clock::now();
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
    *ok = lua_pcall(L, 0, 0, 0) == 0 && *ok;
    if (!*ok) lua_settop(L, 0);
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace benchsupport
