// The online driver's lobby: creation, invitations and joining, readiness, teams and
// maps, chat, and the lobby data update that decides when the owner starts the game
// and who hosts it (the squad player). Network thread only.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/CrtRand.h"
#include "net/steam/LobbyKeys.h"
#include "net/steam/SteamNetDriver.h"
#include "net/steam/SteamNetDriver_Local.h"
#include "platform/os/Clock.h"

namespace Network {

namespace lk = lobbykey;
using ull = unsigned long long;

namespace {

// Skill x 1000, truncated, saturated in i32.
int32_t SkillMilli(float skill) { return steamdetail::TruncI32(skill * lk::kSkillScale); }

}  // namespace

void SteamNetDriver::SetDriverState(uint32_t state) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::SetDriverState (%s -> %s)", DriverStateName(driverState),
               DriverStateName(state));
    driverState = state;
}

void SteamNetDriver::LobbyCreatePrivate() {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbyCreatePrivate state:%s", DriverStateName(driverState));
    if (driverState != IDLE) {
        gLog.Error(LogCategory::Multiplayer, "Invalid DriverState: %s", DriverStateName(driverState));
        return;
    }
    team = 0;
    ready = 0;
    ranked = 0;
    autoMatching = 0;
    selectedMap = 0;
    gameStarting = 0;
    UpdateLobbyMembers();
    SetDriverState(CREATING_LOBBY);
    BindCallResult(*regs[ROUTE_LOBBY_CREATED], mm ? mm->CreateLobby(online::kLobbyFriendsOnly, lk::kLobbyMembers) : 0);
}

void SteamNetDriver::OnLobbyCreated(uint64_t lobby, uint32_t result) {
    requestInFlight = 0;
    if (driverState != CREATING_LOBBY) {
        gLog.Error(LogCategory::Multiplayer, "OnLobbyCreated - invalid driver state %s", DriverStateName(driverState));
        // Nobody uses a lobby created after its request was given up: leave it so that it
        // does not linger as a member-less room of this player.
        if (mm && result == online::kResultOK && online::IsValidLobbyId(lobby) && lobby != lobbyId) mm->LeaveLobby(lobby);
        return;
    }
    if (result != online::kResultOK || !online::IsValidLobbyId(lobby)) {
        gLog.Error(LogCategory::Multiplayer, "OnLobbyCreated - failed");
        SetDriverState(IDLE);
        if (observer) observer->OnLobbyError(0);
        return;
    }
    lobbyId = lobby;
    autoMatchLobbyId = 0;
    ready = autoMatching;
    gameStarting = 0;
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "OnLobbyCreated - succeeded steamID:0x%llX", ull(lobby));
    PublishAutoMatchLobby();
    UpdateLobbyMembers();
    SetDriverState(IN_LOBBY);
    if (autoMatching) ScheduleResearch();
}

void SteamNetDriver::LobbyRequestJoin(uint64_t lobby) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbyRequestJoin steamID:0x%llX", ull(lobby));
    OnJoinRequested(lobby);
}

void SteamNetDriver::OnJoinRequested(uint64_t lobby) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbyOnJoinRequestedCallback");
    pendingLobbyId = lobby;
    if (observer) observer->OnLobbyJoinRequested();
}

void SteamNetDriver::LobbyAcceptJoinRequest() {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbyAcceptJoinRequest steamID:0x%llX", ull(pendingLobbyId));
    if (!online::IsValidLobbyId(pendingLobbyId)) {
        gLog.Error(LogCategory::Multiplayer, "LobbyAcceptJoinRequest - invalid lobbySteamID");
        if (observer) observer->OnLobbyError(1);
        return;
    }
    if (driverState != IDLE) {
        gLog.Error(LogCategory::Multiplayer, "Invalid DriverState (%s)", DriverStateName(driverState));
        return;
    }
    SetDriverState(JOINING_LOBBY);
    lobbyId = pendingLobbyId;
    autoMatchLobbyId = 0;
    pendingLobbyId = 0;
    BindCallResult(*regs[ROUTE_LOBBY_ENTER], mm ? mm->JoinLobby(lobbyId) : 0);
}

