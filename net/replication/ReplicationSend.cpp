// The host's entity records in a send pass: which entities a peer lacks, in which
// order, and what goes before each (its parent, the new entities its fields name, its
// template's dictionary slot).
#include <algorithm>
#include <vector>

#include "engine/script/MPMethodCall.h"
#include "net/packet/GamePacket.h"
#include "net/replication/EntityReplicationState.h"

namespace {
// WriteDependenciesThatFit's walk deeper than this is cut. It bounds only the work of
// one candidate: every entity of a longer chain is a candidate itself, and those near the
// chain's end fit, so the chain still goes, from its end, over later packets.
constexpr uint32_t kMaxDependencyDepth = 64;

bool Has(const uint64_t* words, uint32_t index) { return (words[index / 64] >> (index % 64)) & 1; }
}  // namespace

bool EntityPassWriter::NeedsCreation(uint16_t id) const {
    return id < kNoMultiplayerId && states[id].NeedsCreation(peer.entities[id].acknowledgedVersion) &&
           (!states[id].ownerOnly || states[id].ownerId == peer.playerId);
}

void EntityPassWriter::WriteEntityWithDependencies(uint16_t id, uint32_t a) {
    ++entityWriteCalls;
    // An entity already on the walk's path closes a loop: the loop is broken there.
    if (packet.Overflowed() || id >= kNoMultiplayerId || Has(onPath, id)) return;
    EntityReplicationState& s = states[id];
    // A held child waits only while its parent is not in the packet.
    if (Has(marks.entitiesHeldInPacket, id) && !(s.parentId < kNoMultiplayerId && InPacket(s.parentId))) return;
    onPath[id / 64] |= uint64_t(1) << (id % 64);
    // The parent and the entities the changed fields name, when the peer lacks them.
    // The walk follows every chain to its end, however long: a chain cut short would
    // send an entity before what it needs.
    const bool needsParent = s.NeedsCreation(a) && s.parentId < kNoMultiplayerId && s.parentId != id && NeedsCreation(s.parentId);
    if (needsParent && !InPacket(s.parentId)) WriteEntityWithDependencies(s.parentId, peer.entities[s.parentId].acknowledgedVersion);
    // Once the packet has overflowed the walk only unwinds.
    for (uint32_t i = 0; i < kMaxMPProperties && !packet.Overflowed(); ++i) {
        const uint16_t ref = s.fields.referencedIds[i];
        if (s.fieldVersions[i] > a && ref < kNoMultiplayerId && ref != id && NeedsCreation(ref) && !InPacket(ref))
            WriteEntityWithDependencies(ref, peer.entities[ref].acknowledgedVersion);
    }
    onPath[id / 64] &= ~(uint64_t(1) << (id % 64));
    // In a loop of references a deeper step may have written this entity already.
    if (packet.Overflowed() || InPacket(id)) return;
    // The client makes a new entity under the parent it names at once, so a child never
    // goes before its parent: when the parent could not go first (it closes a loop of
    // references through this entity, or waits itself), the child waits for a later
    // packet. A field naming an entity the peer lacks is only empty until it changes.
    if (needsParent && !InPacket(s.parentId)) {
        Mark(marks.entitiesHeldInPacket, id);
        return;
    }
    WriteRecord(id, a);
}

// Apart from the walk, so that a level of a long chain's walk holds no record.
__attribute__((noinline)) void EntityPassWriter::WriteRecord(uint16_t id, uint32_t a) {
    EntityReplicationState& s = states[id];
    Mark(marks.entitiesInPass, id);
    Mark(marks.entitiesInPacket, id);
    // The template's slot, once per packet, until the peer acknowledged one that held it.
    if (s.NeedsCreation(a)) {
        const uint8_t slot = s.dictionarySlot;
        if (peer.entities[id].slotSent != slot) {
            undo.push_back({nullptr, 0, id, peer.entities[id].slotSent});
            peer.entities[id].slotSent = slot;
        }
        const bool inPacket = (marks.slotsInPacket[slot / 64] >> (slot % 64)) & 1;
        const bool known = (peer.knownSlots[slot / 64] >> (slot % 64)) & 1;
        if (!inPacket && !known) {
            Mark(marks.slotsInPacket, slot);
            packet.BeginSection(SECTION_DICTIONARY);
            WriteDictionaryItem(packet, slot, states.DictionaryEntry(slot).bytes);
            packet.EndSection();
        }
    }
    EntityRecord record;
    states.BuildRecord(s, a, peer.playerId, record);
    if (peer.syncState == PLAYERSYNCSTATE_READY_TO_SYNC) Mark(peer.pendingEntities, id);
    if (PacketHistoryEntry* sent = packet.SentEntities()) sent->entities.push_back({record.version, record.multiplayerId});
    packet.BeginSection(SECTION_ENTITIES);
    WriteEntityRecordWire(packet, record);
    packet.EndSection();
}

