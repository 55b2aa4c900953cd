#pragma once
// Online services client: lobbies and matchmaking, peer-to-peer packets, tickets,
// friends and avatars, stats, achievements, leaderboards and cloud files.
//
// An OnlineContext is one signed-in user. It talks to a broker: the broker program
// (tools/broker) over a Unix-domain socket, or an in-process LocalBroker
// (OnlineBroker.h) that serves several contexts of one process. The process-wide
// start-up (SteamAPI_Init) makes one global context; the accessors and flat callback
// functions below use it. Services that need more than one user in a process (unit
// tests) take the interfaces from a context object instead.
//
// Threads: every interface call is thread-safe. Callbacks and call results run only
// inside RunCallbacks, on the thread that calls it. Register/Unregister may be called
// from any thread; once Unregister returns the object is not called again (a dispatch
// in progress on the pumping thread finishes first, so never unregister from a thread
// the pumping thread's handlers wait for).
#include "platform/online/OnlineTypes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace online {

class ClientCore;

// A registered callback or call-result target.
class CallbackBase {
public:
    virtual ~CallbackBase() = default;
    // data points at the record of the registered callback number; ioFailure is set for
    // a call result whose call was lost (broker gone); call is 0 for plain callbacks.
    virtual void Run(const void* data, bool ioFailure, CallHandle call) = 0;
};

// Identity and test knobs of one context. FromEnvironment reads them (see Online.cpp
// for the variable names); a configuration file of "NAME=value" lines can supply any
// of them, and the environment overrides the file.
struct ClientConfig {
    uint32_t account = 1;  // the user id is MakeUserId(account)
    std::string persona = "Player";  // UTF-8
    uint32_t appId = 480;
    std::string language = "english";
    bool loggedOn = true;
    bool offline = false;  // serve this process from a private in-process broker
    std::string brokerDir;  // folder of the broker's socket "broker.sock"
    // A broker on the network, "host:port" (names resolved); wins over brokerDir. The
    // secret file holds the broker's shared secret (16 to 4,096 bytes).
    std::string brokerAddress;
    std::string brokerSecretFile;
    std::string dataDir;    // offline mode: persistent data folder (empty = memory only)
    std::string schemaPath; // offline mode: stats schema file (empty = next to the executable)
    // Knobs.
    uint32_t packetLossPercent = 0;  // unreliable packets dropped at the receiver
    uint32_t packetLatencyMs = 0;    // unreliable packets held this long ...
    uint32_t packetJitterMs = 0;     // ... plus up to this much more (reorders them)
    uint32_t randomSeed = 1;
    uint32_t ticketFailure = 0;      // non-zero: validations this context asks for answer this code
    bool avatarsLoading = false;     // first avatar query answers -1, AvatarImageLoaded follows
    bool personaDelay = false;       // RequestUserInformation answers true first, PersonaStateChange follows
    bool statsFail = false;          // RequestCurrentStats delivers a failed UserStatsReceived
    uint32_t autoInviteAccount = 0;  // invite dialog invites this account
    bool overlayEvents = false;      // overlay calls raise GameOverlayActivated (1, then 0)

    // Parses "NAME=value" lines; unknown names and malformed lines are skipped with one
    // warning each (through warn, when given). Bounded: at most 64 KiB are read.
    bool ParseText(const char* text, size_t size, std::string* warnings = nullptr);
    bool LoadFile(const std::string& path, std::string* warnings = nullptr);
    void ApplyEnvironment();
    // The configuration file (ONLINE_CONFIG), then the environment, then the broker
    // address override.
    static ClientConfig FromEnvironment();
};

// A broker address that overrides every configuration (the program's command line);
// empty removes it. Main thread, before start-up.
void SetBrokerAddressOverride(const std::string& address);

using WarningHook = void (*)(int severity, const char* text);