void SteamNetDriver::OnLobbyEntered(uint64_t lobby, uint32_t response, bool ioFailure) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbyOnJoinedCallback steamID:0x%llX, response:%d ioFailure:%d",
               ull(lobby), int(response), int(ioFailure));
    if (driverState != JOINING_LOBBY) {
        gLog.Error(LogCategory::Multiplayer, "OnLobbyJoined - invalid driver state %s", DriverStateName(driverState));
        return;
    }
    if (ioFailure || response != online::kEnterSuccess) {
        lobbyId = pendingLobbyId = autoMatchLobbyId = 0;
        SetDriverState(IDLE);
        if (autoMatching)
            StartAutoMatching();
        else if (observer)
            observer->OnLobbyError(1);
        return;
    }
    if (autoMatching) {
        const char* why = nullptr;
        if (LobbyIsOwner())
            why = "AM - joined as owner";
        else if (LobbyIsGameStarting())
            why = "AM - joined lobby with a game starting";
        if (why) {
            gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "%s", why);
            LobbyLeave();
            return;
        }
    }
    gameStarting = 0;
    ready = autoMatching;
    WriteEntryMemberData();
    UpdateLobbyMembers();
    int32_t v = 0;
    if (LobbyDataInt(lk::kRanked, &v)) ranked = v != 0;
    SyncLobbyTeam();
    SyncLobbyMap();
    SetDriverState(IN_LOBBY);
}

void SteamNetDriver::WriteEntryMemberData() {
    SetMemberData(lk::kReady, ready ? "1" : "");
    SetMemberData(lk::kMapMask, static_cast<int32_t>(window.mapMask));
    SetMemberData(lk::kTeamFilter, static_cast<int32_t>(window.team));
    SetMemberData(lk::kSquadSkill, SkillMilli(squadSkill));
    SetMemberData(lk::kTowersSkill, SkillMilli(towersSkill));
    SetMemberData(lk::kRankedSquadSkill, SkillMilli(rankedSquadSkill));
    SetMemberData(lk::kRankedTowersSkill, SkillMilli(rankedTowersSkill));
    SetMemberData(lk::kGrade, grade);
}

void SteamNetDriver::LobbyRestore() {
    if (!ValidLobby()) {
        gLog.Error(LogCategory::Multiplayer, "Lobby restore - invalid lobbySteamID");
        return;
    }
    SetDriverState(IN_LOBBY);
}

void SteamNetDriver::LobbyLeave() {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbyLeave steamID:0x%llX state:%s", ull(lobbyId),
               DriverStateName(driverState));
    if (driverState > IN_LOBBY) return;
    CancelCallResult(*regs[ROUTE_LOBBY_CREATED]);
    CancelCallResult(*regs[ROUTE_LOBBY_ENTER]);
    if (ValidLobby() && mm) mm->LeaveLobby(lobbyId);
    lobbyId = 0;
    autoMatchLobbyId = 0;
    publishedServerId = 0;
    gameStarting = 0;
    UpdateLobbyMembers();
    SetDriverState(IDLE);
}

void SteamNetDriver::LobbySetReady(bool flag) {
    if (!ValidLobby()) {
        gLog.Error(LogCategory::Multiplayer, "LobbySetReady - invalid lobbySteamID");
        return;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbySetReady: %d", int(flag));
    ready = flag ? 1 : 0;
    lobbyMembers[0].ready = ready;
    SetMemberData(lk::kReady, flag ? "1" : "0");
}

void SteamNetDriver::LobbySetSkill(float squad, float towers) {
    squadSkill = squad;
    towersSkill = towers;
    lobbyMembers[0].squadSkill = squad;
    lobbyMembers[0].towersSkill = towers;
    window.squadSkill = steamdetail::TruncI32(squad);
    window.towersSkill = steamdetail::TruncI32(towers);
    window.Update(os::ReadCounter());
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "LobbySetSkill - squadSkill:%d towersSkill:%d", window.squadSkill,
               window.towersSkill);
}

