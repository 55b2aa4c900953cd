#include "engine/script/LuaHandleGuards.h"

#include <initializer_list>
#include <lua.hpp>

namespace {

// Registry keys: the shared metatable of dead handles, and the weak-keyed table mapping
// each dead handle to its class name. Their addresses are the keys.
char gDeadMetatableKey;
char gDeadNamesKey;

// tolua++'s own lookup event of class metatables (a static function of its library, the
// same for every state).
lua_CFunction gToluaClassIndex = nullptr;

// True when Lua's conversion of a string to a number (strtod after blanks, which also
// reads "inf", "nan" and signs) certainly fails: the name starts with a letter that
// begins no number word, or with an underscore.
bool CannotBeNumber(const char* name) {
    const char c = name[0];
    if (c == '_') return true;
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    return c != 'i' && c != 'I' && c != 'n' && c != 'N';
}

// Pushes the class name of the dead handle at index (a string, or nil).
void PushDeadName(lua_State* L, int index) {
    lua_pushlightuserdata(L, &gDeadNamesKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (!lua_istable(L, -1)) return;  // nil on the top
    lua_pushvalue(L, index);
    lua_rawget(L, -2);
    lua_remove(L, -2);
}

int DeadHandleEvent(lua_State* L) {
    PushDeadName(L, 1);
    const char* name = lua_tostring(L, -1);
    return luaL_error(L, "attempt to use a dead %s object", name ? name : "?");
}

// Pushes the metatable of dead handles, made on first use in the state.
void PushDeadMetatable(lua_State* L) {
    lua_pushlightuserdata(L, &gDeadMetatableKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_istable(L, -1)) return;
    lua_pop(L, 1);
    lua_createtable(L, 0, 4);
    for (const char* event : {"__index", "__newindex", "__call", "__len"}) {
        lua_pushcfunction(L, &DeadHandleEvent);
        lua_setfield(L, -2, event);
    }
    // A dead handle's metatable is not a script's to read or replace.
    lua_pushboolean(L, 0);
    lua_setfield(L, -2, "__metatable");
    lua_pushlightuserdata(L, &gDeadMetatableKey);
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);

    lua_pushlightuserdata(L, &gDeadNamesKey);
    lua_createtable(L, 0, 0);
    lua_createtable(L, 0, 1);
    lua_pushliteral(L, "k");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

}  // namespace

void MarkDeadLuaHandle(lua_State* L, int index, const char* className) {
    if (lua_type(L, index) != LUA_TUSERDATA) return;
    if (index < 0 && index > LUA_REGISTRYINDEX) index = lua_gettop(L) + index + 1;
    PushDeadMetatable(L);
    lua_setmetatable(L, index);
    lua_pushlightuserdata(L, &gDeadNamesKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    lua_pushvalue(L, index);
    lua_pushstring(L, className ? className : "?");
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

bool LuaIsDeadHandle(lua_State* L, int index) {
    if (lua_type(L, index) != LUA_TUSERDATA || !lua_getmetatable(L, index)) return false;
    lua_pushlightuserdata(L, &gDeadMetatableKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    const bool dead = lua_rawequal(L, -1, -2) != 0;
    lua_pop(L, 2);
    return dead;
}

const char* LuaDeadHandleClass(lua_State* L, int index) {
    if (!LuaIsDeadHandle(L, index)) return nullptr;
    if (index < 0 && index > LUA_REGISTRYINDEX) index = lua_gettop(L) + index + 1;
    PushDeadName(L, index);
    const char* name = lua_tostring(L, -1);  // the weak table keeps the string alive
    lua_pop(L, 1);
    return name;
}

namespace {
LuaDeferredWork gDeferredWork = nullptr;
}  // namespace

void SetLuaDeferredWork(LuaDeferredWork work) { gDeferredWork = work; }

void RunLuaDeferredWork() {
    if (gDeferredWork) gDeferredWork();
}

namespace {
char gNotedClassesKey;  // registry: object address -> class name it was pushed under

// Pushes the table of noted classes (made when create is set); false, pushing nothing,
// when there is none.
bool PushNotedClasses(lua_State* L, bool create) {
    lua_pushlightuserdata(L, &gNotedClassesKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_istable(L, -1)) return true;
    lua_pop(L, 1);
    if (!create) return false;
    lua_newtable(L);
    lua_pushlightuserdata(L, &gNotedClassesKey);
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
    return true;
}
}  // namespace

void NoteLuaHandleClass(lua_State* L, const void* object, const char* className) {
    if (!object || !className || !PushNotedClasses(L, true)) return;
    lua_pushlightuserdata(L, const_cast<void*>(object));
    lua_pushstring(L, className);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

bool TakeNotedLuaHandleClass(lua_State* L, const void* object) {
    if (!object || !PushNotedClasses(L, false)) return false;
    lua_pushlightuserdata(L, const_cast<void*>(object));
    lua_rawget(L, -2);
    if (lua_type(L, -1) != LUA_TSTRING) {
        lua_pop(L, 2);
        return false;
    }
    lua_pushlightuserdata(L, const_cast<void*>(object));
    lua_pushnil(L);
    lua_rawset(L, -4);
    lua_remove(L, -2);  // the table
    return true;
}

bool TakeCachedLuaHandle(lua_State* L, int metatableIndex, void* object, int handleIndex) {
    if (!lua_istable(L, metatableIndex)) return false;
    if (metatableIndex < 0 && metatableIndex > LUA_REGISTRYINDEX) metatableIndex = lua_gettop(L) + metatableIndex + 1;
    if (handleIndex < 0 && handleIndex > LUA_REGISTRYINDEX) handleIndex = lua_gettop(L) + handleIndex + 1;
    lua_pushliteral(L, "tolua_ubox");
    lua_rawget(L, metatableIndex);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        lua_pushliteral(L, "tolua_ubox");
        lua_rawget(L, LUA_REGISTRYINDEX);
        if (!lua_istable(L, -1)) {
            lua_pop(L, 1);
            return false;
        }
    }
    lua_pushlightuserdata(L, object);
    lua_rawget(L, -2);  // cache handle
    const bool take = lua_type(L, -1) == LUA_TUSERDATA && (handleIndex == 0 || lua_rawequal(L, -1, handleIndex));
    if (!take) {
        lua_pop(L, 2);
        return false;
    }
    lua_pushlightuserdata(L, object);
    lua_pushnil(L);
    lua_rawset(L, -4);
    lua_remove(L, -2);  // handle
    return true;
}

int LuaClassIndexEvent(lua_State* L) {
    // Stack: object key; the first upvalue is the class metatable. Every API call counts
    // here: this runs for every method call.
    if (lua_type(L, 2) == LUA_TSTRING && CannotBeNumber(lua_tostring(L, 2))) {
        lua_getfenv(L, 1);  // only a userdata without a peer has the registry here
        if (lua_rawequal(L, -1, LUA_REGISTRYINDEX)) {
            lua_pushvalue(L, 2);
            lua_rawget(L, lua_upvalueindex(1));
            if (!lua_isnil(L, -1)) return 1;
        }
        lua_settop(L, 2);
    }
    if (!gToluaClassIndex) {
        lua_pushnil(L);
        return 1;
    }
    return gToluaClassIndex(L);
}

void InstallLuaClassIndexEvent(lua_State* L, int metatableIndex) {
    if (!lua_istable(L, metatableIndex)) return;
    if (metatableIndex < 0 && metatableIndex > LUA_REGISTRYINDEX) metatableIndex = lua_gettop(L) + metatableIndex + 1;
    lua_pushliteral(L, "__index");
    lua_rawget(L, metatableIndex);
    const lua_CFunction current = lua_tocfunction(L, -1);
    lua_pop(L, 1);
    if (!current || current == &LuaClassIndexEvent) return;
    if (!gToluaClassIndex) gToluaClassIndex = current;
    if (current != gToluaClassIndex) return;  // a class with a lookup of its own
    lua_pushliteral(L, "__index");
    lua_pushvalue(L, metatableIndex);
    lua_pushcclosure(L, &LuaClassIndexEvent, 1);
    lua_rawset(L, metatableIndex);
}

int LuaReadOnlyAssignmentError(lua_State* L, const char* name) {
    return luaL_error(L, "attempt to assign to read-only variable '%s'", name ? name : "?");
}

namespace {
char gScriptClassesKey;
}  // namespace

void NoteScriptClass(lua_State* L, const char* className) {
    if (!className) return;
    lua_pushlightuserdata(L, &gScriptClassesKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        lua_newtable(L);
        lua_pushlightuserdata(L, &gScriptClassesKey);
        lua_pushvalue(L, -2);
        lua_rawset(L, LUA_REGISTRYINDEX);
    }
    lua_pushboolean(L, 1);
    lua_setfield(L, -2, className);
    lua_pop(L, 1);
}

bool IsScriptClass(lua_State* L, const char* className) {
    if (!className) return false;
    lua_pushlightuserdata(L, &gScriptClassesKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    bool script = false;
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, className);
        script = lua_toboolean(L, -1);
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    return script;
}
