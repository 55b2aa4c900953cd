#pragma once
// MultiplayerEngine (gMultiplayerEngine): the one object through which a two-player match
// runs. The main thread never touches the network: it posts commands (ids 8 to 33)
// into the engine's BaseThread ring, and once per frame drains the callback queue
// (ids 8 to 26) that the network thread fills. The network thread owns the driver, the
// peer records and the game packets; each side keeps its own view of the mode (0 none,
// 1 host, 2 client) and state (0 idle, 1 in a game, 2 disconnecting), and the two meet
// only through commands and callbacks.
//
// Facets: MultiplayerEngine_Main.cpp (construction, the main-thread operations),
// _Commands.cpp (the command writers and the network thread's handlers),
// _Callbacks.cpp (the callback writers and the main thread's handlers), _Network.cpp
// (the network thread's modes, states, driver events and wake), _Calls.cpp (replicated
// method calls on the main thread), _SendPass.cpp and _Receive.cpp
// (the game packets).
//
// Threads: the groups below say which thread calls them. One switch (Options::
// startThread false) runs the engine without its thread: the caller then performs each
// wake with RunWake on a thread of its choice, and posts commands from the same one.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/BaseThread.h"
#include "engine/script/MPMethodCall.h"
#include "net/base/NetConstants.h"
#include "net/base/NetDriver.h"
#include "net/PeerSyncRecord.h"
#include "net/packet/GamePacket.h"
#include "net/replication/EntityReplicationState.h"

class Entity;
class GameDelegate;
class LuaUnicodeString;
class Player;

// A replicated method call waiting on a client (or run locally) until it is due.
struct PendingMethodCall {
    MPMethodCall call;
    uint64_t dueTime = 0;  // game clock, µs
    uint32_t caller = kServerCallerId;
};

// One send pass to one peer.
struct PeerSendPass {
    uint32_t packetsFlushed = 0;
    uint8_t complete = 1;
    uint8_t sendEntities = 0;
    EntityPassMarks marks;
};

class MultiplayerEngine : public BaseThread, public Network::NetDriverObserver {
public:
    struct Options {
        // Null: the Game's delegate, asked at each event.
        GameDelegate* delegate = nullptr;
        // Not owned. Null: the engine's own driver (hosting and joining not supported).
        Network::NetDriver* driver = nullptr;
        // Network time in µs (null: GetNetworkTime).
        int64_t (*networkTime)(void* context) = nullptr;
        void* networkTimeContext = nullptr;
        bool startThread = true;
        uint32_t commandRingBytes = 0;  // 0: the worker setting (0x100000)
        uint32_t callbackQueueBytes = kCallbackQueueBytes;
        // The network thread's wait for room in a full callback queue (null: 10 ms sleep).
        void (*callbackQueueWait)(void* context) = nullptr;
        void* callbackQueueWaitContext = nullptr;
        // Main thread: where a client's received entity records go (null: the client's
        // entity synchronisation, which builds and updates proxies).
        void (*entityRecordSink)(void* context, const EntityRecord& record) = nullptr;
        void* entityRecordSinkContext = nullptr;
    };

    MultiplayerEngine();
    explicit MultiplayerEngine(const Options& options);
    ~MultiplayerEngine() override;

    // ---- Main thread: mode and state ----
    bool IsMultiplayerGame() const { return mainMode != NETMODE_NONE; }
    bool IsServer() const { return mainMode == NETMODE_HOST; }
    bool IsClient() const { return mainMode == NETMODE_CLIENT; }
    bool HasAuthority() const { return mainMode == NETMODE_NONE || mainMode == NETMODE_HOST; }
    bool IsIdle() const;
    uint32_t GetMainThreadMode() const { return mainMode; }
    uint32_t GetMainThreadState() const { return mainState; }

    // ---- Main thread: match control (each posts one command) ----
    void Host(uint32_t localPort);
    void Join(const char* hostName, uint32_t remotePort, uint32_t localPort);
    void Disconnect(uint8_t force);
    void SetNetworkParams(float a, float b, float c, float d, float e, float f);
    void SynchronizePlayer(Player* player);
    void OnMainMenuShowForTheFirstTime();

