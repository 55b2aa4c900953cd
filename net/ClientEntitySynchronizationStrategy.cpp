#include "net/ClientEntitySynchronizationStrategy.h"

#include "core/Log.h"
#include "core/math/Matrix.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/services/GameServices.h"
#include "net/replication/EntityRecord.h"

namespace ClientEntitySynchronizationStrategy {

void Process(const EntityRecord& r, Player* localPlayer) {
    const bool create = (r.flags & ENTITYRECORD_CREATE) != 0;
    const bool destroy = (r.flags & ENTITYRECORD_DESTROY) != 0;
    const bool tearOff = (r.flags & ENTITYRECORD_FINAL) == ENTITYRECORD_FINAL;
    if (destroy && !tearOff) {
        Entity* e = gEntityManager ? gEntityManager->GetEntityByMID(r.multiplayerId) : nullptr;
        if (!e) return;
        e->SetTornOffReceived();  // its end is announced: the id may come back before it runs
        GetGameServices().AddDelayedEntity(e, r.localTime, DELAYED_ENTITY_DESTROY);
        return;
    }
    if (create && !ProcessCreate(r, localPlayer) && gEntityManager && gEntityManager->GetEntityByMID(r.multiplayerId)) {
        // A create refused for an id that has its entity: the rest is an update of that
        // entity (its properties are declared and its creation finished once only).
        EntityRecord update = r;
        update.flags &= static_cast<uint8_t>(~ENTITYRECORD_CREATE);
        ProcessUpdate(update);
        return;
    }
    ProcessUpdate(r);
}

Entity* ProcessCreate(const EntityRecord& r, Player* localPlayer) {
    if (!gEntityManager || r.multiplayerId >= kNoMultiplayerId) return nullptr;
    if (Entity* old = gEntityManager->GetEntityByMID(r.multiplayerId)) {
        // The host reuses an id once we acknowledged its destroy or tear-off, which may be
        // before that end, queued for its time, has run here: the old proxy gives the id up.
        if (!old->IsTornOffReceived()) {
            gLog.Warning(LogCategory::Multiplayer, "ClientEntitySynchronizationStrategy::ProcessCreate - Entity already exists mId: %d.",
                         int(r.multiplayerId));
            return nullptr;
        }
        old->SetMultiplayerId(kNoMultiplayerId);
    }
    EntityTemplate* t = gEntityTemplateRegistry.FindTemplateByGUID(r.templateGuid, true);
    if (!t) {
        char text[40];
        r.templateGuid.ToString(text, sizeof text);
        gLog.Warning(LogCategory::Multiplayer, "Couldn't create replicated entity with id %u. Entity template with GUID %s doesn't exist.",
                     unsigned(r.multiplayerId), text);
        return nullptr;
    }
    const Matrix identity = Matrix::IDENTITY;
    Entity* e = gEntityManager->CreateEntityFromTemplate(t, nullptr, identity, ENTITYCREATION_MULTIPLAYER_PROXY, nullptr);
    if (!e) {
        gLog.Warning(LogCategory::Multiplayer, "Couldn't create replicated entity with id %u. CreateEntity failed!", unsigned(r.multiplayerId));
        return nullptr;
    }
    e->SetMultiplayerId(r.multiplayerId);
    e->RaiseFlag(ENTITYFLAG_DISABLE_UPDATE, true);
    GetGameServices().AddDelayedEntity(e, r.localTime, DELAYED_ENTITY_INIT);

    Entity* parent = r.parentId >= kNoMultiplayerId ? gEntityManager->GetRootEntity() : gEntityManager->GetEntityByMID(r.parentId);
    if (!parent) {
        if ((r.flags & ENTITYRECORD_FINAL) == ENTITYRECORD_FINAL) return e;
        gLog.Warning(LogCategory::Multiplayer, "ClientEntitySynchronizationStrategy::ProcessCreate - parent mId: %d of mId: %d missing, using the scene root",
                     int(r.parentId), int(r.multiplayerId));
        parent = gEntityManager->GetRootEntity();
    }
    if (parent && parent != e->GetParent()) e->SetParent(parent);  // SetParent refuses a loop
    if (r.ownedByReceiver) e->SetPlayerOwner(localPlayer);
    return e;
}

void ProcessUpdate(const EntityRecord& r) {
    if (!gEntityManager) return;
    Entity* e = gEntityManager->GetEntityByMID(r.multiplayerId);
    if (!e) return;
    const bool create = (r.flags & ENTITYRECORD_CREATE) != 0;
    SafePointer<Entity> alive(e);
    if (create) {
        gEntityManager->CallInitMPProperties(e);
        if (!(e = alive.Get())) return;
    }
    if (r.flags & ENTITYRECORD_PROPERTIES) e->MPPropDeserialize(r.fields, r.dirtyMask, r.snapMask, r.localTime, create);
    if (create) {
        e->MPPropApplyLocation();
        gEntityManager->FinishEntityCreation(e);
        if (!(e = alive.Get())) return;
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
                   "ClientEntitySynchronizationStrategy::ProcessUpdate - Entity created mulid:%d name:%s. Initialized.", int(r.multiplayerId),
                   e->GetName());
    }
    if ((r.flags & ENTITYRECORD_FINAL) == ENTITYRECORD_FINAL) {
        e->SetTornOffReceived();
        GetGameServices().AddDelayedEntity(e, r.localTime, DELAYED_ENTITY_TEAROFF);
    }
}

}  // namespace ClientEntitySynchronizationStrategy
