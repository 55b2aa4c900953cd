#include "bindings/manual/Multiplayer.h"

#include <lua.hpp>

#include "bindings/frame/LuaBindingSupport.h"
#include "engine/entity/Entity.h"
#include "engine/script/LuaUnicodeString.h"
#include "net/Player.h"

namespace {

MultiplayerEngine* Engine(lua_State* L) {
    return static_cast<MultiplayerEngine*>(LuaBindingReader{"MultiplayerEngine"}(L, 1, nullptr));
}

Player* PlayerSelf(lua_State* L) { return static_cast<Player*>(LuaBindingReader{"Player"}(L, 1, nullptr)); }

}  // namespace

void MultiplayerHostOnConfiguredPort(MultiplayerEngine* self) { self->Host(0); }

void MultiplayerJoin(MultiplayerEngine* self, const char* hostName) { self->Join(hostName, 0, 0); }

void MultiplayerJoin(MultiplayerEngine* self, const char* hostName, uint32_t remotePort) {
    self->Join(hostName, remotePort, 0);
}

int MultiplayerBindingSendChat(lua_State* L) {
    MultiplayerEngine* self = Engine(L);
    const bool lobby = lua_toboolean(L, 2) != 0;
    const char16_t* text = nullptr;
    if (auto* string = static_cast<LuaUnicodeString*>(LuaBindingReader{"LuaUnicodeString"}(L, 3, nullptr)))
        text = string->GetUnicharPtr();
    else if (lua_islightuserdata(L, 3))
        text = static_cast<const char16_t*>(LuaBindingReader{kLuaBindingUnicharType}(L, 3, nullptr));
    if (LuaBindingRejected(L, !self || !text, "MultiplayerEngine.SendChatMessageUnicharPtr")) return 0;
    self->SendChatMessageUnicharPtr(lobby ? 1 : 0, text);
    return 0;
}

int MultiplayerBindingMemberName(lua_State* L) {
    MultiplayerEngine* self = Engine(L);
    const uint32_t member = ScriptNumber(lua_tonumber(L, 2));
    if (LuaBindingRejected(L, !self, "MultiplayerEngine.LobbyGetMemberNameLuaUnichar")) return 0;
    LuaBindingPushOwned(L, Mtolua_new((LuaUnicodeString)(self->LobbyGetMemberNameLuaUnichar(static_cast<int32_t>(member)))),
                        "LuaUnicodeString");
    LuaBindingRegisterGc(L, lua_gettop(L));
    return 1;
}

int MultiplayerBindingGetController(lua_State* L) {
    Player* self = PlayerSelf(L);
    if (LuaBindingRejected(L, !self, "Player.GetPlayerController")) return 0;
    LuaBindingPushTyped<Entity>(L, self->GetPlayerController(), "Entity");
    return 1;
}

int MultiplayerBindingSetController(lua_State* L) {
    Player* self = PlayerSelf(L);
    auto* entity = static_cast<Entity*>(LuaBindingReader{"Entity"}(L, 2, nullptr));
    const bool notAnEntity = !entity && !lua_isnoneornil(L, 2);
    if (LuaBindingRejected(L, !self || notAnEntity, "Player.SetPlayerControllerRaw")) return 0;
    self->SetPlayerControllerRaw(entity);
    return 0;
}
