// The network thread's handlers of the main thread's commands 8 to 33, one per id.
// Each reads its payload in the order written; a payload shorter than its fields
// reads as zeros (the ring's reads fail without copying), which no writer produces.
#include <cstring>

#include "core/Log.h"
#include "net/MultiplayerEngine.h"
#include "net/MultiplayerEngine_Local.h"

const MultiplayerEngine::CommandHandler MultiplayerEngine::kCommandHandlers[NETCMD_LAST - NETCMD_FIRST + 1] = {
    &MultiplayerEngine::CmdQuit,                    // 8
    &MultiplayerEngine::CmdHost,                    // 9
    &MultiplayerEngine::CmdJoin,                    // 10
    &MultiplayerEngine::CmdDisconnect,              // 11
    &MultiplayerEngine::CmdConnectionAnswer,        // 12
    &MultiplayerEngine::CmdEntityRecord,            // 13
    &MultiplayerEngine::CmdMethodCall,              // 14
    &MultiplayerEngine::CmdChat,                    // 15
    &MultiplayerEngine::CmdSynchronizePlayer,       // 16
    &MultiplayerEngine::CmdEndFrame,                // 17
    &MultiplayerEngine::CmdSetNetworkParams,        // 18
    &MultiplayerEngine::CmdLobbyCreatePrivate,      // 19
    &MultiplayerEngine::CmdLobbyRestore,            // 20
    &MultiplayerEngine::CmdLobbyAcceptJoinRequest,  // 21
    &MultiplayerEngine::CmdLobbyRequestJoin,        // 22
    &MultiplayerEngine::CmdLobbyLeave,              // 23
    &MultiplayerEngine::CmdLobbySetReady,           // 24
    &MultiplayerEngine::CmdLobbySetOwner,           // 25
    &MultiplayerEngine::CmdLobbySetSkill,           // 26
    &MultiplayerEngine::CmdLobbySetRankedSkill,     // 27
    &MultiplayerEngine::CmdLobbySetGrade,           // 28
    &MultiplayerEngine::CmdLobbyInviteFriend,       // 29
    &MultiplayerEngine::CmdLobbySwitchSides,        // 30
    &MultiplayerEngine::CmdLobbyAutoMatch,          // 31
    &MultiplayerEngine::CmdLobbyStopAutoMatch,      // 32
    &MultiplayerEngine::CmdLobbySetSelectedMap,     // 33
};

void MultiplayerEngine::HandleCommand(uint32_t id, CommandRingBuffer& ring) {
    // One unsigned comparison against the table itself: an id below the first wraps
    // to a large index.
    const uint32_t index = id - NETCMD_FIRST;
    if (index >= sizeof kCommandHandlers / sizeof kCommandHandlers[0]) return;
    const auto handler = kCommandHandlers[index];
    (this->*handler)(ring);
}

using netdetail::ReadOr0;

void MultiplayerEngine::CmdQuit(CommandRingBuffer&) { ResetNetwork(true); }

void MultiplayerEngine::CmdHost(CommandRingBuffer& ring) {
    const uint32_t port = ReadOr0<uint32_t>(ring);
    if (netMode != NETMODE_NONE) {
        PushHostResult(NETERROR_INVALIDSTATE);
        return;
    }
    SetMode(NETMODE_HOST);
    const uint32_t result = driver->Listen(port);
    if (result != NETERROR_OK) {
        SetMode(NETMODE_NONE);
        PushHostResult(result);
    }
}

void MultiplayerEngine::CmdJoin(CommandRingBuffer& ring) {
    const uint32_t remotePort = ReadOr0<uint32_t>(ring);
    const uint32_t localPort = ReadOr0<uint32_t>(ring);
    char host[kHostNameBytes + 1] = {};
    uint32_t n = ring.ReadLeft();
    if (n > 0) --n;  // the terminator
    if (n > kHostNameBytes) n = kHostNameBytes;
    ring.Read(host, n);
    host[n] = 0;
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::_Join - hostname: %s remotePort: %d localPort: %d",
               host, int(remotePort), int(localPort));
    if (netMode != NETMODE_NONE) {
        PushJoinResult(NETERROR_INVALIDSTATE);
        return;
    }
    SetMode(NETMODE_CLIENT);
    const uint32_t result = driver->Connect(host, remotePort, localPort);
    if (result != NETERROR_OK) {
        SetMode(NETMODE_NONE);
        PushJoinResult(result);
    }
}

void MultiplayerEngine::CmdDisconnect(CommandRingBuffer& ring) { Disconnect_(ReadOr0<uint8_t>(ring)); }

void MultiplayerEngine::CmdConnectionAnswer(CommandRingBuffer& ring) {
    const uint32_t peer = ReadOr0<uint32_t>(ring);
    const uint8_t accepted = ReadOr0<uint8_t>(ring);
    if (netState == NETSTATE_IN_GAME) driver->Answer(static_cast<int32_t>(peer), accepted != 0);
}

