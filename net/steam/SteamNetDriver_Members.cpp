// The online driver's member records: the two lobby members rebuilt from the local
// state and the opponent's member data, the frozen game members, persona names, and
// the bounded parsing of lobby and member data (untrusted: any member writes its own
// member data, the owner the lobby data).
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/text/TextConversion.h"
#include "net/steam/LobbyKeys.h"
#include "net/steam/SteamNetDriver.h"
#include "net/steam/SteamNetDriver_Local.h"

namespace Network {

namespace lk = lobbykey;

bool steamdetail::ParseI32(const char* text, int32_t* out) {
    if (!text) return false;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return false;
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > int64_t(INT32_MAX) + 1) v = int64_t(INT32_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    *out = static_cast<int32_t>(v);
    return true;
}

bool steamdetail::ParseHex64(const char* text, uint64_t* out) {
    if (!text) return false;
    uint64_t v = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        const char c = *p;
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else break;
        if (++digits > 16) return false;  // does not fit 64 bits
        v = (v << 4) | uint64_t(d);
    }
    if (digits == 0) return false;
    *out = v;
    return true;
}

void steamdetail::Utf8Name(const char* utf8, char16_t* out) {
    out[0] = 0;
    if (!utf8) return;
    char16_t wide[lk::kNameUnits * 4 + 1] = {};
    size_t n = strnlen(utf8, lk::kNameUnits * 4);
    // Decode only whole characters: back off a cut multi-byte sequence.
    if (utf8[n] != 0) {
        while (n > 0 && (static_cast<uint8_t>(utf8[n]) & 0xC0) == 0x80) --n;
    }
    if (n == 0 || !MultiByteToWide(wide, lk::kNameUnits * 4, utf8, static_cast<int32_t>(n), kCodePageUTF8)) return;
    uint32_t units = 0;
    while (units < lk::kNameUnits * 4 && wide[units]) ++units;
    if (units > lk::kNameUnits - 1) {
        units = lk::kNameUnits - 1;
        if (wide[units - 1] >= 0xD800 && wide[units - 1] <= 0xDBFF) --units;
    }
    std::memcpy(out, wide, units * sizeof(char16_t));
    out[units] = 0;
}

std::string steamdetail::Narrow(const char16_t* text) {
    char buffer[lk::kNameUnits * 4 + 1] = {};
    if (!text || !text[0] || !WideToMultiByte(buffer, sizeof buffer - 1, text, -1, kCodePageUTF8)) return std::string();
    return std::string(buffer);
}

bool SteamNetDriver::ValidLobby() const { return online::IsValidLobbyId(lobbyId); }

void SteamNetDriver::ReadPersonaName(uint64_t id, char16_t* out) {
    steamdetail::Utf8Name(friends ? friends->GetFriendPersonaName(id) : nullptr, out);
}

void SteamNetDriver::SetMemberData(const char* key, const char* value) {
    if (mm && ValidLobby()) mm->SetLobbyMemberData(lobbyId, key, value);
}

void SteamNetDriver::SetMemberData(const char* key, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    SetMemberData(key, text);
}

void SteamNetDriver::SetLobbyData(const char* key, int32_t value) {
    if (!mm || !ValidLobby()) return;
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    mm->SetLobbyData(lobbyId, key, text);
}

bool SteamNetDriver::LobbyDataInt(const char* key, int32_t* out) {
    return mm && ValidLobby() && steamdetail::ParseI32(mm->GetLobbyData(lobbyId, key), out);
}

bool SteamNetDriver::MemberDataInt(uint64_t member, const char* key, int32_t* out) {
    return mm && ValidLobby() && steamdetail::ParseI32(mm->GetLobbyMemberData(lobbyId, member, key), out);
}