class OnlineMatchmaking {
public:
    CallHandle CreateLobby(int32_t lobbyType, int32_t maxMembers);
    CallHandle JoinLobby(OnlineId lobby);
    void LeaveLobby(OnlineId lobby);
    OnlineId GetLobbyOwner(OnlineId lobby);
    bool SetLobbyOwner(OnlineId lobby, OnlineId newOwner);
    int GetNumLobbyMembers(OnlineId lobby);
    OnlineId GetLobbyMemberByIndex(OnlineId lobby, int index);
    // Text answers stay valid until the calling thread's eighth next text answer.
    const char* GetLobbyData(OnlineId lobby, const char* key);
    bool SetLobbyData(OnlineId lobby, const char* key, const char* value);
    const char* GetLobbyMemberData(OnlineId lobby, OnlineId member, const char* key);
    void SetLobbyMemberData(OnlineId lobby, const char* key, const char* value);
    bool SetLobbyJoinable(OnlineId lobby, bool joinable);
    bool SendLobbyChatMsg(OnlineId lobby, const void* bytes, int size);
    int GetLobbyChatEntry(OnlineId lobby, int chatId, OnlineId* user, void* buffer, int capacity, int32_t* entryType);
    void AddRequestLobbyListStringFilter(const char* key, const char* value, int32_t comparison);
    void AddRequestLobbyListNumericalFilter(const char* key, int value, int32_t comparison);
    void AddRequestLobbyListNearValueFilter(const char* key, int value);
    void AddRequestLobbyListDistanceFilter(int32_t distance);  // accepted and ignored
    void AddRequestLobbyListResultCountFilter(int count);
    CallHandle RequestLobbyList();
    OnlineId GetLobbyByIndex(int index);

    ClientCore* core = nullptr;
};

class OnlineNetworking {
public:
    bool SendP2PPacket(OnlineId remote, const void* data, uint32_t size, int32_t sendType, int channel = 0);
    bool IsP2PPacketAvailable(uint32_t* size, int channel = 0);
    // A packet larger than capacity is dropped and false is answered.
    bool ReadP2PPacket(void* buffer, uint32_t capacity, uint32_t* size, OnlineId* remote, int channel = 0);
    bool AcceptP2PSessionWithUser(OnlineId remote);

    ClientCore* core = nullptr;
};

class OnlineUser {
public:
    OnlineId GetSteamID();
    bool BLoggedOn();
    AuthTicket GetAuthSessionTicket(void* buffer, int capacity, uint32_t* size);
    void CancelAuthTicket(AuthTicket ticket);
    int32_t BeginAuthSession(const void* ticket, int size, OnlineId user);
    void EndAuthSession(OnlineId user);

    ClientCore* core = nullptr;
};

class OnlineFriends {
public:
    const char* GetFriendPersonaName(OnlineId user);
    int32_t GetFriendRelationship(OnlineId user);
    int GetLargeFriendAvatar(OnlineId user);
    bool RequestUserInformation(OnlineId user, bool nameOnly);
    void SetPlayedWith(OnlineId user);
    void ActivateGameOverlayInviteDialog(OnlineId lobby);
    void ActivateGameOverlay(const char* dialog);
    void ActivateGameOverlayToWebPage(const char* url);

    ClientCore* core = nullptr;
};

class OnlineUtils {
public:
    uint32_t GetAppID();
    bool GetImageSize(int image, uint32_t* width, uint32_t* height);
    bool GetImageRGBA(int image, uint8_t* buffer, int capacity);

    ClientCore* core = nullptr;
};

class OnlineApps {
public:
    const char* GetCurrentGameLanguage();
    ClientCore* core = nullptr;
};

class OnlineClient {
public:
    void SetWarningMessageHook(WarningHook hook);
    ClientCore* core = nullptr;
};

class OnlineUserStats {
public:
    bool RequestCurrentStats();
    bool GetStat(const char* name, int32_t* value);
    bool GetStat(const char* name, float* value);
    bool SetStat(const char* name, int32_t value);
    bool SetStat(const char* name, float value);
    bool GetAchievement(const char* name, bool* achieved);
    bool SetAchievement(const char* name);
    bool ClearAchievement(const char* name);
    bool IndicateAchievementProgress(const char* name, uint32_t current, uint32_t max);
    bool StoreStats();
    CallHandle FindLeaderboard(const char* name);
    const char* GetLeaderboardName(LeaderboardHandle leaderboard);
    int GetLeaderboardEntryCount(LeaderboardHandle leaderboard);
    CallHandle DownloadLeaderboardEntries(LeaderboardHandle leaderboard, int32_t request, int start, int end);
    bool GetDownloadedLeaderboardEntry(LeaderboardEntriesHandle entries, int index, LeaderboardEntry* entry,
                                       int32_t* details, int maxDetails);
    CallHandle UploadLeaderboardScore(LeaderboardHandle leaderboard, int32_t method, int32_t score,
                                      const int32_t* details, int detailCount);

