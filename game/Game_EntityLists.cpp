// Game entity lists: the per-frame lists of entities the Game works on (script ticks,
// replicated-property upkeep, received multiplayer changes, mesh animation), the two
// queues of delayed entity operations, tear-off, and the initialisation of the entities
// of a freshly loaded scene.
//
// Every list holds weak references, so an entity may die at any time, also inside a
// script or delegate call made from a walk. Walks index the array afresh after every
// outside call, never keep a reference to an element across one, and compact the list
// (in order) when they are done. Removal empties a reference in place.
//
// Delayed records carry a game-clock time and run when the clock reaches it. TickDelayed
// takes its due records out of the list before running any, so a handler that adds or
// removes records can neither skip one nor run one twice; the records taken out still
// count as queued for tear-off, IsMIDInDelayedLists and ClearDelayedEntityLists.
//
// Main thread only. Log lines are of the multiplayer category.
#include "game/Game.h"

#include <algorithm>

#include "core/Log.h"
#include "core/profiler/Profiler.h"
#include "engine/services/GameClock.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/script/LuaWrapper.h"
#include "scene/mesh/MeshEntity.h"

namespace {

using EntityList = DynarraySafe<SafePointer<Entity>>;

// Entity flags that keep InitEntities from setting up an entity's trigger activation.
constexpr uint32_t kNoTriggerActivationFlags = 0x40800000;
// The kind of a taken-out record that a tear-off removed; it is skipped.
constexpr uint32_t kRemovedRecord = 0xFFFFFFFFu;

const char* KindName(uint32_t kind) {
    static const char* const kNames[] = {"init", "destroy", "tearoff"};
    return kind < sizeof(kNames) / sizeof(kNames[0]) ? kNames[kind] : "unknown";
}

// A 64-bit clock time is logged as its low and high 32-bit halves ("time:%d/%d").
int32_t Low(uint64_t t) { return int32_t(uint32_t(t)); }
int32_t High(uint64_t t) { return int32_t(uint32_t(t >> 32)); }

uint64_t ClockNow() { return gGameClock ? uint64_t(gGameClock->GetCurrentTime()) : 0; }
uint64_t ClockPrevious() { return gGameClock ? uint64_t(gGameClock->GetPreviousTime()) : 0; }

bool Contains(const EntityList& list, const Entity* entity) {
    for (const SafePointer<Entity>& p : list)
        if (p.Get() == entity) return true;
    return false;
}

void AddUnique(EntityList& list, Entity* entity) {
    if (entity && !Contains(list, entity)) list.Add(SafePointer<Entity>(entity));
}

void Forget(EntityList& list, Entity* entity) {
    if (!entity) return;
    for (SafePointer<Entity>& p : list)
        if (p.Get() == entity) p.Assign(nullptr);
}

// Drops the emptied references, keeping order.
void Compact(EntityList& list) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < list.Count(); ++i) {
        if (!list[i]) continue;
        if (kept != i) list[kept] = list[i];
        ++kept;
    }
    list.Resize(kept);
}

// Calls fn on every entity of the list as it stood at the start; entities added meanwhile
// wait for the next walk.
template <class Fn>
void WalkAndCompact(EntityList& list, Fn fn) {
    const uint32_t count = list.Count();
    for (uint32_t i = 0; i < count && i < list.Count(); ++i)
        if (Entity* e = list[i].Get()) fn(e);
    Compact(list);
}

// The entity as a mesh (by its class), or null.
MeshEntity* MeshOf(Entity* e) {
    for (const RTTIClass* c = e ? e->GetRTTIClass() : nullptr; c; c = c->Base())
        if (c == MeshEntity::RegisterClass()) return static_cast<MeshEntity*>(e);
    return nullptr;
}

bool IsTearOffOf(const DelayedEntityRecord& r, const Entity* entity) {
    return r.kind == DELAYED_ENTITY_TEAROFF && r.entity.Get() == entity;
}

}  // namespace

// ---------------------------------------------------------------------------------
// Script ticks.

void Game::AddTickEntity(Entity* entity) { AddUnique(tickEntities, entity); }

void Game::RemoveTickEntity(Entity* entity) { Forget(tickEntities, entity); }

