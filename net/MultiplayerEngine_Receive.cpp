// Reading a game packet from a peer.
//
// Everything a peer sends is untrusted. The reader knows the packet's length and checks
// every read; all items are read before any is applied, so a section count or an item
// that runs past the end (or a call that cannot be a call) drops the whole packet,
// unacknowledged, with one warning. Sections 0 and 1 are applied only by a client and
// section 2 only by a host. Reliable calls and texts are delivered strictly in sequence
// order; an acknowledged sequence never passes what we sent.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "net/MultiplayerEngine.h"
#include "platform/os/Clock.h"

void MultiplayerEngine::FormatHex(const uint8_t* data, uint32_t length, char* out, uint32_t outSize) {
    static const char kDigits[] = "0123456789ABCDEF";
    uint32_t at = 0;
    for (uint32_t i = 0; i < length && i < 256 && at + 3 <= outSize; ++i) {
        out[at++] = kDigits[data[i] >> 4];
        out[at++] = kDigits[data[i] & 15];
    }
    if (outSize) out[at < outSize ? at : outSize - 1] = 0;
}

bool MultiplayerEngine::ReadPacketItems() {
    received.dictionary.clear();
    received.acks.clear();
    received.calls.clear();
    received.texts.clear();
    received.entities.clear();
    BitReader& in = packet.Reader();
    for (uint32_t i = 0; i < packet.ReceivedCount(SECTION_DICTIONARY); ++i) {
        uint8_t slot = 0;
        std::array<uint8_t, 16> guid{};
        if (!ReadDictionaryItem(in, slot, guid.data())) return false;
        received.dictionary.emplace_back(slot, guid);
    }
    for (uint32_t i = 0; i < packet.ReceivedCount(SECTION_ENTITIES); ++i) {
        EntityRecord r;
        if (!ReadEntityRecordWire(in, r)) return false;
        received.entities.push_back(r);
    }
    for (uint32_t i = 0; i < packet.ReceivedCount(SECTION_ACKS); ++i) {
        uint16_t id = 0;
        if (!ReadAckItem(in, id)) return false;
        received.acks.push_back(id);
    }
    for (uint32_t i = 0; i < packet.ReceivedCount(SECTION_CALLS); ++i) {
        OutgoingCall c;
        if (!ReadCallItem(in, c.sequence, c.call)) return false;
        received.calls.push_back(c);
    }
    for (uint32_t i = 0; i < packet.ReceivedCount(SECTION_TEXTS); ++i) {
        char16_t units[kMaxChatUnits + 1];
        OutgoingText t;
        if (!ReadTextItem(in, t.sequence, units, t.count)) return false;
        std::memcpy(t.units, units, sizeof units);
        received.texts.push_back(t);
    }
    return true;
}

