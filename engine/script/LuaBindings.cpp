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

}  // namespace

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
}
