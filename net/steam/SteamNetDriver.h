#pragma once
// Network::SteamNetDriver: the transport of versus matches over the online services.
// It owns the lobby in which two players meet (SteamNetDriver_Lobby.cpp and
// _Members.cpp), carries the game's traffic over peer-to-peer messages with a ticket
// handshake (_P2P.cpp), finds opponents by automatic matching (_AutoMatch.cpp), and
// routes the service's callbacks to the network thread (_Routing.cpp).
//
// Threads:
// - Construction and destruction: the main thread (the owner's).
// - SetRouteTarget, FlushRoutedEvents and the copying members (the registrations'
//   Run): the thread that pumps the service's callbacks (the main thread). A copying
//   member never waits: an event that does not fit the owner's ring waits in a capped
//   main-thread queue and is posted first the next time.
// - Everything else, including the routed handlers and every observer event: the
//   owner's network thread. The main-thread queries go through GetLobbySnapshot, which
//   the owner calls on its network thread.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "net/base/NetDriver.h"
#include "platform/online/Online.h"

class BaseThread;
class CommandRingBuffer;

namespace Network {

enum DriverState : uint32_t {
    IDLE = 0,
    JOINING_LOBBY = 1,
    CREATING_LOBBY = 2,
    IN_LOBBY = 3,
    IN_LOBBY_STARTING_GAME = 4,
    GAME_CONNECTING = 5,
    GAME_ACTIVE = 6,
    LOBBY_SEARCH = 7,  // named in the log, never entered
    DRIVER_STATE_COUNT = 8
};
const char* DriverStateName(uint32_t state);

// Peer-to-peer frame types (byte 0 of every frame on channel 0).
enum : uint8_t {
    STEAMDRIVERMSG_CONN_REQ = 1,
    STEAMDRIVERMSG_CONN_ACK_NO = 2,
    STEAMDRIVERMSG_CONN_ACK_YES = 3,
    STEAMDRIVERMSG_DISCONNECT = 4,
    STEAMDRIVERMSG_GAME_PACKET = 5,
    STEAMDRIVERMSG_TIME_SYNC = 6,
};
constexpr uint32_t kP2PFrameBytes = 1200;     // receive buffer
constexpr uint32_t kTicketFrameHeader = 5;    // type byte and u32 ticket length
constexpr uint32_t kTicketBytes = 1024;
constexpr int64_t kConnRequestRetryMs = 200;
constexpr int64_t kPeerStallMs = 5000;
constexpr int64_t kPeerDropMs = 30000;
constexpr int64_t kNoTime = INT64_MIN;  // a counter time of "never"

struct LobbyMemberInfo {
    uint64_t steamId = 0;
    int32_t avatar = 0;  // negative while loading
    float squadSkill = -1.0f;
    float towersSkill = -1.0f;
    float rankedSquadSkill = -1.0f;
    float rankedTowersSkill = -1.0f;
    int32_t grade = -1;
    char16_t name[32] = {};
    uint8_t ready = 0;
    uint8_t userInfoValid = 0;
    uint32_t teamFilter = 2;
    uint32_t mapMask = 0;
};

struct DriverPeer {
    enum : uint32_t { FREE = 0, REQUESTED = 1, REQUEST_RECEIVED = 2, CONNECTED = 3 };
    uint64_t steamId = 0;
    uint32_t state = FREE;
    uint8_t authorised = 0;
    uint8_t stalled = 0;
    int64_t lastReceive = kNoTime;
    uint8_t ticket[kTicketBytes] = {};
    uint32_t ticketLength = 0;
};

// The automatic-matching search window.
struct AutoMatchWindow {
    uint32_t team = 0;
    uint32_t mapMask = 0;
    uint8_t ranked = 0;
    uint8_t botsAllowed = 0;
    uint8_t wideSearch = 0;
    uint32_t squadDeltaStart = 0, squadDeltaEnd = 0, towersDeltaStart = 0, towersDeltaEnd = 0;
    uint32_t growTime = 1;
    uint32_t timeLimit = 1;
    uint32_t thirdDuration = 1;
    int32_t squadSkill = 0, towersSkill = 0, rankedSquadSkill = 0, rankedTowersSkill = 0;
    int32_t minSquad = 0, maxSquad = 0, minTowers = 0, maxTowers = 0;
    int64_t startTime = kNoTime;

