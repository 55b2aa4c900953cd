#include "engine/script/LuaBindings.h"

#include <lua.hpp>
#include <tolua++.h>

#include "core/Log.h"
#include "core/StaticInit.h"
#include "engine/script/LuaHandleGuards.h"

namespace {

struct Package {
    uint32_t order;
    LuaPackageOpenFunction open;
};

Package gPackages[kMaxLuaBindingPackages];
uint32_t gPackageCount = 0;

void Unregister(void* context) {
    const auto open = reinterpret_cast<LuaPackageOpenFunction>(context);
    uint32_t kept = 0;
    for (uint32_t i = 0; i < gPackageCount; ++i)
        if (gPackages[i].open != open) gPackages[kept++] = gPackages[i];
    gPackageCount = kept;
}

// Stack: t key value. True when the string key names a bound variable that has a getter
// and no setter, looked up as tolua++ does: in t itself when t is a table (a class or
// module), then along the metatable chain.
bool IsReadOnlyVariable(lua_State* L) {
    if (lua_type(L, 2) != LUA_TSTRING) return false;
    const int top = lua_gettop(L);
    if (lua_istable(L, 1))
        lua_pushvalue(L, 1);
    else if (!lua_getmetatable(L, 1))
        return false;
    bool readOnly = false;
    for (int depth = 0; depth < 64 && lua_istable(L, -1); ++depth) {
        lua_pushliteral(L, ".set");
        lua_rawget(L, -2);
        if (lua_istable(L, -1)) {
            lua_pushvalue(L, 2);
            lua_rawget(L, -2);
            const bool settable = !lua_isnil(L, -1);
            lua_pop(L, 1);
            if (settable) break;
        }
        lua_pop(L, 1);
        lua_pushliteral(L, ".get");
        lua_rawget(L, -2);
        if (lua_istable(L, -1)) {
            lua_pushvalue(L, 2);
            lua_rawget(L, -2);
            readOnly = !lua_isnil(L, -1);
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
        if (readOnly) break;
        if (!lua_getmetatable(L, -1)) break;
        lua_remove(L, -2);
    }
    lua_settop(L, top);
    return readOnly;
}

// The assignment event of a class metatable (and of the global table's). Upvalue 1:
// tolua++'s own event. A read-only variable (a class constant, a variable without a
// setter) raises an error instead of being shadowed by a plain field.
int ClassFieldAssignment(lua_State* L) {
    if (IsReadOnlyVariable(L)) return LuaReadOnlyAssignmentError(L, lua_tostring(L, 2));
    if (lua_type(L, 1) != LUA_TTABLE) {
        lua_pushvalue(L, lua_upvalueindex(1));
        lua_insert(L, 1);
        lua_call(L, 3, 0);
        return 0;
    }
    lua_pushliteral(L, ".set");
    lua_rawget(L, 1);
    if (lua_istable(L, -1)) {
        lua_pushvalue(L, 2);
        lua_rawget(L, -2);
        if (lua_iscfunction(L, -1)) {
            lua_pushvalue(L, 1);
            lua_pushvalue(L, 3);
            lua_call(L, 2, 0);
            return 0;
        }
    }
    lua_settop(L, 3);
    lua_rawset(L, 1);
    return 0;
}

// The assignment event of the global table once a package bound global variables.
// Upvalue 1: tolua++'s module event, which stores anything without a setter as a plain
// global and so would shadow a read-only variable silently.
int GlobalAssignment(lua_State* L) {
    if (IsReadOnlyVariable(L)) return LuaReadOnlyAssignmentError(L, lua_tostring(L, 2));
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, 3, 0);
    return 0;
}

void GuardGlobalAssignment(lua_State* L) {
    if (!lua_getmetatable(L, LUA_GLOBALSINDEX)) return;
    lua_pushliteral(L, "__newindex");
    lua_rawget(L, -2);
    const lua_CFunction event = lua_tocfunction(L, -1);
    if (!event || event == &GlobalAssignment) {
        lua_pop(L, 2);
        return;
    }
    lua_pushcclosure(L, &GlobalAssignment, 1);
    lua_pushliteral(L, "__newindex");
    lua_insert(L, -2);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

// Stack: ... class metatable. Wraps its tolua++ assignment event once.
void RepairMetatable(lua_State* L) {
    lua_pushliteral(L, "__newindex");
    lua_rawget(L, -2);
    const lua_CFunction event = lua_tocfunction(L, -1);
    if (!event || event == &ClassFieldAssignment) {
        lua_pop(L, 1);
        return;
    }
    lua_pushcclosure(L, &ClassFieldAssignment, 1);
    lua_pushliteral(L, "__newindex");
    lua_insert(L, -2);
    lua_rawset(L, -3);
}

// Stack: ... key value (a registry entry). True for a tolua++ class metatable, which the
// registry also maps back to its name.
bool IsClassMetatable(lua_State* L) {
    if (lua_type(L, -2) != LUA_TSTRING || !lua_istable(L, -1)) return false;
    lua_pushvalue(L, -1);
    lua_rawget(L, LUA_REGISTRYINDEX);
    const bool named = lua_rawequal(L, -1, -3);
    lua_pop(L, 1);
    return named;
}

}  // namespace

void RepairClassFieldAssignment(lua_State* L, const char* className) {
    if (!L) return;
    if (className) {
        lua_pushstring(L, className);
        lua_pushvalue(L, -1);
        lua_rawget(L, LUA_REGISTRYINDEX);
        if (IsClassMetatable(L)) RepairMetatable(L);
        lua_pop(L, 2);
        return;
    }
    lua_pushnil(L);
    while (lua_next(L, LUA_REGISTRYINDEX)) {
        if (IsClassMetatable(L)) RepairMetatable(L);
        lua_pop(L, 1);
    }
}

bool RegisterLuaBindingPackage(uint32_t order, LuaPackageOpenFunction open) {
    if (!open) return false;
    for (uint32_t i = 0; i < gPackageCount; ++i) {
        if (gPackages[i].open == open) {
            gLog.Error(LogCategory::Script, "RegisterLuaBindingPackage - package of order %u registered twice", order);
            return false;
        }
    }
    if (gPackageCount == kMaxLuaBindingPackages) {
        gLog.Error(LogCategory::Script, "RegisterLuaBindingPackage - more than %u packages", kMaxLuaBindingPackages);
        return false;
    }
    uint32_t at = gPackageCount;  // after every package of the same or a lower order
    while (at > 0 && gPackages[at - 1].order > order) {
        gPackages[at] = gPackages[at - 1];
        --at;
    }
    gPackages[at] = {order, open};
    ++gPackageCount;
    PushExitHandler(&Unregister, reinterpret_cast<void*>(open));
    return true;
}

uint32_t LuaBindingPackageCount() { return gPackageCount; }

void OpenAllLuaBindings(lua_State* state) {
    if (!state) return;
    tolua_open(state);
    for (uint32_t i = 0; i < gPackageCount; ++i) {
        const int top = lua_gettop(state);
        gPackages[i].open(state);
        lua_settop(state, top);
    }
    RepairClassFieldAssignment(state);
    GuardGlobalAssignment(state);
}
