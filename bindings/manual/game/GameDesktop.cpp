#include "bindings/manual/game/GameDesktop.h"

#include <cstdint>
#include <lua.hpp>
#include <vector>

#include "bindings/frame/LuaBindingSupport.h"
#include "core/Log.h"
#include "engine/script/LuaWrapper.h"
#include "game/delegate/PCMacGameDelegate.h"
#include "net/online/GamerProfile.h"
#include "net/online/PCMacProgressAnalyzer.h"
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

constexpr const char* kProgressAreaClass = "PCMacAreaProgressData";

std::vector<const PCMacAreaProgressData*> ProgressAreasOf(const PCMacProgressData& data) {
    std::vector<const PCMacAreaProgressData*> areas;
    areas.reserve(data.areas.size());
    for (const auto& area : data.areas) areas.push_back(area.get());
    return areas;
}

// Kills the script handles of these areas (by address only: the areas may be gone), so a
// view kept by a script reads nothing at that address again, whatever lives there later.
void KillProgressAreaViews(const std::vector<const PCMacAreaProgressData*>& areas) {
    for (const PCMacAreaProgressData* area : areas)
        gLua.InvalidateUserType(const_cast<PCMacAreaProgressData*>(area), kProgressAreaClass);
}

// Whether the object waits for the collector: the script owns it (Instance made it).
bool IsCollectedProgressObject(lua_State* L, const void* object) {
    lua_pushliteral(L, "tolua_gc");
    lua_rawget(L, LUA_REGISTRYINDEX);
    bool owned = false;
    if (lua_istable(L, -1)) {
        lua_pushlightuserdata(L, const_cast<void*>(object));
        lua_rawget(L, -2);
        owned = !lua_isnil(L, -1);
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    return owned;
}

}  // namespace

int DelegateBindingLoggedInProfile(lua_State* L) {
    auto* self = static_cast<PCMacGameDelegate*>(LuaBindingReader{"PCMacGameDelegate"}(L, 1, nullptr));
    if (LuaBindingRejected(L, !self, "PCMacGameDelegate.GetLoggedInProfile")) return 0;
    GamerProfile* profile = self->GetLoggedInProfile();
    LuaBindingPushObject(L, profile, profile ? LuaBindingScriptClass(L, profile, "GamerProfile") : "LCZKRGamerProfile");
    return 1;
}

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

int ProgressBindingDelete(lua_State* L) {
    const auto* self = static_cast<const PCMacProgressData*>(LuaBindingReader{"PCMacProgressData"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    // Deleted already, a dead handle or another class's object: nothing to free.
    if (!self) return 0;
    if (!IsCollectedProgressObject(L, self)) {
        gLog.Warning(LogCategory::Script, "PCMacProgressData.delete - not an object the script owns; kept");
        return 0;
    }
    KillProgressAreaViews(ProgressAreasOf(*self));
    LuaBindingDelete(L, "PCMacProgressData.delete");
    return 0;
}

int ProgressBindingStartAnalyze(lua_State* L) {
    auto* self = static_cast<PCMacProgressAnalyzer*>(LuaBindingReader{"PCMacProgressAnalyzer"}(L, 1, nullptr));
    const char* name = tolua_tostring(L, 2, nullptr);
    auto* data = static_cast<PCMacProgressData*>(LuaBindingReader{"PCMacProgressData"}(L, 3, nullptr));
    const uint32_t areaCount = ScriptNumber(tolua_tonumber(L, 4, 0));
    if (LuaBindingRejected(L, !self, "PCMacProgressAnalyzer.StartAnalyze")) return 0;
    std::vector<const PCMacAreaProgressData*> before;
    if (data) before = ProgressAreasOf(*data);
    const bool started = self->StartAnalyze(name, data, areaCount);
    // A start rebuilds the data's areas. Where every new area took the address of the old
    // one at its index, a kept view still reads the area at its index of the same data.
    if (data && ProgressAreasOf(*data) != before) KillProgressAreaViews(before);
    lua_pushboolean(L, started);
    return 1;
}