    void Reset();
    void Init(const AutoMatchRecord& record, int64_t now);
    // Recomputes the deltas and bounds; returns the seconds since the start.
    float Update(int64_t now);
};

// The lobby-list calls of an automatic-matching search, in the order a search makes
// them. The driver's default forwards to its context's matchmaking; a test puts its own
// in between to see the exact sequence.
class LobbySearchCalls {
public:
    virtual ~LobbySearchCalls() = default;
    virtual void AddRequestLobbyListStringFilter(const char* key, const char* value, int32_t comparison) = 0;
    virtual void AddRequestLobbyListNumericalFilter(const char* key, int value, int32_t comparison) = 0;
    virtual void AddRequestLobbyListNearValueFilter(const char* key, int value) = 0;
    virtual void AddRequestLobbyListDistanceFilter(int32_t distance) = 0;
    virtual void AddRequestLobbyListResultCountFilter(int count) = 0;
    virtual online::CallHandle RequestLobbyList() = 0;
};

class MatchmakingSearchCalls final : public LobbySearchCalls {
public:
    explicit MatchmakingSearchCalls(online::OnlineMatchmaking* mm) : mm(mm) {}
    void AddRequestLobbyListStringFilter(const char* key, const char* value, int32_t comparison) override {
        mm->AddRequestLobbyListStringFilter(key, value, comparison);
    }
    void AddRequestLobbyListNumericalFilter(const char* key, int value, int32_t comparison) override {
        mm->AddRequestLobbyListNumericalFilter(key, value, comparison);
    }
    void AddRequestLobbyListNearValueFilter(const char* key, int value) override { mm->AddRequestLobbyListNearValueFilter(key, value); }
    void AddRequestLobbyListDistanceFilter(int32_t distance) override { mm->AddRequestLobbyListDistanceFilter(distance); }
    void AddRequestLobbyListResultCountFilter(int count) override { mm->AddRequestLobbyListResultCountFilter(count); }
    online::CallHandle RequestLobbyList() override { return mm->RequestLobbyList(); }

private:
    online::OnlineMatchmaking* mm;
};

class SteamNetDriver : public NetDriver {
public:
    // Kinds of routed events (the job's argument word).
    enum RoutedKind : uint32_t {
        ROUTE_LOBBY_DATA_UPDATE = 0,
        ROUTE_LOBBY_CHAT_UPDATE = 1,
        ROUTE_PERSONA_STATE_CHANGE = 2,
        ROUTE_P2P_SESSION_REQUEST = 3,
        ROUTE_P2P_CONNECT_FAIL = 4,
        ROUTE_LOBBY_CHAT_MSG = 5,
        ROUTE_JOIN_REQUESTED = 6,
        ROUTE_LOBBY_MATCH_LIST = 7,
        ROUTE_LOBBY_ENTER = 8,
        ROUTE_LOBBY_CREATED = 9,
        ROUTE_VALIDATE_TICKET = 10,
        ROUTE_AVATAR_LOADED = 11,
        ROUTE_KIND_COUNT = 12
    };
    static constexpr uint32_t kMaxWaitingEvents = 256;

    // Main thread. context null: online::GlobalContext().
    explicit SteamNetDriver(online::OnlineContext* context = nullptr);
    ~SteamNetDriver() override;
    SteamNetDriver(const SteamNetDriver&) = delete;
    SteamNetDriver& operator=(const SteamNetDriver&) = delete;

    // Pumping thread. The worker whose ring receives routed events; null (before the
    // owner is published and while it is torn down) drops them.
    void SetRouteTarget(BaseThread* worker);
    // Pumping thread: moves waiting events into the target's ring (a command writer of
    // the same thread calls it first, so events and commands keep their order).
    void FlushRoutedEvents();
    uint32_t WaitingEvents() const;

