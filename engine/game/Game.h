#pragma once
// Game: the game-world singleton (gGame, script class "Game"). Initialised by the program
// after the engine; owns what one running game needs on the main thread: the delegate
// pointer, the input manager, the camera controller, the UI screen slots, the pending
// scene switch, the time multiplier, the four game timers and the entity lists.
//
// The operations live in facets: Game_Init.cpp, Game_Activation.cpp, Game_Scene.cpp,
// Game_Console.cpp, Game_Input.cpp, Game_Tick.cpp and Game_EntityLists.cpp.
//
// Main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/rtti/SafePointer.h"

class Entity;
class GameDelegate;

// Scene switch flags.
enum : uint32_t {
    SWITCHSCENE_DELETE_NOT_CLIENT_SIDE = 2,  // entities whose template is not loaded client side go
};

// A delayed entity operation: run when the game clock reaches its time (0 while it waits
// on the server-delayed list).
struct DelayedEntityRecord {
    uint64_t time = 0;
    uint32_t kind = 0;  // DelayedEntityKind
    SafePointer<Entity> entity;
};

enum DelayedEntityKind : uint32_t {
    DELAYED_ENTITY_INIT = 0,
    DELAYED_ENTITY_DESTROY = 1,
    DELAYED_ENTITY_TEAROFF = 2,
};

class Game {
public:
    Game();
    ~Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    // ---- Start, close, activation, scenes, console and input ----
    // No multiplayer engine, or one that has the authority.
    bool HasMultiplayerAuthority() const;

    // ---- Tick ----

    // ---- Entity lists and delayed operations (Game_EntityLists.cpp) ----
    // Every list holds weak references; a walk skips emptied ones and then compacts the
    // list in order. Removal empties the reference in place, so it is safe while a list is
    // being walked.
    void AddTickEntity(Entity* entity);  // no duplicates
    void RemoveTickEntity(Entity* entity);
    void TickEntities();                 // "OnTick"
    void TickEntitiesSmooth();           // "OnSmoothTick"
    // Replicated-property upkeep; with alsoReceived (and authority) also the list of
    // entities whose received changes the next multiplayer step applies.
    void RegisterTickEntity(Entity* entity, bool alsoReceived);
    void UpdateEntityLists();
    void ApplyReplicationChanges(uint64_t time, uint64_t previousTime);
    void AddServerDelayedEntity(Entity* entity, uint32_t kind);
    void FlushServerDelayedEntities(uint64_t time);
    void AddDelayedEntity(Entity* entity, uint64_t time, uint32_t kind);
    // Runs the due records (all with flushAll). They are taken out of the list before
    // the first one runs, so records that handlers add wait for the next call.
    void TickDelayed(bool flushAll);
    void TearOffEntity(Entity* entity);
    bool IsMIDInDelayedLists(uint16_t multiplayerId) const;
    void ClearDelayedEntityLists();
    void AddAnimatedMesh(Entity* mesh);  // no duplicates
    void RemoveAnimatedMesh(Entity* mesh);
    void StepMeshAnimations();
    void AddMeshToFinishList(Entity* mesh);  // no duplicates
    void RemoveMeshFromFinishList(Entity* mesh);
    void FinishMeshAnimations();
    void InitEntities();

private:
    // ---- Fields of start, close, activation, scenes, console and input ----
    uint32_t switchFlags = 0;
    GameDelegate* delegate = nullptr;

    // ---- Fields of the tick ----

    // ---- Entity lists (Game_EntityLists.cpp) ----
    DynarraySafe<SafePointer<Entity>> tickEntities;
    DynarraySafe<SafePointer<Entity>> replicatedEntities;
    DynarraySafe<SafePointer<Entity>> receivedChangeEntities;
    DynarraySafe<DelayedEntityRecord> serverDelayedEntities;
    DynarraySafe<DelayedEntityRecord> delayedEntities;
    DynarraySafe<SafePointer<Entity>> animatedMeshes;
    DynarraySafe<SafePointer<Entity>> meshFinishList;
    // The due records a TickDelayed call runs, innermost call first (tear-off reaches them).
    struct DelayedBatch {
        DynarraySafe<DelayedEntityRecord> records;
        DelayedBatch* outer = nullptr;
    };
    DelayedBatch* runningDelayed = nullptr;
    void RunDelayedRecord(DelayedEntityRecord& record, uint64_t now);
    // The entity-list tests set the delegate and the switch flags these operations read.
    friend struct GameEntityListsTestAccess;
};

// Point the engine's Game entries (server-delayed operations, the script tick list) at
// gGame, and empty them again; the Game installs them when it is made and removes them
// before it goes.
void InstallGameEntityListHooks();
void RemoveGameEntityListHooks();

extern Game* gGame;
