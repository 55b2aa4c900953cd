#pragma once
// The leaderboard reads of the game-delegate package (bindings/pkg/GameDelegate.pkg) that
// answer several values: the manager fills its reference arguments, and each binding
// pushes them after its own result, in argument order, as the manager left them (the
// inputs unchanged when it found nothing). Each replaces the generated binding of the
// same name (TOLUA_DISABLE_<function>).
//
// Threads: main thread, like every script.
struct lua_State;

// GetLeaderboardRetrievedEntriesNumber(name, row): the entry count, then the user's row.
int LeaderboardBindingEntriesNumber(lua_State* L);
#define TOLUA_DISABLE_tolua_GameDelegate_SteamLeaderboardsManager_GetLeaderboardRetrievedEntriesNumber00
#define tolua_GameDelegate_SteamLeaderboardsManager_GetLeaderboardRetrievedEntriesNumber00 LeaderboardBindingEntriesNumber

// GetLeaderboardRetrievedEntry(name, index, rank, persona, score, friend): the success
// flag, then the rank, the persona name (copied into the script's string at once), the
// score and the friend flag.
int LeaderboardBindingEntry(lua_State* L);
#define TOLUA_DISABLE_tolua_GameDelegate_SteamLeaderboardsManager_GetLeaderboardRetrievedEntry00
#define tolua_GameDelegate_SteamLeaderboardsManager_GetLeaderboardRetrievedEntry00 LeaderboardBindingEntry

// GetLeaderboardRetrievedEntryDetail(name, index, detail): the success flag, then the
// entry's first detail.
int LeaderboardBindingEntryDetail(lua_State* L);
#define TOLUA_DISABLE_tolua_GameDelegate_SteamLeaderboardsManager_GetLeaderboardRetrievedEntryDetail00
#define tolua_GameDelegate_SteamLeaderboardsManager_GetLeaderboardRetrievedEntryDetail00 LeaderboardBindingEntryDetail
