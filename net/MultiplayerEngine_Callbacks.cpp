// The callback queue: the network thread's writers (ids 8 to 26) and the main thread's
// handlers, one per id. The writers wait while the queue is full (10 ms a try, logged
// on the first try and every tenth after); nothing is dropped. The main thread drains
// the queue once per frame, handles each callback in the order written and raises the
// game delegate's events, so every multiplayer event of the delegate runs on the main
// thread inside the Game tick.
#include <cstring>

#include "core/Log.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/entity/EntityManager.h"
#include "engine/services/UIServices.h"
#include "net/MultiplayerEngine.h"
#include "net/MultiplayerEngine_Local.h"
#include "net/Player.h"
#include "platform/os/Thread.h"

using netdetail::CutUnits;
using netdetail::Length16;
using netdetail::ReadOr0;

// ---------------------------------------------------------------------------------
// Writers (network thread)

bool MultiplayerEngine::BeginCallback(uint32_t id, uint32_t bytes) {
    if (!callbacks.CanEverFit(bytes)) return false;
    uint32_t tries = 0;
    while (!callbacks.BeginWrite(id, bytes)) {
        if (tries % 10 == 0) gLog.Warning(LogCategory::Multiplayer, "MultiplayerEngine Callback queue is causing delay!!!");
        ++tries;
        if (queueWait)
            queueWait(queueWaitContext);
        else
            os::Sleep(kCallbackQueueRetryMs);
    }
    return true;
}

void MultiplayerEngine::PushU32(uint32_t id, uint32_t value) {
    if (!BeginCallback(id, 4)) return;
    callbacks.WriteValue(value);
    EndCallback();
}

void MultiplayerEngine::PushCallsAcknowledged(uint32_t id, uint32_t count) {
    if (!BeginCallback(NETCB_CALLS_ACKNOWLEDGED, 8)) return;
    callbacks.WriteValue(id);
    callbacks.WriteValue(count);
    EndCallback();
}

void MultiplayerEngine::PushPeerDisconnected(uint32_t id, uint32_t reason) {
    if (!BeginCallback(NETCB_PEER_DISCONNECTED, 8)) return;
    callbacks.WriteValue(id);
    callbacks.WriteValue(reason);
    EndCallback();
}

void MultiplayerEngine::PushMethodCall(uint32_t caller, uint64_t time, const MPMethodCall& call) {
    static_assert(sizeof(MPMethodCall) == kMethodCallBytes && kMethodCallCallbackBytes == 340);
    if (!BeginCallback(NETCB_METHOD_CALL, kMethodCallCallbackBytes)) return;
    callbacks.WriteValue(caller);
    callbacks.WriteValue(time);
    callbacks.Write(&call, kMethodCallBytes);
    EndCallback();
}

void MultiplayerEngine::PushTextMessage(uint32_t kind, const char16_t* name, const char16_t* text, uint8_t lobbyFlag) {
    const uint32_t nameUnits = name ? CutUnits(name, Length16(name, kMaxNameUnits + 1), kMaxNameUnits) : 0;
    const uint32_t textUnits = text ? CutUnits(text, Length16(text, kMaxChatUnits + 1), kMaxChatUnits) : 0;
    const uint32_t a = name ? 2 * (nameUnits + 1) : 0;
    const uint32_t b = text ? 2 * (textUnits + 1) : 0;
    if (!BeginCallback(NETCB_TEXT_MESSAGE, 12 + a + b + 1)) return;
    const char16_t zero = 0;
    callbacks.WriteValue(kind);
    callbacks.WriteValue(a);
    callbacks.WriteValue(b);
    if (name) {
        callbacks.Write(name, 2 * nameUnits);
        callbacks.WriteValue(zero);
    }
    if (text) {
        callbacks.Write(text, 2 * textUnits);
        callbacks.WriteValue(zero);
    }
    callbacks.WriteValue(lobbyFlag);
    EndCallback();
}

void MultiplayerEngine::PushFrameTimes(int64_t previous, int64_t latest) {
    if (!BeginCallback(NETCB_FRAME_TIMES, 16)) return;
    callbacks.WriteValue(previous);
    callbacks.WriteValue(latest);
    EndCallback();
}

