// The network thread's side of entity replication: records from the main thread folded
// into the states (host), received records handed to the main thread (client), and the
// release of a destroyed entity's id once every synchronising peer has its destroy.
// The pass that writes records is in MultiplayerEngine_SendPass.cpp with
// replication/ReplicationSend.cpp.
#include "core/Log.h"
#include "net/MultiplayerEngine.h"

static_assert(sizeof(EntityRecord) <= kEntityRecordCallbackRoom - 16, "an entity record fits its callback room");

void MultiplayerEngine::ApplyEntityRecord(const EntityRecord& record) {
    if (netMode != NETMODE_HOST || netState != NETSTATE_IN_GAME) return;
    if (record.multiplayerId >= kNoMultiplayerId) return;
    EntityReplicationState& s = replication[record.multiplayerId];
    if (!replication.Apply(record)) return;
    // An entity whose create was refused is known to no peer: its destroy frees the id.
    if (s.createRefused && (record.flags & ENTITYRECORD_DESTROY)) {
        s.createRefused = 0;
        PushReleaseMultiplayerId(record.multiplayerId);
        return;
    }
    _TryToReleaseEntityState(s);
}

void MultiplayerEngine::PushEntityRecord(const EntityRecord& record) {
    if (!BeginCallback(NETCB_ENTITY_RECORD, sizeof record)) return;
    callbacks.Write(&record, sizeof record);
    EndCallback();
}

void MultiplayerEngine::ReceiveEntityRecord(PeerSyncRecord& peer, EntityRecord& record, int64_t localTime, uint64_t packetNumber) {
    if (netMode != NETMODE_CLIENT) return;
    if (record.multiplayerId >= kNoMultiplayerId) {
        gLog.Warning(LogCategory::Multiplayer, "ReceiveEntityRecord - dropping record for id %u", unsigned(record.multiplayerId));
        return;
    }
    PeerEntityEntry& entry = peer.entities[record.multiplayerId];
    // Packets of one host frame are all taken, in the order they come. A record from a
    // packet older than the one whose record of this id was taken last is stale: the
    // later record holds all it says (each is built against what we acknowledged before
    // it was sent), and taken after it, an old copy would bring back a value, or create
    // again, or destroy, an entity of the id that has since ended or is another one.
    if (packetNumber <= entry.recordPacket) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "ReceiveEntityRecord - stale record for id %u dropped",
                   unsigned(record.multiplayerId));
        return;
    }
    entry.recordPacket = packetNumber;
    if (!FilterReceivedEntityRecord(entry, record, replication)) return;
    record.localTime = static_cast<uint64_t>(localTime);
    if (record.flags & ENTITYRECORD_DESTROY) ScrubEntityArgs(record.multiplayerId);
    PushEntityRecord(record);
}

void MultiplayerEngine::ScrubEntityArgs(uint16_t id) {
    for (uint32_t i = 0; i < peers.Count(); ++i) {
        PeerSyncRecord& p = *peers.At(i);
        for (OutgoingCall& c : p.reliableCalls) c.call.ReplaceEntityArg(id);
        for (OutgoingCall& c : p.unreliableCalls) c.call.ReplaceEntityArg(id);
    }
}

void MultiplayerEngine::_TryToReleaseEntityState(EntityReplicationState& s) {
    if (!s.IsCreated() || !s.IsDestroyed()) return;
    for (uint32_t i = 0; i < peers.Count(); ++i) {
        const PeerSyncRecord& p = *peers.At(i);
        if (p.syncState != PLAYERSYNCSTATE_NONE && p.entities[s.multiplayerId].acknowledgedVersion != s.currentVersion) return;
    }
    ScrubEntityArgs(s.multiplayerId);
    if (netMode == NETMODE_HOST && netState == NETSTATE_IN_GAME) PushReleaseMultiplayerId(s.multiplayerId);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::_TryToReleaseEntityState - Other thread released id: %u",
               unsigned(s.multiplayerId));
    s.createdVersion = s.destroyedVersion = s.propertiesVersion = 0;
    for (uint32_t& v : s.fieldVersions) v = 0;
    s.tornOff = 0;
    s.nextVersion = s.currentVersion + 1;
}

void MultiplayerEngine::TryToReleaseAllEntityStates() {
    for (uint32_t id = 0; id < kNoMultiplayerId; ++id) _TryToReleaseEntityState(replication[id]);
}
