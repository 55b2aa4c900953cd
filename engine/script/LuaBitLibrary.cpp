#include "engine/script/LuaBitLibrary.h"

#include <cmath>
#include <cstdint>
#include <lua.hpp>

#include "engine/script/LuaNumber.h"

// Every function here may raise a script error (longjmp): none keeps a C++ object with a
// destructor alive in its frame.
namespace {

uint32_t Arg(lua_State* L, int index) {
    const float f = static_cast<float>(luaL_checknumber(L, index));
    if (!std::isfinite(f)) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(ScriptFloatTo<int64_t>(f)));
}

int PushSigned(lua_State* L, uint32_t v) {
    lua_pushnumber(L, static_cast<float>(static_cast<int32_t>(v)));
    return 1;
}

int PushUnsigned(lua_State* L, uint32_t v) {
    lua_pushnumber(L, static_cast<float>(v));
    return 1;
}

int Bnot(lua_State* L) { return PushSigned(L, ~Arg(L, 1)); }

int Imod(lua_State* L) {
    const int32_t a = static_cast<int32_t>(Arg(L, 1));
    const int32_t b = static_cast<int32_t>(Arg(L, 2));
    if (b == 0) return luaL_argerror(L, 2, "zero divisor");
    if (b == -1) return PushSigned(L, 0);  // also INT_MIN % -1
    return PushSigned(L, static_cast<uint32_t>(a % b));
}

template <class Op>
int Fold(lua_State* L, Op op) {
    uint32_t v = Arg(L, 1);
    const int n = lua_gettop(L);
    for (int i = 2; i <= n; ++i) v = op(v, Arg(L, i));
    return PushSigned(L, v);
}

int Band(lua_State* L) { return Fold(L, [](uint32_t a, uint32_t b) { return a & b; }); }
int Bor(lua_State* L) { return Fold(L, [](uint32_t a, uint32_t b) { return a | b; }); }
int Bxor(lua_State* L) { return Fold(L, [](uint32_t a, uint32_t b) { return a ^ b; }); }

int Lshift(lua_State* L) { return PushSigned(L, Arg(L, 1) << (Arg(L, 2) & 31)); }
int Rshift(lua_State* L) { return PushUnsigned(L, Arg(L, 1) >> (Arg(L, 2) & 31)); }
int Arshift(lua_State* L) {
    return PushSigned(L, static_cast<uint32_t>(static_cast<int32_t>(Arg(L, 1)) >> (Arg(L, 2) & 31)));
}
int Bchg(lua_State* L) {
    const uint32_t a = Arg(L, 1), b = Arg(L, 2), c = Arg(L, 3);
    return PushUnsigned(L, (a & ~c) | b);
}

const luaL_Reg kFunctions[] = {{"bnot", Bnot},     {"imod", Imod},       {"band", Band},
                               {"bor", Bor},       {"bxor", Bxor},       {"lshift", Lshift},
                               {"rshift", Rshift}, {"arshift", Arshift}, {"bchg", Bchg},
                               {nullptr, nullptr}};

}  // namespace

void OpenBitLibrary(lua_State* L) {
    luaL_register(L, "bitlib", kFunctions);
    lua_pop(L, 1);
}
