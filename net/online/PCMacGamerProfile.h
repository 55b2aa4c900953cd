#pragma once
// PCMacGamerProfile: the concrete gamer profile. It keeps three data objects
// (progress and results, saved as cloud files; the stats-and-achievements mirror,
// whose only store is the online service), implements the profile's script operations,
// and mirrors the user's stats through four service callbacks.
//
// Facets: PCMacGamerProfile_Cloud.cpp (life cycle, loading and storing the cloud files,
// the script events), PCMacGamerProfile_Progress.cpp (progress, results and local-data
// operations), PCMacGamerProfile_Stats.cpp (stats, achievements, the overlay, the
// service callbacks).
//
// Script events are calls of the profile's script class ("PCMacGamerProfile"):
// "OnInit" after log-in, "OnDataRetrieved" once progress, results and stats are all in,
// "OnRelease" on destroy, "OnGameOverlayActivated" (one number).
//
// Threads: main thread; the service callbacks run inside the main thread's pump.
#include <cstdint>

#include "net/online/GamerProfile.h"
#include "net/online/GamerProfileData.h"
#include "platform/online/Online.h"

class SteamLeaderboardsManager;

class PCMacGamerProfile : public LCZKRGamerProfile {
public:
    // leaderboards: where mission scores go (may be null: none are posted).
    PCMacGamerProfile(online::OnlineContext* services, SteamLeaderboardsManager* leaderboards);
    // Waits for pending writes, then unregisters the callbacks.
    ~PCMacGamerProfile() override;

    // Calls "OnRelease", then the inherited destroy (which deletes the object).
    void Destroy() override;
    const char* GetScriptClassName() const override { return "PCMacGamerProfile"; }
    // Log-in, then "OnInit" and LoadAllData.
    bool Login(const char* name, uint32_t unused = 0) override;
    // A write job is pending or a stats store is unanswered.
    bool HasPendingWork() const override;
    void ResetData() override;
    void LoadAllData() override;

    // ---- Progress and results (PCMacGamerProfile_Progress.cpp) ----
    uint32_t GetLastUnlockedMissionNumericalId(uint32_t index) override;
    bool SetLastUnlockedMissionNumericalId(uint32_t value, uint32_t index) override;
    uint32_t GetLastFinishedMissionNumericalId(uint32_t index) override;
    bool SetLastFinishedMissionNumericalId(uint32_t value, uint32_t index) override;
    uint32_t GetLastPresentedMissionNumericalId(uint32_t index) override;
    bool SetLastPresentedMissionNumericalId(uint32_t value, uint32_t index) override;
    bool IsEndlessModeUnlocked(const char* id) override;
    bool UnlockEndlessMode(const char* id) override;
    uint32_t GetMissionScore(const char* missionId) override;
    bool StoreMissionScore(const char* missionId, uint32_t score) override;
    uint32_t GetTotalScore(const char* ignored) override;
    uint32_t GetTotalScoreForAllMissions() override;
    uint8_t GetMissionDistinctionLevel(const char* missionId, const char* medalType) override;
    bool StoreMissionDistinctionLevel(const char* missionId, const char* medalType, uint8_t level) override;
    bool CheckMissionFlag(const char* missionId, const char* flag) override;
    bool RaiseMissionFlag(const char* missionId, const char* flag) override;
    bool RaiseProgressFlag(const char* flag) override;
    bool CheckProgressFlag(const char* flag) override;
    bool ClearProgressFlag(const char* flag) override;
    uint32_t GetUnsignedLocalDataValue(const char* name, uint32_t defaultValue) override;
    float GetFloatLocalDataValue(const char* name, float defaultValue) override;
    bool UpdateUnsignedLocalDataValue(const char* name, uint32_t value) override;
    bool UpdateFloatLocalDataValue(const char* name, float value) override;
    void DebugResetProgress() override;
    void DebugResetResults() override;
    bool IsProgessDirty() override { return progress.dirty != 0; }
    bool IsResultsDirty() override { return results.dirty != 0; }