void MultiplayerEngine::CmdEntityRecord(CommandRingBuffer& ring) {
    EntityRecord record;
    if (!ring.Read(&record, sizeof record)) return;
    ApplyEntityRecord(record);
}

void MultiplayerEngine::CmdMethodCall(CommandRingBuffer& ring) {
    const uint32_t target = ReadOr0<uint32_t>(ring);
    MPMethodCall call;
    if (!ring.Read(&call, sizeof call)) return;
    const uint8_t reliable = ReadOr0<uint8_t>(ring);
    QueueMethodCall(target, call, reliable != 0);
}

void MultiplayerEngine::CmdChat(CommandRingBuffer& ring) {
    uint32_t n = ReadOr0<uint32_t>(ring);
    char16_t text[kMaxChatUnits + 1] = {};
    const uint32_t available = ring.ReadLeft() > 0 ? (ring.ReadLeft() - 1) / 2 : 0;
    if (n > available) n = available;
    uint32_t keep = n > kMaxChatUnits ? kMaxChatUnits : n;
    ring.Read(text, 2 * keep);
    ring.SkipRead(2 * (n - keep));
    if (keep > 0 && keep < n && text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF) --keep;
    text[keep] = 0;
    const uint8_t lobbyFlag = ReadOr0<uint8_t>(ring);
    if (lobbyFlag)
        driver->LobbySendChat(text);
    else
        QueueText(text, keep);
}

void MultiplayerEngine::CmdSynchronizePlayer(CommandRingBuffer& ring) {
    const uint32_t id = ReadOr0<uint32_t>(ring);
    if (netMode != NETMODE_HOST || netState != NETSTATE_IN_GAME) return;
    PeerSyncRecord* peer = peers.Find(id);
    if (!peer) return;
    peer->syncState = PLAYERSYNCSTATE_READY_TO_SYNC;
    peer->syncStartTime = counterNow;
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Peer %d PLAYERSYNCSTATE_READY_TO_SYNC", int(id));
}

void MultiplayerEngine::CmdEndFrame(CommandRingBuffer& ring) {
    frameTime = ReadOr0<uint64_t>(ring);
    if (!halted)
        for (uint32_t i = 0; i < peers.Count(); ++i) SendPass(*peers.At(i));
    for (uint32_t i = 0; i < peers.Count(); ++i)
        if (peers.At(i)->syncState == PLAYERSYNCSTATE_READY_TO_SYNC) peers.At(i)->syncState = PLAYERSYNCSTATE_SYNCING;
}

// Six values with no effect.
void MultiplayerEngine::CmdSetNetworkParams(CommandRingBuffer& ring) { ring.SkipRead(24); }

void MultiplayerEngine::AfterLobbyCommand() { PublishLobby(); }

void MultiplayerEngine::CmdLobbyCreatePrivate(CommandRingBuffer&) {
    driver->LobbyCreatePrivate();
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbyRestore(CommandRingBuffer&) {
    driver->LobbyRestore();
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbyAcceptJoinRequest(CommandRingBuffer&) {
    driver->LobbyAcceptJoinRequest();
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbyRequestJoin(CommandRingBuffer& ring) {
    driver->LobbyRequestJoin(ReadOr0<uint64_t>(ring));
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbyLeave(CommandRingBuffer&) {
    driver->LobbyLeave();
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbySetReady(CommandRingBuffer& ring) {
    driver->LobbySetReady(ReadOr0<uint8_t>(ring) != 0);
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbySetOwner(CommandRingBuffer& ring) {
    driver->LobbySetOwner(ReadOr0<uint32_t>(ring));
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbySetSkill(CommandRingBuffer& ring) {
    const float squad = ReadOr0<float>(ring);
    driver->LobbySetSkill(squad, ReadOr0<float>(ring));
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbySetRankedSkill(CommandRingBuffer& ring) {
    const float squad = ReadOr0<float>(ring);
    driver->LobbySetRankedSkill(squad, ReadOr0<float>(ring));
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbySetGrade(CommandRingBuffer& ring) {
    driver->LobbySetGrade(ReadOr0<uint32_t>(ring));
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbyInviteFriend(CommandRingBuffer&) {
    driver->LobbyInviteFriend();
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbySwitchSides(CommandRingBuffer&) {
    driver->LobbySwitchSides();
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbyAutoMatch(CommandRingBuffer& ring) {
    Network::AutoMatchRecord record;
    if (ring.Read(&record, kAutoMatchRecordBytes)) driver->LobbyAutoMatch(record);
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbyStopAutoMatch(CommandRingBuffer&) {
    driver->LobbyStopAutoMatch();
    AfterLobbyCommand();
}
void MultiplayerEngine::CmdLobbySetSelectedMap(CommandRingBuffer& ring) {
    driver->LobbySetSelectedMap(ReadOr0<uint32_t>(ring));
    AfterLobbyCommand();
}
