// The main thread's side of entity replication.
//
// Host: each authority entity created, changed, destroyed or torn off during a step is
// remembered in its id's slot with the record flags it owes (5 create and properties,
// 1 properties, 2 destroy, 11 tear-off); the slots with work form the dirty list, which
// the end of the step (and hosting) flushes as entity records (command 13). A tear-off
// goes at once.
//
// Client: received records (callback 20) create, update, tear off and destroy proxies
// through ClientEntitySynchronizationStrategy.
#include "core/Log.h"
#include "core/rtti/SafePointer.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/MPProperty.h"
#include "net/ClientEntitySynchronizationStrategy.h"
#include "net/MultiplayerEngine.h"
#include "net/Player.h"

namespace {
constexpr uint16_t kNoSlot = 0xFFFF;
constexpr uint8_t kStaticRecordFlags = 0xF1;  // a static entity is never created or destroyed
// Parent chains are short; a deeper one (only a loop could be endless) is cut.
constexpr uint32_t kMaxParentDepth = 64;
}  // namespace

struct MultiplayerEngine::ReplicationSlots {
    struct Slot {
        uint8_t flags = 0;
        uint8_t linked = 0;
        uint8_t visiting = 0;  // its flush is writing what must go before it
        uint16_t previous = kNoSlot;
        uint16_t next = kNoSlot;
        SafePointer<Entity> entity;
    };
    Slot slots[kMultiplayerIdCount];
    uint16_t head = kNoSlot;
};

void MultiplayerEngine::ReplicationSlotsDeleter::operator()(ReplicationSlots* slots) const { delete slots; }

void MultiplayerEngine::CreateReplicationSlots() { replicationSlots.reset(new ReplicationSlots); }

void MultiplayerEngine::ClearReplicationSlots() {
    while (replicationSlots->head != kNoSlot) UnlinkDirty(replicationSlots->head);
}

void MultiplayerEngine::LinkDirty(uint16_t id, Entity* entity) {
    ReplicationSlots& r = *replicationSlots;
    ReplicationSlots::Slot& s = r.slots[id];
    s.entity = entity;
    if (s.linked) return;  // keeps its place (and its create flag)
    s.linked = 1;
    s.previous = kNoSlot;
    s.next = r.head;
    if (r.head != kNoSlot) r.slots[r.head].previous = id;
    r.head = id;
}

uint8_t MultiplayerEngine::UnlinkDirty(uint16_t id) {
    ReplicationSlots& r = *replicationSlots;
    ReplicationSlots::Slot& s = r.slots[id];
    const uint8_t flags = s.flags;
    if (s.linked) {
        if (s.previous != kNoSlot)
            r.slots[s.previous].next = s.next;
        else
            r.head = s.next;
        if (s.next != kNoSlot) r.slots[s.next].previous = s.previous;
    }
    s.flags = 0;
    s.linked = 0;
    s.previous = s.next = kNoSlot;
    s.entity = nullptr;
    return flags;
}

uint8_t MultiplayerEngine::GetPendingEntityFlags(uint16_t id) const { return id < kMultiplayerIdCount ? replicationSlots->slots[id].flags : 0; }

void MultiplayerEngine::OnEntityCreated(Entity* e) {
    if (!e || !gEntityManager) return;
    uint16_t id = kNoMultiplayerId;
    if (e->IsStaticMultiplayer())
        id = gEntityManager->AllocateStaticMID();
    else if (HasAuthority() && e->IsMultiplayerAuthority())
        id = gEntityManager->AllocateDynamicMID();
    else
        return;
    e->SetMultiplayerId(id);
    OnEntityRecreate(e);
}

void MultiplayerEngine::OnEntityRecreate(Entity* e) {
    if (!InGameAsHost() || !e || !e->IsMultiplayerAuthority()) return;
    const uint16_t id = e->GetMultiplayerId();
    if (id >= kNoMultiplayerId) return;  // out of ids: not replicated
    replicationSlots->slots[id].flags = ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES;
    LinkDirty(id, e);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
               "MultiplayerEngine::OnEntityRecreate - Entity: %u %s [%s] - Allocated id. Current allocated count: %u/%u", unsigned(id),
               e->GetName(), e->GetTemplateName(), gEntityManager ? gEntityManager->GetDynamicMIDCount() : 0u,
               gEntityManager ? gEntityManager->GetStaticMIDCount() : 0u);
}

