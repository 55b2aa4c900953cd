#pragma once
// The host's replication states: one EntityReplicationState per multiplayer id (4,096),
// each change stamped with a version, and the template GUID dictionary (256 slots of 16
// bytes, slot 0 all zero, a count that starts at 1) whose slots travel to each peer once.
//
// Versions advance lazily: building a record for any peer moves the next version one
// past the current one, so every change applied between two send passes shares one
// version. A created, destroyed or properties version of 0 means never.
//
// Network thread only.
#include <cstdint>
#include <memory>
#include <vector>

#include "net/base/NetConstants.h"
#include "net/replication/EntityRecord.h"

struct EntityReplicationState {
    uint32_t currentVersion = 0;
    uint32_t nextVersion = 0;
    uint32_t createdVersion = 0;
    uint32_t destroyedVersion = 0;
    uint32_t propertiesVersion = 0;
    uint32_t fieldVersions[kMaxMPProperties] = {};
    uint16_t multiplayerId = 0;
    uint8_t dictionarySlot = 0;
    SimpleGUID templateGuid;
    uint16_t parentId = kNoMultiplayerId;
    uint32_t ownerId = kNoOwnerId;
    uint64_t dirtyMask = 0;
    uint64_t snapMask = 0;
    MPFieldBuffer fields;
    uint64_t ownerRelevantMask = ~uint64_t(0);
    uint8_t ownerOnly = 0;
    uint8_t tornOff = 0;
    // Its create was refused (no dictionary slot): never sent; its destroy releases the id.
    uint8_t createRefused = 0;

    bool IsCreated() const { return createdVersion != 0; }
    // Created and its destroy applied (a destroy at or after the create).
    bool IsDestroyed() const { return createdVersion != 0 && destroyedVersion >= createdVersion; }
    // The version a peer that acknowledged `acknowledged` still lacks a create of.
    bool NeedsCreation(uint32_t acknowledged) const { return acknowledged < createdVersion; }
};

constexpr uint32_t kDictionaryFull = 0xFFFFFFFFu;

// Per peer and multiplayer id, what the peer has of the entity (inside the peer record).
struct PeerEntityEntry {
    uint32_t lastSentPass = 0;
    uint32_t acknowledgedVersion = 0;
    uint8_t lastReceivedFlags = 0;    // client
    uint8_t slotSent = 0;             // host: the dictionary slot last sent with a create
    uint8_t lastReceivedCounter = 0;  // client
    uint8_t createReceived = 0;       // client: a create came, with lastReceivedCounter
    // Client: the packet (its id counted on past the wrap, PeerSyncRecord) whose record of
    // this id was taken last; 0 for none.
    uint64_t recordPacket = 0;
};

class EntityReplicationStates {
public:
    EntityReplicationStates();

    // All states back to version 0, each with its own index as id; the dictionary empty
    // (hosting starts).
    void Reset();

    EntityReplicationState& operator[](uint32_t id) { return states[id]; }
    const EntityReplicationState& operator[](uint32_t id) const { return states[id]; }

    // The slot holding the GUID, storing it in the next free slot when new; kDictionaryFull
    // (and one error line) when all 256 slots are taken by other GUIDs.
    uint32_t AddTemplateGUID(const SimpleGUID& guid);
    const SimpleGUID& DictionaryEntry(uint8_t slot) const { return dictionary[slot]; }
    // Client: a slot received from the host (slot 0, the all-zero GUID, is always known).
    void WriteDictionaryEntry(uint8_t slot, const SimpleGUID& guid) {
        dictionary[slot] = guid;
        slotsWritten[slot / 64] |= uint64_t(1) << (slot % 64);
    }
    bool HasDictionaryEntry(uint8_t slot) const { return (slotsWritten[slot / 64] >> (slot % 64)) & 1; }
    uint32_t DictionaryCount() const { return dictionaryCount; }

    // A main-thread record (command 13) folded into its state; false when the record was
    // refused (id out of range, or a create whose template finds no dictionary slot).
    bool Apply(const EntityRecord& record);

    // The record one peer gets of a state: `acknowledged` is the peer's acknowledged
    // version, `peerPlayerId` the player id the peer plays as. Moves the next version.
    void BuildRecord(EntityReplicationState& state, uint32_t acknowledged, uint32_t peerPlayerId, EntityRecord& out);

private:
    std::unique_ptr<EntityReplicationState[]> states;
    SimpleGUID dictionary[kDictionarySlots];
    uint64_t slotsWritten[kDictionarySlots / 64] = {};
    uint32_t dictionaryCount = 1;
};

