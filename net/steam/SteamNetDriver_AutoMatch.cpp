// Automatic matching: each searching player asks for a lobby of another searcher whose
// skill lies in a window around its own (one request in flight, one search per queued
// team), and otherwise publishes an invisible lobby of its own, rewriting its window at
// most every 3 s and searching again every 4 to 8 s. The window widens with the time
// spent searching; after the time limit bots are allowed and the distance widens.
// Network thread only.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/CrtRand.h"
#include "core/Log.h"
#include "core/Time.h"
#include "engine/services/EngineCore.h"
#include "net/steam/LobbyKeys.h"
#include "net/steam/SteamNetDriver.h"
#include "net/steam/SteamNetDriver_Local.h"
#include "platform/os/Clock.h"

namespace Network {

namespace lk = lobbykey;

namespace {

constexpr float kRepublishSeconds = 3.0f;
constexpr float kResearchSeconds = 4.0f;
constexpr uint32_t kFileLine = 1023;
constexpr int32_t kDistanceDefault = 1;
constexpr int32_t kDistanceFar = 2;

int32_t SaturateI32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// The first line of a small file (at most kFileLine characters); false when missing.
bool ReadFirstLine(const char* folder, const char* name, char* line) {
    line[0] = 0;
    if (!folder || !folder[0]) return false;
    char path[4096];
    std::snprintf(path, sizeof path, "%s/%s%s", folder, "", name);
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    size_t n = 0;
    for (int c; n < kFileLine && (c = std::fgetc(f)) != EOF && c != '\n' && c != '\r';) line[n++] = static_cast<char>(c);
    line[n] = 0;
    std::fclose(f);
    return true;
}

// "%d" of a line; an overflow or no number gives 0.
int32_t ScanId(const char* line) {
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > int64_t(INT32_MAX) + 1) return 0;
    }
    if (negative) v = -v;
    return (v > INT32_MAX || v < INT32_MIN) ? 0 : static_cast<int32_t>(v);
}

void MapCombKey(uint32_t bits, char* key) {
    std::snprintf(key, 16, "%s%c%c%c%c", lk::kMapCombPrefix, (bits & 1) ? '1' : '0', (bits & 2) ? '1' : '0', (bits & 4) ? '1' : '0',
                  (bits & 8) ? '1' : '0');
}

}  // namespace

// ---------------------------------------------------------------------------------
// Window

void AutoMatchWindow::Reset() { *this = AutoMatchWindow(); }

void AutoMatchWindow::Init(const AutoMatchRecord& record, int64_t now) {
    team = static_cast<uint32_t>(record.team);
    squadDeltaStart = static_cast<uint32_t>(record.deltas[0]);
    squadDeltaEnd = static_cast<uint32_t>(record.deltas[1]);
    towersDeltaStart = static_cast<uint32_t>(record.deltas[2]);
    towersDeltaEnd = static_cast<uint32_t>(record.deltas[3]);
    growTime = record.growTime ? static_cast<uint32_t>(record.growTime) : 1;
    timeLimit = record.timeLimit ? static_cast<uint32_t>(record.timeLimit) : 1;
    thirdDuration = record.thirdDuration ? static_cast<uint32_t>(record.thirdDuration) : 1;
    mapMask = static_cast<uint32_t>(record.mapMask);
    ranked = (record.ranked & 0xFF) ? 1 : 0;
    startTime = now;
    Update(now);
}

float AutoMatchWindow::Update(int64_t now) {
    const float e = startTime == kNoTime ? 0.0f : float(now - startTime) / float(os::kCounterFrequency);
    float f = e / float(growTime ? growTime : 1);
    if (f < 0.0f) f = 0.0f;
    if (f > 1.0f) f = 1.0f;
    // The delta is signed: an end below the start narrows the window.
    const float squadDelta = float(squadDeltaStart) + (float(squadDeltaEnd) - float(squadDeltaStart)) * f + 0.5f;
    const float towersDelta = float(towersDeltaStart) + (float(towersDeltaEnd) - float(towersDeltaStart)) * f + 0.5f;
    const int64_t sd = static_cast<int64_t>(squadDelta);
    const int64_t td = static_cast<int64_t>(towersDelta);
    const int64_t baseSquad = ranked ? rankedSquadSkill : squadSkill;
    const int64_t baseTowers = ranked ? rankedTowersSkill : towersSkill;
    minSquad = SaturateI32(baseSquad - sd);
    maxSquad = SaturateI32(baseSquad + sd);
    minTowers = SaturateI32(baseTowers - td);
    maxTowers = SaturateI32(baseTowers + td);
    botsAllowed = wideSearch = e >= float(timeLimit) ? 1 : 0;
    return e;
}