void MultiplayerEngine::RestoreStaticIds() {
    // Static ids pair the two sides' level entities by their order of creation, so every
    // static entity, whatever its role, takes one again in that order, as it did when it
    // was made.
    if (!gEntityManager) return;
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        if (e->IsStaticMultiplayer() && e->GetMultiplayerId() >= kNoMultiplayerId) {
            const uint16_t id = gEntityManager->AllocateStaticMID();
            if (id < kNoMultiplayerId) e->SetMultiplayerId(id);
        }
}

void MultiplayerEngine::AnnounceAllEntities() {
    if (!gEntityManager) return;
    // A host that hosts again after a game ended still holds its authority entities, but
    // the end of that game took their ids (the id table is cleared with the replication
    // state): each one still in the match takes an id again. Torn-off and destroyed
    // entities have left the match.
    RestoreStaticIds();
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive()) {
        if (e->GetMultiplayerId() < kNoMultiplayerId || e->IsStaticMultiplayer()) continue;
        if (!e->IsMultiplayerAuthority() || e->IsTornOff() || e->IsTornOffReceived()) continue;
        const uint16_t id = gEntityManager->AllocateDynamicMID();
        if (id < kNoMultiplayerId) e->SetMultiplayerId(id);
    }
    for (uint32_t id = 0; id < kNoMultiplayerId; ++id) {
        Entity* e = gEntityManager->GetEntityByMID(id);
        if (!e || !e->IsMultiplayerAuthority() || e->IsTornOff() || e->IsTornOffReceived()) continue;
        // The peers know nothing of it: its create carries every property, not only those
        // changed since the last record of an earlier game.
        if (MPPropertyContainer* c = e->GetMPProperties())
            for (uint32_t i = 0; i < c->Count(); ++i) e->MPPropMarkDirty(i);
        OnEntityRecreate(e);
    }
}

void MultiplayerEngine::MarkEntityDirty(Entity* e) {
    if (!InGameAsHost() || !e || !e->IsMultiplayerAuthority()) return;
    const uint16_t id = e->GetMultiplayerId();
    if (id >= kNoMultiplayerId) return;
    replicationSlots->slots[id].flags |= ENTITYRECORD_PROPERTIES;
    LinkDirty(id, e);
}

void MultiplayerEngine::OnEntityDestroyed(Entity* e) {
    if (!e || !e->IsMultiplayerAuthority() || mainMode == NETMODE_CLIENT) return;
    const uint16_t id = e->GetMultiplayerId();
    if (id >= kNoMultiplayerId) return;
    if (!InGameAsHost()) {
        e->SetMultiplayerId(kNoMultiplayerId);
        if (gEntityManager) gEntityManager->ReleaseMID(id);
        return;
    }
    if (e->IsTornOffReceived()) return;  // its destroy is announced already
    e->SetTornOffReceived();
    const uint8_t pending = UnlinkDirty(id);
    if (pending & ENTITYRECORD_CREATE) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
                   "Created and destroyed authoritative entity mid:%d in same frame before flushing update. Entity won't be replicated.",
                   int(id));
        e->SetMultiplayerId(kNoMultiplayerId);
        if (gEntityManager) gEntityManager->ReleaseMID(id);
        return;
    }
    UpdateEntity(e, ENTITYRECORD_DESTROY);
}

void MultiplayerEngine::OnEntityTornOff(Entity* e) {
    if (!e || !e->IsMultiplayerAuthority() || mainMode == NETMODE_CLIENT) return;
    const uint16_t id = e->GetMultiplayerId();
    if (id >= kNoMultiplayerId) return;
    if (!InGameAsHost()) {
        e->SetMultiplayerId(kNoMultiplayerId);
        if (gEntityManager) gEntityManager->ReleaseMID(id);
        return;
    }
    const uint8_t pending = UnlinkDirty(id);
    UpdateEntity(e, static_cast<uint8_t>(ENTITYRECORD_FINAL | pending));
}

void MultiplayerEngine::FlushDirtyEntities() {
    if (!InGameAsHost()) return;
    while (replicationSlots->head != kNoSlot) FlushDirtySlot(replicationSlots->head, 0);
}

void MultiplayerEngine::FlushPendingCreate(uint16_t id) {
    if (id < kNoMultiplayerId && replicationSlots->slots[id].linked && (replicationSlots->slots[id].flags & ENTITYRECORD_CREATE))
        FlushDirtySlot(id, 0);
}