    // ---- Main thread: lobby ----
    void LobbyCreatePrivate();
    void LobbyRestore();
    void LobbyAcceptJoinRequest();
    void LobbyLeave();
    void LobbyInviteFriend();
    void LobbySwitchSides();
    void LobbyStopAutoMatch();
    void LobbySetReady(bool ready);
    void LobbySetOwner(uint32_t member);
    void LobbySetSkill(float squad, float towers);
    void LobbySetRankedSkill(float squad, float towers);
    void LobbySetGrade(uint32_t grade);
    void LobbySetSelectedMap(int32_t map);
    void LobbyAutoMatch(int32_t team, int32_t delta0, int32_t delta1, int32_t delta2, int32_t delta3, int32_t growTime,
                        int32_t timeLimit, int32_t thirdDuration, int32_t mapMask, bool ranked);
    // Reads of the lobby as the network thread last published it.
    bool LobbyIsOwner() const;
    int32_t LobbyTeamToMemberID(int32_t team) const;
    int32_t LobbyGetSelectedMap() const;
    uint32_t LobbyGetMemberAvatar(int32_t member) const;
    float LobbyGetMemberSquadSkill(int32_t member) const;
    float LobbyGetMemberTowersSkill(int32_t member) const;
    float LobbyGetMemberRankedSquadSkill(int32_t member) const;
    float LobbyGetMemberRankedTowersSkill(int32_t member) const;
    int32_t LobbyGetMemberGrade(int32_t member) const;
    bool LobbyGetMemberReady(int32_t member) const;
    int32_t LobbyGetMemberTeamFilter(int32_t member) const;
    int32_t LobbyGetMemberMapMask(int32_t member) const;
    bool LobbyGetMemberFriend(int32_t member) const;
    bool LobbyGetMemberPresent(int32_t member) const;
    // The member's UTF-16 name (empty for a member index that does not exist).
    LuaUnicodeString LobbyGetMemberNameLuaUnichar(int32_t member) const;
    // The Steam identifier rules: account type 1 to 10, universe 1 to 4, and the
    // account and instance rules of types 1, 3 and 7.
    static bool IsValidSteamId(uint64_t id);

    // ---- Main thread: chat ----
    void SendChatMessage(uint32_t lobby, const char16_t* text);
    void SendChatMessageUnicharPtr(uint32_t lobby, const char16_t* text) { SendChatMessage(lobby, text); }

    // ---- Main thread: players ----
    void InitRemotePlayers(uint32_t count);
    Player* GetLocalPlayer() const { return localPlayer; }
    Player* GetRemotePlayer(uint32_t index) const { return index == 0 ? remotePlayer : nullptr; }
    Player* GetPlayerById(uint32_t id) const;
    // Any thread: the clock measurement of the peer whose time-sync frame arrived last,
    // as the network thread published it: its sample count (0 before any) and, through
    // the pointer, its median time difference (local minus remote, microseconds).
    uint32_t GetTimeSyncMedian(int64_t* medianTimeDifference) const;

    // ---- Main thread: per frame ----
    void UpdateMainThread();
    void ProcessMessages();
    // Flushes the dirty entities and posts command 17 with the step's game-clock time T.
    void EndFrame(uint64_t time);
    void DispatchReplicatedMethodCalls(bool force);
    // Posts one entity record (command 13); the host's network thread folds it into the
    // entity's replication state.
    void PostEntityRecord(const EntityRecord& record);

    // ---- Main thread: entity announcements (MultiplayerEngine_Entities.cpp) ----
    // The host tracks which authority entities were created, changed, destroyed or torn
    // off during a step and announces each as one entity record at the end of the step.
    void OnEntityCreated(Entity* entity);
    void OnEntityRecreate(Entity* entity);
    void MarkEntityDirty(Entity* entity);
    void OnEntityDestroyed(Entity* entity);
    void OnEntityTornOff(Entity* entity);
    void FlushDirtyEntities();
    void UpdateEntity(Entity* entity, uint8_t flags);
    // The pending record flags of an id (tests).
    uint8_t GetPendingEntityFlags(uint16_t id) const;
    void ReplicateMethodCall(Player* target, const MPMethodCall& call, bool reliable);
    void OnReceivedMethodCall(uint32_t caller, uint64_t time, const MPMethodCall& call);
    void ResetReplication();
    uint32_t PendingCallCount() const { return static_cast<uint32_t>(pendingCalls.size()); }
    int64_t GetPreviousFrameTime() const { return previousFrameTime; }
    int64_t GetLatestFrameTime() const { return latestFrameTime; }

    // ---- Without a thread: one wake (commands, then the tick) on the calling thread ----
    void RunWake() { Tick(); }

