// PCMacGamerProfile: the stats and achievements mirror and the overlay.
//
// The mirror is filled when the service delivers the user's stats (UserStatsReceived)
// and pushed back by StoreStats; the service is its only store. StoreStats answers false
// until one retrieval succeeded, so a failed retrieval (which leaves the mirror zeroed)
// never overwrites the player's stats with zeros. Callbacks for another game id and
// answers that do not fit their records change nothing.
#include <bit>
#include <cstring>

#include "core/Log.h"
#include "engine/script/LuaWrapper.h"
#include "net/online/PCMacGamerProfile.h"
#include "net/online/StatsTables.h"

using namespace ZKRGamerProfileData;

namespace {

constexpr uint32_t kAppIdMask = 0xFFFFFF;

}  // namespace

// ---- Stat values ----

uint32_t PCMacGamerProfile::GetUnsignedStatValue(const char* name) {
    if (!loggedIn || !name) return 0;
    const ZKRGamerProfileStatEntry* s = stats.FindStat(name);
    if (!s) {
        gLog.Error(LogCategory::Engine, "Error retrieving stat, statName %s is invalid!", name);
        return 0;
    }
    return s->value;
}

float PCMacGamerProfile::GetFloatStatValue(const char* name) {
    if (!loggedIn || !name) return 0.0f;
    const ZKRGamerProfileStatEntry* s = stats.FindStat(name);
    if (!s) {
        gLog.Error(LogCategory::Engine, "Error retrieving stat, statName %s is invalid!", name);
        return 0.0f;
    }
    return std::bit_cast<float>(s->value);
}

bool PCMacGamerProfile::UpdateUnsignedStatValue(const char* name, uint32_t value) {
    if (!loggedIn || !name) return false;
    ZKRGamerProfileStatEntry* s = stats.FindStat(name);
    if (!s) {
        gLog.Error(LogCategory::Engine, "Error storing stat, statName %s is invalid!", name);
        return false;
    }
    s->value = value;
    stats.dirty = 1;
    return true;
}

bool PCMacGamerProfile::UpdateFloatStatValue(const char* name, float value) {
    if (!loggedIn || !name) return false;
    ZKRGamerProfileStatEntry* s = stats.FindStat(name);
    if (!s) {
        gLog.Error(LogCategory::Engine, "Error storing stat, statName %s is invalid!", name);
        return false;
    }
    s->value = std::bit_cast<uint32_t>(value);
    stats.dirty = 1;
    return true;
}

// ---- Achievements ----

bool PCMacGamerProfile::IsAchievementUnlocked(const char* name) {
    if (!loggedIn || !name) return false;
    const ZKRGamerProfileAchievementEntry* a = stats.FindAchievement(name);
    if (!a) {
        gLog.Error(LogCategory::Engine, "Error retrieving achievement, achievementName %s is invalid!", name);
        return false;
    }
    return a->unlocked;
}

bool PCMacGamerProfile::UnlockAchievement(const char* name) {
    if (!loggedIn || !name) return false;
    ZKRGamerProfileAchievementEntry* a = stats.FindAchievement(name);
    if (!a) {
        gLog.Error(LogCategory::Engine, "Error unlocking achievement, achievementName %s is invalid!", name);
        return false;
    }
    const bool wasLocked = !a->unlocked;
    a->unlocked = true;
    stats.dirty = 1;
    if (wasLocked && services) {
        services->UserStats()->SetAchievement(name);
        // Before the stats are valid the store waits for them: the unlock is applied
        // again and stored when a retrieval succeeds.
        if (!StoreStats() && !statsValid) deferredUnlocks.Add(a->name);
    }
    return true;
}

bool PCMacGamerProfile::DebugLockAchievement(const char* name) {
    if (!loggedIn || !name) return false;
    ZKRGamerProfileAchievementEntry* a = stats.FindAchievement(name);
    if (!a) {
        gLog.Error(LogCategory::Engine, "Error locking achievement, achievementName %s is invalid!", name);
        return false;
    }
    a->unlocked = false;
    stats.dirty = 1;
    for (uint32_t i = deferredUnlocks.Count(); i-- > 0;)
        if (deferredUnlocks[i] == a->name) deferredUnlocks.Remove(i);
    if (services) services->UserStats()->ClearAchievement(name);
    return true;
}

