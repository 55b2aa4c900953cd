// The multiplayer engine: construction, teardown and the main thread's operations.
//
// A versus match runs through this one object. The main thread calls the operations
// here (from scripts and the Game tick); each request becomes a command in the
// engine's BaseThread ring, which the network thread (MultiplayerEngine_Network.cpp)
// handles. The network thread answers through the callback queue, which the main thread
// drains once per frame in UpdateMainThread (MultiplayerEngine_Callbacks.cpp) and turns
// into mode and state changes and game-delegate events. Game packets, time
// synchronisation and the peer records never leave the network thread.
#include "net/MultiplayerEngine.h"
#include "net/MultiplayerEngine_Local.h"

#include <cstring>

#include "core/Log.h"
#include "core/config/GameConfig.h"
#include "core/profiler/Profiler.h"
#include "engine/services/GameClock.h"
#include "engine/entity/EntityManager.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/services/GameServices.h"
#include "engine/script/LuaUnicodeString.h"
#include "net/Player.h"
#include "platform/os/Clock.h"

const float STATE_UPDATE_LAG_S = STATE_UPDATE_LAG_S_VALUE;

namespace {

int64_t DefaultNetworkTime(void*) { return GetNetworkTime(); }

using netdetail::CutUnits;
using netdetail::Length16;

const WorkerSettings& Settings() { return kWorkerSettings[WORKER_MULTIPLAYER_ENGINE]; }

}  // namespace

MultiplayerEngine::MultiplayerEngine() : MultiplayerEngine(Options()) {}

MultiplayerEngine::MultiplayerEngine(const Options& options)
    : BaseThread(Settings().name, options.commandRingBytes ? options.commandRingBytes : Settings().ringBytes, Settings().useLock,
                 Settings().waitTimeoutMs),
      callbacks(options.callbackQueueBytes, 0) {
    Construct(options);
}

void MultiplayerEngine::Construct(const Options& options) {
    CreateReplicationSlots();
    delegate = options.delegate;
    networkTime = options.networkTime ? options.networkTime : &DefaultNetworkTime;
    networkTimeContext = options.networkTimeContext;
    queueWait = options.callbackQueueWait;
    queueWaitContext = options.callbackQueueWaitContext;
    entityRecordSink = options.entityRecordSink;
    entityRecordSinkContext = options.entityRecordSinkContext;
    if (options.driver) {
        driver = options.driver;
    } else {
        ownedDriver = new Network::UnsupportedNetDriver;
        driver = ownedDriver;
    }
    driver->SetObserver(this);
    counterNow = previousWakeCounter = lastSendCounter = os::ReadCounter();
    ResetReplication();
    localPlayer = new Player(true, kLocalPlayerId);
    SetMPLocalPlayer(localPlayer);
    threaded = options.startThread;
    if (threaded) Start();
}

MultiplayerEngine::~MultiplayerEngine() {
    if (threaded && IsRunning()) {
        if (BeginCommand(NETCMD_QUIT, 0)) EndCommand();
        Flush();
    } else if (!threaded) {
        if (BeginCommand(NETCMD_QUIT, 0)) EndCommand();
        RunWake();
    }
    if (GetMPLocalPlayer() == localPlayer) SetMPLocalPlayer(nullptr);
    Player::Delete(localPlayer);
    localPlayer = nullptr;
    Player::Delete(remotePlayer);
    remotePlayer = nullptr;
    Stop();
    driver->SetObserver(nullptr);
    delete ownedDriver;
}

GameDelegate* MultiplayerEngine::Delegate() const {
    if (delegate) return delegate;
    return GetGameServices().GetDelegate();
}

int64_t MultiplayerEngine::NetworkNow() const { return networkTime(networkTimeContext); }

bool MultiplayerEngine::IsIdle() const { return mainMode == NETMODE_NONE && !callbacks.HasRecord(); }

void MultiplayerEngine::SetMainThreadMode(uint32_t mode) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::SetMainThreadMode - [from:%d] [to:%d]", int(mainMode),
               int(mode));
    mainMode = mode;
}

void MultiplayerEngine::SetMainThreadState(uint32_t state) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MultiplayerEngine::SetMainThreadState - [from:%d] [to:%d]",
               int(mainState), int(state));
    mainState = state;
}

// ---------------------------------------------------------------------------------
// Match control