void MultiplayerEngine::PushLobbyUpdated() {
    if (BeginCallback(NETCB_LOBBY_UPDATED, 0)) EndCallback();
}

void MultiplayerEngine::PushLobbyJoinRequested() {
    if (BeginCallback(NETCB_LOBBY_JOIN_REQUESTED, 0)) EndCallback();
}

void MultiplayerEngine::PushLobbyGameStartRequest(uint32_t value, uint8_t first, uint8_t second) {
    if (!BeginCallback(NETCB_LOBBY_GAME_START_REQUEST, 6)) return;
    callbacks.WriteValue(value);
    callbacks.WriteValue(first);
    callbacks.WriteValue(second);
    EndCallback();
}

// ---------------------------------------------------------------------------------
// Handlers (main thread)

const MultiplayerEngine::CallbackHandler MultiplayerEngine::kCallbackHandlers[NETCB_LAST - NETCB_FIRST + 1] = {
    &MultiplayerEngine::OnHosted,                        // 8
    &MultiplayerEngine::OnJoined,                        // 9
    &MultiplayerEngine::OnDisconnected,                  // 10
    &MultiplayerEngine::OnPlayerConnecting,              // 11
    &MultiplayerEngine::OnPlayerConnected,               // 12
    &MultiplayerEngine::OnPlayerReady,                   // 13
    &MultiplayerEngine::OnCallsAcknowledged,             // 14
    &MultiplayerEngine::OnPlayerDisconnected,            // 15
    &MultiplayerEngine::OnPlayerStall,                   // 16
    &MultiplayerEngine::OnPlayerResume,                  // 17
    &MultiplayerEngine::OnMethodCallMessage,             // 18
    &MultiplayerEngine::OnTextMessage,                   // 19
    &MultiplayerEngine::OnEntityRecordMessage,           // 20
    &MultiplayerEngine::OnReleaseMultiplayerId,          // 21
    &MultiplayerEngine::OnFrameTimes,                    // 22
    &MultiplayerEngine::OnLobbyUpdatedMessage,           // 23
    &MultiplayerEngine::OnLobbyJoinRequestedMessage,     // 24
    &MultiplayerEngine::OnLobbyGameStartRequestMessage,  // 25
    &MultiplayerEngine::OnLobbyErrorMessage,             // 26
};

void MultiplayerEngine::ProcessMessages() {
    while (callbacks.BeginRead()) {
        const uint32_t id = callbacks.RecordId();
        if (id >= NETCB_FIRST && id <= NETCB_LAST)
            (this->*kCallbackHandlers[id - NETCB_FIRST])(callbacks);
        else if (id > 7)
            gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::ProcessMessages - unknown message id:%u", id);
        callbacks.EndRead();
    }
}

Player* MultiplayerEngine::PlayerFromQueue(CommandRingBuffer& queue) { return GetPlayerById(ReadOr0<uint32_t>(queue)); }

void MultiplayerEngine::OnHosted(CommandRingBuffer& queue) {
    const uint32_t result = ReadOr0<uint32_t>(queue);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnHosted - ");
    if (result == NETERROR_OK) {
        SetMainThreadMode(NETMODE_HOST);
        SetMainThreadState(NETSTATE_IN_GAME);
        AnnounceAllEntities();
        FlushDirtyEntities();
    }
    if (GameDelegate* d = Delegate()) d->OnGameHosted(static_cast<int32_t>(result));
}

void MultiplayerEngine::OnJoined(CommandRingBuffer& queue) {
    const uint32_t result = ReadOr0<uint32_t>(queue);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnJoined - ");
    if (result == NETERROR_OK) {
        SetMainThreadMode(NETMODE_CLIENT);
        SetMainThreadState(NETSTATE_IN_GAME);
        RestoreStaticIds();  // before the host's first records
    }
    if (GameDelegate* d = Delegate()) d->OnGameJoined(static_cast<int32_t>(result));
}

void MultiplayerEngine::OnDisconnected(CommandRingBuffer& queue) {
    const uint32_t reason = ReadOr0<uint32_t>(queue);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnDisconnected - ");
    DispatchReplicatedMethodCalls(true);
    const uint32_t oldMode = mainMode;
    SetMainThreadMode(NETMODE_NONE);
    SetMainThreadState(NETSTATE_IDLE);
    if (oldMode != NETMODE_NONE)
        if (GameDelegate* d = Delegate()) d->OnGameDisconnected(static_cast<int32_t>(reason));
    ResetReplication();
}