// ---- Wire form (section 1) ----
// Writes the record's wire form into the packet's current section (only the fields of
// the record's dirty mask, from an appended buffer); false on overflow or when the
// fields exceed 2,047 bits.
class GamePacket;
class BitReader;
bool WriteEntityRecordWire(GamePacket& packet, const EntityRecord& record);
// Reads one wire record; the fields arrive packed as one block (fieldCount 0). False
// for a record that runs past the end.
bool ReadEntityRecordWire(BitReader& in, EntityRecord& record);
// Bits of the wire form.
uint32_t EntityRecordWireBits(const EntityRecord& record);

// ---- The entity part of one send pass to one peer ----
struct MPMethodCall;

// What one peer has of our entities: views into its peer record.
struct PeerEntityView {
    uint32_t playerId = 0;   // the player id the peer plays as
    uint32_t syncState = 0;  // PLAYERSYNCSTATE_*
    uint32_t pass = 0;       // this pass's number
    PeerEntityEntry* entities = nullptr;  // kMultiplayerIdCount entries
    uint64_t* pendingEntities = nullptr;  // kMultiplayerIdCount bits
    uint64_t* knownSlots = nullptr;       // kDictionarySlots bits
};

// Which entities and slots this pass and the packet being filled hold.
struct EntityPassMarks {
    uint64_t entitiesInPass[kMultiplayerIdCount / 64] = {};
    uint64_t entitiesInPacket[kMultiplayerIdCount / 64] = {};
    uint64_t slotsInPacket[kDictionarySlots / 64] = {};
    // New entities whose parent could not go before them in this packet.
    uint64_t entitiesHeldInPacket[kMultiplayerIdCount / 64] = {};
};

class EntityPassWriter {
public:
    // flush: sends the packet being filled and starts the next (the packet's marks are
    // cleared by it); false when the pass may send no more packets.
    using FlushFunction = bool (*)(void* context);
    EntityPassWriter(EntityReplicationStates& states, PeerEntityView& peer, EntityPassMarks& marks, GamePacket& packet)
        : states(states), peer(peer), marks(marks), packet(packet) {}

    // The packet's save point, and with it every mark this writer sets after it (the
    // pass's and packet's entity and slot marks, the peer's pending entities and sent
    // slots): Restore rolls the packet back and clears those marks, so what a rolled-back
    // attempt named is written again, with its dictionary entry, by the next attempt.
    void Save();
    void Restore();

    // The entity with the parent and every new entity its changed fields name before
    // it, each not yet in this packet; nothing when the packet has overflowed.
    void WriteEntityWithDependencies(uint16_t id, uint32_t acknowledged);
    // Every entity the peer lacks, least recently sent first (then by id); false when a
    // refused flush ended the pass.
    bool WriteEntityRecords(FlushFunction flush, void* context);
    // Before a call: its entity arguments the peer still needs created. False when one of
    // them is not in the packet after it (it waits for its parent, or the packet
    // overflowed): the call must not go before it.
    bool WriteCallEntities(const MPMethodCall& call);
    bool NeedsCreation(uint16_t id) const;
    // Calls of WriteEntityWithDependencies in this pass, the recursive ones included.
    uint32_t EntityWriteCalls() const { return entityWriteCalls; }

private:
    // One mark set since the save: a bit, or an entity's sent slot and the one it replaced.
    struct Undo {
        uint64_t* word;  // the bit's word; null for a sent slot
        uint64_t bit;
        uint16_t id;
        uint8_t slotSent;
    };
    bool InPacket(uint16_t id) const { return (marks.entitiesInPacket[id / 64] >> (id % 64)) & 1; }
    void Mark(uint64_t* words, uint32_t index);
    // The entity's record (and its template's slot) into the packet, with its marks.
    void WriteRecord(uint16_t id, uint32_t acknowledged);
    // An entity that with what must go before it does not fit an empty packet: as much of
    // what must go before it as fits, so that acknowledgements shrink what it waits for.
    void WriteDependenciesThatFit(uint16_t id, uint32_t depth);
    EntityReplicationStates& states;
    PeerEntityView& peer;
    EntityPassMarks& marks;
    GamePacket& packet;
    uint64_t onPath[kMultiplayerIdCount / 64] = {};  // the entities the current walk is writing
    uint32_t entityWriteCalls = 0;
    uint64_t dependenciesWalked[kMultiplayerIdCount / 64] = {};  // by WriteDependenciesThatFit
    std::vector<Undo> undo;
};

// ---- Client side ----
// Steps 1 to 3 of receiving a record against the peer's entry of its id: a repeated
// create loses its create bit, late data after a destroy loses everything. True when
// anything remains to hand to the main thread. `dictionary` names the create's GUID.
bool FilterReceivedEntityRecord(PeerEntityEntry& entry, EntityRecord& record, const EntityReplicationStates& dictionary);
// True for a first create whose template slot has not arrived (its packet overtook the
// one carrying the slot): the record must be left as if never received, and its packet
// unacknowledged, so that the host sends the create again with its slot.
bool CreateAwaitsDictionary(const PeerEntityEntry& entry, const EntityRecord& record, const EntityReplicationStates& dictionary);
