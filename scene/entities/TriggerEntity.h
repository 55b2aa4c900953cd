#pragma once
// Triggers: entities that know which activators are inside their volume and tell their
// handler (a native EntityEventHandler, else the script methods "OnEnter", "OnExit",
// "OnCleared") when one enters or leaves.
//
// Only activators (entities whose template has "Activates triggers") are tested, and only
// when they, or a trigger near them, move: a moved activator is queued; once per game step
// ProcessPendingChecks tests each queued activator against the triggers it is inside and
// the triggers in the spatial-grid cells its box covers. Triggers nested under a trigger
// form a group: only the top trigger fires callbacks, and counts how many parts of the
// group hold the entity.
//
// Callbacks may move, create and destroy activators and triggers: everything touched
// while one runs is held through SafePointers and re-checked afterwards.
//
// Main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/rtti/SafePointer.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"

class TriggerEntity;

enum : uint32_t { TRIGGER_SHAPE_BOX = 0, TRIGGER_SHAPE_SPHERE = 1 };
enum : uint32_t {
    TRIGGER_MODE_POSITION_INSIDE = 0,
    TRIGGER_MODE_WHOLE_ENTITY_INSIDE = 1,
    TRIGGER_MODE_JUST_TOUCH = 2,
    TRIGGER_MODE_POSITION_WITH_RADIUS = 3,
};

class TriggerTemplate : public EntityTemplate {
public:
    TriggerTemplate();
    static const RTTIClass* RegisterRTTIClass();
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "TriggerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "TriggerEntity"; }
    // White with draw flag 2, else the template colour: the box, or the unit sphere.
    bool DrawHelper(const Matrix& m, const Vector& colour, uint32_t flags, const char* presetName) override;

    uint32_t shape = TRIGGER_SHAPE_BOX;            // "Trigger shape"
    uint32_t mode = TRIGGER_MODE_POSITION_INSIDE;  // "Trigger mode"
};

// The record of an activator: the owner, its trigger radius, the triggers it is inside,
// and whether it waits in the pending list.
struct TriggerTracker : TriggerActivator {
    bool queued = false;
    DynarraySafe<SafePointer<TriggerEntity>> insideTriggers;
};

class TriggerEntity : public Entity {
public:
    struct InsideRecord {
        SafePointer<Entity> entity;
        uint32_t key = 0;  // the entity's reusable id (unique among live entities)
        uint32_t count = 0;
    };

    TriggerEntity();
    static const RTTIClass* RegisterRTTIClass();
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;
    void OnLoaded(uint32_t options) override;
    void UpdateGlobalLocation() override;
    void Destroy() override;
    void DrawHelpers(uint32_t flags) override;

    // The volume test (four modes by two shapes); a mode or shape outside them is never
    // inside.
    static bool IsInside(const TriggerEntity* trigger, const Entity* entity);
    bool IsInside(const Entity* entity) const { return IsInside(this, entity); }

    // Queues the activators inside and around the trigger (nothing while inactive).
    void CheckInside();
    static void HandleEnter(TriggerEntity* trigger, Entity* entity);
    static void HandleExit(TriggerEntity* trigger, Entity* entity);
    // Exit for every entity inside (child triggers first).
    void ExitAll();
    // Forgets every entity inside without exits (child triggers first), then "OnCleared".
    void ClearInsideList();
    void Activate(bool active);
    bool IsActive() const { return active; }
    TriggerEntity* GetTopTrigger();
    uint32_t GetShape() const;
    uint32_t GetMode() const;

    // ---- Script operations ----
    uint32_t GetEntitiesInsideCount() const { return inside.Count(); }
    // Null (with one warning) for an index out of range.
    Entity* GetEntityInside(uint32_t i) const;
    // The count of a record (0: not inside); for the group accounting.
    uint32_t GetInsideCount(const Entity* entity) const;
    void SetPositionMaxRange(float range) { positionMaxRange = range; }
    float GetPositionMaxRange() const { return positionMaxRange; }
    static void ClearAllTriggers();
    static void RecheckAllTriggers();

    // ---- The pass ----
    static void EnableChecks();
    static bool ChecksEnabled();
    // Queues an activator for the next pass (nothing while checks are off or it is queued).
    static void QueueTriggerCheck(Entity* entity);
    static void ProcessPendingChecks();
    static void ClearPendingChecks();
    static uint32_t PendingCount();
    // The tracker hooks of the engine.
    static TriggerActivator* CreateTriggerTracker(Entity* entity);
    static void DestroyTriggerTracker(Entity* entity, TriggerActivator* record);
    static void CheckQueuedEntity(TriggerTracker* tracker);

    bool active = true;  // "Active"

private:
    int32_t FindRecord(uint32_t key, bool* found) const;
    void InsertRecord(Entity* entity, uint32_t count);
    void RemoveRecord(const Entity* entity);
    // Removes the entity as HandleExit does, without callbacks.
    static void DropSilently(TriggerEntity* trigger, Entity* entity);
    void FireEnter(Entity* entity);
    void FireExit(Entity* entity);
    void FireCleared();

    DynarraySafe<InsideRecord> inside;
    float positionMaxRange = 0.0f;
    bool destroyRunning = false;
};