    // ---- Network thread (tests read these between wakes) ----
    uint32_t GetNetworkMode() const { return netMode; }
    uint32_t GetNetworkState() const { return netState; }
    bool IsHalted() const { return halted != 0; }
    PeerSyncTable& Peers() { return peers; }
    uint64_t GetFrameTime() const { return frameTime; }
    CommandRingBuffer& CallbackQueue() { return callbacks; }
    const uint8_t* DictionaryEntry(uint8_t slot) const { return replication.DictionaryEntry(slot).bytes; }
    EntityReplicationStates& ReplicationStates() { return replication; }
    // Network thread: releases the entity's id once it is destroyed and every
    // synchronising peer acknowledged its last version.
    void _TryToReleaseEntityState(EntityReplicationState& state);

    // Network-thread operations of the packets (MultiplayerEngine_SendPass.cpp, _Receive.cpp).
    void SendPass(PeerSyncRecord& peer);
    void ReceivePacket(PeerSyncRecord* peer, const uint8_t* data, uint32_t length);
    static void FormatHex(const uint8_t* data, uint32_t length, char* out, uint32_t outSize);

protected:
    void Tick() override;
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override;

    // ---- Observer (network thread) ----
    void OnDriverListening() override;
    void OnPeerConnecting(int32_t peer) override;
    void OnPeerConnected(int32_t peer) override;
    void OnPeerDisconnected(int32_t peer, uint32_t reason) override;
    void OnReceive(int32_t peer, const uint8_t* data, uint32_t length, uint32_t kind) override;
    void OnPeerConnectionStall(int32_t peer) override;
    void OnPeerConnectionResume(int32_t peer) override;
    void OnChatMessage(uint32_t kind, const char16_t* name, const char16_t* text) override;
    void OnLobbyUpdated() override;
    void OnLobbyJoinRequested() override;
    void OnLobbyGameStartRequest(uint32_t value, bool first, bool second) override;
    void OnLobbyError(uint32_t error) override;

private:
    // ---- Construction ----
    void Construct(const Options& options);
    GameDelegate* Delegate() const;
    int64_t NetworkNow() const;
    void SetMainThreadMode(uint32_t mode);
    void SetMainThreadState(uint32_t state);

    // ---- Command handlers (network thread; _Commands.cpp) ----
    using CommandHandler = void (MultiplayerEngine::*)(CommandRingBuffer& ring);
    static const CommandHandler kCommandHandlers[NETCMD_LAST - NETCMD_FIRST + 1];
    void CmdQuit(CommandRingBuffer& ring);
    void CmdHost(CommandRingBuffer& ring);
    void CmdJoin(CommandRingBuffer& ring);
    void CmdDisconnect(CommandRingBuffer& ring);
    void CmdConnectionAnswer(CommandRingBuffer& ring);
    void CmdEntityRecord(CommandRingBuffer& ring);
    void CmdMethodCall(CommandRingBuffer& ring);
    void CmdChat(CommandRingBuffer& ring);
    void CmdSynchronizePlayer(CommandRingBuffer& ring);
    void CmdEndFrame(CommandRingBuffer& ring);
    void CmdSetNetworkParams(CommandRingBuffer& ring);
    void CmdLobbyCreatePrivate(CommandRingBuffer& ring);
    void CmdLobbyRestore(CommandRingBuffer& ring);
    void CmdLobbyAcceptJoinRequest(CommandRingBuffer& ring);
    void CmdLobbyRequestJoin(CommandRingBuffer& ring);
    void CmdLobbyLeave(CommandRingBuffer& ring);
    void CmdLobbySetReady(CommandRingBuffer& ring);
    void CmdLobbySetOwner(CommandRingBuffer& ring);
    void CmdLobbySetSkill(CommandRingBuffer& ring);
    void CmdLobbySetRankedSkill(CommandRingBuffer& ring);
    void CmdLobbySetGrade(CommandRingBuffer& ring);
    void CmdLobbyInviteFriend(CommandRingBuffer& ring);
    void CmdLobbySwitchSides(CommandRingBuffer& ring);
    void CmdLobbyAutoMatch(CommandRingBuffer& ring);
    void CmdLobbyStopAutoMatch(CommandRingBuffer& ring);
    void CmdLobbySetSelectedMap(CommandRingBuffer& ring);
    void PostEmpty(uint32_t id);
    void AfterLobbyCommand();

    // ---- Network side (_Network.cpp) ----
    void SetMode(uint32_t mode);
    void SetState(uint32_t state);
    void ResetNetwork(bool quit);
    void Disconnect_(uint8_t force);
    void QueueMethodCall(uint32_t target, const MPMethodCall& call, bool reliable);
    void QueueText(const char16_t* text, uint32_t count);
    void DropPeer(PeerSyncRecord& peer, const char* what);
    void PublishLobby();