void MultiplayerEngine::ReceivePacket(PeerSyncRecord* peerRecord, const uint8_t* data, uint32_t length) {
    // 1. The header.
    if (!packet.Parse(data, length)) {
        char hex[2 * 256 + 1];
        FormatHex(data, data ? length : 0, hex, sizeof hex);
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Invalid packet. dataLen:%d data:%s", int(length), hex);
        return;
    }
    // 2. Only from a peer we know; the header time onto our time line.
    if (!peerRecord) return;
    PeerSyncRecord& peer = *peerRecord;
    // Every item is read before anything is applied: a malformed packet leaves no trace,
    // not even its header time.
    if (!ReadPacketItems()) {
        gLog.Warning(LogCategory::Multiplayer, "Dropping malformed packet:%d from peer %d", int(packet.packetId), int(peer.peerId));
        return;
    }
    // A create whose template slot neither we nor this packet hold: the packet is taken
    // as lost, before any part of it is applied (its header time, acknowledgements, calls
    // and texts included) and unacknowledged, so the host sends all of it again, the
    // slot with it. Applying the rest would, for one, run a reliable call sent with the
    // create before its entity exists here, and that call never comes again.
    // The packet's place among the peer's packets, past the 16-bit wrap of its id.
    const uint64_t number = UnwrapPacketId(peer.newestPacket, packet.packetId);
    if (netMode == NETMODE_CLIENT) {
        const uint32_t awaiting = CreatesAwaitingTheirSlot(peer, number);
        if (awaiting) {
            gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
                       "Packet:%d not acknowledged: %u creates wait for their template slot", int(packet.packetId), unsigned(awaiting));
            return;
        }
    }
    const int64_t now = NetworkNow();
    int64_t local = 0;
    if (!peer.timeSync.MapPacketTime(packet.frameTime, packet.packetId, now, &local)) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Skipping packet:%d peerTimeUS:%lld", int(packet.packetId),
                   (long long)packet.frameTime);
        return;
    }
    // 3. Log the packet.
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
               "Recv packet:%d size:%d %d/%d/%d/%d/%d peerTimeUS:%lld localTimeUS:%lld simTimeUS:%lld", int(packet.packetId), int(length),
               int(packet.ReceivedCount(0)), int(packet.ReceivedCount(1)), int(packet.ReceivedCount(2)), int(packet.ReceivedCount(3)),
               int(packet.ReceivedCount(4)), (long long)packet.frameTime, (long long)local, (long long)now);
    // 4. Room for what the packet may report; otherwise it comes again.
    const uint32_t room = kPacketCallbackRoom + static_cast<uint32_t>(received.entities.size()) * kEntityRecordCallbackRoom;
    if (callbacks.Capacity() - callbacks.Used() <= room) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "_CallbackMessageQueue full, skipping packet");
        return;
    }

    // 5. What the peer has received of ours: never more than we sent.
    const uint32_t ackedReliable = std::min(packet.ackedReliable, peer.lastReliableSent);
    const uint32_t ackedText = std::min(packet.ackedText, peer.lastTextSent);
    peer.lastReliableAcknowledged = std::max(peer.lastReliableAcknowledged, ackedReliable);
    peer.lastTextAcknowledged = std::max(peer.lastTextAcknowledged, ackedText);
    size_t done = 0;
    while (done < peer.reliableCalls.size() && peer.reliableCalls[done].sequence <= peer.lastReliableAcknowledged) ++done;
    if (done) {
        peer.reliableCalls.erase(peer.reliableCalls.begin(), peer.reliableCalls.begin() + static_cast<long>(done));
        PushCallsAcknowledged(peer.peerId, static_cast<uint32_t>(done));
    }
    done = 0;
    while (done < peer.texts.size() && peer.texts[done].sequence <= peer.lastTextAcknowledged) ++done;
    peer.texts.erase(peer.texts.begin(), peer.texts.begin() + static_cast<long>(done));

    // 6. Frame completion: all packets of one host frame received.
    if (packet.frameTime == peer.currentFrameTime && peer.framePackets != 0) {
        ++peer.framePackets;
    } else {
        peer.currentFrameTime = packet.frameTime;
        peer.framePackets = 1;
        peer.frameExpected = 0;
    }
    if (peer.frameExpected == 0) peer.frameExpected = packet.packetCount;
    if (peer.frameExpected != 0 && peer.frameExpected == peer.framePackets) {
        peer.previousFrameLocalTime = peer.latestFrameLocalTime;
        peer.latestFrameLocalTime = local;
        PushFrameTimes(peer.previousFrameLocalTime, peer.latestFrameLocalTime);
    }

    // 7-9. The dictionary (client), entity records (entity replication), acknowledgements
    // (host). Every create's slot is known by now (see above).
    if (netMode == NETMODE_CLIENT) {
        for (const auto& [slot, guid] : received.dictionary) {
            SimpleGUID g;
            std::memcpy(g.bytes, guid.data(), 16);
            replication.WriteDictionaryEntry(slot, g);
        }
        for (EntityRecord& r : received.entities) ReceiveEntityRecord(peer, r, local, number);
        peer.newestPacket = std::max(peer.newestPacket, number);
    }
    if (netMode == NETMODE_HOST)
        for (uint16_t id : received.acks) HandleAcknowledgement(peer, id);

    // 10. Calls: unreliable at once, reliable strictly in order.
    for (const OutgoingCall& c : received.calls) {
        if (c.sequence != 0) {
            if (c.sequence != peer.lastReliableReceived + 1) continue;
            peer.lastReliableReceived = c.sequence;
        }
        PushMethodCall(peer.peerId, static_cast<uint64_t>(local), c.call);
    }
    // 11. Texts, in order, named after the lobby's peer member.
    char16_t name[32] = {};
    {
        std::lock_guard<std::mutex> lock(lobbyLock);
        std::memcpy(name, lobby.members[1].name, sizeof name);
    }
    name[31] = 0;
    for (const OutgoingText& t : received.texts) {
        if (t.sequence != peer.lastTextReceived + 1) continue;
        peer.lastTextReceived = t.sequence;
        PushTextMessage(ECHATENTRYTYPE_PEER_MSG, name, t.units, 0);
    }

    // 12. Acknowledge this packet in the next passes (a client's list holds the newest
    // 256; a host keeps none, as it sends none).
    if (netMode == NETMODE_CLIENT) {
        peer.acks.push_back({packet.packetId, static_cast<int32_t>(kAckRepeats)});
        if (peer.acks.size() > kMaxClientAcks) peer.acks.erase(peer.acks.begin(), peer.acks.end() - kMaxClientAcks);
    }

    // 13. Synchronisation complete.
    if (peer.syncState == PLAYERSYNCSTATE_SYNCING && !peer.HasPendingEntities()) {
        peer.syncState = PLAYERSYNCSTATE_READY;
        const double seconds = double(counterNow - peer.syncStartTime) / double(os::kCounterFrequency);
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Peer %d PLAYERSYNCSTATE_READY in %fs", int(peer.peerId), seconds);
        PushPeerReady(peer.peerId);
    }
}

