#pragma once
// MultiplayerServices: what the engine needs of the multiplayer engine and the online
// services, behind one small interface: the replication of entities and script method
// calls, the in-game store, and the online-services start-up. The multiplayer library
// installs its implementation from its start-up row; until then (and after
// SetMultiplayerServices(nullptr)) the base class answers as if there were no multiplayer
// engine: entity events go nowhere, this is no multiplayer game and no server, method
// calls are not sent, there is no store, and the online start-up is the engine's own
// InitSteam.
//
// Threads: main thread.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"

class Entity;
class InGameStore;
class Player;
struct MPMethodCall;

// The engine's online-services start-up (engine/VornexEngine.cpp).
bool InitSteam();

class MultiplayerServices {
public:
    virtual ~MultiplayerServices() = default;

    // ---- Entities ----
    // Gives a replicated entity its id.
    virtual void OnEntityCreated(Entity* entity) {}
    virtual void OnEntityDestroyed(Entity* entity) {}
    virtual void OnEntityTornOff(Entity* entity) {}
    // The entity's dirty properties go out.
    virtual void MarkEntityDirty(Entity* entity) {}

    // ---- Script method calls ----
    virtual bool IsMultiplayerGame() const { return false; }
    virtual bool IsServer() const { return false; }
    // Sends a method-call record to the owner's peer(s).
    virtual void ReplicateMethodCall(Player* owner, const MPMethodCall& call, bool reliable) {}

    // ---- Online services ----
    // The start-up of the online services; false ends the engine's start-up.
    virtual bool StartOnlineServices() { return InitSteam(); }
    // An InGameStore from the project's store definition file (null: none), deleted through
    // DeleteInGameStore; InGameStore::GetItemImageFiles appends every item's image file.
    virtual InGameStore* CreateInGameStore(const char* definitionFile) { return nullptr; }
    virtual void DeleteInGameStore(InGameStore* store) {}
    virtual void GetInGameStoreItemImageFiles(InGameStore* store, uint32_t word, DynarraySafe<NameString>& files) {}
};

MultiplayerServices& GetMultiplayerServices();
// Not owned; null restores the default.
void SetMultiplayerServices(MultiplayerServices* services);
