#include "bindings/manual/game/GameDesktop.h"

#include <cstdint>

#include "bindings/frame/LuaBindingSupport.h"
#include "net/online/PCMacProgressData.h"

namespace {

const char* TextOrEmpty(lua_State* L, int index) { return lua_isstring(L, index) ? lua_tostring(L, index) : ""; }

int AreaEntry(lua_State* L, bool friends, const char* functionName) {
    const auto* self =
        static_cast<const PCMacAreaProgressData*>(LuaBindingReader{"PCMacAreaProgressData"}(L, 1, nullptr));
    if (LuaBindingRejected(L, !self, functionName)) return 0;
    const uint32_t index = ScriptNumber(lua_tonumber(L, 2));
    NameString name(TextOrEmpty(L, 3));
    int32_t value = ScriptNumber(lua_tonumber(L, 4));
    if (friends) {
        self->GetFriendEntry(index, &name, &value);
    } else {
        self->GetOtherEntry(index, &name, &value);
    }
    lua_pushstring(L, name.CStr());
    LuaBindingPushNumber(L, value);
    return 2;
}

}  // namespace

int ProgressBindingFriendEntry(lua_State* L) { return AreaEntry(L, true, "GetFriendEntry"); }
int ProgressBindingOtherEntry(lua_State* L) { return AreaEntry(L, false, "GetOtherEntry"); }

int ProgressBindingUserData(lua_State* L) {
    const auto* self = static_cast<const PCMacProgressData*>(LuaBindingReader{"PCMacProgressData"}(L, 1, nullptr));
    if (LuaBindingRejected(L, !self, "GetUserData")) return 0;
    uint32_t area = 0;
    int32_t value = ScriptNumber(lua_tonumber(L, 3));
    const bool found = self->GetUserData(&area, &value);
    lua_pushboolean(L, found);
    lua_pushstring(L, found ? self->userName.CStr() : TextOrEmpty(L, 2));
    LuaBindingPushNumber(L, value);
    return 3;
}

int ProgressBindingArea(lua_State* L) {
    const auto* self = static_cast<const PCMacProgressData*>(LuaBindingReader{"PCMacProgressData"}(L, 1, nullptr));
    if (LuaBindingRejected(L, !self, "GetArea")) return 0;
    PCMacAreaProgressData* area = self->GetArea(ScriptNumber(lua_tonumber(L, 2)));
    if (!area) {
        lua_pushnil(L);
        return 1;
    }
    LuaBindingPushObject(L, area, "PCMacAreaProgressData");
    LuaBindingKeepOwner(L, -1, 1);
    return 1;
}