uint32_t MultiplayerEngine::CreatesAwaitingTheirSlot(const PeerSyncRecord& peer, uint64_t packetNumber) const {
    uint64_t inPacket[kDictionarySlots / 64] = {};
    for (const auto& entry : received.dictionary) inPacket[entry.first / 64] |= uint64_t(1) << (entry.first % 64);
    uint32_t awaiting = 0;
    for (const EntityRecord& r : received.entities) {
        if (r.multiplayerId >= kNoMultiplayerId || ((inPacket[r.dictionarySlot / 64] >> (r.dictionarySlot % 64)) & 1)) continue;
        if (packetNumber <= peer.entities[r.multiplayerId].recordPacket) continue;  // stale: dropped whole
        if (CreateAwaitsDictionary(peer.entities[r.multiplayerId], r, replication)) ++awaiting;
    }
    return awaiting;
}

void MultiplayerEngine::HandleAcknowledgement(PeerSyncRecord& peer, uint16_t packetId) {
    if (netMode != NETMODE_HOST) return;
    for (uint32_t i = peer.historyTail; i != peer.historyHead; i = (i + 1) % kPacketHistorySize) {
        PacketHistoryEntry& entry = peer.history[i];
        if (entry.packetId != packetId) continue;
        for (const SentEntity& e : entry.entities) {
            if (e.multiplayerId >= kMultiplayerIdCount) continue;
            if (peer.syncState == PLAYERSYNCSTATE_SYNCING) peer.pendingEntities[e.multiplayerId / 64] &= ~(uint64_t(1) << (e.multiplayerId % 64));
            PeerEntityEntry& state = peer.entities[e.multiplayerId];
            state.acknowledgedVersion = std::max(state.acknowledgedVersion, e.version);
            // Any acknowledged record brought the create (it is built with one until
            // then), so the peer knows the template's slot.
            EntityReplicationState& s = replication[e.multiplayerId];
            if (s.IsCreated() && state.acknowledgedVersion >= s.createdVersion)
                peer.knownSlots[state.slotSent / 64] |= uint64_t(1) << (state.slotSent % 64);
            _TryToReleaseEntityState(s);
        }
        return;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Packet ack not found PacketID:%u CurrPacketID:%u", unsigned(packetId),
               unsigned(peer.nextPacketId));
}