void SteamNetDriver::LobbySetRankedSkill(float squad, float towers) {
    rankedSquadSkill = squad;
    rankedTowersSkill = towers;
    lobbyMembers[0].rankedSquadSkill = squad;
    lobbyMembers[0].rankedTowersSkill = towers;
    window.rankedSquadSkill = steamdetail::TruncI32(squad);
    window.rankedTowersSkill = steamdetail::TruncI32(towers);
    window.Update(os::ReadCounter());
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "LobbySetRankedSkill - squadSkill:%d towersSkill:%d", window.rankedSquadSkill,
               window.rankedTowersSkill);
}

void SteamNetDriver::LobbySetGrade(uint32_t value) {
    grade = static_cast<int32_t>(value);
    lobbyMembers[0].grade = grade;
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "LobbySetGrade - grade: %d", grade);
}

void SteamNetDriver::LobbySetOwner(uint32_t member) {
    if (!ValidLobby()) {
        gLog.Error(LogCategory::Multiplayer, "LobbySetOwner - invalid lobbySteamID");
        return;
    }
    if (!LobbyIsOwner()) {
        gLog.Error(LogCategory::Multiplayer, "LobbySetOwner - not called by Lobby Owner!");
        return;
    }
    if (!ValidLobby()) {
        gLog.Error(LogCategory::Multiplayer, "LobbySetOwner - invalid new owner lobbySteamID");
        return;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbySetOwner: %d", int(member));
    if (mm) mm->SetLobbyOwner(lobbyId, lobbyMembers[member & 1].steamId);
}

void SteamNetDriver::LobbyInviteFriend() {
    if (!ValidLobby()) {
        gLog.Error(LogCategory::Multiplayer, "LobbyInviteFriend - invalid lobbySteamID");
        return;
    }
    if (friends) friends->ActivateGameOverlayInviteDialog(lobbyId);
}

void SteamNetDriver::LobbySwitchSides() {
    if (!LobbyIsOwner()) return;
    team = 1 - team;
    SyncLobbyTeam();
    if (observer) observer->OnChatMessage(4, nullptr, nullptr);
}

bool SteamNetDriver::SyncLobbyTeam() {
    if (!ValidLobby() || !mm) return false;
    if (LobbyIsOwner()) {
        SetMemberData(lk::kTeam, team);
        return false;
    }
    int32_t ownerTeam = -1;
    if (!MemberDataInt(mm->GetLobbyOwner(lobbyId), lk::kTeam, &ownerTeam) || (ownerTeam != 0 && ownerTeam != 1)) return false;
    if (ownerTeam != team) return false;
    team = 1 - team;
    SetMemberData(lk::kTeam, team);
    return true;
}

bool SteamNetDriver::SyncLobbyMap() {
    if (!ValidLobby() || LobbyIsOwner()) return false;
    int32_t map = -1;
    if (!LobbyDataInt(lk::kMap, &map) || map < 0 || map >= int32_t(lk::kMapCount) || map == selectedMap) return false;
    selectedMap = map;
    return true;
}

void SteamNetDriver::LobbySetSelectedMap(uint32_t map) {
    if (!ValidLobby()) {
        gLog.Error(LogCategory::Multiplayer, "LobbySetSelectedMap - invalid lobbySteamID");
        return;
    }
    if (static_cast<int32_t>(map) == selectedMap || !LobbyIsOwner()) return;
    selectedMap = static_cast<int32_t>(map);
    SetLobbyData(lk::kMap, selectedMap);
    if (observer) observer->OnChatMessage(5, nullptr, nullptr);
}

bool SteamNetDriver::LobbyIsGameStarting() {
    int32_t published = 0;
    return LobbyDataInt(lk::kGameStarting, &published) && published > gameStarting;
}

void SteamNetDriver::LobbySetGameStarting(bool host) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbySetGameStarting host:%d", int(host));
    if (!ValidLobby() || !mm) {
        gLog.Error(LogCategory::Multiplayer, "LobbySetGameStarting - invalid lobbySteamID");
        return;
    }
    char id[32];
    publishedServerId = lobbyMembers[host ? 0 : 1].steamId;
    std::snprintf(id, sizeof id, "%" PRIx64, publishedServerId);
    mm->SetLobbyData(lobbyId, lk::kServerId, id);
    SetLobbyData(lk::kGameStarting, gameStarting + 1);
}

