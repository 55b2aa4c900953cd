#pragma once
// Hand-written parts of the game's desktop package: the delegate's logged-in profile, the
// progress data's calls that give several results, its area views, and the lives of the
// progress objects a script holds.
//
// Lifetimes. Instance gives the script a copy of the shared progress data or analyzer
// (net/online), owned by the script and freed by the collector. An area view (GetArea)
// keeps its progress data alive; when the data's areas go while a view is held (the
// data's delete, or an analysis started on it, which rebuilds its areas) the view's
// handle dies, so a script using it gets the dead-object error. delete frees only a copy
// the script owns: the shared objects, and any other the engine hands out, stay.
//
// Threads: main thread only, like every script.
#include "net/online/PCMacProgressAnalyzer.h"
#include "net/online/PCMacProgressData.h"

struct lua_State;

// GetLoggedInProfile(): the delegate's profile under its own script class ("PCMacGamerProfile"
// for the desktop profile), or nil. The delegate holds it as a GamerProfile: a class its
// object is not never names it, and the static fallback is GamerProfile itself.
int DelegateBindingLoggedInProfile(lua_State* L);
#define TOLUA_DISABLE_tolua_GameDesktop_PCMacGameDelegate_GetLoggedInProfile00
#define tolua_GameDesktop_PCMacGameDelegate_GetLoggedInProfile00 DelegateBindingLoggedInProfile

// Copies of the shared objects; the package moves them into script-owned blocks.
inline PCMacProgressData ProgressDataInstance() { return gPCMacProgressData; }
inline PCMacProgressAnalyzer ProgressAnalyzerInstance() { return gPCMacProgressAnalyzer; }

// GetFriendEntry(index, name, value) / GetOtherEntry(...): the entry's name and value,
// or the given ones when there is no such entry.
int ProgressBindingFriendEntry(lua_State* L);
int ProgressBindingOtherEntry(lua_State* L);
#define TOLUA_DISABLE_tolua_GameDesktop_PCMacAreaProgressData_GetFriendEntry00
#define tolua_GameDesktop_PCMacAreaProgressData_GetFriendEntry00 ProgressBindingFriendEntry
#define TOLUA_DISABLE_tolua_GameDesktop_PCMacAreaProgressData_GetOtherEntry00
#define tolua_GameDesktop_PCMacAreaProgressData_GetOtherEntry00 ProgressBindingOtherEntry

// delete(): frees a progress data the script owns, after killing its area views; a
// second delete, or one of an object the script does not own, does nothing.
int ProgressBindingDelete(lua_State* L);
#define TOLUA_DISABLE_tolua_GameDesktop_PCMacProgressData_delete00
#define tolua_GameDesktop_PCMacProgressData_delete00 ProgressBindingDelete

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

// StartAnalyze(name, data, areaCount): the native's answer; the views of the data's
// areas die when the start rebuilt them.
int ProgressBindingStartAnalyze(lua_State* L);
#define TOLUA_DISABLE_tolua_GameDesktop_PCMacProgressAnalyzer_StartAnalyze00
#define tolua_GameDesktop_PCMacProgressAnalyzer_StartAnalyze00 ProgressBindingStartAnalyze