// ---------------------------------------------------------------------------------
// Files

void SteamNetDriver::ReadAutoMatchFiles(const char* folder) {
    if (!folder) folder = GetExecutableDirectory();
    char line[kFileLine + 1];
    autoMatchId = ReadFirstLine(folder, "AutoMatchID.txt", line) ? ScanId(line) : 0;
    autoMatchGroup = 0;
    if (ReadFirstLine(folder, "AutoMatchGroup.txt", line)) {
        if (std::strstr(line, "bot"))
            autoMatchGroup = 1;
        else if (std::strstr(line, "dev"))
            autoMatchGroup = 2;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "AutomatchID:%d AutoMatchGroup:%d", autoMatchId, autoMatchGroup);
}

// ---------------------------------------------------------------------------------
// Operations

void SteamNetDriver::LobbyAutoMatch(const AutoMatchRecord& record) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
               "SteamNetDriver::LobbyAutoMatch team:%d squadSkillDelta:[%d,%d] towersSkillDelta:[%d,%d] ranked:%d mapMask:0x%X growTime:%d",
               record.team, record.deltas[0], record.deltas[1], record.deltas[2], record.deltas[3], int(record.ranked & 0xFF),
               static_cast<uint32_t>(record.mapMask), record.growTime);
    if (record.mapMask == 0 || driverState != IDLE) return;
    window.Init(record, os::ReadCounter());
    StartAutoMatching();
}

void SteamNetDriver::FillSearchQueue() {
    searchQueue.clear();
    if (window.team == 2) {
        searchQueue.push_back(0);
        searchQueue.push_back(1);
    } else {
        searchQueue.push_back(window.team);
    }
}

void SteamNetDriver::ScheduleResearch() {
    const float seconds = (float(CrtRand()) / float(kCrtRandMax) + 1.0f) * kResearchSeconds;
    nextResearch = os::ReadCounter() + Time::FromFloatSeconds(seconds).ticks;
}

void SteamNetDriver::StartAutoMatching() {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::StartAutoMatching %s", steamdetail::DateText().c_str());
    if (driverState != IDLE) return;
    ranked = window.ranked;
    autoMatching = 1;
    requestInFlight = 0;
    ready = 1;
    team = window.team == 2 ? 0 : static_cast<int32_t>(window.team);
    selectedMap = 0;
    FillSearchQueue();
}

void SteamNetDriver::LobbyStopAutoMatch() {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::LobbyStopAutoMatch state:%s", DriverStateName(driverState));
    if (driverState == IN_LOBBY_STARTING_GAME || driverState == GAME_CONNECTING || driverState == GAME_ACTIVE) return;
    CancelCallResult(*regs[ROUTE_LOBBY_MATCH_LIST]);
    CancelCallResult(*regs[ROUTE_LOBBY_CREATED]);
    CancelCallResult(*regs[ROUTE_LOBBY_ENTER]);
    LobbyLeave();
    autoMatching = 0;
    requestInFlight = 0;
    searchQueue.clear();
    SetDriverState(IDLE);
}

