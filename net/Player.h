#pragma once
// Player: one participant of a match as scripts see it (script class "Player"): the
// local player (id 0xFFFFFFFF) and at most one remote player (ids from 1). It holds the
// controller entity (a weak pointer), the controller index and the reliable-method
// counters: sent toward this player, and acknowledged by its peer.
//
// Owned by the MultiplayerEngine; main thread only. Before a Player goes, the engine
// clears every entity owner that names it, and the player's script handle dies with
// Destroy.
#include <cstdint>

#include "engine/script/LuaBaseClass.h"
#include "engine/entity/LuaEntityPointer.h"

class Player : public LuaBaseClass {
public:
    Player(bool local, uint32_t id);
    ~Player() override;

    const RTTIClass* GetRTTIClass() const override { return nullptr; }
    const char* GetScriptClassName() const override { return "Player"; }

    bool IsLocal() const { return local != 0; }
    bool IsConnected() const { return connected != 0; }
    void SetConnected(bool on) { connected = on ? 1 : 0; }
    Entity* GetPlayerController() const { return controller.Get(); }
    void SetPlayerControllerRaw(Entity* entity) { static_cast<SafePointer<Entity>&>(controller) = entity; }
    uint32_t GetControllerIndex() const { return controllerIndex; }
    void SetControllerIndex(uint32_t index) { controllerIndex = index; }
    uint32_t GetPeerID() const { return id; }
    uint32_t GetReliableMethodSendID() const { return reliableSendId; }
    uint32_t GetReliableMethodAckID() const { return reliableAckId; }
    void AddReliableSent() { ++reliableSendId; }
    void AddReliableAcknowledged(uint32_t count) { reliableAckId += count; }
    // Connected flag, send id and acknowledged id back to 0.
    void ResetSession();

    // Clears the owner of every live entity that names the player, then destroys it.
    static void Delete(Player* player);

private:
    uint8_t local;
    uint8_t connected = 0;
    LuaEntityPointer controller;
    uint32_t controllerIndex;
    uint32_t id;
    uint32_t reliableSendId = 0;
    uint32_t reliableAckId = 0;
};