void MultiplayerEngine::Host(uint32_t localPort) {
    if (localPort == 0 && gGameConfig) localPort = gGameConfig->port;
    if (!BeginCommand(NETCMD_HOST, 4)) return;
    Ring().WriteValue(localPort);
    EndCommand();
}

void MultiplayerEngine::Join(const char* hostName, uint32_t remotePort, uint32_t localPort) {
    if (remotePort == 0 && gGameConfig) remotePort = gGameConfig->port;
    uint32_t n = 0;
    if (hostName)
        while (n < kHostNameBytes && hostName[n]) ++n;
    if (!BeginCommand(NETCMD_JOIN, 8 + n + 1)) return;
    Ring().WriteValue(remotePort);
    Ring().WriteValue(localPort);
    Ring().Write(hostName, n);
    Ring().WriteValue(uint8_t(0));
    EndCommand();
}

void MultiplayerEngine::Disconnect(uint8_t force) {
    SetMainThreadState(NETSTATE_DISCONNECTING);
    if (!BeginCommand(NETCMD_DISCONNECT, 1)) return;
    Ring().WriteValue(force);
    EndCommand();
}

void MultiplayerEngine::SetNetworkParams(float a, float b, float c, float d, float e, float f) {
    if (!BeginCommand(NETCMD_SET_NETWORK_PARAMS, 24)) return;
    for (float v : {a, b, c, d, e, f}) Ring().WriteValue(v);
    EndCommand();
}

void MultiplayerEngine::SynchronizePlayer(Player* player) {
    if (!player || mainMode != NETMODE_HOST || mainState != NETSTATE_IN_GAME) return;
    if (!BeginCommand(NETCMD_SYNCHRONIZE_PLAYER, 4)) return;
    Ring().WriteValue(player->GetPeerID());
    EndCommand();
}

void MultiplayerEngine::OnMainMenuShowForTheFirstTime() {
    const GameServices& game = GetGameServices();
    const int count = game.GetArgumentCount();
    for (int i = 0; i + 1 < count; ++i) {
        const char* a = game.GetArgument(i);
        if (!a || std::strcmp(a, "+connect_lobby") != 0) continue;
        const char* digits = game.GetArgument(i + 1);
        uint64_t id = 0;
        bool valid = digits && *digits;
        for (const char* p = digits; valid && *p; ++p) {
            if (*p < '0' || *p > '9' || id > (UINT64_MAX - uint64_t(*p - '0')) / 10) valid = false;
            else id = id * 10 + uint64_t(*p - '0');
        }
        if (!valid) id = 0;
        if (id != 0 && BeginCommand(NETCMD_LOBBY_REQUEST_JOIN, 8)) {
            Ring().WriteValue(id);
            EndCommand();
        }
        return;
    }
}

// ---------------------------------------------------------------------------------
// Lobby

void MultiplayerEngine::PostEmpty(uint32_t id) {
    if (BeginCommand(id, 0)) EndCommand();
}

void MultiplayerEngine::LobbyCreatePrivate() { PostEmpty(NETCMD_LOBBY_CREATE_PRIVATE); }
void MultiplayerEngine::LobbyRestore() { PostEmpty(NETCMD_LOBBY_RESTORE); }
void MultiplayerEngine::LobbyAcceptJoinRequest() { PostEmpty(NETCMD_LOBBY_ACCEPT_JOIN_REQUEST); }
void MultiplayerEngine::LobbyLeave() { PostEmpty(NETCMD_LOBBY_LEAVE); }
void MultiplayerEngine::LobbyInviteFriend() { PostEmpty(NETCMD_LOBBY_INVITE_FRIEND); }
void MultiplayerEngine::LobbySwitchSides() { PostEmpty(NETCMD_LOBBY_SWITCH_SIDES); }
void MultiplayerEngine::LobbyStopAutoMatch() { PostEmpty(NETCMD_LOBBY_STOP_AUTO_MATCH); }

void MultiplayerEngine::LobbySetReady(bool ready) {
    if (!BeginCommand(NETCMD_LOBBY_SET_READY, 1)) return;
    Ring().WriteValue(uint8_t(ready ? 1 : 0));
    EndCommand();
}