void PCMacGamerProfile::DebugResetStats() {
    stats.ResetValues();
    StoreStats();
    for (const char* name : kAchievementNames) DebugLockAchievement(name);
}

bool PCMacGamerProfile::StoreStats() {
    if (!loggedIn || !statsRetrieved || !statsValid || !services) return false;
    online::OnlineUserStats* service = services->UserStats();
    for (uint32_t i = 0; i < stats.stats.Count() && i < stats.types.Count(); ++i) {
        const ZKRGamerProfileStatEntry* s = stats.stats[i];
        if (!s) continue;
        if (stats.types[i] == 0)
            service->SetStat(s->name.CStr(), static_cast<int32_t>(s->value));
        else if (stats.types[i] == 1)
            service->SetStat(s->name.CStr(), std::bit_cast<float>(s->value));
    }
    if (!service->StoreStats()) return false;
    ++pendingStatsStores;
    stats.dirty = 0;
    return true;
}

// ---- Service calls ----

void PCMacGamerProfile::IndicateAchievementProgress(const char* name, uint32_t current, uint32_t max) {
    if (name && loggedIn && statsRetrieved && services) services->UserStats()->IndicateAchievementProgress(name, current, max);
}

uint32_t PCMacGamerProfile::GetSteamAppId() { return services ? services->Utils()->GetAppID() : 0; }

void PCMacGamerProfile::ActivateGameOverlay(const char* dialog) {
    if (services) services->Friends()->ActivateGameOverlay(dialog);
}

void PCMacGamerProfile::ActivateGameOverlayWWW(const char* url) {
    if (url && services) services->Friends()->ActivateGameOverlayToWebPage(url);
}

// ---- Callbacks ----

bool PCMacGamerProfile::IsOwnGame(uint64_t gameId) {
    return services && gameId == (services->Utils()->GetAppID() & kAppIdMask);
}

void PCMacGamerProfile::OnUserStatsReceived(const online::UserStatsReceived& record) {
    if (!IsOwnGame(record.gameId)) return;
    if (record.result == online::kResultOK) {
        online::OnlineUserStats* service = services->UserStats();
        for (uint32_t i = 0; i < stats.stats.Count() && i < stats.types.Count(); ++i) {
            ZKRGamerProfileStatEntry* s = stats.stats[i];
            if (!s) continue;
            if (stats.types[i] == 0) {
                int32_t v = 0;
                service->GetStat(s->name.CStr(), &v);
                s->value = v < 0 ? 0u : static_cast<uint32_t>(v);
            } else if (stats.types[i] == 1) {
                float v = 0.0f;
                service->GetStat(s->name.CStr(), &v);
                s->value = std::bit_cast<uint32_t>(v);
            }
        }
        for (ZKRGamerProfileAchievementEntry* a : stats.achievements) {
            if (!a) continue;
            bool achieved = false;
            service->GetAchievement(a->name.CStr(), &achieved);
            a->unlocked = achieved;
        }
        for (const NameString& name : deferredUnlocks) {
            ZKRGamerProfileAchievementEntry* a = stats.FindAchievement(name.CStr());
            if (!a) continue;
            a->unlocked = true;
            service->SetAchievement(name.CStr());
        }
        statsValid = 1;
    } else {
        gLog.Error(LogCategory::Engine, "Failed to retrieve steam stats (error:%d)", static_cast<int>(record.result));
        for (ZKRGamerProfileStatEntry* s : stats.stats)
            if (s) s->value = 0;
        for (ZKRGamerProfileAchievementEntry* a : stats.achievements)
            if (a) a->unlocked = false;
    }
    statsRetrieved = 1;
    if (statsValid && deferredUnlocks.Count()) {
        deferredUnlocks.Release();
        StoreStats();
    }
    CheckDataRetrieved();
}

void PCMacGamerProfile::OnUserStatsStored(const online::UserStatsStored& record) {
    if (!IsOwnGame(record.gameId)) return;
    if (pendingStatsStores > 0) --pendingStatsStores;
}

// The record's name is not looked at (it need not be terminated within its 128 bytes).
void PCMacGamerProfile::OnUserAchievementStored(const online::UserAchievementStored&) {}

void PCMacGamerProfile::OnGameOverlayActivated(const online::GameOverlayActivated& record) {
    gLua.PushInt(record.active);
    CallScript("OnGameOverlayActivated", 1);
}