    // ---- NetDriver (network thread) ----
    uint32_t Listen(uint32_t port) override;
    uint32_t Connect(const char* host, uint32_t remotePort, uint32_t localPort) override;
    void Answer(int32_t peer, bool accepted) override { AnswerPeer(peer, accepted); }
    void Disconnect() override;
    void Reset() override;
    bool Tick() override;
    void Send(int32_t peer, const uint8_t* data, uint32_t length, uint32_t kind) override {
        SendGamePacket(peer, data, length, kind);
    }
    void LobbySendChat(const char16_t* text) override;
    void LobbyCreatePrivate() override;
    void LobbyRestore() override;
    void LobbyAcceptJoinRequest() override;
    void LobbyRequestJoin(uint64_t lobbyId) override;
    void LobbyLeave() override;
    void LobbySetReady(bool ready) override;
    void LobbySetOwner(uint32_t member) override;
    void LobbySetSkill(float squad, float towers) override;
    void LobbySetRankedSkill(float squad, float towers) override;
    void LobbySetGrade(uint32_t grade) override;
    void LobbyInviteFriend() override;
    void LobbySwitchSides() override;
    void LobbyAutoMatch(const AutoMatchRecord& record) override;
    void LobbyStopAutoMatch() override;
    void LobbySetSelectedMap(uint32_t map) override;
    bool GetLobbySnapshot(LobbySnapshot* out) override;

    // ---- Peer-to-peer (network thread) ----
    void AnswerPeer(int32_t slot, bool accepted);
    void DisconnectPeer(int32_t slot, uint32_t reason);
    void SendGamePacket(int32_t slot, const uint8_t* data, uint32_t length, uint32_t kind);
    void SendSimpleReliableMsg(uint64_t steamId, uint8_t type);

    // ---- Queries (network thread; tests read them between ticks) ----
    uint32_t GetDriverState() const { return driverState; }
    bool LobbyIsOwner();
    const LobbyMemberInfo& GetLobbyMember(uint32_t index) const;
    int32_t LobbyTeamToMemberID(int32_t team) const { return team == this->team ? 0 : 1; }
    int32_t LobbyGetSelectedMap() const { return selectedMap; }
    bool LobbyGetMemberFriend(uint32_t index);
    uint64_t CurrentLobby() const { return lobbyId; }
    uint64_t PendingLobby() const { return pendingLobbyId; }
    uint64_t GameServerId() const { return gameServerId; }
    int32_t Team() const { return team; }
    bool Ready() const { return ready != 0; }
    bool Ranked() const { return ranked != 0; }
    bool AutoMatching() const { return autoMatching != 0; }
    int32_t GameStartingCounter() const { return gameStarting; }
    const DriverPeer& Peer(uint32_t slot) const { return peers[slot & 1]; }
    const AutoMatchWindow& Window() const { return window; }
    int32_t AutoMatchId() const { return autoMatchId; }
    int32_t AutoMatchGroup() const { return autoMatchGroup; }
    const char* SelfIdText() const { return selfIdText; }
    // Reads the two auto-match files of a folder (the "locals" mount at construction).
    void ReadAutoMatchFiles(const char* folder);
    // Network thread: the calls searches make (null: the context's matchmaking again).
    void SetLobbySearchCalls(LobbySearchCalls* calls);
    // Runs one routed event from its packed payload (the routing job; fuzzing).
    void HandleRouted(uint32_t kind, const uint8_t* fields, uint32_t bytes);
    // Handles one received frame from an account (the tick's read; fuzzing).
    void HandleFrame(uint64_t from, const uint8_t* data, uint32_t length);

private:
    class Registration;
    friend class Registration;

    // ---- Routing (_Routing.cpp) ----
    void RegisterAll();
    void UnregisterAll();
    void CopyEvent(uint32_t kind, const void* record, bool ioFailure);
    bool PostRouted(const uint8_t* payload, uint32_t bytes, uint32_t kind);
    static void RouteJob(BaseThread* thread, void* argument, CommandRingBuffer* ring);
    void BindCallResult(Registration& reg, online::CallHandle call);
    void CancelCallResult(Registration& reg);
    void UpdateSelfSteamIDStr();

    // ---- Lobby (_Lobby.cpp) ----
    void SetDriverState(uint32_t state);
    bool ValidLobby() const;
    void OnLobbyCreated(uint64_t lobby, uint32_t result);
    void OnJoinRequested(uint64_t lobby);
    void OnLobbyEntered(uint64_t lobby, uint32_t response, bool ioFailure);
    void OnLobbyDataUpdate(uint64_t lobby);
    void OnLobbyChatUpdate(uint64_t lobby, uint64_t user, uint32_t flags);
    void OnLobbyChatMessage(uint32_t entry);
    void OnPersonaStateChange(uint64_t user, uint32_t flags);
    void OnAvatarLoaded(uint64_t user, int32_t image);
    bool SyncLobbyTeam();
    bool SyncLobbyMap();
    void LobbySetGameStarting(bool host);
    void UpdateGameServerSteamID(bool host);
    void SetGameMembers();
    bool LobbyIsGameStarting();
    void ReadyReset();
    void PickTeamAndMap();
    void StartGame(bool owner);
    void WriteEntryMemberData();