void MultiplayerEngine::LobbySetOwner(uint32_t member) {
    if (!LobbyIsOwner() || !BeginCommand(NETCMD_LOBBY_SET_OWNER, 4)) return;
    Ring().WriteValue(member);
    EndCommand();
}

void MultiplayerEngine::LobbySetSkill(float squad, float towers) {
    if (!BeginCommand(NETCMD_LOBBY_SET_SKILL, 8)) return;
    Ring().WriteValue(squad);
    Ring().WriteValue(towers);
    EndCommand();
}

void MultiplayerEngine::LobbySetRankedSkill(float squad, float towers) {
    if (!BeginCommand(NETCMD_LOBBY_SET_RANKED_SKILL, 8)) return;
    Ring().WriteValue(squad);
    Ring().WriteValue(towers);
    EndCommand();
}

void MultiplayerEngine::LobbySetGrade(uint32_t grade) {
    if (!BeginCommand(NETCMD_LOBBY_SET_GRADE, 4)) return;
    Ring().WriteValue(grade);
    EndCommand();
}

void MultiplayerEngine::LobbySetSelectedMap(int32_t map) {
    if (map < 0 || map > 3 || !BeginCommand(NETCMD_LOBBY_SET_SELECTED_MAP, 4)) return;
    Ring().WriteValue(uint32_t(map));
    EndCommand();
}

void MultiplayerEngine::LobbyAutoMatch(int32_t team, int32_t delta0, int32_t delta1, int32_t delta2, int32_t delta3,
                                       int32_t growTime, int32_t timeLimit, int32_t thirdDuration, int32_t mapMask, bool ranked) {
    Network::AutoMatchRecord r;
    r.team = team;
    r.deltas[0] = delta0;
    r.deltas[1] = delta1;
    r.deltas[2] = delta2;
    r.deltas[3] = delta3;
    r.growTime = growTime;
    r.timeLimit = timeLimit;
    r.thirdDuration = thirdDuration;
    r.mapMask = mapMask;
    r.ranked = ranked ? 1 : 0;
    if (!BeginCommand(NETCMD_LOBBY_AUTO_MATCH, kAutoMatchRecordBytes)) return;
    Ring().Write(&r, kAutoMatchRecordBytes);
    EndCommand();
}

namespace {
bool MemberIndexValid(int32_t member) { return member >= 0 && member < 2; }
}  // namespace

bool MultiplayerEngine::LobbyIsOwner() const {
    std::lock_guard<std::mutex> lock(lobbyLock);
    return lobby.isOwner;
}

int32_t MultiplayerEngine::LobbyTeamToMemberID(int32_t team) const {
    std::lock_guard<std::mutex> lock(lobbyLock);
    return team >= 0 && team < 3 ? lobby.teamToMember[team] : 0;
}

int32_t MultiplayerEngine::LobbyGetSelectedMap() const {
    std::lock_guard<std::mutex> lock(lobbyLock);
    return lobby.selectedMap;
}

#define LOBBY_MEMBER_READ(Name, Type, field)                     \
    Type MultiplayerEngine::Name(int32_t member) const {         \
        if (!MemberIndexValid(member)) return Type();            \
        std::lock_guard<std::mutex> lock(lobbyLock);             \
        return lobby.members[member].field;                      \
    }
LOBBY_MEMBER_READ(LobbyGetMemberAvatar, uint32_t, avatar)
LOBBY_MEMBER_READ(LobbyGetMemberSquadSkill, float, squadSkill)
LOBBY_MEMBER_READ(LobbyGetMemberTowersSkill, float, towersSkill)
LOBBY_MEMBER_READ(LobbyGetMemberRankedSquadSkill, float, rankedSquadSkill)
LOBBY_MEMBER_READ(LobbyGetMemberRankedTowersSkill, float, rankedTowersSkill)
LOBBY_MEMBER_READ(LobbyGetMemberGrade, int32_t, grade)
LOBBY_MEMBER_READ(LobbyGetMemberReady, bool, ready)
LOBBY_MEMBER_READ(LobbyGetMemberTeamFilter, int32_t, teamFilter)
LOBBY_MEMBER_READ(LobbyGetMemberMapMask, int32_t, mapMask)
LOBBY_MEMBER_READ(LobbyGetMemberFriend, bool, isFriend)
#undef LOBBY_MEMBER_READ