void MultiplayerEngine::FlushDirtySlot(uint16_t id, uint32_t depth) {
    ReplicationSlots& r = *replicationSlots;
    // The list runs newest first, so a child made after its parent comes before it. The
    // network thread may run a send pass between any two records, and a create sent
    // before its parent's would be built under the client's scene root, a field naming an
    // entity the client does not have yet would arrive empty: a parent, and an entity a
    // field names, whose own create is pending go first.
    const auto pendingCreate = [&r, id](Entity* other) -> uint16_t {
        const uint16_t otherId = other ? other->GetMultiplayerId() : kNoMultiplayerId;
        if (otherId >= kNoMultiplayerId || otherId == id || !r.slots[otherId].linked || r.slots[otherId].visiting ||
            !(r.slots[otherId].flags & ENTITYRECORD_CREATE) || r.slots[otherId].entity.Get() != other)
            return kNoSlot;
        return otherId;
    };
    if (Entity* e = r.slots[id].entity.Get(); e && depth < kMaxParentDepth) {
        r.slots[id].visiting = 1;  // a loop of references stops here
        if (r.slots[id].flags & ENTITYRECORD_CREATE)
            if (const uint16_t parentId = pendingCreate(e->GetParent()); parentId != kNoSlot) FlushDirtySlot(parentId, depth + 1);
        if (MPPropertyContainer* c = (r.slots[id].flags & ENTITYRECORD_PROPERTIES) ? e->GetMPProperties() : nullptr)
            for (uint32_t i = 0; i < c->Count(); ++i)
                if (c->Get(i)->kind == MPPROPTYPE_ENTITY)
                    if (const uint16_t refId = pendingCreate(c->Get(i)->pending.entity.Get()); refId != kNoSlot) FlushDirtySlot(refId, depth + 1);
        r.slots[id].visiting = 0;
    }
    if (!r.slots[id].linked) return;
    Entity* e = r.slots[id].entity.Get();
    const uint8_t flags = UnlinkDirty(id);
    if (!e) return;
    UpdateEntity(e, flags);
    e->ClearReplicationDirtyMasks();
}

void MultiplayerEngine::UpdateEntity(Entity* e, uint8_t flags) {
    EntityRecord record;
    record.multiplayerId = e->GetMultiplayerId();
    record.dirtyMask = e->GetReplicationDirtyMask(0);
    record.snapMask = e->GetReplicationDirtyMask(1);
    if (e->IsStaticMultiplayer()) flags &= kStaticRecordFlags;
    if ((flags & ENTITYRECORD_CREATE) && e->GetTemplate()) {
        record.templateGuid = e->GetTemplate()->guid;
        Entity* parent = e->GetParent();
        const bool root = !parent || (gEntityManager && parent == gEntityManager->GetRootEntity());
        record.parentId = root ? kNoMultiplayerId : parent->GetMultiplayerId();
    }
    if (flags & ENTITYRECORD_PROPERTIES) {
        Player* owner = e->GetPlayerOwner();
        record.ownerId = !owner ? kNoOwnerId : owner == localPlayer ? 0u : owner->GetPeerID();
        e->MPPropSerialize(record.fields, record.snapMask, record.ownerRelevantMask);
    }
    if (e->GetReplicationFlags() & ENTITYREPLICATION_ONLY_OWNER_RELEVANT) flags |= ENTITYRECORD_OWNER_ONLY;
    record.flags = flags;
    PostEntityRecord(record);
    if (!(flags & ENTITYRECORD_DESTROY)) return;
    // Authority children go with their parent (each through the same path).
    SafePointer<Entity> self(e);
    for (uint32_t i = 0; i < e->GetChildrenCount(); ++i) {
        Entity* child = e->GetChild(i);
        if (!child || !child->IsMultiplayerAuthority() || child->IsTornOff() || child->IsTornOffReceived()) continue;
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::UpdateEntity - Destroying child_mId:%u of entity_mId:%u",
                   unsigned(child->GetMultiplayerId()), unsigned(record.multiplayerId));
        OnEntityDestroyed(child);
        if (!self.Get()) return;
    }
}

void MultiplayerEngine::ProcessClientEntityRecord(const EntityRecord& record) { ClientEntitySynchronizationStrategy::Process(record, localPlayer); }