void Game::TickEntities() {
    WalkAndCompact(tickEntities, [](Entity* e) { gLua.CallObjectMethod(e, "OnTick"); });
}

void Game::TickEntitiesSmooth() {
    WalkAndCompact(tickEntities, [](Entity* e) { gLua.CallObjectMethod(e, "OnSmoothTick"); });
}

// ---------------------------------------------------------------------------------
// Replicated-property upkeep and received changes.

void Game::RegisterTickEntity(Entity* entity, bool alsoReceived) {
    if (!entity) return;
    if (!entity->IsOnReplicatedList()) {
        replicatedEntities.Add(SafePointer<Entity>(entity));
        entity->SetOnReplicatedList(true);
    }
    if (alsoReceived && !entity->IsOnReceivedList() && HasMultiplayerAuthority()) {
        receivedChangeEntities.Add(SafePointer<Entity>(entity));
        entity->SetOnReceivedList(true);
    }
}

void Game::UpdateEntityLists() {
    const uint64_t now = ClockNow();
    const uint32_t count = replicatedEntities.Count();
    for (uint32_t i = 0; i < count && i < replicatedEntities.Count(); ++i) {
        Entity* e = replicatedEntities[i].Get();
        if (!e) continue;
        if (e->MPPropTick(now)) continue;
        if (!(e = replicatedEntities[i].Get())) continue;  // died during its upkeep
        e->SetOnReplicatedList(false);
        replicatedEntities[i].Assign(nullptr);
    }
    gProfiler.SetValue(PROFILE_MP_PROPS_ENTITY_TICK_NUM, float(replicatedEntities.Count()), PROFILER_THREAD_MAIN);
    Compact(replicatedEntities);
}

void Game::ApplyReplicationChanges(uint64_t time, uint64_t previousTime) {
    // Entities registered while the changes are applied are applied in the same pass:
    // emptying the list afterwards must not drop a change unapplied.
    for (uint32_t i = 0; i < receivedChangeEntities.Count(); ++i) {
        Entity* e = receivedChangeEntities[i].Get();
        if (!e || e->GetReceivedChangeMask() == 0) continue;
        e->MPPropApplyReceived(time, previousTime);
        e = receivedChangeEntities[i].Get();
        if (e && !e->IsOnReplicatedList()) {
            replicatedEntities.Add(SafePointer<Entity>(e));
            e->SetOnReplicatedList(true);
        }
    }
    const uint32_t size = receivedChangeEntities.Count();
    for (SafePointer<Entity>& p : receivedChangeEntities)
        if (Entity* e = p.Get()) e->SetOnReceivedList(false);
    receivedChangeEntities.Clear();
    gProfiler.SetValue(PROFILE_MP_PROPS_ENTITY_TICK_SRV_NUM, float(size), PROFILER_THREAD_MAIN);
}

// ---------------------------------------------------------------------------------
// Delayed operations.

void Game::AddServerDelayedEntity(Entity* entity, uint32_t kind) {
    if (!entity) return;
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Game::AddServerDelayedEntity - %s entity mId:%d name:%s",
               KindName(kind), int(entity->GetMultiplayerId()), entity->GetName());
    if (kind == DELAYED_ENTITY_DESTROY || kind == DELAYED_ENTITY_TEAROFF)
        entity->SetMultiplayerId(NULL_ENTITY_MULTIPLAYER_ID);
    DelayedEntityRecord record;
    record.kind = kind;
    record.entity = entity;
    serverDelayedEntities.Add(record);
}

void Game::FlushServerDelayedEntities(uint64_t time) {
    // A record whose entity died meanwhile goes on too: it reports the death when due.
    for (uint32_t i = 0; i < serverDelayedEntities.Count(); ++i) {
        const DelayedEntityRecord& r = serverDelayedEntities[i];
        AddDelayedEntity(r.entity.Get(), time, r.kind);
    }
    serverDelayedEntities.Clear();
}