void SteamNetDriver::AutoMatchTick() {
    if (!autoMatching || (driverState != IDLE && driverState != IN_LOBBY)) return;
    const int64_t now = os::ReadCounter();
    const float e = window.Update(now);
    if (driverState == IN_LOBBY && lobbyId != autoMatchLobbyId && LobbyIsOwner() && !LobbyIsGameStarting()) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "AM - Lobby owner changed during automatch");
        LobbyLeave();
    }
    if (requestInFlight) return;
    if (!searchQueue.empty()) {
        requestInFlight = 1;
        const uint32_t t = searchQueue.front();
        searchQueue.erase(searchQueue.begin());
        SearchAutoMatchLobbies(t);
        return;
    }
    if (driverState == IDLE) {
        requestInFlight = 1;
        SetDriverState(CREATING_LOBBY);
        BindCallResult(*regs[ROUTE_LOBBY_CREATED], mm ? mm->CreateLobby(online::kLobbyInvisible, lk::kLobbyMembers) : 0);
        return;
    }
    if (now > nextResearch) FillSearchQueue();
    if (LobbyIsOwner() && e - lastPublication >= kRepublishSeconds) {
        SetLobbyData(lk::kMinSquadSkill, window.minSquad);
        SetLobbyData(lk::kMaxSquadSkill, window.maxSquad);
        SetLobbyData(lk::kMinTowersSkill, window.minTowers);
        SetLobbyData(lk::kMaxTowersSkill, window.maxTowers);
        if (autoMatchGroup == 0) SetLobbyData(lk::kAutoMatchBotFilter, 1 + window.botsAllowed);
        lastPublication = e;
        const int32_t squad = window.ranked ? window.rankedSquadSkill : window.squadSkill;
        const int32_t towers = window.ranked ? window.rankedTowersSkill : window.towersSkill;
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
                   "AMLobby skill update. squadSkill:%d[%d,%d] towersSkill:%d[%d,%d] allowBots:%d", squad, window.minSquad, window.maxSquad,
                   towers, window.minTowers, window.maxTowers, int(window.botsAllowed));
    }
}

void SteamNetDriver::SetLobbySearchCalls(LobbySearchCalls* calls) { search = calls ? calls : contextSearch.get(); }

void SteamNetDriver::SearchAutoMatchLobbies(uint32_t t) {
    window.Update(os::ReadCounter());
    LobbySearchCalls* calls = search;
    if (!calls) return;
    calls->AddRequestLobbyListDistanceFilter(window.wideSearch ? kDistanceFar : kDistanceDefault);
    calls->AddRequestLobbyListNumericalFilter(lk::kTeamFilter, static_cast<int>(t), online::kCompareNotEqual);
    const bool squadSide = t == 0;
    const int32_t s = squadSide ? (window.ranked ? window.rankedSquadSkill : window.squadSkill)
                                : (window.ranked ? window.rankedTowersSkill : window.towersSkill);
    const int32_t lo = squadSide ? window.minSquad : window.minTowers;
    const int32_t hi = squadSide ? window.maxSquad : window.maxTowers;
    const char* skillKey = squadSide ? lk::kTowersSkill : lk::kSquadSkill;
    const char* minKey = squadSide ? lk::kMinTowersSkill : lk::kMinSquadSkill;
    const char* maxKey = squadSide ? lk::kMaxTowersSkill : lk::kMaxSquadSkill;
    calls->AddRequestLobbyListNumericalFilter(skillKey, lo, online::kCompareGreaterOrEqual);
    calls->AddRequestLobbyListNumericalFilter(skillKey, hi, online::kCompareLessOrEqual);
    calls->AddRequestLobbyListNumericalFilter(minKey, s, online::kCompareLessOrEqual);
    calls->AddRequestLobbyListNumericalFilter(maxKey, s, online::kCompareGreaterOrEqual);
    calls->AddRequestLobbyListNearValueFilter(skillKey, s);
    calls->AddRequestLobbyListNumericalFilter(lk::kAutoMatchId, autoMatchId, online::kCompareEqual);
    calls->AddRequestLobbyListStringFilter(lk::kOwnerId, selfIdText, online::kCompareNotEqual);
    if (autoMatchGroup == 1)
        calls->AddRequestLobbyListNumericalFilter(lk::kAutoMatchBotFilter, 2, online::kCompareEqual);
    else if (!(autoMatchGroup == 0 && window.botsAllowed))
        calls->AddRequestLobbyListNumericalFilter(lk::kAutoMatchBotFilter, 0, online::kCompareNotEqual);
    if ((window.mapMask & lk::kMapMaskBits) != lk::kMapMaskBits) {
        char key[16];
        MapCombKey(window.mapMask, key);
        calls->AddRequestLobbyListNumericalFilter(key, 1, online::kCompareEqual);
    }
    calls->AddRequestLobbyListNumericalFilter(lk::kRanked, window.ranked ? 1 : 0, online::kCompareEqual);
    calls->AddRequestLobbyListResultCountFilter(1);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
               "AMLobby search. team:%d skill:%d[%d,%d] ownerID:%s amID:%d mapMask:0x%X ranked:%d allowBots:%d", int(t), s, lo, hi, selfIdText,
               autoMatchId, window.mapMask, int(window.ranked), int(window.botsAllowed));
    BindCallResult(*regs[ROUTE_LOBBY_MATCH_LIST], calls->RequestLobbyList());
}

