#include "bindings/frame/LuaBindingSupport.h"

#include <cstring>
#include <lua.hpp>
#include <string>
#include <unordered_set>

#include "core/Log.h"
#include "engine/script/LuaHandleGuards.h"
#include "engine/script/LuaUnicodeRegistry.h"

#undef tolua_register_gc
#undef tolua_cclass
#undef tolua_function

namespace {

// Registry key of the weak-keyed table view -> owner.
char gViewOwnersKey;

// Function names already warned about (one warning each).
std::unordered_set<std::string>& WarnedFunctions() {
    static auto* names = new std::unordered_set<std::string>();
    return *names;
}

// "const T" -> "T" (a pointer into the name; the rest is the class name).
const char* PlainType(const char* type) {
    if (type && type[0] == 'c' && std::strncmp(type, "const ", 6) == 0) return type + 6;
    return type;
}

bool IsUnicharType(const char* type) { return type[0] == 'u' && std::strcmp(type, kLuaBindingUnicharType) == 0; }

// Whether tolua++'s name of a class (n characters, "T" or "const T") names the class
// `type`. Compared in line: this runs for every object argument of every call.
bool NamesClass(const char* name, size_t n, const char* type) {
    if (n > 6 && std::memcmp(name, "const ", 6) == 0) {
        name += 6;
        n -= 6;
    }
    for (size_t i = 0; i < n; ++i)
        if (type[i] != name[i]) return false;  // also stops at the end of a shorter type
    return type[n] == 0;
}

// True when the class of the userdata at index is `type` or one of its registered
// subclasses (tolua++'s tolua_super table maps a class name to its bases).
bool IsOfClass(lua_State* L, int index, const char* type) {
    if (!lua_getmetatable(L, index)) return false;
    lua_rawget(L, LUA_REGISTRYINDEX);  // the class name
    size_t n = 0;
    const char* name = lua_type(L, -1) == LUA_TSTRING ? lua_tolstring(L, -1, &n) : nullptr;
    if (!name) {
        lua_pop(L, 1);
        return false;
    }
    if (NamesClass(name, n, type)) {
        lua_pop(L, 1);
        return true;
    }
    lua_pushliteral(L, "tolua_super");
    lua_rawget(L, LUA_REGISTRYINDEX);
    bool found = false;
    if (lua_istable(L, -1)) {
        lua_getmetatable(L, index);
        lua_rawget(L, -2);  // the bases of the class
        if (lua_istable(L, -1)) {
            lua_getfield(L, -1, type);
            found = lua_toboolean(L, -1) != 0;
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
    }
    lua_pop(L, 2);
    return found;
}

}  // namespace

bool gLuaBindingDeadArgument = false;

void* operator new(size_t size, LuaBindingAllocTag) noexcept { return EngineAlloc(size); }
void operator delete(void* block, LuaBindingAllocTag) noexcept { EngineFree(block); }

void* LuaBindingRawObject(lua_State* L) {
    if (lua_type(L, 1) != LUA_TUSERDATA) return nullptr;
    return *static_cast<void**>(lua_touserdata(L, 1));
}

void* LuaBindingReader::Read(lua_State* L, int index, const void* fallback) const {
    const char* plain = PlainType(type);
    switch (lua_type(L, index)) {
    case LUA_TUSERDATA:
        // A live object of the class is the common case; a dead handle has no class.
        if (IsOfClass(L, index, plain)) return *static_cast<void**>(lua_touserdata(L, index));
        if (!IsUnicharType(plain) && LuaIsDeadHandle(L, index)) gLuaBindingDeadArgument = true;
        return nullptr;
    case LUA_TLIGHTUSERDATA:
        // A UTF-16 pointer is a light userdata; it reaches a native only as the start of
        // a live buffer of the host's registry.
        if (!IsUnicharType(plain)) return nullptr;
        return const_cast<char16_t*>(CheckedLuaUnicodeBuffer(lua_touserdata(L, index)));
    case LUA_TNONE:  // past the last argument
        return const_cast<void*>(fallback);
    default:
        return nullptr;
    }
}

bool LuaBindingReject(const char* functionName) {
    if (WarnedFunctions().insert(functionName).second)
        gLog.Warning(LogCategory::Script, "%s - called without a live object where one is needed; call ignored",
                     functionName);
    return true;
}

void LuaBindingPushOwned(lua_State* L, void* object, const char* type) {
    if (!object) {
        lua_pushnil(L);
        return;
    }
    tolua_pushusertype(L, object, PlainType(type));
}

void LuaBindingPushObject(lua_State* L, void* object, const char* type) {
    type = PlainType(type);
    if (!object) {
        lua_pushnil(L);
        return;
    }
    if (std::strcmp(type, kLuaBindingUnicharType) == 0) {
        lua_pushlightuserdata(L, object);
        return;
    }
    luaL_getmetatable(L, type);
    const bool known = lua_istable(L, -1);
    lua_pop(L, 1);
    if (!known) {
        lua_pushnil(L);  // tolua++ would push nothing and unbalance the results
        return;
    }
    tolua_pushusertype(L, object, type);
}

namespace {

// Whether `name` is `native` or one of its ancestors in the classes' Lua chains.
bool IsClassOrAncestor(lua_State* L, int super, const char* name, const char* native) {
    if (std::strcmp(name, native) == 0) return true;
    luaL_getmetatable(L, native);
    lua_rawget(L, super);  // native's ancestors
    bool found = false;
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, name);
        found = lua_toboolean(L, -1);
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    return found;
}

// Whether an object that natively is `native` may be pushed as `own`: own is registered,
// derives from type, and every bound (not script) class among own and its ancestors is
// native or one of native's ancestors, so no bound function of a class the object is not
// can run on it.
bool FitsObject(lua_State* L, const char* own, const char* type, const char* native) {
    const int top = lua_gettop(L);
    luaL_getmetatable(L, own);
    lua_pushliteral(L, "tolua_super");
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (!lua_istable(L, top + 1) || !lua_istable(L, top + 2)) {
        lua_settop(L, top);
        return false;
    }
    const int super = top + 2;
    lua_pushvalue(L, top + 1);
    lua_rawget(L, super);  // own's ancestors
    bool fits = lua_istable(L, -1);
    if (fits) {
        lua_getfield(L, -1, type);
        fits = lua_toboolean(L, -1) && (IsScriptClass(L, own) || IsClassOrAncestor(L, super, own, native));
        lua_pop(L, 1);
    }
    if (fits) {
        for (lua_pushnil(L); lua_next(L, top + 3);) {
            lua_pop(L, 1);  // the value; the key stays for the next step
            // tolua++ also lists each class's "const" twin, and an empty name.
            const char* ancestor = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "";
            if (!*ancestor || std::strncmp(ancestor, "const ", 6) == 0) continue;
            if (!IsScriptClass(L, ancestor) && !IsClassOrAncestor(L, super, ancestor, native)) {
                fits = false;
                break;
            }
        }
    }
    lua_settop(L, top);
    return fits;
}

}  // namespace