void Game::AddDelayedEntity(Entity* entity, uint64_t time, uint32_t kind) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Game::AddDelayedEntity - %s entity mId:%d name:%s time:%d/%d",
               KindName(kind), int(entity ? entity->GetMultiplayerId() : NULL_ENTITY_MULTIPLAYER_ID),
               entity ? entity->GetName() : "<null>", Low(time), High(time));
    if (entity && (kind == DELAYED_ENTITY_DESTROY || kind == DELAYED_ENTITY_TEAROFF))
        entity->SetMultiplayerId(NULL_ENTITY_MULTIPLAYER_ID);
    // Upper bound: after every record of an equal or earlier time (compared signed).
    const auto at = std::upper_bound(delayedEntities.begin(), delayedEntities.end(), int64_t(time),
                                     [](int64_t t, const DelayedEntityRecord& r) { return t < int64_t(r.time); });
    const uint32_t low = static_cast<uint32_t>(at - delayedEntities.begin());
    DelayedEntityRecord record;
    record.time = time;
    record.kind = kind;
    record.entity = entity;
    delayedEntities.Insert(record, low);
}

void Game::TickDelayed(bool flushAll) {
    if (flushAll && HasMultiplayerAuthority()) FlushServerDelayedEntities(0);
    const uint64_t now = ClockNow();
    uint32_t due = 0;
    while (due < delayedEntities.Count() && (flushAll || int64_t(delayedEntities[due].time) <= int64_t(now))) ++due;
    if (due == 0) return;

    DelayedBatch batch;
    batch.records.Reserve(due);
    for (uint32_t i = 0; i < due; ++i) batch.records.Add(delayedEntities[i]);
    const uint32_t rest = delayedEntities.Count() - due;
    for (uint32_t i = 0; i < rest; ++i) delayedEntities[i] = delayedEntities[due + i];
    delayedEntities.Resize(rest);

    // Handlers only mark records of the batch (tear-off), never add or remove them, so
    // the reference stays valid while a record runs.
    batch.outer = runningDelayed;
    runningDelayed = &batch;
    for (uint32_t i = 0; i < batch.records.Count(); ++i) RunDelayedRecord(batch.records[i], now);
    runningDelayed = batch.outer;
}

void Game::RunDelayedRecord(DelayedEntityRecord& record, uint64_t now) {
    if (record.kind == kRemovedRecord) return;
    const char* kind = KindName(record.kind);
    Entity* e = record.entity.Get();
    if (!e) {
        gLog.Warning(LogCategory::Multiplayer, "Game::TickDelayed - entity %s was %s type:%s time:%d/%d", "<null>", "deleted",
                     kind, Low(record.time), High(record.time));
        return;
    }
    if (!e->IsNetAttached()) {
        gLog.Warning(LogCategory::Multiplayer, "Game::TickDelayed - entity %s was %s type:%s time:%d/%d", e->GetName(),
                     "torn off", kind, Low(record.time), High(record.time));
        return;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Game::TickDelayed - entity %s mid:%d name:%s time:%d/%d",
               kind, int(e->GetMultiplayerId()), e->GetName(), Low(record.time), High(record.time));
    const uint32_t action = record.kind;
    // Received changes are applied with the clock's advance over its last tick; the
    // property upkeep runs on every machine.
    if (HasMultiplayerAuthority()) {
        e->MPPropApplyReceived(now, now - ClockPrevious());
        if (!(e = record.entity.Get())) return;
    }
    e->MPPropTick(now);
    if (!(e = record.entity.Get())) return;
    switch (action) {
    case DELAYED_ENTITY_INIT:
        e->ClearFlag(ENTITYFLAG_DISABLE_UPDATE, true);
        if (record.entity.Get()) gLua.CallObjectMethod(e, "OnNetInit");
        break;
    case DELAYED_ENTITY_DESTROY:
        e->Destroy();
        break;
    case DELAYED_ENTITY_TEAROFF:
        TearOffEntity(e);
        break;
    default:
        break;
    }
}

void Game::TearOffEntity(Entity* entity) {
    if (!entity) return;
    SafePointer<Entity> alive(entity);
    for (uint32_t i = entity->GetChildrenCount(); i-- > 0;) {
        if (!alive.Get()) return;
        if (i >= entity->GetChildrenCount()) continue;
        Entity* child = entity->GetChild(i);
        if (child && child->IsNetAttached()) TearOffEntity(child);
    }
    if (!alive.Get()) return;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < delayedEntities.Count(); ++i) {
        if (IsTearOffOf(delayedEntities[i], entity)) continue;
        if (kept != i) delayedEntities[kept] = delayedEntities[i];
        ++kept;
    }
    delayedEntities.Resize(kept);
    for (DelayedBatch* b = runningDelayed; b; b = b->outer)
        for (DelayedEntityRecord& r : b->records)
            if (IsTearOffOf(r, entity)) {
                r.kind = kRemovedRecord;
                r.entity.Assign(nullptr);
            }
    entity->SetNetAttached(false);
    if (delegate) delegate->OnTornOff(entity);
}