void SteamNetDriver::PublishAutoMatchLobby() {
    autoMatchLobbyId = lobbyId;
    lastPublication = window.Update(os::ReadCounter());
    const int32_t squad = window.ranked ? window.rankedSquadSkill : window.squadSkill;
    const int32_t towers = window.ranked ? window.rankedTowersSkill : window.towersSkill;
    SetLobbyData(lk::kGameStarting, gameStarting);
    SetLobbyData(lk::kSquadSkill, squad);
    SetLobbyData(lk::kTowersSkill, towers);
    SetLobbyData(lk::kGrade, grade);
    SetLobbyData(lk::kMinSquadSkill, window.minSquad);
    SetLobbyData(lk::kMaxSquadSkill, window.maxSquad);
    SetLobbyData(lk::kMinTowersSkill, window.minTowers);
    SetLobbyData(lk::kMaxTowersSkill, window.maxTowers);
    SetLobbyData(lk::kTeamFilter, static_cast<int32_t>(window.team));
    SetLobbyData(lk::kRanked, ranked ? 1 : 0);
    SetLobbyData(lk::kAutoMatchId, autoMatchId);
    if (mm && ValidLobby()) mm->SetLobbyData(lobbyId, lk::kOwnerId, selfIdText);
    SetLobbyData(lk::kAutoMatchBotFilter, autoMatchGroup == 1 ? 0 : 1 + ((autoMatchGroup == 0 && window.botsAllowed) ? 1 : 0));
    for (uint32_t i = 1; i < lk::kMapMaskBits; ++i) {
        char key[16];
        MapCombKey(i, key);
        if (mm && ValidLobby()) mm->SetLobbyData(lobbyId, key, (window.mapMask & i) ? "1" : "0");
    }
    SetMemberData(lk::kMapMask, static_cast<int32_t>(window.mapMask));
    SetMemberData(lk::kSquadSkill, steamdetail::TruncI32(squadSkill * lk::kSkillScale));
    SetMemberData(lk::kTowersSkill, steamdetail::TruncI32(towersSkill * lk::kSkillScale));
    SetMemberData(lk::kRankedSquadSkill, steamdetail::TruncI32(rankedSquadSkill * lk::kSkillScale));
    SetMemberData(lk::kRankedTowersSkill, steamdetail::TruncI32(rankedTowersSkill * lk::kSkillScale));
    SetMemberData(lk::kGrade, grade);
    SetMemberData(lk::kTeamFilter, static_cast<int32_t>(window.team));
    SetMemberData(lk::kTeam, team);
    SetMemberData(lk::kReady, ready ? "1" : "");
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
               "AMLobby setData. team:%d squadSkill:%d[%d,%d] towersSkill:%d[%d,%d] grade:%d ownerID:%s amID:%d mapMask:0x%X ranked:%d allowBots:%d",
               int(window.team), squad, window.minSquad, window.maxSquad, towers, window.minTowers, window.maxTowers, grade, selfIdText, autoMatchId,
               window.mapMask, int(ranked), int(window.botsAllowed));
}

void SteamNetDriver::OnLobbyAutoMatchList(uint32_t count) {
    const uint64_t found = (count != 0 && mm) ? mm->GetLobbyByIndex(0) : 0;
    const bool full = ValidLobby() && mm && mm->GetNumLobbyMembers(lobbyId) > 1;
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "OnLobbyAutoMatchList lobbyNum:%d lobbySteamID:0x%llX currLobbyFull:%d",
               int(count), static_cast<unsigned long long>(found), int(full));
    if (online::IsValidLobbyId(found) && autoMatching && (driverState == IDLE || driverState == IN_LOBBY) && !full && !LobbyIsGameStarting()) {
        searchQueue.clear();
        LobbyLeave();
        pendingLobbyId = found;
        LobbyAcceptJoinRequest();
        requestInFlight = 0;
        return;
    }
    if (searchQueue.empty()) ScheduleResearch();
    requestInFlight = 0;
}

}  // namespace Network