void SteamNetDriver::UpdateGameServerSteamID(bool host) {
    gameServerId = 0;
    if (!host && mm && ValidLobby()) {
        uint64_t id = 0;
        if (steamdetail::ParseHex64(mm->GetLobbyData(lobbyId, lk::kServerId), &id) && online::IsValidUserId(id)) gameServerId = id;
        // The owner's own write may not have come back from the service yet: it knows
        // what it published.
        if (LobbyIsOwner() && online::IsValidUserId(publishedServerId)) gameServerId = publishedServerId;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "UpdateGameServerSteamID steamID:0x%llX host:%d", ull(gameServerId), int(host));
}

void SteamNetDriver::ReadyReset() {
    if (ValidLobby()) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbySetReady: %d", 0);
        ready = 0;
        lobbyMembers[0].ready = 0;
        SetMemberData(lk::kReady, "0");
    } else {
        gLog.Error(LogCategory::Multiplayer, "LobbySetReady - invalid lobbySteamID");
    }
    ++gameStarting;
}

void SteamNetDriver::PickTeamAndMap() {
    const uint64_t opponent = lobbyMembers[1].steamId;
    int32_t wanted = static_cast<int32_t>(window.team);
    if (wanted != 0 && wanted != 1) {
        int32_t theirs = 2;
        if (!MemberDataInt(opponent, lk::kTeamFilter, &theirs) || theirs < 0 || theirs > 2) theirs = 2;
        wanted = theirs == 2 ? ((CrtRand() % 2) == 0 ? 1 : 0) : 1 - theirs;
    }
    if (wanted != team) LobbySwitchSides();
    int32_t peerMask = 0;
    MemberDataInt(opponent, lk::kMapMask, &peerMask);
    const uint32_t common = window.mapMask & static_cast<uint32_t>(peerMask) & lk::kMapMaskBits;
    uint32_t count = 0;
    for (uint32_t b = 0; b < lk::kMapCount; ++b) count += (common >> b) & 1;
    int32_t map = 0;
    if (count != 0) {
        uint32_t n = static_cast<uint32_t>(CrtRand()) % count;
        for (uint32_t b = 0; b < lk::kMapCount; ++b) {
            if (!((common >> b) & 1)) continue;
            if (n-- == 0) {
                map = static_cast<int32_t>(b);
                break;
            }
        }
    }
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "MapMask:0x%X PeerMapMask:0x%X Selected map:%d", window.mapMask,
               static_cast<uint32_t>(peerMask), map);
    LobbySetSelectedMap(static_cast<uint32_t>(map));
}

void SteamNetDriver::StartGame(bool owner) {
    SetDriverState(IN_LOBBY_STARTING_GAME);
    bool host = team == 0;
    // The owner decides and publishes the squad player's id with the start: a non-owner
    // takes its part from that id. Its own team mirrors the owner's only as far as the
    // member data it has seen, and two decisions from two views could have both players
    // join (or both host).
    uint64_t server = 0;
    if (!owner && mm && user && ValidLobby() && steamdetail::ParseHex64(mm->GetLobbyData(lobbyId, lk::kServerId), &server) &&
        online::IsValidUserId(server)) {
        host = server == user->GetSteamID();
        team = host ? 0 : 1;
    }
    autoMatching = 0;
    if (owner) LobbySetGameStarting(host);
    UpdateGameServerSteamID(host);
    SetGameMembers();
    if (observer) observer->OnLobbyGameStartRequest(static_cast<uint32_t>(selectedMap), host, ranked != 0);
    if (friends && lobbyMembers[1].steamId) friends->SetPlayedWith(lobbyMembers[1].steamId);
    if (owner && mm) mm->SetLobbyJoinable(lobbyId, false);
    ReadyReset();
}