    ClientCore* core = nullptr;
};

class OnlineRemoteStorage {
public:
    bool FileExists(const char* name);
    int32_t GetFileSize(const char* name);
    int32_t FileRead(const char* name, void* buffer, int32_t capacity);
    bool FileWrite(const char* name, const void* data, int32_t size);  // true once stored durably

    ClientCore* core = nullptr;
};

// One signed-in user with its interfaces and its callback registry.
class OnlineContext {
public:
    ~OnlineContext();
    OnlineContext(const OnlineContext&) = delete;
    OnlineContext& operator=(const OnlineContext&) = delete;

    // Connects to the broker named by config.brokerAddress or config.brokerDir (or,
    // offline, starts a private in-process one). Null, with the reason in *error, when no
    // broker answers; a broker on the network that drops the connection during the
    // handshake is tried again with back-off for up to kTcpSignInMs (OnlineSocket.h).
    static std::unique_ptr<OnlineContext> Connect(const ClientConfig& config, std::string* error);

    OnlineMatchmaking* Matchmaking() { return &matchmaking; }
    OnlineNetworking* Networking() { return &networking; }
    OnlineUser* User() { return &user; }
    OnlineFriends* Friends() { return &friends; }
    OnlineUtils* Utils() { return &utils; }
    OnlineApps* Apps() { return &apps; }
    OnlineClient* Client() { return &client; }
    OnlineUserStats* UserStats() { return &userStats; }
    OnlineRemoteStorage* RemoteStorage() { return &remoteStorage; }

    void RunCallbacks();
    void RegisterCallback(CallbackBase* target, int callbackId);
    void UnregisterCallback(CallbackBase* target);
    // Binds a call result; 0 is never bound; a target bound to another call loses that binding.
    void RegisterCallResult(CallbackBase* target, CallHandle call);
    void UnregisterCallResult(CallbackBase* target, CallHandle call);

    // False once the broker connection is lost.
    bool Connected() const;
    ClientCore* Core() { return core.get(); }

private:
    friend class ClientCore;
    friend class LocalBroker;
    explicit OnlineContext(std::unique_ptr<ClientCore> core);
    static std::unique_ptr<OnlineContext> ConnectOverNetwork(const ClientConfig& config, std::string* error);

    std::unique_ptr<ClientCore> core;
    OnlineMatchmaking matchmaking;
    OnlineNetworking networking;
    OnlineUser user;
    OnlineFriends friends;
    OnlineUtils utils;
    OnlineApps apps;
    OnlineClient client;
    OnlineUserStats userStats;
    OnlineRemoteStorage remoteStorage;
};

// The process-wide context made by SteamAPI_Init (null before and after).
OnlineContext* GlobalContext();

}  // namespace online

// Process-wide start-up and callback functions; they act on online::GlobalContext().
bool SteamAPI_Init();  // reads ClientConfig::FromEnvironment(); false when no broker answers
// The same start-up with a configuration the caller made (an engine that chooses offline
// mode itself); true at once when the context exists already.
bool SteamAPI_InitWithConfig(const online::ClientConfig& config);
// Why the last start-up failed (empty after a success). Main thread.
const char* SteamAPI_InitError();
void SteamAPI_Shutdown();
void SteamAPI_RunCallbacks();
void SteamAPI_RegisterCallback(online::CallbackBase* target, int callbackId);
void SteamAPI_UnregisterCallback(online::CallbackBase* target);
void SteamAPI_RegisterCallResult(online::CallbackBase* target, online::CallHandle call);
void SteamAPI_UnregisterCallResult(online::CallbackBase* target, online::CallHandle call);

online::OnlineMatchmaking* SteamMatchmaking();
online::OnlineNetworking* SteamNetworking();
online::OnlineUser* SteamUser();
online::OnlineFriends* SteamFriends();
online::OnlineUtils* SteamUtils();
online::OnlineApps* SteamApps();
online::OnlineClient* SteamClient();
online::OnlineUserStats* SteamUserStats();
online::OnlineRemoteStorage* SteamRemoteStorage();
