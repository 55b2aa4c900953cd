// The client's first look at a received entity record, against what it last received
// of the same id.
#include "net/replication/EntityReplicationState.h"

bool FilterReceivedEntityRecord(PeerEntityEntry& entry, EntityRecord& r, const EntityReplicationStates& dictionary) {
    const uint8_t oldFlags = entry.lastReceivedFlags;
    const uint8_t oldCounter = entry.lastReceivedCounter;
    const bool createSeen = entry.createReceived != 0;
    entry.lastReceivedFlags = r.flags;
    if (r.flags & ENTITYRECORD_CREATE) {
        entry.lastReceivedCounter = r.creationCounter;
        entry.createReceived = 1;
    }
    // The same creation again: its acknowledgement was lost, or its packet came late,
    // after a later change or the destroy (so not only right after the first).
    if ((r.flags & ENTITYRECORD_CREATE) && createSeen && r.creationCounter == oldCounter)
        r.flags &= static_cast<uint8_t>(~ENTITYRECORD_CREATE);
    // Late data for an entity already destroyed.
    if (!(r.flags & ENTITYRECORD_CREATE) && (oldFlags & ENTITYRECORD_DESTROY)) r.flags &= static_cast<uint8_t>(~ENTITYRECORD_WIRE_FLAGS);
    if (!(r.flags & ENTITYRECORD_WIRE_FLAGS)) return false;
    if (r.flags & ENTITYRECORD_CREATE) r.templateGuid = dictionary.DictionaryEntry(r.dictionarySlot);
    return true;
}

bool CreateAwaitsDictionary(const PeerEntityEntry& entry, const EntityRecord& r, const EntityReplicationStates& dictionary) {
    if (!(r.flags & ENTITYRECORD_CREATE)) return false;
    // The same creation again loses its create bit in the filter: no template is looked up.
    if (entry.createReceived && r.creationCounter == entry.lastReceivedCounter) return false;
    return !dictionary.HasDictionaryEntry(r.dictionarySlot);
}