bool Game::IsMIDInDelayedLists(uint16_t multiplayerId) const {
    auto holds = [multiplayerId](const DynarraySafe<DelayedEntityRecord>& records) {
        for (const DelayedEntityRecord& r : records)
            if (const Entity* e = r.entity.Get(); e && e->GetMultiplayerId() == multiplayerId) return true;
        return false;
    };
    if (holds(serverDelayedEntities) || holds(delayedEntities)) return true;
    for (const DelayedBatch* b = runningDelayed; b; b = b->outer)
        if (holds(b->records)) return true;
    return false;
}

void Game::ClearDelayedEntityLists() {
    serverDelayedEntities.Clear();
    delayedEntities.Clear();
    for (DelayedBatch* b = runningDelayed; b; b = b->outer)
        for (DelayedEntityRecord& r : b->records) {
            r.kind = kRemovedRecord;
            r.entity.Assign(nullptr);
        }
}

// ---------------------------------------------------------------------------------
// Mesh animation: the meshes whose animation is replicated are posed once per step (the
// animation list) and hand their encoded state to their target at the end of the frame
// (the finish list). A deleted mesh leaves both lists through its weak reference.

void Game::AddMeshToAnimationList(Entity* mesh) { AddUnique(animatedMeshes, mesh); }
void Game::RemoveMeshFromAnimationList(Entity* mesh) { Forget(animatedMeshes, mesh); }
void Game::AddMeshToFinishList(Entity* mesh) { AddUnique(meshFinishList, mesh); }
void Game::RemoveMeshFromFinishList(Entity* mesh) { Forget(meshFinishList, mesh); }

void Game::StepMeshAnimations() {
    WalkAndCompact(animatedMeshes, [](Entity* e) {
        if (MeshEntity* mesh = MeshOf(e)) mesh->Animate(0);
    });
}

void Game::FinishMeshAnimations() {
    WalkAndCompact(meshFinishList, [](Entity* e) {
        if (MeshEntity* mesh = MeshOf(e)) mesh->UpdateReplicatedAnimData();
    });
}

// ---------------------------------------------------------------------------------
// Scene start.

namespace {

// Weak references to every live entity, in creation order: scripts called from the walks
// below may create and delete entities.
void SnapshotLiveEntities(EntityList& out) {
    out.Clear();
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive()) out.Add(SafePointer<Entity>(e));
}

}  // namespace

void Game::InitEntities() {
    EntityList live;
    if (switchFlags & SWITCHSCENE_DELETE_NOT_CLIENT_SIDE) {
        SnapshotLiveEntities(live);
        EntityList notClientSide;
        for (uint32_t i = 0; i < live.Count(); ++i) {
            Entity* e = live[i].Get();
            if (!e) continue;
            // An entity without a template (the scene root) is never deleted here.
            EntityTemplate* t = e->GetTemplate();
            const bool clientSide = !t || t->IsLoadedClientSide();
            if (!(e = live[i].Get())) continue;
            gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Game::InitEntities - entity: [static: %d] [name: %s]",
                       int(clientSide), e->GetName());
            if (!clientSide) notClientSide.Add(SafePointer<Entity>(e));
        }
        for (uint32_t i = notClientSide.Count(); i-- > 0;)
            if (Entity* e = notClientSide[i].Get()) e->DeleteMe();
    }

    SnapshotLiveEntities(live);
    const bool began = EntityInitBatch::Begin();
    for (uint32_t i = 0; i < live.Count(); ++i) {
        Entity* e = live[i].Get();
        if (!e) continue;
        if (!(e->GetFlags() & kNoTriggerActivationFlags)) e->InitTriggerActivation();
        if (delegate && (e = live[i].Get())) delegate->InitEntity(e);
    }
    if (began) EntityInitBatch::Finish();
}
