// PCMacGamerProfile: the script operations on campaign progress, mission results and
// local data. Every operation answers its neutral value (false, 0 or the given default)
// when the profile is logged out or given a null id or name; progress flags treat a
// null flag as the empty name. Unknown mission ids and medal types log one error of
// category 2 naming the argument.
#include <bit>
#include <cstring>

#include "core/Log.h"
#include "net/online/PCMacGamerProfile.h"
#include "net/online/SteamLeaderboardsManager.h"

using namespace ZKRGamerProfileData;

namespace {

constexpr uint32_t kNumericalIdWords = 4;
constexpr const char* kGlobalScoreBoard = "GlobalScore";

uint32_t ReadWord(const uint32_t (&block)[4], uint32_t index) { return index < kNumericalIdWords ? block[index] : 0; }

int32_t FindName(const DynarraySafe<NameString>& names, const char* text) {
    for (uint32_t i = 0; i < names.Count(); ++i)
        if (std::strcmp(names[i].CStr(), text) == 0) return static_cast<int32_t>(i);
    return -1;
}

}  // namespace

ZKRGamerProfileMissionEntry* PCMacGamerProfile::MissionOrLog(const char* missionId, const char* error) {
    ZKRGamerProfileMissionEntry* m = results.FindMission(NameString(missionId));
    if (!m) gLog.Error(LogCategory::Engine, "%s, missionId %s is invalid!", error, missionId);
    return m;
}

// ---- Mission numerical ids ----

uint32_t PCMacGamerProfile::GetLastUnlockedMissionNumericalId(uint32_t index) {
    return loggedIn ? ReadWord(progress.lastUnlockedMissionNumericalId, index) : 0;
}
uint32_t PCMacGamerProfile::GetLastFinishedMissionNumericalId(uint32_t index) {
    return loggedIn ? ReadWord(progress.lastFinishedMissionNumericalId, index) : 0;
}
uint32_t PCMacGamerProfile::GetLastPresentedMissionNumericalId(uint32_t index) {
    return loggedIn ? ReadWord(progress.lastPresentedMissionNumericalId, index) : 0;
}

// An index beyond the block changes nothing and still answers true, as designed.
bool PCMacGamerProfile::SetLastUnlockedMissionNumericalId(uint32_t value, uint32_t index) {
    if (!loggedIn) return false;
    if (index < kNumericalIdWords) progress.lastUnlockedMissionNumericalId[index] = value;
    progress.dirty = 1;
    return true;
}
bool PCMacGamerProfile::SetLastFinishedMissionNumericalId(uint32_t value, uint32_t index) {
    if (!loggedIn) return false;
    if (index < kNumericalIdWords) progress.lastFinishedMissionNumericalId[index] = value;
    progress.dirty = 1;
    return true;
}
bool PCMacGamerProfile::SetLastPresentedMissionNumericalId(uint32_t value, uint32_t index) {
    if (!loggedIn) return false;
    if (index < kNumericalIdWords) progress.lastPresentedMissionNumericalId[index] = value;
    progress.dirty = 1;
    return true;
}

// ---- Endless modes and progress flags ----

bool PCMacGamerProfile::IsEndlessModeUnlocked(const char* id) {
    return loggedIn && id && FindName(progress.unlockedEndlessModesIds, id) >= 0;
}

bool PCMacGamerProfile::UnlockEndlessMode(const char* id) {
    if (!loggedIn || !id) return false;
    if (FindName(progress.unlockedEndlessModesIds, id) < 0) {
        progress.unlockedEndlessModesIds.Add(NameString(id));
        progress.dirty = 1;
    }
    return true;
}

bool PCMacGamerProfile::RaiseProgressFlag(const char* flag) {
    if (!loggedIn) return false;
    if (!flag) flag = "";
    if (FindName(progress.flags, flag) >= 0) return false;
    progress.flags.Add(NameString(flag));
    progress.dirty = 1;
    return true;
}

bool PCMacGamerProfile::CheckProgressFlag(const char* flag) {
    return loggedIn && FindName(progress.flags, flag ? flag : "") >= 0;
}

bool PCMacGamerProfile::ClearProgressFlag(const char* flag) {
    if (!loggedIn) return false;
    const int32_t i = FindName(progress.flags, flag ? flag : "");
    if (i < 0) return false;
    progress.flags.Remove(static_cast<uint32_t>(i));
    progress.dirty = 1;
    return true;
}

// ---- Local data ----

uint32_t PCMacGamerProfile::GetUnsignedLocalDataValue(const char* name, uint32_t defaultValue) {
    if (!loggedIn || !name) return defaultValue;
    const ZKRGamerProfileLocalDataEntry* e = progress.FindLocalData(name);
    return e ? e->value : defaultValue;
}