    // ---- Callback writers (network thread; _Callbacks.cpp) ----
    bool BeginCallback(uint32_t id, uint32_t bytes);
    void EndCallback() { callbacks.EndWrite(); }
    void PushU32(uint32_t id, uint32_t value);
    void PushHostResult(uint32_t result) { PushU32(NETCB_HOST_RESULT, result); }
    void PushJoinResult(uint32_t result) { PushU32(NETCB_JOIN_RESULT, result); }
    void PushDisconnected(uint32_t reason) { PushU32(NETCB_DISCONNECTED, reason); }
    void PushPeerConnecting(uint32_t id) { PushU32(NETCB_PEER_CONNECTING, id); }
    void PushPeerConnected(uint32_t id) { PushU32(NETCB_PEER_CONNECTED, id); }
    void PushPeerReady(uint32_t id) { PushU32(NETCB_PEER_READY, id); }
    void PushCallsAcknowledged(uint32_t id, uint32_t count);
    void PushPeerDisconnected(uint32_t id, uint32_t reason);
    void PushPeerStall(uint32_t id) { PushU32(NETCB_PEER_STALL, id); }
    void PushPeerResume(uint32_t id) { PushU32(NETCB_PEER_RESUME, id); }
    void PushMethodCall(uint32_t caller, uint64_t time, const MPMethodCall& call);
    void PushTextMessage(uint32_t kind, const char16_t* name, const char16_t* text, uint8_t lobby);
    void PushReleaseMultiplayerId(uint32_t id) { PushU32(NETCB_RELEASE_MULTIPLAYER_ID, id); }
    void PushFrameTimes(int64_t previous, int64_t latest);
    void PushLobbyUpdated();
    void PushLobbyJoinRequested();
    void PushLobbyGameStartRequest(uint32_t value, uint8_t first, uint8_t second);
    void PushLobbyError(uint32_t error) { PushU32(NETCB_LOBBY_ERROR, error); }

    // ---- Callback handlers (main thread; _Callbacks.cpp) ----
    using CallbackHandler = void (MultiplayerEngine::*)(CommandRingBuffer& queue);
    static const CallbackHandler kCallbackHandlers[NETCB_LAST - NETCB_FIRST + 1];
    void OnHosted(CommandRingBuffer& queue);
    void OnJoined(CommandRingBuffer& queue);
    void OnDisconnected(CommandRingBuffer& queue);
    void OnPlayerConnecting(CommandRingBuffer& queue);
    void OnPlayerConnected(CommandRingBuffer& queue);
    void OnPlayerReady(CommandRingBuffer& queue);
    void OnCallsAcknowledged(CommandRingBuffer& queue);
    void OnPlayerDisconnected(CommandRingBuffer& queue);
    void OnPlayerStall(CommandRingBuffer& queue);
    void OnPlayerResume(CommandRingBuffer& queue);
    void OnMethodCallMessage(CommandRingBuffer& queue);
    void OnTextMessage(CommandRingBuffer& queue);
    void OnEntityRecordMessage(CommandRingBuffer& queue);
    void OnReleaseMultiplayerId(CommandRingBuffer& queue);
    void OnFrameTimes(CommandRingBuffer& queue);
    void OnLobbyUpdatedMessage(CommandRingBuffer& queue);
    void OnLobbyJoinRequestedMessage(CommandRingBuffer& queue);
    void OnLobbyGameStartRequestMessage(CommandRingBuffer& queue);
    void OnLobbyErrorMessage(CommandRingBuffer& queue);
    Player* PlayerFromQueue(CommandRingBuffer& queue);
    // A client's received entity record into its proxies (MultiplayerEngine_Entities.cpp).
    void ProcessClientEntityRecord(const EntityRecord& record);

    // Every authority entity announced as created again (hosting started).
    void AnnounceAllEntities();
    // Static entities without an id (the end of an earlier game took them) take static ids
    // again in their order of creation (hosting or joining started).
    void RestoreStaticIds();

    // ---- Packets (network thread) ----
    bool FlushPacket(PeerSyncRecord& peer, PeerSendPass& pass);
    bool WriteWithFallOver(PeerSyncRecord& peer, PeerSendPass& pass, uint32_t section,
                           bool (*write)(GamePacket& packet, const void* item), const void* item);
    void HandleAcknowledgement(PeerSyncRecord& peer, uint16_t packetId);
    // Client: the received packet's creates whose template slot neither we nor the packet hold.
    uint32_t CreatesAwaitingTheirSlot(const PeerSyncRecord& peer, uint64_t packetNumber) const;
    void BindHistoryHead(PeerSyncRecord& peer);
    // What became of a call in a pass: done with (written, or too large for any packet),
    // waiting for an entity it names that cannot go yet, or left for want of room.
    enum class CallSent { kDone, kWaits, kNoRoom };
    CallSent WriteCall(PeerSyncRecord& peer, PeerSendPass& pass, EntityPassWriter* entities, const OutgoingCall& call);