    // ---- Cloud files (PCMacGamerProfile_Cloud.cpp) ----
    bool StoreProgress() override;
    bool StoreResults() override;

    // ---- Stats and achievements (PCMacGamerProfile_Stats.cpp) ----
    uint32_t GetUnsignedStatValue(const char* name) override;
    float GetFloatStatValue(const char* name) override;
    bool UpdateUnsignedStatValue(const char* name, uint32_t value) override;
    bool UpdateFloatStatValue(const char* name, float value) override;
    bool IsAchievementUnlocked(const char* name) override;
    bool UnlockAchievement(const char* name) override;
    bool DebugLockAchievement(const char* name) override;
    void DebugResetStats() override;
    bool StoreStats() override;
    bool IsStatsDirty() override { return stats.dirty != 0; }
    bool AreStatsRetrieved() const { return statsRetrieved != 0; }
    void IndicateAchievementProgress(const char* name, uint32_t current, uint32_t max);
    uint32_t GetSteamAppId();
    void ActivateGameOverlay(const char* dialog);
    void ActivateGameOverlayWWW(const char* url);

    // Data objects (tests and the benchmark).
    PCMacGamerProfileData::PCMacGamerProfileProgressData& Progress() { return progress; }
    PCMacGamerProfileData::PCMacGamerProfileResultsData& Results() { return results; }
    PCMacGamerProfileData::PCMacGamerProfileStatsData& Stats() { return stats; }
    uint32_t PendingStatsStores() const { return pendingStatsStores; }

    // Service callbacks (public for tests, which feed records directly).
    void OnUserStatsReceived(const online::UserStatsReceived& record);
    void OnUserStatsStored(const online::UserStatsStored& record);
    void OnUserAchievementStored(const online::UserAchievementStored& record);
    void OnGameOverlayActivated(const online::GameOverlayActivated& record);

private:
    template <class T>
    class Callback : public online::CallbackBase {
    public:
        using Handler = void (PCMacGamerProfile::*)(const T&);
        Callback(PCMacGamerProfile* owner, Handler handler) : owner(owner), handler(handler) {}
        void Run(const void* data, bool, online::CallHandle) override { (owner->*handler)(*static_cast<const T*>(data)); }
        bool registered = false;

    private:
        PCMacGamerProfile* owner;
        Handler handler;
    };

    // Calls a script method of the profile with the arguments the caller pushed.
    void CallScript(const char* method, int argCount = 0);
    // Sends "OnDataRetrieved" once progress, results and stats are all in.
    void CheckDataRetrieved();
    bool IsOwnGame(uint64_t gameId);
    void LoadProgress();
    void LoadResults();
    ZKRGamerProfileData::ZKRGamerProfileMissionEntry* MissionOrLog(const char* missionId, const char* error);

    PCMacGamerProfileData::PCMacGamerProfileProgressData progress;
    PCMacGamerProfileData::PCMacGamerProfileResultsData results;
    PCMacGamerProfileData::PCMacGamerProfileStatsData stats;
    uint8_t progressLoaded = 0;
    uint8_t resultsLoaded = 0;
    uint8_t statsRetrieved = 0;
    uint8_t dataRetrievedSent = 0;
    // Set by a successful retrieval only: the mirror then holds the service's values, so
    // a store cannot overwrite them with zeros.
    uint8_t statsValid = 0;
    // Achievements unlocked before the stats were valid: stored once they are.
    DynarraySafe<NameString> deferredUnlocks;
    Callback<online::UserStatsReceived> statsReceived;
    Callback<online::UserStatsStored> statsStored;
    Callback<online::UserAchievementStored> achievementStored;
    Callback<online::GameOverlayActivated> overlayActivated;
    uint32_t pendingStatsStores = 0;
    SteamLeaderboardsManager* leaderboards;
};