    // ---- Members (_Members.cpp) ----
    void UpdateLobbyMembers();
    void ReadPersonaName(uint64_t id, char16_t* out);
    bool MembersInformed() const;
    void SetMemberData(const char* key, int32_t value);
    void SetMemberData(const char* key, const char* value);
    void SetLobbyData(const char* key, int32_t value);
    bool LobbyDataInt(const char* key, int32_t* out);
    bool MemberDataInt(uint64_t member, const char* key, int32_t* out);

    // ---- Peer-to-peer (_P2P.cpp) ----
    void ClearPeers();
    void ClearPeersForNewSession();
    void MakeOwnTicket();
    void SendConnRequest();
    bool TickP2PNetworking();
    int32_t OnP2PSessionRequest(uint64_t steamId);
    void OnP2PConnectFail(uint64_t steamId, uint8_t error);
    void OnConnRequest(int32_t slot, const uint8_t* frame, uint32_t length);
    void OnConnAckYes(int32_t slot, const uint8_t* frame, uint32_t length);
    void AuthorizePeer(int32_t slot);
    void OnValidateAuthTicket(uint64_t steamId, uint32_t response);
    int64_t NowMs() const;

    // ---- Automatic matching (_AutoMatch.cpp) ----
    void StartAutoMatching();
    void AutoMatchTick();
    void SearchAutoMatchLobbies(uint32_t team);
    void PublishAutoMatchLobby();
    void OnLobbyAutoMatchList(uint32_t count);
    void FillSearchQueue();
    void ScheduleResearch();

    online::OnlineContext* ctx;
    online::OnlineMatchmaking* mm;
    online::OnlineNetworking* net;
    online::OnlineUser* user;
    online::OnlineFriends* friends;

    // Registrations: index = routed kind.
    Registration* regs[ROUTE_KIND_COUNT] = {};

    // Routing (pumping thread).
    std::atomic<BaseThread*> routeTarget{nullptr};
    mutable std::mutex waitingLock;
    std::deque<std::vector<uint8_t>> waiting;  // [kind u32][payload]
    bool waitingCapWarned = false;

    // Lobby (network thread).
    uint64_t lobbyId = 0;
    uint64_t autoMatchLobbyId = 0;
    uint64_t pendingLobbyId = 0;
    LobbyMemberInfo lobbyMembers[2];
    LobbyMemberInfo gameMembers[2];
    uint64_t gameServerId = 0;
    uint64_t publishedServerId = 0;  // the owner's last "serverID"
    uint8_t acceptConnections = 0;
    uint32_t driverState = IDLE;
    online::AuthTicket ticketHandle = 0;
    uint8_t ownTicket[kTicketBytes] = {};
    uint32_t ownTicketLength = 0;
    int64_t lastConnRequest = kNoTime;
    uint8_t autoMatching = 0;
    char selfIdText[128] = {};
    int32_t gameStarting = 0;
    int32_t selectedMap = 0;
    int32_t team = 0;
    float squadSkill = -1.0f, towersSkill = -1.0f, rankedTowersSkill = -1.0f, rankedSquadSkill = -1.0f;
    int32_t grade = -1;
    uint8_t ready = 0;
    uint8_t ranked = 0;

    // Automatic matching.
    std::vector<uint32_t> searchQueue;
    AutoMatchWindow window;
    int32_t autoMatchId = 0;
    int32_t autoMatchGroup = 0;
    float lastPublication = 0.0f;
    int64_t nextResearch = kNoTime;
    uint8_t requestInFlight = 0;
    std::unique_ptr<MatchmakingSearchCalls> contextSearch;  // null without matchmaking
    LobbySearchCalls* search = nullptr;

    DriverPeer peers[2];
    uint8_t frame[kP2PFrameBytes] = {};
};

}  // namespace Network
