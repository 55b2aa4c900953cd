#pragma once
// GameServices: what the libraries below the Game (the engine's entities and navigation,
// the scene, the UI and multiplayer) read of the running Game, behind one small
// interface: its clocks and script schedulers, its UI screen slots, its delegate, its
// multiplayer engine and command line, and its entity lists with the delayed entity
// operations. The Game installs its implementation while it runs; until then (and after
// SetGameServices(nullptr)) the base class answers as if no game were running: no
// clocks, schedulers, screens, delegate or multiplayer engine (null), no arguments, the
// smooth clocks read the counter, the frame delta is 0, gameplay runs, nothing is on a
// delayed list, and the list operations do nothing (the ones that return a bool answer
// false: the caller does the work itself); there is no entity-creation listener.
//
// Threads: main thread.
#include <cstdint>

class Entity;
class GameDelegate;
class GameTimer;
class MultiplayerEngine;
class ScriptScheduler;
class UIScreen;

// The Game's UI screen slots.
enum GameScreenSlot : uint32_t {
    GAMESCREEN_ACTIVE = 0,
    GAMESCREEN_PRE_FSE = 1,  // drawn before the full-screen effects
    GAMESCREEN_MODAL = 2,    // takes characters and replaces the normal input routing while shown
    GAMESCREEN_OVERLAY = 3,  // takes input whenever shown
    GAMESCREEN_LOADING = 4,
    GAMESCREEN_COUNT
};

// The operations of the Game's delayed entity lists.
enum DelayedEntityKind : uint32_t {
    DELAYED_ENTITY_INIT = 0,
    DELAYED_ENTITY_DESTROY = 1,
    DELAYED_ENTITY_TEAROFF = 2,
};

class GameServices {
public:
    virtual ~GameServices() = default;

    // ---- Clocks ----
    // The Game's four timers.
    virtual GameTimer* GetGameTimer() { return nullptr; }
    virtual GameTimer* GetGameplayTimer() { return nullptr; }
    virtual GameTimer* GetSmoothGameTimer() { return nullptr; }
    virtual GameTimer* GetSmoothGameplayTimer() { return nullptr; }
    // The smooth game and gameplay times in counter ticks, and the smooth game timer's
    // last delta in seconds.
    virtual int64_t SmoothGameTime() const;
    virtual int64_t SmoothGameplayTime() const;
    virtual float SmoothFrameDelta() const { return 0.0f; }
    virtual bool IsGameplayPaused() const { return false; }
    // The number of frames the Game has ticked.
    virtual uint32_t TickedFrameCount() const { return 0; }
    // The script scheduler that flags & 12 select (4 gameplay, 8 engine, else game
    // time), with its clock's present time through now.
    virtual ScriptScheduler* SelectScheduler(uint32_t selection, int64_t* now) { return nullptr; }

    // ---- Screens, delegate, multiplayer engine, command line ----
    virtual UIScreen* GetScreen(GameScreenSlot slot) const { return nullptr; }
    virtual void SetScreen(GameScreenSlot slot, UIScreen* screen) {}
    virtual GameDelegate* GetDelegate() const { return nullptr; }
    virtual MultiplayerEngine* GetMultiplayerEngine() const { return nullptr; }
    virtual int GetArgumentCount() const { return 0; }
    virtual const char* GetArgument(int index) const { return nullptr; }

    // ---- Entity lists ----
    // The script tick list ("OnTick" / "OnSmoothTick" each frame).
    virtual void AddTickEntity(Entity* entity) {}
    virtual void RemoveTickEntity(Entity* entity) {}
    // The replicated-property upkeep list; with alsoReceived also the list whose
    // received changes the next multiplayer step applies.
    virtual void RegisterReplicatedEntity(Entity* entity, bool alsoReceived) {}
    // The meshes posed once per game step, and those whose replicated animation data is
    // finished each frame.
    virtual void AddMeshToAnimationList(Entity* mesh) {}
    virtual void RemoveMeshFromAnimationList(Entity* mesh) {}
    virtual void AddMeshToFinishList(Entity* mesh) {}
    virtual void RemoveMeshFromFinishList(Entity* mesh) {}
    // A received replicated property reached its entity (the delegate hears of it).
    virtual void OnReplicatedProperty(Entity* entity) {}
    // Runs the "OnInit" passes of a newly created entity through the delegate; false
    // when there is no delegate (the caller runs them itself).
    virtual bool InitEntity(Entity* entity) { return false; }
    // The entity-creation listener: whether there is one, told at the end of every
    // creation, and asked whether script execution may run (false without a listener,
    // which forbids ExecuteScript).
    virtual bool HasEntityCreationListener() const { return false; }
    virtual void OnEntityCreatedByListener(Entity* entity) {}
    virtual bool ListenerAllowsScripts() const { return false; }

    // ---- Delayed entity operations ----
    // Whether the Game queues the server's entity operations (DelayedEntityKind) for its
    // next multiplayer step instead of running them at once.
    virtual bool TakesDelayedEntities() const { return false; }
    // Queues one; false when nothing takes it (the caller runs the operation at once).
    virtual bool AddServerDelayedEntity(Entity* entity, DelayedEntityKind kind) { return false; }
    // An operation run when the game clock reaches time.
    virtual void AddDelayedEntity(Entity* entity, uint64_t time, DelayedEntityKind kind) {}
    virtual bool IsMIDInDelayedLists(uint16_t multiplayerId) const { return false; }
    virtual void ClearDelayedEntityLists() {}
};

GameServices& GetGameServices();
// Not owned; null restores the default.
void SetGameServices(GameServices* services);
