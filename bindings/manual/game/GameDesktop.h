#pragma once
// Hand-written parts of the game's desktop package: the progress data's calls that give
// several results, and its area views.
//
// Threads: main thread, like every script.
struct lua_State;

// GetFriendEntry(index, name, value) / GetOtherEntry(...): the entry's name and value,
// or the given ones when there is no such entry.
int ProgressBindingFriendEntry(lua_State* L);
int ProgressBindingOtherEntry(lua_State* L);
#define TOLUA_DISABLE_tolua_GameDesktop_PCMacAreaProgressData_GetFriendEntry00
#define tolua_GameDesktop_PCMacAreaProgressData_GetFriendEntry00 ProgressBindingFriendEntry
#define TOLUA_DISABLE_tolua_GameDesktop_PCMacAreaProgressData_GetOtherEntry00
#define tolua_GameDesktop_PCMacAreaProgressData_GetOtherEntry00 ProgressBindingOtherEntry

// GetUserData(name, value): whether the user has an entry, then the user's name and value
// (the given ones without an entry).
int ProgressBindingUserData(lua_State* L);
#define TOLUA_DISABLE_tolua_GameDesktop_PCMacProgressData_GetUserData00
#define tolua_GameDesktop_PCMacProgressData_GetUserData00 ProgressBindingUserData

// GetArea(index): a view of the area that keeps its progress data alive; nil past the
// last area.
int ProgressBindingArea(lua_State* L);
#define TOLUA_DISABLE_tolua_GameDesktop_PCMacProgressData_GetArea00
#define tolua_GameDesktop_PCMacProgressData_GetArea00 ProgressBindingArea