bool MultiplayerEngine::LobbyGetMemberPresent(int32_t member) const {
    if (!MemberIndexValid(member)) return false;
    std::lock_guard<std::mutex> lock(lobbyLock);
    return IsValidSteamId(lobby.members[member].steamId);
}

LuaUnicodeString MultiplayerEngine::LobbyGetMemberNameLuaUnichar(int32_t member) const {
    char16_t name[32] = {};
    if (MemberIndexValid(member)) {
        std::lock_guard<std::mutex> lock(lobbyLock);
        std::memcpy(name, lobby.members[member].name, sizeof name);
    }
    name[31] = 0;
    return LuaUnicodeString(name);
}

bool MultiplayerEngine::IsValidSteamId(uint64_t id) {
    const uint32_t account = static_cast<uint32_t>(id);
    const uint32_t instance = static_cast<uint32_t>(id >> 32) & 0xFFFFF;
    const uint32_t type = static_cast<uint32_t>(id >> 52) & 0xF;
    const uint32_t universe = static_cast<uint32_t>(id >> 56);
    if (type < 1 || type > 10 || universe < 1 || universe > 4) return false;
    if (type == 1) return account != 0 && instance <= 4;
    if (type == 7) return account != 0 && instance == 0;
    if (type == 3) return account != 0;
    return true;
}

// ---------------------------------------------------------------------------------
// Chat

void MultiplayerEngine::SendChatMessage(uint32_t lobbyFlag, const char16_t* text) {
    const uint32_t length = Length16(text);
    if (length == 0) return;
    const uint32_t n = CutUnits(text, length, kMaxChatUnits);
    if (BeginCommand(NETCMD_CHAT, 4 + 2 * n + 1)) {
        Ring().WriteValue(n);
        Ring().Write(text, 2 * n);
        Ring().WriteValue(uint8_t(lobbyFlag ? 1 : 0));
        EndCommand();
    }
    GameDelegate* d = Delegate();
    if (!d) return;
    char16_t line[kChatLineUnits + 1];
    uint32_t at = 0;
    const LuaUnicodeString name = LobbyGetMemberNameLuaUnichar(0);
    auto append = [&](const char16_t* s, uint32_t count) {
        const uint32_t take = CutUnits(s, count, kChatLineUnits - at);
        std::memcpy(line + at, s, 2 * take);
        at += take;
    };
    append(name.GetUnicharPtr(), name.GetLength());
    append(u": ", 2);
    append(text, length);
    line[at] = 0;
    d->OnChatMessage(lobbyFlag != 0, 0, line);
}

// ---------------------------------------------------------------------------------
// Players

void MultiplayerEngine::InitRemotePlayers(uint32_t count) {
    Player::Delete(remotePlayer);
    remotePlayer = nullptr;
    if (count > 1) {
        gLog.Warning(LogCategory::Multiplayer, "MultiplayerEngine::InitRemotePlayers - %u players asked, one made", count);
        count = 1;
    }
    remotePlayerCount = count;
    if (count == 1) remotePlayer = new Player(false, 1);
}

Player* MultiplayerEngine::GetPlayerById(uint32_t id) const {
    return remotePlayer && remotePlayer->GetPeerID() == id ? remotePlayer : nullptr;
}

// ---------------------------------------------------------------------------------
// Per frame

void MultiplayerEngine::UpdateMainThread() {
    ProcessMessages();
    if (gEntityManager) {
        gProfiler.SetValue(PROFILE_NET_DYNAMIC_MID, float(gEntityManager->GetDynamicMIDCount()), PROFILER_THREAD_MAIN);
        gProfiler.SetValue(PROFILE_NET_STATIC_MID, float(gEntityManager->GetStaticMIDCount()), PROFILER_THREAD_MAIN);
    }
}

void MultiplayerEngine::EndFrame(uint64_t time) {
    FlushDirtyEntities();
    lastEndFrameTime = time;
    if (!BeginCommand(NETCMD_END_FRAME, 8)) return;
    Ring().WriteValue(time);
    EndCommand();
}

void MultiplayerEngine::ResetReplication() {
    if (gEntityManager) gEntityManager->ClearMIDTable();
    GetGameServices().ClearDelayedEntityLists();
    ClearReplicationSlots();
    pendingCalls.clear();
    pendingCapWarned = false;
    if (remotePlayer) remotePlayer->ResetSession();
    lastEndFrameTime = 0;
}