    // ---- Entity replication (network thread; MultiplayerEngine_Replication.cpp) ----
    void ApplyEntityRecord(const EntityRecord& record);
    void ReceiveEntityRecord(PeerSyncRecord& peer, EntityRecord& record, int64_t localTime, uint64_t packetNumber);
    void ScrubEntityArgs(uint16_t id);
    void TryToReleaseAllEntityStates();
    void PushEntityRecord(const EntityRecord& record);

    // ---- Main-thread fields ----
    uint32_t mainMode = NETMODE_NONE;
    uint32_t mainState = NETSTATE_IDLE;
    Player* localPlayer = nullptr;
    Player* remotePlayer = nullptr;
    uint32_t remotePlayerCount = 0;
    std::vector<PendingMethodCall> pendingCalls;
    bool pendingCapWarned = false;
    int64_t previousFrameTime = 0;
    int64_t latestFrameTime = 0;
    // Per multiplayer id: the pending record flags and the entity, in a list of dirty
    // entities whose head is dirtyHead (most recently linked first).
    struct ReplicationSlots;
    struct ReplicationSlotsDeleter {
        void operator()(ReplicationSlots* slots) const;
    };
    std::unique_ptr<ReplicationSlots, ReplicationSlotsDeleter> replicationSlots;
    bool InGameAsHost() const { return mainMode == NETMODE_HOST && mainState == NETSTATE_IN_GAME; }
    void CreateReplicationSlots();
    void ClearReplicationSlots();
    void LinkDirty(uint16_t id, Entity* entity);
    uint8_t UnlinkDirty(uint16_t id);
    void FlushDirtySlot(uint16_t id, uint32_t depth);
    // The entity's records now when its create is pending (before a call naming it).
    void FlushPendingCreate(uint16_t id);
    uint64_t lastEndFrameTime = 0;

    // ---- Shared set-up (fixed at construction) ----
    GameDelegate* delegate = nullptr;
    Network::NetDriver* driver = nullptr;
    Network::NetDriver* ownedDriver = nullptr;
    int64_t (*networkTime)(void* context) = nullptr;
    void* networkTimeContext = nullptr;
    void (*queueWait)(void* context) = nullptr;
    void* queueWaitContext = nullptr;
    void (*entityRecordSink)(void* context, const EntityRecord& record) = nullptr;
    void* entityRecordSinkContext = nullptr;
    bool threaded = true;

    // ---- Callback queue: the network thread writes, the main thread reads ----
    CommandRingBuffer callbacks;

    // ---- Time sync as published by the network thread (median first, then the count) ----
    std::atomic<int64_t> publishedMedianTimeDifference{0};
    std::atomic<uint32_t> publishedTimeSyncSamples{0};

    // ---- Lobby as published to the main thread ----
    mutable std::mutex lobbyLock;
    Network::LobbySnapshot lobby;

    // ---- Network-thread fields ----
    uint32_t netMode = NETMODE_NONE;
    uint32_t netState = NETSTATE_IDLE;
    uint8_t halted = 0;
    PeerSyncTable peers;
    uint64_t frameTime = 0;  // the T of the last command 17
    int64_t counterNow = 0;
    int64_t previousWakeCounter = 0;
    int64_t lastSendCounter = 0;
    GamePacket packet;
    // A received packet's items, all read before any is applied.
    struct ReceivedItems {
        std::vector<std::pair<uint8_t, std::array<uint8_t, 16>>> dictionary;
        std::vector<uint16_t> acks;
        std::vector<OutgoingCall> calls;
        std::vector<OutgoingText> texts;
        std::vector<EntityRecord> entities;
    };
    ReceivedItems received;
    bool ReadPacketItems();
    EntityReplicationStates replication;
    uint8_t packetBytes[kMaxPacketBytes + BitWriter::kSlackBytes] = {};
};

// Installs the multiplayer layer's MultiplayerServices (for the engine); its start-up row
// runs it and pushes the clearing onto the exit stack.
void InstallNetServices();
// Restores the default MultiplayerServices.
void ClearNetServices();
