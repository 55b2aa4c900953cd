// The network thread's view of the session: its mode and state, the peer records, the
// driver's events, disconnection and reset, and what each wake does.
//
// Transitions (mode, state): (0,0) host command -> (1,0) listening -> (1,1) when the
// driver listens; (0,0) join command -> (2,0) connecting -> (2,1) when connected, or
// (0,0) halted when the connection fails; in a game with peers a disconnect request
// -> (m,2), and the last peer gone -> (0,0) halted; a client whose peer goes -> (0,0)
// halted; a forced disconnect, the quit command or the quit path -> (0,0) reset. A
// halted engine sends nothing; its next wake resets the driver and drops the peers.
#include "core/Log.h"
#include "core/profiler/Profiler.h"
#include "net/MultiplayerEngine.h"
#include "platform/os/Clock.h"

void MultiplayerEngine::SetMode(uint32_t mode) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::_SetMode - [from:%d] [to:%d]", int(netMode), int(mode));
    netMode = mode;
}

void MultiplayerEngine::SetState(uint32_t state) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::_SetState - [from:%d] [to:%d]", int(netState),
               int(state));
    netState = state;
}

void MultiplayerEngine::ResetNetwork(bool quit) {
    if (quit) {
        driver->Reset();
        peers.Clear();
        halted = 0;
        frameTime = 0;
    } else {
        halted = 1;
    }
    SetMode(NETMODE_NONE);
    SetState(NETSTATE_IDLE);
}

void MultiplayerEngine::Disconnect_(uint8_t force) {
    if (!force && (netMode == NETMODE_NONE || netState != NETSTATE_IN_GAME)) {
        // A client still connecting gives up at once: waiting would report a join later
        // on a main thread that has already reset.
        if (netMode == NETMODE_CLIENT && netState == NETSTATE_IDLE) {
            gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::_Disconnect - quit");
            ResetNetwork(true);
            PushDisconnected(NETERROR_OK);
            return;
        }
        PushDisconnected(netMode == NETMODE_HOST && netState == NETSTATE_DISCONNECTING ? NETERROR_INPROGRESS : NETERROR_INVALIDSTATE);
        return;
    }
    if (!force && peers.Count() > 0) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::_Disconnect - disconnectiong peers count:%d",
                   int(peers.Count()));
        SetState(NETSTATE_DISCONNECTING);
        driver->Disconnect();
        return;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::_Disconnect - quit");
    ResetNetwork(true);
    PushDisconnected(NETERROR_OK);
}

// ---------------------------------------------------------------------------------
// Outgoing items

void MultiplayerEngine::QueueMethodCall(uint32_t target, const MPMethodCall& call, bool reliable) {
    if (netState != NETSTATE_IN_GAME) return;
    PeerSyncRecord* peer = target == 0 ? peers.First() : peers.Find(target);
    if (!peer) return;
    if (!reliable) {
        for (OutgoingCall& c : peer->unreliableCalls)
            if (c.call.methodId == call.methodId) {
                c.call = call;
                return;
            }
        peer->unreliableCalls.push_back({call, 0});
        return;
    }
    peer->reliableCalls.push_back({call, ++peer->lastReliableSent});
    if (peer->reliableCalls.size() > kMaxQueuedReliableCalls) DropPeer(*peer, "reliable calls");
}

void MultiplayerEngine::QueueText(const char16_t* text, uint32_t count) {
    if (netState != NETSTATE_IN_GAME) return;
    if (count > kMaxChatUnits) count = kMaxChatUnits;
    std::vector<uint32_t> flooded;
    for (uint32_t i = 0; i < peers.Count(); ++i) {
        PeerSyncRecord& peer = *peers.At(i);
        OutgoingText item;
        for (uint32_t u = 0; u < count; ++u) item.units[u] = text[u];
        item.count = count;
        item.sequence = ++peer.lastTextSent;
        peer.texts.push_back(item);
        if (peer.texts.size() > kMaxQueuedTexts) flooded.push_back(peer.peerId);
    }
    for (uint32_t id : flooded)
        if (PeerSyncRecord* peer = peers.Find(id)) DropPeer(*peer, "texts");
}

// A peer that never acknowledges would make its outgoing lists grow for ever.
void MultiplayerEngine::DropPeer(PeerSyncRecord& peer, const char* what) {
    gLog.Warning(LogCategory::Multiplayer, "MultiplayerEngine - peer %d acknowledges no %s, disconnected", int(peer.peerId), what);
    OnPeerDisconnected(static_cast<int32_t>(peer.peerId), NETERROR_UNRECOVERABLE);
}

void MultiplayerEngine::PublishLobby() {
    Network::LobbySnapshot s;
    if (!driver->GetLobbySnapshot(&s)) return;
    std::lock_guard<std::mutex> lock(lobbyLock);
    lobby = s;
}

// ---------------------------------------------------------------------------------
// Driver events

void MultiplayerEngine::OnDriverListening() {
    replication.Reset();
    SetState(NETSTATE_IN_GAME);
    PushHostResult(NETERROR_OK);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnDriverListening - Game hosted");
}

void MultiplayerEngine::OnPeerConnecting(int32_t peer) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPeerConnecting - ");
    if (peer == kNoPeer || netState == NETSTATE_DISCONNECTING) return;
    PushPeerConnecting(static_cast<uint32_t>(peer));
}