void SteamNetDriver::UpdateLobbyMembers() {
    // Both records start empty.
    for (LobbyMemberInfo& m : lobbyMembers) m = LobbyMemberInfo();

    // Record 0 from the local state.
    LobbyMemberInfo& self = lobbyMembers[0];
    const uint64_t selfId = user ? user->GetSteamID() : 0;
    self.steamId = selfId;
    self.squadSkill = squadSkill;
    self.towersSkill = towersSkill;
    self.rankedSquadSkill = rankedSquadSkill;
    self.rankedTowersSkill = rankedTowersSkill;
    self.grade = grade;
    self.ready = ready;
    self.teamFilter = window.team;
    self.mapMask = window.mapMask;
    self.userInfoValid = 1;
    ReadPersonaName(selfId, self.name);

    // Record 1 from the first other member's data; further members are ignored.
    int count = 0;
    if (mm && ValidLobby()) {
        count = mm->GetNumLobbyMembers(lobbyId);
        const int walk = count < int(lk::kLobbyMembers) ? count : int(lk::kLobbyMembers);
        for (int i = 0; i < walk; ++i) {
            const uint64_t id = mm->GetLobbyMemberByIndex(lobbyId, i);
            if (!online::IsValidUserId(id) || id == selfId) continue;
            LobbyMemberInfo& other = lobbyMembers[1];
            other.steamId = id;
            int32_t v = 0;
            if (MemberDataInt(id, lk::kSquadSkill, &v)) other.squadSkill = float(v) / lk::kSkillScale;
            if (MemberDataInt(id, lk::kTowersSkill, &v)) other.towersSkill = float(v) / lk::kSkillScale;
            if (MemberDataInt(id, lk::kRankedSquadSkill, &v)) other.rankedSquadSkill = float(v) / lk::kSkillScale;
            if (MemberDataInt(id, lk::kRankedTowersSkill, &v)) other.rankedTowersSkill = float(v) / lk::kSkillScale;
            if (MemberDataInt(id, lk::kGrade, &v)) other.grade = v;
            const char* r = mm->GetLobbyMemberData(lobbyId, id, lk::kReady);
            other.ready = (r && std::strcmp(r, "1") == 0) ? 1 : 0;
            if (MemberDataInt(id, lk::kTeamFilter, &v) && v >= 0 && v <= 2) other.teamFilter = uint32_t(v);
            if (MemberDataInt(id, lk::kMapMask, &v)) other.mapMask = uint32_t(v) & lk::kMapMaskBits;
            other.userInfoValid = (friends && !friends->RequestUserInformation(id, false)) ? 1 : 0;
            ReadPersonaName(id, other.name);
            break;
        }
    }

    // Avatars of the members Steam knows.
    for (LobbyMemberInfo& m : lobbyMembers)
        m.avatar = (m.steamId != 0 && m.userInfoValid && friends) ? friends->GetLargeFriendAvatar(m.steamId) : 0;

    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "UpdateLobbyMembers %u", unsigned(count));
    for (uint32_t i = 0; i < lk::kLobbyMembers; ++i)
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "member:%u steamID:0x%llX avatar:%d userInfoValid:%d", i,
                   static_cast<unsigned long long>(lobbyMembers[i].steamId), lobbyMembers[i].avatar, int(lobbyMembers[i].userInfoValid));
}

bool SteamNetDriver::MembersInformed() const {
    for (const LobbyMemberInfo& m : lobbyMembers)
        if (!m.userInfoValid || m.avatar < 0) return false;
    return true;
}

void SteamNetDriver::SetGameMembers() {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SetGameMembers");
    for (uint32_t i = 0; i < lk::kLobbyMembers; ++i) {
        gameMembers[i] = lobbyMembers[i];
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "%d 0x%llX %s avatar:%d", int(i),
                   static_cast<unsigned long long>(gameMembers[i].steamId), steamdetail::Narrow(gameMembers[i].name).c_str(),
                   gameMembers[i].avatar);
    }
}

const LobbyMemberInfo& SteamNetDriver::GetLobbyMember(uint32_t index) const {
    const LobbyMemberInfo* set = (driverState >= IN_LOBBY_STARTING_GAME && driverState <= GAME_ACTIVE) ? gameMembers : lobbyMembers;
    return set[index & 1];
}

bool SteamNetDriver::LobbyIsOwner() {
    if (!ValidLobby() || !mm || !user) return true;
    return mm->GetLobbyOwner(lobbyId) == user->GetSteamID();
}

bool SteamNetDriver::LobbyGetMemberFriend(uint32_t index) {
    const LobbyMemberInfo& m = GetLobbyMember(index);
    return friends && m.steamId != 0 && friends->GetFriendRelationship(m.steamId) == online::kRelationFriend;
}

bool SteamNetDriver::GetLobbySnapshot(LobbySnapshot* out) {
    if (!out) return false;
    LobbySnapshot s;
    s.isOwner = LobbyIsOwner();
    s.selectedMap = selectedMap;
    s.teamToMember[0] = LobbyTeamToMemberID(0);
    s.teamToMember[1] = LobbyTeamToMemberID(1);
    s.teamToMember[2] = LobbyTeamToMemberID(2);
    for (uint32_t i = 0; i < lk::kLobbyMembers; ++i) {
        const LobbyMemberInfo& m = GetLobbyMember(i);
        LobbyMember& d = s.members[i];
        d.steamId = m.steamId;
        std::memcpy(d.name, m.name, sizeof d.name);
        d.avatar = static_cast<uint32_t>(m.avatar);
        d.squadSkill = m.squadSkill;
        d.towersSkill = m.towersSkill;
        d.rankedSquadSkill = m.rankedSquadSkill;
        d.rankedTowersSkill = m.rankedTowersSkill;
        d.grade = m.grade;
        d.ready = m.ready != 0;
        d.teamFilter = static_cast<int32_t>(m.teamFilter);
        d.mapMask = static_cast<int32_t>(m.mapMask);
        d.isFriend = LobbyGetMemberFriend(i);
    }
    *out = s;
    return true;
}

}  // namespace Network