const char* LuaBindingScriptClass(lua_State* L, const LuaBaseClass* object, const char* type) {
    // The object's own class only where it fits what the object natively is: a name from
    // elsewhere (or unknown), or a bound class the object is not, would let methods of
    // another class run on the object.
    const char* own = object->GetScriptClassName();
    if (!own || !type) return type;
    const char* native = object->GetNativeScriptClassName();
    if (!native || !*native) native = type;
    // The static type is what the native code holds, so the object is one.
    const bool fits = std::strcmp(own, type) == 0 || FitsObject(L, own, type, native);
    // Noted, as the object may report another class by the time it is destroyed.
    NoteLuaHandleClass(L, object, fits ? own : type);
    return fits ? own : type;
}

void LuaBindingRegisterGc(lua_State* L, int index) {
    if (lua_type(L, index) != LUA_TUSERDATA || !*static_cast<void**>(lua_touserdata(L, index))) return;
    tolua_register_gc(L, index < 0 ? lua_gettop(L) + index + 1 : index);
}

void LuaBindingKeepOwner(lua_State* L, int index, int ownerIndex) {
    if (lua_type(L, ownerIndex) != LUA_TUSERDATA || lua_type(L, index) != LUA_TUSERDATA) return;
    if (index < 0) index = lua_gettop(L) + index + 1;
    if (ownerIndex < 0) ownerIndex = lua_gettop(L) + ownerIndex + 1;
    lua_pushlightuserdata(L, &gViewOwnersKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        lua_createtable(L, 0, 0);
        lua_createtable(L, 0, 1);
        lua_pushliteral(L, "k");
        lua_setfield(L, -2, "__mode");
        lua_setmetatable(L, -2);
        lua_pushlightuserdata(L, &gViewOwnersKey);
        lua_pushvalue(L, -2);
        lua_rawset(L, LUA_REGISTRYINDEX);
    }
    lua_pushvalue(L, index);
    lua_pushvalue(L, ownerIndex);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

void LuaBindingDelete(lua_State* L, const char* functionName) {
    if (lua_type(L, 1) != LUA_TUSERDATA || LuaIsDeadHandle(L, 1)) return;
    void* object = *static_cast<void**>(lua_touserdata(L, 1));
    if (!object) return;  // deleted already
    // Off the collector's list first, so the collection of the handle frees nothing.
    lua_pushliteral(L, "tolua_gc");
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_istable(L, -1)) {
        lua_pushlightuserdata(L, object);
        lua_pushnil(L);
        lua_rawset(L, -3);
    }
    lua_pop(L, 1);
    lua_getmetatable(L, 1);
    lua_pushliteral(L, ".collector");
    lua_rawget(L, -2);
    if (lua_isfunction(L, -1)) {
        lua_pushvalue(L, 1);
        lua_call(L, 1, 0);
    } else {
        lua_pop(L, 2);
        gLog.Warning(LogCategory::Script, "%s - the class has no collector; object kept", functionName);
        return;
    }
    // The metatable is still on the stack.
    if (TakeCachedLuaHandle(L, -1, object, 1)) lua_pop(L, 1);
    lua_pop(L, 1);
    *static_cast<void**>(lua_touserdata(L, 1)) = nullptr;
}

void LuaBindingClass(lua_State* L, const char* lname, const char* name, const char* base, lua_CFunction collector) {
    tolua_cclass(L, lname, name, base, collector);
    luaL_getmetatable(L, name);
    InstallLuaClassIndexEvent(L, -1);
    lua_pop(L, 1);
    lua_pushliteral(L, "const ");
    lua_pushstring(L, name);
    lua_concat(L, 2);
    lua_rawget(L, LUA_REGISTRYINDEX);
    InstallLuaClassIndexEvent(L, -1);
    lua_pop(L, 1);
}

void LuaBindingFunction(lua_State* L, const char* name, lua_CFunction function) {
    lua_pushstring(L, name);
    lua_pushvalue(L, -2);
    lua_pushcclosure(L, function, 1);
    lua_rawset(L, -3);
}
