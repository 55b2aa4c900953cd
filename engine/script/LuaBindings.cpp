#include "engine/script/LuaBindings.h"

#include <lua.hpp>
#include <tolua++.h>

#include "core/Log.h"
#include "core/StaticInit.h"

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

// The assignment event of a class metatable. Upvalue 1: tolua++'s own event.
int ClassFieldAssignment(lua_State* L) {
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
}
