// The send pass: what one peer gets from us in one pass, in at most two packets.
//
// The pass resets the working packet, stamps the header (frame time of the last
// end-of-frame command, the sequences received in order from this peer) and writes, in
// order: entity records (host, entity replication), acknowledgements (client: each
// received packet id in three successive passes), the reliable calls (all, until the
// peer acknowledges them), the unreliable calls (those written leave the list) and the
// texts (all, until acknowledged). Every item is written with fall-over: an item that
// does not fit flushes the packet and goes into the next one; a pass never flushes
// more than two packets. The last packet's byte 15 is the number of packets of the pass.
#include "core/Log.h"
#include "core/profiler/Profiler.h"
#include "net/MultiplayerEngine.h"

namespace {

bool WriteAck(GamePacket& packet, const void* item) { return WriteAckItem(packet, *static_cast<const uint16_t*>(item)); }

bool WriteCallAt(GamePacket& packet, const void* item) {
    const OutgoingCall& c = *static_cast<const OutgoingCall*>(item);
    return WriteCallItem(packet, c.sequence, c.call);
}

bool WriteText(GamePacket& packet, const void* item) {
    const OutgoingText& t = *static_cast<const OutgoingText*>(item);
    return WriteTextItem(packet, t.sequence, t.units, t.count);
}

bool TryWrite(GamePacket& packet, uint32_t section, bool (*write)(GamePacket&, const void*), const void* item) {
    packet.Save();
    packet.BeginSection(section);
    const bool ok = write(packet, item) && !packet.Overflowed();
    packet.EndSection();
    if (!ok) packet.Restore();
    return ok;
}

}  // namespace

void MultiplayerEngine::BindHistoryHead(PeerSyncRecord& peer) {
    PacketHistoryEntry& head = peer.history[peer.historyHead];
    head.entities.clear();
    head.packetId = peer.nextPacketId;
    packet.BindSentEntities(&head);
}

bool MultiplayerEngine::FlushPacket(PeerSyncRecord& peer, PeerSendPass& pass) {
    if (pass.packetsFlushed >= kMaxPacketsPerPass) {
        pass.complete = 0;
        return false;
    }
    // Profiler values 45 to 53: count and bytes of sections 1 to 4, then section 0's count.
    uint32_t counter = PROFILE_NET_SENT_ENTITY;
    for (uint32_t s = SECTION_ENTITIES; s <= SECTION_TEXTS; ++s) {
        gProfiler.SetValue(counter++, float(packet.ItemCount(s)), PROFILER_THREAD_OTHER);
        gProfiler.SetValue(counter++, float((packet.SectionBits(s) + 7) / 8), PROFILER_THREAD_OTHER);
    }
    gProfiler.SetValue(PROFILE_NET_SENT_TEMPLATE_ID, float(packet.ItemCount(SECTION_DICTIONARY)), PROFILER_THREAD_OTHER);

    const uint16_t id = peer.nextPacketId;
    peer.nextPacketId = static_cast<uint16_t>(id + 1) == 0 ? 1 : static_cast<uint16_t>(id + 1);
    if (PacketHistoryEntry* sent = packet.SentEntities())
        for (const SentEntity& e : sent->entities)
            if (e.multiplayerId < kMultiplayerIdCount) peer.entities[e.multiplayerId].lastSentPass = peer.passCounter;
    peer.historyHead = (peer.historyHead + 1) % kPacketHistorySize;
    if (peer.historyHead == peer.historyTail) peer.historyTail = (peer.historyTail + 1) % kPacketHistorySize;

    packet.packetId = id;
    const uint32_t bytes = packet.Build(packetBytes);
    driver->Send(static_cast<int32_t>(peer.peerId), packetBytes, bytes, NETFRAME_GAME_PACKET);

    packet.Reset();
    packet.packetCount = 0;
    BindHistoryHead(peer);
    for (uint64_t& w : pass.marks.entitiesInPacket) w = 0;
    for (uint64_t& w : pass.marks.slotsInPacket) w = 0;
    for (uint64_t& w : pass.marks.entitiesHeldInPacket) w = 0;
    ++pass.packetsFlushed;
    return true;
}

bool MultiplayerEngine::WriteWithFallOver(PeerSyncRecord& peer, PeerSendPass& pass, uint32_t section,
                                          bool (*write)(GamePacket&, const void*), const void* item) {
    if (TryWrite(packet, section, write, item)) return true;
    // The last packet of a pass is the final flush, which carries byte 15: a fall-over
    // never uses it up.
    if (pass.packetsFlushed + 1 >= kMaxPacketsPerPass) {
        pass.complete = 0;
        return false;
    }
    if (!FlushPacket(peer, pass)) return false;
    TryWrite(packet, section, write, item);  // an item too large for an empty packet stays unsent
    return true;
}

