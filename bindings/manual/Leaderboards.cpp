#include "bindings/manual/Leaderboards.h"

#include <lua.hpp>

#include "bindings/frame/LuaBindingSupport.h"
#include "net/online/SteamLeaderboardsManager.h"

namespace {

SteamLeaderboardsManager* Manager(lua_State* L) {
    return static_cast<SteamLeaderboardsManager*>(LuaBindingReader{"SteamLeaderboardsManager"}(L, 1, nullptr));
}

// As the generated bindings read text: a number reads as its text, anything else as null.
int32_t IntArgument(lua_State* L, int index) { return ScriptNumber(lua_tonumber(L, index)); }

}  // namespace

int LeaderboardBindingEntriesNumber(lua_State* L) {
    SteamLeaderboardsManager* self = Manager(L);
    const char* name = lua_tostring(L, 2);
    int32_t row = IntArgument(L, 3);
    if (LuaBindingRejected(L, !self, "SteamLeaderboardsManager.GetLeaderboardRetrievedEntriesNumber")) return 0;
    const int32_t count = self->GetLeaderboardRetrievedEntriesNumber(name, &row);
    LuaBindingPushNumber(L, count);
    LuaBindingPushNumber(L, row);
    return 2;
}

int LeaderboardBindingEntry(lua_State* L) {
    SteamLeaderboardsManager* self = Manager(L);
    const char* name = lua_tostring(L, 2);
    const int32_t row = IntArgument(L, 3);
    uint32_t rank = ScriptNumber(lua_tonumber(L, 4));
    const char* persona = lua_tostring(L, 5);
    // Scores cross as unsigned 32-bit values, like the rank.
    int32_t score = static_cast<int32_t>(static_cast<uint32_t>(ScriptNumber(lua_tonumber(L, 6))));
    bool isFriend = lua_toboolean(L, 7) != 0;
    if (LuaBindingRejected(L, !self, "SteamLeaderboardsManager.GetLeaderboardRetrievedEntry")) return 0;
    const bool found = self->GetLeaderboardRetrievedEntry(name, row, &rank, &persona, &score, &isFriend);
    lua_pushboolean(L, found);
    LuaBindingPushNumber(L, rank);
    // Copied now: the services may reuse the name's buffer for their next answer.
    if (persona) lua_pushstring(L, persona);
    else lua_pushnil(L);
    LuaBindingPushNumber(L, static_cast<uint32_t>(score));
    lua_pushboolean(L, isFriend);
    return 5;
}

int LeaderboardBindingEntryDetail(lua_State* L) {
    SteamLeaderboardsManager* self = Manager(L);
    const char* name = lua_tostring(L, 2);
    const int32_t row = IntArgument(L, 3);
    int32_t detail = IntArgument(L, 4);
    if (LuaBindingRejected(L, !self, "SteamLeaderboardsManager.GetLeaderboardRetrievedEntryDetail")) return 0;
    const bool found = self->GetLeaderboardRetrievedEntryDetail(name, row, &detail);
    lua_pushboolean(L, found);
    LuaBindingPushNumber(L, detail);
    return 2;
}
