#pragma once
// The network driver interface the multiplayer engine calls, and the observer through
// which a driver reports back. The engine owns one driver; every call and every
// observer event runs on the engine's network thread (a driver raises events only from
// inside its own calls, mostly Tick).
#include <cstdint>

namespace Network {

// Events, in their fixed order. OnDriverError and OnDriverJoinGame are declared and never
// raised. A peer id of -1 means no peer.
class NetDriverObserver {
public:
    virtual ~NetDriverObserver() = default;
    virtual void OnDriverListening() = 0;
    // A client's driver started connecting to the host (the engine ignores it).
    virtual void OnDriverConnecting() {}
    virtual void OnDriverError(uint32_t error) {}
    virtual void OnDriverJoinGame() {}
    virtual void OnPeerConnecting(int32_t peer) = 0;
    virtual void OnPeerConnected(int32_t peer) = 0;
    virtual void OnPeerDisconnected(int32_t peer, uint32_t reason) = 0;
    virtual void OnReceive(int32_t peer, const uint8_t* data, uint32_t length, uint32_t kind) = 0;
    virtual void OnPeerConnectionStall(int32_t peer) = 0;
    virtual void OnPeerConnectionResume(int32_t peer) = 0;
    virtual void OnChatMessage(uint32_t kind, const char16_t* name, const char16_t* text) = 0;
    virtual void OnLobbyUpdated() = 0;
    virtual void OnLobbyJoinRequested() = 0;
    virtual void OnLobbyGameStartRequest(uint32_t value, bool first, bool second) = 0;
    virtual void OnLobbyError(uint32_t error) = 0;
};

// One lobby member as the main thread reads it.
struct LobbyMember {
    uint64_t steamId = 0;
    char16_t name[32] = {};
    uint32_t avatar = 0;
    float squadSkill = 0.0f;
    float towersSkill = 0.0f;
    float rankedSquadSkill = 0.0f;
    float rankedTowersSkill = 0.0f;
    int32_t grade = 0;
    bool ready = false;
    int32_t teamFilter = 0;
    int32_t mapMask = 0;
    bool isFriend = false;
};

// The lobby as a whole: the two member slots (0 the local user, 1 the peer).
struct LobbySnapshot {
    bool isOwner = false;
    int32_t selectedMap = 0;
    int32_t teamToMember[3] = {0, 1, 0};  // squad, towers, any
    LobbyMember members[2];
};

// Command 31's record: the automatic-matching request in its order.
struct AutoMatchRecord {
    int32_t team = 0;
    int32_t deltas[4] = {};
    int32_t growTime = 0;
    int32_t timeLimit = 0;
    int32_t thirdDuration = 0;
    int32_t mapMask = 0;
    uint32_t ranked = 0;
};
static_assert(sizeof(AutoMatchRecord) == 40, "command 31 carries a 40-byte record");

class NetDriver {
public:
    virtual ~NetDriver() = default;
    void SetObserver(NetDriverObserver* o) { observer = o; }
    NetDriverObserver* Observer() const { return observer; }

    // Start listening or connecting: NETERROR_OK, or the reason it cannot start (the
    // engine then reports the failure itself).
    virtual uint32_t Listen(uint32_t port) = 0;
    virtual uint32_t Connect(const char* host, uint32_t remotePort, uint32_t localPort) = 0;
    // The answer to a connecting peer.
    virtual void Answer(int32_t peer, bool accepted) = 0;
    // Disconnects every peer; each raises OnPeerDisconnected later.
    virtual void Disconnect() = 0;
    // Drops everything at once, raising nothing.
    virtual void Reset() = 0;
    // The periodic work; true when more is pending (the engine then does not wait).
    virtual bool Tick() = 0;
    // A game packet (kind 0) or a time-sync frame (kind 1), sent unreliably.
    virtual void Send(int32_t peer, const uint8_t* data, uint32_t length, uint32_t kind) = 0;

    // Lobby operations of commands 15 (lobby chat) and 19 to 33. Without a lobby they do
    // nothing.
    virtual void LobbySendChat(const char16_t* text) {}
    virtual void LobbyCreatePrivate() {}
    virtual void LobbyRestore() {}
    virtual void LobbyAcceptJoinRequest() {}
    virtual void LobbyRequestJoin(uint64_t lobbyId) {}
    virtual void LobbyLeave() {}
    virtual void LobbySetReady(bool ready) {}
    virtual void LobbySetOwner(uint32_t member) {}
    virtual void LobbySetSkill(float squad, float towers) {}
    virtual void LobbySetRankedSkill(float squad, float towers) {}
    virtual void LobbySetGrade(uint32_t grade) {}
    virtual void LobbyInviteFriend() {}
    virtual void LobbySwitchSides() {}
    virtual void LobbyAutoMatch(const AutoMatchRecord& record) {}
    virtual void LobbyStopAutoMatch() {}
    virtual void LobbySetSelectedMap(uint32_t map) {}
    // The member records as they stand (network thread); false without a lobby.
    virtual bool GetLobbySnapshot(LobbySnapshot* out) { return false; }

protected:
    NetDriverObserver* observer = nullptr;
};

// The driver of a build without an online driver: hosting and joining answer
// NETERROR_NOT_SUPPORTED; nothing else happens.
class UnsupportedNetDriver : public NetDriver {
public:
    uint32_t Listen(uint32_t) override;
    uint32_t Connect(const char*, uint32_t, uint32_t) override;
    void Answer(int32_t, bool) override {}
    void Disconnect() override {}
    void Reset() override {}
    bool Tick() override { return false; }
    void Send(int32_t, const uint8_t*, uint32_t, uint32_t) override {}
};

}  // namespace Network
