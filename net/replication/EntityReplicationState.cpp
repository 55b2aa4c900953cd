// The host's replication states and the template GUID dictionary.
#include "net/replication/EntityReplicationState.h"

#include "core/Log.h"

EntityReplicationStates::EntityReplicationStates() : states(new EntityReplicationState[kMultiplayerIdCount]()) { Reset(); }

void EntityReplicationStates::Reset() {
    for (uint32_t i = 0; i < kMultiplayerIdCount; ++i) {
        states[i] = EntityReplicationState();
        states[i].multiplayerId = static_cast<uint16_t>(i);
        // The first change takes version 1: 0 means never.
        states[i].nextVersion = 1;
    }
    for (SimpleGUID& g : dictionary) g.Clear();
    for (uint64_t& w : slotsWritten) w = 0;
    slotsWritten[0] = 1;
    dictionaryCount = 1;
}

uint32_t EntityReplicationStates::AddTemplateGUID(const SimpleGUID& guid) {
    for (uint32_t i = 0; i < dictionaryCount; ++i)
        if (dictionary[i] == guid) return i;
    // Slot 0 holds the all-zero GUID and a 256th distinct GUID would overwrite it.
    if (dictionaryCount >= kDictionarySlots) {
        gLog.Error(LogCategory::Multiplayer, "EntityReplication - template dictionary full, GUID %s not replicated", guid.ToStringUnsafe());
        return kDictionaryFull;
    }
    dictionary[dictionaryCount] = guid;
    return dictionaryCount++;
}

bool EntityReplicationStates::Apply(const EntityRecord& record) {
    if (record.multiplayerId >= kNoMultiplayerId) return false;
    EntityReplicationState& s = states[record.multiplayerId];
    // The slot first: a create without one is refused whole, so the entity is never sent.
    uint32_t slot = 0;
    if (record.flags & ENTITYRECORD_CREATE) {
        slot = AddTemplateGUID(record.templateGuid);
        if (slot == kDictionaryFull) {
            s.createRefused = 1;
            return false;
        }
        s.createRefused = 0;
    }
    s.currentVersion = s.nextVersion;
    const uint32_t v = s.currentVersion;
    if (record.flags & ENTITYRECORD_CREATE) {
        s.createdVersion = v;
        s.dictionarySlot = static_cast<uint8_t>(slot);
        s.templateGuid = record.templateGuid;
        s.parentId = record.parentId;
    }
    if (record.flags & ENTITYRECORD_PROPERTIES) {
        s.propertiesVersion = v;
        static_assert(kMaxMPProperties == 64, "one dirty bit per property");
        for (uint64_t left = record.dirtyMask; left; left &= left - 1) s.fieldVersions[__builtin_ctzll(left)] = v;
        s.ownerId = record.ownerId;
        s.dirtyMask = record.dirtyMask;
        s.snapMask = record.snapMask;
        s.fields.CopyUsed(record.fields);  // not the whole buffer
        s.ownerRelevantMask = record.ownerRelevantMask;
    }
    if (record.flags & ENTITYRECORD_DESTROY) s.destroyedVersion = v;
    s.ownerOnly = (record.flags & ENTITYRECORD_OWNER_ONLY) ? 1 : 0;
    s.tornOff = (record.flags & ENTITYRECORD_FINAL) == ENTITYRECORD_FINAL ? 1 : 0;
    return true;
}

void EntityReplicationStates::BuildRecord(EntityReplicationState& s, uint32_t a, uint32_t peerPlayerId, EntityRecord& out) {
    s.nextVersion = s.currentVersion + 1;
    // out as a fresh record (the defaults of EntityRecord); its field buffer is cleared,
    // not rebuilt whole.
    out.multiplayerId = kNoMultiplayerId;
    out.version = 0;
    out.flags = 0;
    out.localTime = 0;
    out.dictionarySlot = out.creationCounter = out.ownedByReceiver = 0;
    out.templateGuid = SimpleGUID();
    out.parentId = kNoMultiplayerId;
    out.ownerId = kNoOwnerId;
    out.dirtyMask = out.snapMask = 0;
    out.ownerRelevantMask = ~uint64_t(0);
    out.fields.Clear();
    out.multiplayerId = s.multiplayerId;
    out.version = s.currentVersion;
    if (a < s.destroyedVersion) out.flags = s.tornOff ? ENTITYRECORD_FINAL : ENTITYRECORD_DESTROY;
    if (a < s.propertiesVersion && s.destroyedVersion <= s.propertiesVersion) {
        out.flags |= ENTITYRECORD_PROPERTIES;
        out.ownerId = s.ownerId;
        out.snapMask = s.snapMask;
        out.fields.CopyUsed(s.fields);
        out.ownerRelevantMask = s.ownerRelevantMask;
        uint64_t dirty = 0;
        for (uint32_t i = 0; i < kMaxMPProperties; ++i)
            if (s.fieldVersions[i] > a) dirty |= uint64_t(1) << i;
        if (a >= s.createdVersion && s.ownerId == peerPlayerId) dirty &= s.ownerRelevantMask;
        out.dirtyMask = dirty;
    }
    if (a < s.createdVersion) {
        out.flags |= ENTITYRECORD_CREATE;
        out.dictionarySlot = s.dictionarySlot;
        out.creationCounter = static_cast<uint8_t>(s.createdVersion % 255);
        out.templateGuid = s.templateGuid;
        out.parentId = s.parentId;
    }
    out.ownedByReceiver = s.ownerId == peerPlayerId ? 1 : 0;
}