void MultiplayerEngine::OnPlayerConnecting(CommandRingBuffer& queue) {
    const uint32_t id = ReadOr0<uint32_t>(queue);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPlayerConnecting - ");
    if (mainState != NETSTATE_IN_GAME) return;
    Player* player = GetPlayerById(id);
    GameDelegate* d = Delegate();
    const bool accepted = mainMode == NETMODE_HOST && player && !player->IsConnected() && d && d->OnPlayerConnecting();
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::OnPlayerConnecting - connection request %d %d", int(id),
               accepted ? 1 : 0);
    if (!BeginCommand(NETCMD_CONNECTION_ANSWER, 5)) return;
    Ring().WriteValue(id);
    Ring().WriteValue(uint8_t(accepted ? 1 : 0));
    EndCommand();
}

void MultiplayerEngine::OnPlayerConnected(CommandRingBuffer& queue) {
    Player* player = PlayerFromQueue(queue);
    if (!player) return;
    player->SetConnected(true);
    if (mainState == NETSTATE_IN_GAME)
        if (GameDelegate* d = Delegate()) d->OnPlayerConnected(player);
}

void MultiplayerEngine::OnPlayerReady(CommandRingBuffer& queue) {
    Player* player = PlayerFromQueue(queue);
    if (player && mainState == NETSTATE_IN_GAME)
        if (GameDelegate* d = Delegate()) d->OnPlayerReady(player);
}

void MultiplayerEngine::OnCallsAcknowledged(CommandRingBuffer& queue) {
    Player* player = PlayerFromQueue(queue);
    const uint32_t count = ReadOr0<uint32_t>(queue);
    if (player) player->AddReliableAcknowledged(count);
}

void MultiplayerEngine::OnPlayerDisconnected(CommandRingBuffer& queue) {
    Player* player = PlayerFromQueue(queue);
    const uint32_t reason = ReadOr0<uint32_t>(queue);
    if (!player) return;
    player->SetConnected(false);
    if (GameDelegate* d = Delegate()) d->OnPlayerDisconnected(player, reason);
}

void MultiplayerEngine::OnPlayerStall(CommandRingBuffer& queue) {
    if (Player* player = PlayerFromQueue(queue))
        if (GameDelegate* d = Delegate()) d->OnPlayerConnectionStall(player);
}

void MultiplayerEngine::OnPlayerResume(CommandRingBuffer& queue) {
    if (Player* player = PlayerFromQueue(queue))
        if (GameDelegate* d = Delegate()) d->OnPlayerConnectionResume(player);
}

void MultiplayerEngine::OnMethodCallMessage(CommandRingBuffer& queue) {
    const uint32_t caller = ReadOr0<uint32_t>(queue);
    const uint64_t time = ReadOr0<uint64_t>(queue);
    MPMethodCall call;
    if (!queue.Read(&call, kMethodCallBytes)) return;
    OnReceivedMethodCall(caller, time, call);
}