bool EntityPassWriter::WriteEntityRecords(FlushFunction flush, void* context) {
    struct Candidate {
        uint32_t lastSent;
        uint16_t id;
    };
    std::vector<Candidate> candidates;
    for (uint32_t id = 0; id < kNoMultiplayerId; ++id) {
        const EntityReplicationState& s = states[id];
        if (s.createdVersion == 0 || s.currentVersion == peer.entities[id].acknowledgedVersion) continue;
        if (s.ownerOnly && s.ownerId != peer.playerId) continue;
        candidates.push_back({peer.entities[id].lastSentPass, static_cast<uint16_t>(id)});
    }
    // Entities starved by a full packet go first next time; equal passes by id.
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& x, const Candidate& y) { return x.lastSent != y.lastSent ? x.lastSent < y.lastSent : x.id < y.id; });
    for (const Candidate& c : candidates) {
        if ((marks.entitiesInPass[c.id / 64] >> (c.id % 64)) & 1) continue;
        Save();
        WriteEntityWithDependencies(c.id, peer.entities[c.id].acknowledgedVersion);
        if (!packet.Overflowed()) continue;
        Restore();
        // An empty packet is not sent for a try that cannot fit any packet.
        if (!packet.Empty()) {
            if (!flush(context)) return false;
            Save();
            WriteEntityWithDependencies(c.id, peer.entities[c.id].acknowledgedVersion);
            if (!packet.Overflowed()) continue;
            Restore();
        }
        // Larger than an empty packet: it stays unsent, but what it waits for goes.
        WriteDependenciesThatFit(c.id, 0);
    }
    return true;
}

void EntityPassWriter::WriteDependenciesThatFit(uint16_t id, uint32_t level) {
    // Each entity's dependencies are walked once a pass: among new entities that name each
    // other, walking them again on every path would grow with the paths, not the entities.
    // One whose own write failed is not tried again in the pass either.
    const auto walked = [&](uint16_t e) { return (dependenciesWalked[e / 64] >> (e % 64)) & 1; };
    if (level >= kMaxDependencyDepth || walked(id)) return;
    dependenciesWalked[id / 64] |= uint64_t(1) << (id % 64);
    const EntityReplicationState& s = states[id];
    const uint32_t a = peer.entities[id].acknowledgedVersion;
    const auto tryOne = [&](uint16_t other) {
        if (other >= kNoMultiplayerId || other == id || walked(other) || !NeedsCreation(other) || InPacket(other)) return;
        Save();
        WriteEntityWithDependencies(other, peer.entities[other].acknowledgedVersion);
        if (!packet.Overflowed()) return;
        Restore();
        WriteDependenciesThatFit(other, level + 1);
    };
    if (s.NeedsCreation(a)) tryOne(s.parentId);
    for (uint32_t i = 0; i < kMaxMPProperties; ++i)
        if (s.fieldVersions[i] > a) tryOne(s.fields.referencedIds[i]);
}

void EntityPassWriter::Mark(uint64_t* words, uint32_t index) {
    const uint64_t bit = uint64_t(1) << (index % 64);
    if (words[index / 64] & bit) return;
    words[index / 64] |= bit;
    undo.push_back({&words[index / 64], bit, 0, 0});
}

void EntityPassWriter::Save() {
    packet.Save();
    undo.clear();
}

void EntityPassWriter::Restore() {
    packet.Restore();
    for (auto u = undo.rbegin(); u != undo.rend(); ++u) {
        if (u->word)
            *u->word &= ~u->bit;
        else
            peer.entities[u->id].slotSent = u->slotSent;
    }
    undo.clear();
}

bool EntityPassWriter::WriteCallEntities(const MPMethodCall& call) {
    bool allIn = true;
    for (uint32_t i = 0; i < call.argCount && i < MPMethodCall::kMaxArgs; ++i) {
        if (call.GetArgType(i) != MPARG_ENTITY) continue;
        const uint16_t id = call.GetEntityArg(i);
        if (!NeedsCreation(id) || InPacket(id)) continue;
        WriteEntityWithDependencies(id, peer.entities[id].acknowledgedVersion);
        allIn = allIn && InPacket(id);
    }
    return allIn && !packet.Overflowed();
}