void SteamNetDriver::OnLobbyDataUpdate(uint64_t lobby) {
    if (lobby != lobbyId) return;
    if (driverState != IN_LOBBY) {
        if (observer) observer->OnLobbyUpdated();
        return;
    }
    UpdateLobbyMembers();
    const bool informed = MembersInformed();
    if (!LobbyIsOwner()) {
        if (SyncLobbyTeam() && observer) observer->OnChatMessage(4, nullptr, nullptr);
        if (SyncLobbyMap() && observer) observer->OnChatMessage(5, nullptr, nullptr);
        int32_t v = 0;
        if (LobbyDataInt(lk::kRanked, &v)) ranked = v != 0;
        if (LobbyIsGameStarting()) {
            if (!informed) {
                gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Waiting for user info");
            } else {
                gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Starting game");
                StartGame(false);
            }
        }
    } else if (lobbyMembers[0].ready && lobbyMembers[1].ready) {
        if (!informed) {
            gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Everyone ready - waiting for user info");
        } else {
            gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Everyone ready - starting game");
            if (autoMatching) PickTeamAndMap();
            StartGame(true);
        }
    }
    if (observer) observer->OnLobbyUpdated();
}

void SteamNetDriver::OnLobbyChatUpdate(uint64_t lobby, uint64_t changed, uint32_t flags) {
    if (lobby != lobbyId || !ValidLobby()) return;
    UpdateLobbyMembers();
    if (flags & (online::kMemberLeft | online::kMemberDisconnected)) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Lobby member steamID:0x%llX left", ull(changed));
        char16_t name[lk::kNameUnits] = {};
        ReadPersonaName(changed, name);
        if (observer) observer->OnChatMessage(3, name, nullptr);
    }
    if (flags & online::kMemberEntered) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Lobby member steamID:0x%llX entered", ull(changed));
        if (observer) observer->OnChatMessage(2, lobbyMembers[1].name, nullptr);
    }
    if (observer) observer->OnLobbyUpdated();
}

void SteamNetDriver::LobbySendChat(const char16_t* text) {
    if (!ValidLobby() || !mm || !text) return;
    uint32_t n = 0;
    while (n < lk::kChatSendUnits && text[n]) ++n;
    if (n == lk::kChatSendUnits && text[n] && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    mm->SendLobbyChatMsg(lobbyId, text, static_cast<int>(n * sizeof(char16_t)));
}

void SteamNetDriver::OnLobbyChatMessage(uint32_t entry) {
    if (!ValidLobby() || !mm) return;
    uint8_t buffer[lk::kChatEntryBytes] = {};
    online::OnlineId from = 0;
    int32_t type = 0;
    const int length = mm->GetLobbyChatEntry(lobbyId, static_cast<int>(entry), &from, buffer, sizeof buffer, &type);
    if (type != online::kChatEntryMessage || length <= 0 || (user && from == user->GetSteamID())) return;
    uint32_t units = static_cast<uint32_t>(length > int(sizeof buffer) ? int(sizeof buffer) : length) / 2;
    if (units > lk::kChatReceiveUnits) units = lk::kChatReceiveUnits;
    char16_t text[lk::kChatReceiveUnits + 1] = {};
    std::memcpy(text, buffer, units * sizeof(char16_t));
    text[units] = 0;
    if (observer) observer->OnChatMessage(1, lobbyMembers[1].name, text);
}

void SteamNetDriver::OnPersonaStateChange(uint64_t who, uint32_t flags) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "PersonaStateChange steamID:0x%llX changeFlags:0x%X", ull(who), flags);
    if (!ValidLobby() || driverState < JOINING_LOBBY || driverState > IN_LOBBY || who == 0) return;
    if (who != lobbyMembers[0].steamId && who != lobbyMembers[1].steamId) return;
    if (flags & (online::kPersonaChangeName | online::kPersonaChangeAvatar)) OnLobbyDataUpdate(lobbyId);
}

void SteamNetDriver::OnAvatarLoaded(uint64_t who, int32_t image) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "OnAvatarImageLoaded steamID:0x%llX image:%d", ull(who), image);
    if (!ValidLobby() || who == 0) return;
    if (who == lobbyMembers[0].steamId || who == lobbyMembers[1].steamId) OnLobbyDataUpdate(lobbyId);
}

}  // namespace Network