float PCMacGamerProfile::GetFloatLocalDataValue(const char* name, float defaultValue) {
    if (!loggedIn || !name) return defaultValue;
    const ZKRGamerProfileLocalDataEntry* e = progress.FindLocalData(name);
    return e ? std::bit_cast<float>(e->value) : defaultValue;
}

bool PCMacGamerProfile::UpdateUnsignedLocalDataValue(const char* name, uint32_t value) {
    if (!loggedIn || !name) return false;
    ZKRGamerProfileLocalDataEntry* e = progress.FindLocalData(name);
    if (!e) {
        const uint32_t index = progress.AddLocalData(name);
        if (index == kDynarrayNone) return false;
        e = progress.localData[index];
    }
    e->value = value;
    progress.dirty = 1;
    return true;
}

bool PCMacGamerProfile::UpdateFloatLocalDataValue(const char* name, float value) {
    return UpdateUnsignedLocalDataValue(name, std::bit_cast<uint32_t>(value));
}

// ---- Mission results ----

uint32_t PCMacGamerProfile::GetMissionScore(const char* missionId) {
    if (!loggedIn || !missionId) return 0;
    const ZKRGamerProfileMissionEntry* m = MissionOrLog(missionId, "Error retrieving mission score");
    return m ? m->score : 0;
}

bool PCMacGamerProfile::StoreMissionScore(const char* missionId, uint32_t score) {
    if (!loggedIn || !missionId) return false;
    ZKRGamerProfileMissionEntry* m = MissionOrLog(missionId, "Error storing mission score");
    if (!m) return false;
    m->score = score;
    results.dirty = 1;
    if (leaderboards) {
        leaderboards->UpdateLeaderboard(missionId, static_cast<int32_t>(score), false);
        leaderboards->UpdateLeaderboard(kGlobalScoreBoard, static_cast<int32_t>(GetTotalScoreForAllMissions()), false);
    }
    return true;
}

uint32_t PCMacGamerProfile::GetTotalScore(const char*) { return GetTotalScoreForAllMissions(); }

uint32_t PCMacGamerProfile::GetTotalScoreForAllMissions() {
    if (!loggedIn) return 0;
    uint32_t total = 0;
    for (const ZKRGamerProfileMissionEntry* m : results.missions)
        if (m) total += m->score;
    return total;
}

uint8_t PCMacGamerProfile::GetMissionDistinctionLevel(const char* missionId, const char* medalType) {
    if (!loggedIn || !missionId || !medalType) return 0;
    const ZKRGamerProfileMissionEntry* m = MissionOrLog(missionId, "Error retrieving mission distinction");
    if (!m) return 0;
    const ZKRGamerProfileMissionMedalEntry* d = m->FindDistinction(medalType);
    if (!d) {
        gLog.Error(LogCategory::Engine, "Error retrieving mission distinction, medalType %s is invalid!", medalType);
        return 0;
    }
    return d->level;
}

bool PCMacGamerProfile::StoreMissionDistinctionLevel(const char* missionId, const char* medalType, uint8_t level) {
    if (!loggedIn || !missionId || !medalType) return false;
    ZKRGamerProfileMissionEntry* m = MissionOrLog(missionId, "Error storing mission distinction");
    if (!m) return false;
    ZKRGamerProfileMissionMedalEntry* d = m->FindDistinction(medalType);
    if (!d) {
        gLog.Error(LogCategory::Engine, "Error storing mission distinction, medalType %s is invalid!", medalType);
        return false;
    }
    d->level = level;
    results.dirty = 1;
    return true;
}

bool PCMacGamerProfile::CheckMissionFlag(const char* missionId, const char* flag) {
    if (!loggedIn || !missionId || !flag) return false;
    const ZKRGamerProfileMissionEntry* m = MissionOrLog(missionId, "Error retrieving mission flag");
    return m && m->HasFlag(flag);
}

// A flag already present still answers true and marks the results dirty, as designed.
bool PCMacGamerProfile::RaiseMissionFlag(const char* missionId, const char* flag) {
    if (!loggedIn || !missionId || !flag) return false;
    ZKRGamerProfileMissionEntry* m = MissionOrLog(missionId, "Error storing mission flag");
    if (!m) return false;
    if (!m->HasFlag(flag)) m->flags.Add(NameString(flag));
    results.dirty = 1;
    return true;
}

// ---- Debug resets ----

void PCMacGamerProfile::DebugResetProgress() { progress.ResetToDefaults(); }

void PCMacGamerProfile::DebugResetResults() {
    for (const char* id : kMissionIds) {
        ZKRGamerProfileMissionEntry* m = results.FindMission(NameString(id));
        if (!m) continue;
        m->score = 0;
        m->flags.Release();
        for (ZKRGamerProfileMissionMedalEntry* d : m->distinctions)
            if (d) d->level = 0;
    }
    results.dirty = 1;
}