void MultiplayerEngine::OnTextMessage(CommandRingBuffer& queue) {
    const uint32_t kind = ReadOr0<uint32_t>(queue);
    const uint32_t a = ReadOr0<uint32_t>(queue);
    const uint32_t b = ReadOr0<uint32_t>(queue);
    if (a > 2 * (kMaxNameUnits + 1) || b > 2 * (kMaxChatUnits + 1) || uint64_t(a) + b + 1 > queue.ReadLeft()) return;
    char16_t name[kMaxNameUnits + 2] = {};
    char16_t text[kMaxChatUnits + 2] = {};
    queue.Read(name, a);
    queue.Read(text, b);
    const uint8_t lobbyFlag = ReadOr0<uint8_t>(queue);
    GameDelegate* d = Delegate();
    if (!d) return;

    char16_t line[kChatLineUnits + 1];
    uint32_t at = 0;
    auto append = [&](const char16_t* s, uint32_t max = kChatLineUnits) {
        if (!s) return;
        const uint32_t length = Length16(s, max);
        const uint32_t take = CutUnits(s, length, kChatLineUnits - at);
        std::memcpy(line + at, s, 2 * take);
        at += take;
    };
    auto localised = [](const char* id) -> const char16_t* {
        const char16_t* s = GetUIServices().LookupString(id);
        return s && *s ? s : nullptr;
    };
    const char16_t* nameText = a ? name : nullptr;
    switch (kind) {
    case ECHATENTRYTYPE_HOST_MSG:
    case ECHATENTRYTYPE_PEER_MSG:
        append(nameText, kMaxNameUnits + 1);
        append(u": ");
        append(b ? text : nullptr, kMaxChatUnits + 1);
        break;
    case ECHATENTRYTYPE_PEER_JOINS:
    case ECHATENTRYTYPE_PEER_LEAVES: {
        append(nameText, kMaxNameUnits + 1);
        const char16_t* s = localised(kind == ECHATENTRYTYPE_PEER_JOINS ? "QV/System/UI/Menu/Multiplayer/PlayerJoins" : "QV/System/UI/Menu/Multiplayer/PlayerLeaves");
        if (s) {
            append(u" ");
            append(s);
        }
        break;
    }
    case ECHATENTRYTYPE_SWITCHED_SIDES: append(localised("QV/System/UI/Menu/Multiplayer/TeamsSwitched")); break;
    case ECHATENTRYTYPE_CHANGED_MAP: append(localised("QV/System/UI/Menu/Multiplayer/MapChanged")); break;
    default: break;
    }
    line[at] = 0;
    d->OnChatMessage(lobbyFlag != 0, static_cast<int32_t>(kind), line);
}

// Entity records reach the client's entity synchronisation (entity replication); until
// then they are dropped.
void MultiplayerEngine::OnEntityRecordMessage(CommandRingBuffer& queue) {
    EntityRecord record;
    if (!queue.Read(&record, sizeof record)) return;
    // Only a client in a game builds proxies; a host ignores what a peer claims.
    if (mainMode != NETMODE_CLIENT || mainState != NETSTATE_IN_GAME) return;
    if (entityRecordSink) {
        entityRecordSink(entityRecordSinkContext, record);
        return;
    }
    ProcessClientEntityRecord(record);
}

void MultiplayerEngine::OnReleaseMultiplayerId(CommandRingBuffer& queue) {
    const uint32_t id = ReadOr0<uint32_t>(queue);
    if (!gEntityManager) return;
    if (id < kMultiplayerIdCount) gEntityManager->ReleaseMID(static_cast<uint16_t>(id));
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
               "MultiplayerEngine::OnReleaseMultiplayerId - Released id: %u. Current allocated count: %u", id,
               gEntityManager->GetDynamicMIDCount());
}

void MultiplayerEngine::OnFrameTimes(CommandRingBuffer& queue) {
    previousFrameTime = ReadOr0<int64_t>(queue);
    latestFrameTime = ReadOr0<int64_t>(queue);
    SetMPHostFrameTimes(uint64_t(previousFrameTime), uint64_t(latestFrameTime));
    OnLobbyUpdatedMessage(queue);
}

void MultiplayerEngine::OnLobbyUpdatedMessage(CommandRingBuffer&) {
    if (GameDelegate* d = Delegate()) d->OnLobbyUpdated();
}

void MultiplayerEngine::OnLobbyJoinRequestedMessage(CommandRingBuffer&) {
    if (GameDelegate* d = Delegate()) d->OnLobbyJoinRequested();
}

void MultiplayerEngine::OnLobbyGameStartRequestMessage(CommandRingBuffer& queue) {
    const uint32_t value = ReadOr0<uint32_t>(queue);
    const uint8_t first = ReadOr0<uint8_t>(queue);
    const uint8_t second = ReadOr0<uint8_t>(queue);
    if (GameDelegate* d = Delegate()) d->OnLobbyGameStartRequest(value, first != 0, second != 0);
}

void MultiplayerEngine::OnLobbyErrorMessage(CommandRingBuffer& queue) {
    const uint32_t error = ReadOr0<uint32_t>(queue);
    if (GameDelegate* d = Delegate()) d->OnLobbyError(static_cast<int32_t>(error));
}
