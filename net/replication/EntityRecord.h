#pragma once
// EntityRecord: one entity's announcement, the same plain record in command 13 (main
// thread to network thread on the host), in the network thread's states and in
// callback 20 (network thread to main thread on the client). Copied whole.
//
// The wire form (section 1 of a game packet) is written and read by EntityWire.cpp.
#include <cstdint>

#include "core/rtti/SimpleGUID.h"
#include "engine/entity/MPProperty.h"

// Record flags; the low four bits travel on the wire.
enum EntityRecordFlag : uint8_t {
    ENTITYRECORD_PROPERTIES = 1,
    ENTITYRECORD_DESTROY = 2,
    ENTITYRECORD_CREATE = 4,
    ENTITYRECORD_TEAROFF = 8,
    ENTITYRECORD_FINAL = 11,  // a torn-off entity's last record: properties, destroy, tear-off
    ENTITYRECORD_OWNER_ONLY = 128,  // replicated to the owning peer only; never sent
    ENTITYRECORD_WIRE_FLAGS = 15,
};

constexpr uint32_t kNoOwnerId = 0xFFFFFFFFu;

struct EntityRecord {
    uint16_t multiplayerId = kNoMultiplayerId;
    uint32_t version = 0;
    uint8_t flags = 0;
    uint64_t localTime = 0;  // client: local time of the packet that brought it, µs
    uint8_t dictionarySlot = 0;
    uint8_t creationCounter = 0;
    SimpleGUID templateGuid;
    uint16_t parentId = kNoMultiplayerId;
    uint8_t ownedByReceiver = 0;
    uint32_t ownerId = kNoOwnerId;
    uint64_t dirtyMask = 0;  // bit i: property i present
    uint64_t snapMask = 0;   // bit i: property i was set with a set flag
    MPFieldBuffer fields;
    uint64_t ownerRelevantMask = ~uint64_t(0);
};
