#pragma once
// PeerSyncRecord: everything the network thread keeps about one connected peer: its
// synchronisation state, packet ids and history, time synchronisation, the frame being
// completed, the acknowledgement list, the outgoing calls and texts and the six
// sequence counters of reliable calls and texts.
//
// PeerSyncTable: the records sorted by peer id (binary search; a new record goes behind
// any equal id).
//
// Network thread only.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/script/MPMethodCall.h"
#include "net/base/NetConstants.h"
#include "net/TimeSync.h"
#include "net/packet/GamePacket.h"
#include "net/replication/EntityReplicationState.h"

struct OutgoingCall {
    MPMethodCall call;
    uint32_t sequence = 0;
};

struct OutgoingText {
    char16_t units[kTextItemUnits] = {};
    uint32_t count = 0;
    uint32_t sequence = 0;
};

struct AckEntry {
    uint16_t packetId = 0;
    int32_t repeats = 0;
};


// A packet id (1 to 65535, then 1 again) as a count that goes on past the wrap: the count
// nearest `newest` (the count of the newest packet so far, 0 for none) with that id.
uint64_t UnwrapPacketId(uint64_t newest, uint16_t id);

struct PeerSyncRecord {
    explicit PeerSyncRecord(uint32_t peerId, int64_t counterNow);

    uint32_t peerId;
    uint32_t passCounter = 0;
    uint32_t syncState = PLAYERSYNCSTATE_NONE;
    int64_t syncStartTime = 0;  // counter ticks
    uint16_t nextPacketId = 1;
    // Client: the newest game packet taken from this peer, its 16-bit id counted on past
    // the wrap (UnwrapPacketId); 0 before the first.
    uint64_t newestPacket = 0;
    TimeSync timeSync;
    uint32_t framePackets = 0;
    uint32_t frameExpected = 0;
    uint64_t currentFrameTime = 0;
    int64_t previousFrameLocalTime = 0;
    int64_t latestFrameLocalTime = 0;
    PacketHistoryEntry history[kPacketHistorySize];
    uint32_t historyTail = 0;
    uint32_t historyHead = 0;
    uint64_t pendingEntities[kMultiplayerIdCount / 64] = {};
    uint64_t knownSlots[kDictionarySlots / 64] = {};
    std::unique_ptr<PeerEntityEntry[]> entities;
    // Sequences of reliable calls and texts.
    uint32_t lastReliableSent = 0;
    uint32_t lastReliableReceived = 0;
    uint32_t lastReliableAcknowledged = 0;
    uint32_t lastTextSent = 0;
    uint32_t lastTextReceived = 0;
    uint32_t lastTextAcknowledged = 0;
    std::vector<AckEntry> acks;
    std::vector<OutgoingCall> unreliableCalls;
    std::vector<OutgoingCall> reliableCalls;
    std::vector<OutgoingText> texts;

    bool HasPendingEntities() const;
};

class PeerSyncTable {
public:
    PeerSyncRecord* Find(uint32_t peerId) const;
    PeerSyncRecord* Insert(uint32_t peerId, int64_t counterNow);
    void Remove(uint32_t peerId);
    void Clear() { records.clear(); }
    uint32_t Count() const { return static_cast<uint32_t>(records.size()); }
    PeerSyncRecord* At(uint32_t index) const { return records[index].get(); }
    PeerSyncRecord* First() const { return records.empty() ? nullptr : records[0].get(); }

private:
    // Index of the first record whose id is above peerId.
    size_t UpperBound(uint32_t peerId) const;
    std::vector<std::unique_ptr<PeerSyncRecord>> records;
};