// A call goes with the entities it names that the peer still needs created: written
// just before it, and moved with it to the next packet when they do not fit. While one of
// them waits for its parent (which no fresh packet changes), the call waits with it, for a
// later pass.
MultiplayerEngine::CallSent MultiplayerEngine::WriteCall(PeerSyncRecord& peer, PeerSendPass& pass,
                                                         EntityPassWriter* entities, const OutgoingCall& c) {
    if (!entities)
        return WriteWithFallOver(peer, pass, SECTION_CALLS, &WriteCallAt, &c) ? CallSent::kDone : CallSent::kNoRoom;
    const auto attempt = [&] {
        entities->Save();
        // A call never goes before an entity it names.
        if (!entities->WriteCallEntities(c.call)) {
            const bool noRoom = packet.Overflowed();
            entities->Restore();
            return noRoom ? CallSent::kNoRoom : CallSent::kWaits;
        }
        packet.BeginSection(SECTION_CALLS);
        const bool ok = WriteCallItem(packet, c.sequence, c.call) && !packet.Overflowed();
        packet.EndSection();
        if (!ok) entities->Restore();
        return ok ? CallSent::kDone : CallSent::kNoRoom;
    };
    const CallSent first = attempt();
    if (first != CallSent::kNoRoom) return first;
    if (pass.packetsFlushed + 1 >= kMaxPacketsPerPass) {
        pass.complete = 0;
        return CallSent::kNoRoom;
    }
    if (!FlushPacket(peer, pass)) return CallSent::kNoRoom;
    // In an empty packet: written, waiting, or too large for any packet (never sent).
    const CallSent second = attempt();
    return second == CallSent::kWaits ? CallSent::kWaits : CallSent::kDone;
}

void MultiplayerEngine::SendPass(PeerSyncRecord& peer) {
    PeerSendPass pass;
    packet.Reset();
    packet.frameTime = frameTime;
    packet.ackedReliable = peer.lastReliableReceived;
    packet.ackedText = peer.lastTextReceived;
    packet.packetCount = 0;
    BindHistoryHead(peer);
    pass.sendEntities = netMode == NETMODE_HOST && peer.syncState != PLAYERSYNCSTATE_NONE;

    // Entity records first (host): what the peer lacks, with what each needs before it.
    PeerEntityView view;
    view.playerId = peer.peerId;
    view.syncState = peer.syncState;
    view.pass = peer.passCounter;
    view.entities = peer.entities.get();
    view.pendingEntities = peer.pendingEntities;
    view.knownSlots = peer.knownSlots;
    EntityPassWriter entities(replication, view, pass.marks, packet);
    if (pass.sendEntities) {
        struct FlushContext {
            MultiplayerEngine* self;
            PeerSyncRecord* peer;
            PeerSendPass* pass;
        } context{this, &peer, &pass};
        // As with every fall-over, the pass's last packet stays for the final flush.
        entities.WriteEntityRecords(
            [](void* c) {
                FlushContext& f = *static_cast<FlushContext*>(c);
                if (f.pass->packetsFlushed + 1 >= kMaxPacketsPerPass) {
                    f.pass->complete = 0;
                    return false;
                }
                return f.self->FlushPacket(*f.peer, *f.pass);
            },
            &context);
    }

    // A writer whose item finds both packets used stops; the next writer still fills
    // what room is left.
    if (netMode == NETMODE_CLIENT) {
        for (AckEntry& a : peer.acks) {
            if (!WriteWithFallOver(peer, pass, SECTION_ACKS, &WriteAck, &a.packetId)) break;
            --a.repeats;
        }
        size_t done = 0;
        while (done < peer.acks.size() && peer.acks[done].repeats <= 0) ++done;
        peer.acks.erase(peer.acks.begin(), peer.acks.begin() + static_cast<long>(done));
    }

    EntityPassWriter* callEntities = pass.sendEntities ? &entities : nullptr;
    // Reliable calls are taken in order: one that cannot go holds back those after it.
    for (const OutgoingCall& c : peer.reliableCalls)
        if (WriteCall(peer, pass, callEntities, c) != CallSent::kDone) break;
    // Unreliable calls written are removed; one that waits stays for a later pass, and
    // those after it still go; without room, the rest stay.
    size_t kept = 0, next = 0;
    for (; next < peer.unreliableCalls.size(); ++next) {
        const CallSent sent = WriteCall(peer, pass, callEntities, peer.unreliableCalls[next]);
        if (sent == CallSent::kNoRoom) break;
        if (sent == CallSent::kWaits) peer.unreliableCalls[kept++] = std::move(peer.unreliableCalls[next]);
    }
    for (; next < peer.unreliableCalls.size(); ++next) peer.unreliableCalls[kept++] = std::move(peer.unreliableCalls[next]);
    peer.unreliableCalls.erase(peer.unreliableCalls.begin() + static_cast<long>(kept), peer.unreliableCalls.end());

    for (const OutgoingText& t : peer.texts)
        if (!WriteWithFallOver(peer, pass, SECTION_TEXTS, &WriteText, &t)) break;

    // The packets of this pass, this one included (counted, so the id wrap does not
    // change it).
    packet.packetCount = static_cast<uint8_t>(pass.packetsFlushed + 1);
    FlushPacket(peer, pass);
    ++peer.passCounter;
    if (!pass.complete)
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Couldn't fit complete state in %d packets", int(kMaxPacketsPerPass));
}