void MultiplayerEngine::OnPeerConnected(int32_t peer) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPeerConnected - id %d", int(peer));
    if (peer == kNoPeer) return;
    peers.Insert(static_cast<uint32_t>(peer), counterNow);
    if (netMode != NETMODE_CLIENT) {
        PushPeerConnected(static_cast<uint32_t>(peer));
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPeerConnected - peer connected %d", int(peer));
    } else {
        // A client starts each game with no template slots: the host numbers them afresh
        // for each game it hosts.
        replication.Reset();
        SetState(NETSTATE_IN_GAME);
        PushJoinResult(NETERROR_OK);
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPeerConnected - connected %d", int(peer));
    }
}

void MultiplayerEngine::OnPeerDisconnected(int32_t peer, uint32_t reason) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPeerDisconnected - %d", int(peer));
    if (peer == kNoPeer) return;
    const uint32_t id = static_cast<uint32_t>(peer);
    if (netMode == NETMODE_CLIENT && netState == NETSTATE_IDLE) {
        PushJoinResult(reason);
        halted = 1;
        SetMode(NETMODE_NONE);
        SetState(NETSTATE_IDLE);
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPeerDisconnected - join failed id:%d", int(peer));
        return;
    }
    if (netMode == NETMODE_HOST && reason == NETERROR_REJECTED) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPeerDisconnected - id:%d connection rejected",
                   int(peer));
        return;
    }
    if (netMode == NETMODE_HOST && (netState != NETSTATE_DISCONNECTING || peers.Count() > 1)) {
        PushPeerDisconnected(id, reason);
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPeerDisconnected - id:%d disconnected", int(peer));
    } else {
        if (netMode == NETMODE_HOST) {
            PushPeerDisconnected(id, reason);
            gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPeerDisconnected - player dc id:%d", int(peer));
        }
        PushDisconnected(reason);
        halted = 1;
        SetMode(NETMODE_NONE);
        SetState(NETSTATE_IDLE);
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPeerDisconnected - dc id:%d", int(peer));
    }
    peers.Remove(id);
    TryToReleaseAllEntityStates();
}

void MultiplayerEngine::OnReceive(int32_t peer, const uint8_t* data, uint32_t length, uint32_t kind) {
    if (peer == kNoPeer) return;
    PeerSyncRecord* record = peers.Find(static_cast<uint32_t>(peer));
    if (!record) return;
    if (kind == NETFRAME_GAME_PACKET)
        ReceivePacket(record, data, length);
    else if (kind == NETFRAME_TIME_SYNC) {
        record->timeSync.OnFrame(*driver, peer, data, length, NetworkNow());
        publishedMedianTimeDifference.store(record->timeSync.MedianTimeDifference(), std::memory_order_relaxed);
        publishedTimeSyncSamples.store(record->timeSync.SampleCount(), std::memory_order_release);
    }
}

uint32_t MultiplayerEngine::GetTimeSyncMedian(int64_t* medianTimeDifference) const {
    const uint32_t samples = publishedTimeSyncSamples.load(std::memory_order_acquire);
    if (medianTimeDifference) *medianTimeDifference = publishedMedianTimeDifference.load(std::memory_order_relaxed);
    return samples;
}

void MultiplayerEngine::OnPeerConnectionStall(int32_t peer) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
               "MultiplayerEngine::OnPeerConnectionStall - MultiplayerEngine::OnPeerConnectionStall() %d", int(peer));
    if (peer != kNoPeer) PushPeerStall(static_cast<uint32_t>(peer));
}

void MultiplayerEngine::OnPeerConnectionResume(int32_t peer) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
               "MultiplayerEngine::OnPeerConnectionResume - MultiplayerEngine::OnPeerConnectionResume() %d", int(peer));
    if (peer != kNoPeer) PushPeerResume(static_cast<uint32_t>(peer));
}

void MultiplayerEngine::OnChatMessage(uint32_t kind, const char16_t* name, const char16_t* text) { PushTextMessage(kind, name, text, 1); }

void MultiplayerEngine::OnLobbyUpdated() {
    PublishLobby();
    PushLobbyUpdated();
}

void MultiplayerEngine::OnLobbyJoinRequested() { PushLobbyJoinRequested(); }

void MultiplayerEngine::OnLobbyGameStartRequest(uint32_t value, bool first, bool second) {
    PushLobbyGameStartRequest(value, first ? 1 : 0, second ? 1 : 0);
}

void MultiplayerEngine::OnLobbyError(uint32_t error) { PushLobbyError(error); }

// ---------------------------------------------------------------------------------
// One wake

void MultiplayerEngine::Tick() {
    // The counter value of this wake and the milliseconds since the previous one.
    counterNow = os::ReadCounter();
    const int64_t sinceLastMs = (counterNow - previousWakeCounter) / (os::kCounterFrequency / 1000);
    previousWakeCounter = counterNow;

    // Counts the wake and runs the queued commands.
    BaseThread::Tick();

    // The driver's work (its events arrive here), time synchronisation, and a send pass
    // when more than 0.2 s passed since the last one.
    const bool more = driver->Tick();
    const int64_t now = NetworkNow();
    for (uint32_t i = 0; i < peers.Count(); ++i) {
        PeerSyncRecord& peer = *peers.At(i);
        peer.timeSync.Update(*driver, static_cast<int32_t>(peer.peerId), now, counterNow);
    }
    if (!halted && counterNow - lastSendCounter > kSendIntervalUs * (os::kCounterFrequency / 1000000)) {
        for (uint32_t i = 0; i < peers.Count(); ++i) SendPass(*peers.At(i));
        lastSendCounter = counterNow;
    }
    currentTimeout.store(more ? 0 : configuredTimeout, std::memory_order_relaxed);

    if (halted) ResetNetwork(true);
    gProfiler.SetValue(PROFILE_NET_TICK_OTHER, float(sinceLastMs), PROFILER_THREAD_OTHER);
}
