#pragma once
// The multiplayer package's script forms (bindings/pkg/Multiplayer.pkg): the argument
// lists the natives do not have, and the bindings the generator cannot express, each
// swapped in for the generated one of the same name (TOLUA_DISABLE_<function>).
//
// Threads: main thread, like every script; the match and lobby calls only post commands.
#include <cstdint>

#include "net/MultiplayerEngine.h"

struct lua_State;

// ---- MultiplayerEngine ----
// Host(): the configured port. Join(host [, remote port]): the ports left out are 0.
void MultiplayerHostOnConfiguredPort(MultiplayerEngine* self);
void MultiplayerJoin(MultiplayerEngine* self, const char* hostName);
void MultiplayerJoin(MultiplayerEngine* self, const char* hostName, uint32_t remotePort);

// SendChatMessageUnicharPtr(lobby, text): text is a LuaUnicodeString or the start of a
// live UTF-16 buffer; anything else rejects the call and nothing is sent.
int MultiplayerBindingSendChat(lua_State* L);
#define TOLUA_DISABLE_tolua_Multiplayer_MultiplayerEngine_SendChatMessageUnicharPtr00
#define tolua_Multiplayer_MultiplayerEngine_SendChatMessageUnicharPtr00 MultiplayerBindingSendChat

// LobbyGetMemberNameLuaUnichar(member): a new string the script owns, terminated (empty
// for an absent member).
int MultiplayerBindingMemberName(lua_State* L);
#define TOLUA_DISABLE_tolua_Multiplayer_MultiplayerEngine_LobbyGetMemberNameLuaUnichar00
#define tolua_Multiplayer_MultiplayerEngine_LobbyGetMemberNameLuaUnichar00 MultiplayerBindingMemberName

// ---- Player ----
// The controller under its own script class; nil once the pointer is empty (its entity
// destroyed included).
int MultiplayerBindingGetController(lua_State* L);
#define TOLUA_DISABLE_tolua_Multiplayer_Player_GetPlayerController00
#define tolua_Multiplayer_Player_GetPlayerController00 MultiplayerBindingGetController

// SetPlayerControllerRaw(entity or nil): nil clears the pointer; a dead handle or any
// other value that is not an entity rejects the call and changes nothing.
int MultiplayerBindingSetController(lua_State* L);
#define TOLUA_DISABLE_tolua_Multiplayer_Player_SetPlayerControllerRaw00
#define tolua_Multiplayer_Player_SetPlayerControllerRaw00 MultiplayerBindingSetController
