#include "engine/script/LuaSandbox.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <lua.hpp>
#include <tolua++.h>

#include "core/math/MathHelpers.h"
#include "engine/script/LuaNumber.h"

namespace {

// Main thread only; the engine's own generators (gRandomGenerators) are separate.
RandomGenerator gScriptRandom;

constexpr const char* kRefusedChunk = "precompiled chunks are not accepted";

bool IsBinaryChunk(const char* text, size_t size) { return size > 0 && text[0] == LUA_SIGNATURE[0]; }

// What Lua's own loadstring and load answer: the function, or nil and the message.
int LoadResult(lua_State* L, int status) {
    if (status == 0) return 1;
    lua_pushnil(L);
    lua_insert(L, -2);
    return 2;
}

int LoadString(lua_State* L) {
    size_t size = 0;
    const char* text = luaL_checklstring(L, 1, &size);
    const char* chunkName = luaL_optstring(L, 2, text);
    if (IsBinaryChunk(text, size)) {
        lua_pushnil(L);
        lua_pushstring(L, kRefusedChunk);
        return 2;
    }
    return LoadResult(L, luaL_loadbuffer(L, text, size, chunkName));
}

// The reader of load(f): calls f for each piece (Lua's own rule: a string, or nil or ""
// for the end) and refuses a chunk whose first byte is the binary signature.
struct PieceReader {
    bool started = false;
};

const char* ReadPiece(lua_State* L, void* data, size_t* size) {
    auto* reader = static_cast<PieceReader*>(data);
    luaL_checkstack(L, 2, "too many nested functions");
    lua_pushvalue(L, 1);
    lua_call(L, 0, 1);
    if (lua_isnil(L, -1)) {
        *size = 0;
        return nullptr;
    }
    if (!lua_isstring(L, -1)) luaL_error(L, "reader function must return a string");
    lua_replace(L, 3);  // keeps the piece alive until the next read
    const char* piece = lua_tolstring(L, 3, size);
    if (!reader->started && *size > 0) {
        reader->started = true;
        if (IsBinaryChunk(piece, *size)) {
            lua_pushstring(L, kRefusedChunk);
            lua_error(L);
        }
    }
    return piece;
}

int Load(lua_State* L) {
    const char* chunkName = luaL_optstring(L, 2, "=(load)");
    luaL_checktype(L, 1, LUA_TFUNCTION);
    lua_settop(L, 3);  // slot 3 holds the current piece
    PieceReader reader;
    return LoadResult(L, lua_load(L, &ReadPiece, &reader, chunkName));
}

// The next 15-bit draw of the classic C library rule: the state steps first and the draw
// is bits 16 to 30 of the new state, so randomseed(s) gives the sequence a C library's
// srand(s) would.
uint32_t NextDraw() {
    gScriptRandom.Next();
    return (gScriptRandom.state[0] >> 16) & 0x7FFF;
}

int Random(lua_State* L) {
    const double r = double(NextDraw()) / 32768.0;
    switch (lua_gettop(L)) {
    case 0:
        lua_pushnumber(L, r);
        return 1;
    case 1: {
        const int32_t upper = ScriptNumber(luaL_checknumber(L, 1));
        luaL_argcheck(L, 1 <= upper, 1, "interval is empty");
        lua_pushnumber(L, std::floor(r * upper) + 1);
        return 1;
    }
    case 2: {
        const int32_t lower = ScriptNumber(luaL_checknumber(L, 1));
        const int32_t upper = ScriptNumber(luaL_checknumber(L, 2));
        luaL_argcheck(L, lower <= upper, 2, "interval is empty");
        lua_pushnumber(L, std::floor(r * (double(upper) - lower + 1)) + lower);
        return 1;
    }
    default:
        return luaL_error(L, "wrong number of arguments");
    }
}

int RandomSeed(lua_State* L) {
    const int32_t seed = ScriptNumber(luaL_checknumber(L, 1));
    gScriptRandom.SetState(static_cast<uint32_t>(seed));
    return 0;
}

void OpenLibrary(lua_State* L, lua_CFunction open, const char* name) {
    lua_pushcfunction(L, open);
    lua_pushstring(L, name);
    lua_call(L, 1, 0);
}

void SetField(lua_State* L, const char* table, const char* name, lua_CFunction function) {
    lua_getglobal(L, table);
    lua_pushcfunction(L, function);
    lua_setfield(L, -2, name);
    lua_pop(L, 1);
}

// Whether tolua++ records `ancestor` among the ancestors of the class whose metatable is
// at classTable (tolua_super[metatable] is a set of class names).
bool DerivesFrom(lua_State* L, int classTable, const char* ancestor) {
    lua_pushliteral(L, "tolua_super");
    lua_rawget(L, LUA_REGISTRYINDEX);
    bool found = false;
    if (lua_istable(L, -1)) {
        lua_pushvalue(L, classTable);
        lua_rawget(L, -2);
        if (lua_istable(L, -1)) {
            lua_getfield(L, -1, ancestor);
            found = lua_toboolean(L, -1);
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    return found;
}

// tolua.cast(value, class): the same object under a class of its own line (an ancestor or
// a descendant of the class it was pushed under); anything else gives nil.
int CheckedCast(lua_State* L) {
    const char* target = lua_tostring(L, 2);
    const bool typed = lua_type(L, 1) == LUA_TUSERDATA && lua_getmetatable(L, 1);
    void* object = typed ? *static_cast<void**>(lua_touserdata(L, 1)) : nullptr;
    if (!object || !target) {
        lua_pushnil(L);
        return 1;
    }
    const int currentTable = lua_gettop(L);
    lua_pushvalue(L, currentTable);
    lua_rawget(L, LUA_REGISTRYINDEX);  // the name of the class it was pushed under
    const char* current = lua_tostring(L, -1);
    luaL_getmetatable(L, target);
    const int targetTable = lua_gettop(L);
    const bool related = current && lua_istable(L, targetTable) &&
                         (std::strcmp(current, target) == 0 || DerivesFrom(L, currentTable, target) ||
                          DerivesFrom(L, targetTable, current));
    if (related)
        tolua_pushusertype(L, object, target);
    else
        lua_pushnil(L);
    return 1;
}

}  // namespace

void OpenScriptLibraries(lua_State* L) {
    OpenLibrary(L, luaopen_base, "");
    OpenLibrary(L, luaopen_table, LUA_TABLIBNAME);
    OpenLibrary(L, luaopen_string, LUA_STRLIBNAME);
    OpenLibrary(L, luaopen_math, LUA_MATHLIBNAME);
    OpenLibrary(L, luaopen_debug, LUA_DBLIBNAME);

    for (const char* absent : {"dofile", "loadfile"}) {
        lua_pushnil(L);
        lua_setglobal(L, absent);
    }
    lua_register(L, "loadstring", &LoadString);
    lua_register(L, "load", &Load);

    // The debug library keeps only its reading functions.
    lua_getglobal(L, LUA_DBLIBNAME);
    lua_createtable(L, 0, 4);
    for (const char* kept : {"traceback", "getinfo", "getlocal", "getupvalue"}) {
        lua_getfield(L, -2, kept);
        lua_setfield(L, -2, kept);
    }
    lua_setglobal(L, LUA_DBLIBNAME);
    lua_pop(L, 1);
    // luaopen_debug also registered the full table as a loaded module.
    lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
    lua_getglobal(L, LUA_DBLIBNAME);
    lua_setfield(L, -2, LUA_DBLIBNAME);
    lua_pop(L, 1);

    // tolua++'s module: no hand-over of an object's memory to the collector (or back), no
    // table posing as an object, and casts only along the object's class line.
    tolua_open(L);
    lua_getglobal(L, "tolua");
    for (const char* absent : {"takeownership", "releaseownership", "inherit"}) {
        lua_pushnil(L);
        lua_setfield(L, -2, absent);
    }
    lua_pop(L, 1);
    SetField(L, "tolua", "cast", &CheckedCast);

    SetField(L, LUA_MATHLIBNAME, "random", &Random);
    SetField(L, LUA_MATHLIBNAME, "randomseed", &RandomSeed);
    gScriptRandom.SetState(1);
}

void SetScriptRandomState(uint32_t state) { gScriptRandom.SetState(state); }
uint32_t ScriptRandomState() { return gScriptRandom.state[0]; }
