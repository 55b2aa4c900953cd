#pragma once
// GamerProfile: the persistent record of one player (campaign progress, mission
// results, stats and achievements), a script-visible object owned by the game
// delegate's profile module.
//
// Class chain: GamerProfile > SteamGamerProfile > LCZKRGamerProfile (the class under
// which scripts see the profile operations) > PCMacGamerProfile (the one concrete
// class, PCMacGamerProfile.h). The RTTI class is "GamerProfile", with no properties.
//
// Cloud files: each data blob is one file of the online remote storage in two copies,
// the plain name and "<name>.alt":
//   u32 tag, u32 layout value (RTTIClass::GetLayoutHash of the data class), u32 stamp,
//   the payload (the object's binary property list), u32 CRC-32 of the payload.
// A save writes the copy with the older stamp, so the newer one is never overwritten
// and a crash during a write always leaves one good copy; a load picks the copy with
// the greater stamp (equal stamps: ".alt"). Copies are untrusted input: a missing,
// short, oversized, mistagged, differently laid out or corrupted copy counts as absent.
//
// Threads: everything on the main thread except WriteDataJob, which runs on the
// ResourceManager worker (command 5, in posting order; inline when the worker does not
// run). The process-wide issued/completed counters are atomics: the main thread counts
// issued jobs, the worker completed ones, and the main thread never reads a file while
// they differ (LoadData and the destructor wait).
#include <atomic>
#include <cstdint>

#include "core/text/NameString.h"
#include "engine/script/LuaBaseClass.h"

class BoundedReader;
namespace online {
class OnlineContext;
}

// Cloud file tags.
constexpr uint32_t kProgressFileTag = 0xEA53DEEB;
constexpr uint32_t kResultsFileTag = 0x7FAAC432;
// Header (tag, layout value, stamp) and trailing CRC of a cloud file.
constexpr uint32_t kCloudFileHeaderBytes = 12;
constexpr uint32_t kCloudFileOverheadBytes = 16;
// The name buffer of a cloud file copy (plain name + ".alt").
constexpr uint32_t kCloudFileNameBytes = 260;

class GamerProfile : public LuaBaseClass {
public:
    // services: the signed-in user's online services (null: none; every cloud read
    // fails and nothing is written).
    explicit GamerProfile(online::OnlineContext* services);
    // Waits for pending writes, then releases the name.
    ~GamerProfile() override;
    GamerProfile(const GamerProfile&) = delete;
    GamerProfile& operator=(const GamerProfile&) = delete;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetScriptClassName() const override { return "GamerProfile"; }

    // ---- Main thread ----
    // False when already logged in; else logs in under the name (null stays null) and
    // resets the data.
    virtual bool Login(const char* name, uint32_t unused = 0);
    // A write job is pending.
    virtual bool HasPendingWork() const;
    // Hooks with fixed answers, in the order the game delegate reaches them.
    virtual bool OnBigFrameTick() { return true; }
    virtual void SaveConfig() {}
    virtual void LoadConfig() {}
    virtual bool IsXBoxLiveEnabled() { return false; }
    virtual bool IsXBoxLiveSignedIn() { return false; }
    virtual bool IsXBoxLiveAgeRestricted() { return false; }
    virtual bool IsXBoxLiveProfile() { return false; }
    virtual void XBoxLiveLogin() {}
    // ---- ResourceManager worker ----
    // The worker side of a save (job argument 0; any other argument does nothing).
    virtual void WriteDataJob(uintptr_t argument, BoundedReader& payload);
    // ---- Main thread ----
    virtual void ResetData() = 0;
    virtual void LoadAllData() = 0;
    // One copy of a cloud file; the base class writes nothing. Any thread.
    virtual void WriteCloudFile(const char* profileName, const char* fileName, uint32_t tag, uint32_t layout,
                                uint32_t stamp, const uint8_t* data, uint32_t size);
    // One copy of a cloud file: true with the payload (a new[] block the caller owns;
    // null for an empty payload) when it exists and passes every check. The stamp is
    // written whenever the header could be read. The base class answers false. Any thread.
    virtual bool ReadCloudFile(const char* profileName, const char* fileName, uint32_t tag, uint32_t layout,
                               uint8_t** data, uint32_t* size, uint32_t* stamp);

    // Picks the newer usable copy of a file. True with the payload (new[], caller owns)
    // and its stamp when a copy is handed out.
    bool LoadData(const char* fileName, uint32_t tag, uint32_t layout, uint8_t** data, uint32_t* size, uint32_t* stamp);
    // Takes the data (new[] block); nothing when size is 0. Advances stamp in place and
    // posts the write to the ResourceManager worker.
    void SaveDataAsync(const char* fileName, uint32_t tag, uint32_t layout, uint8_t* data, uint32_t size, uint32_t& stamp);

    // Whether a copy's payload that passed its checks can be read whole; a refused copy
    // counts as absent both when loading and when choosing the copy a save overwrites.
    // Any thread (the worker asks too). A subclass sets it (a setter, not a virtual
    // operation, so the virtual operations stay as listed); without one every payload is
    // accepted.
    using PayloadCheck = bool (*)(uint32_t tag, const uint8_t* data, uint32_t size);
    void SetPayloadCheck(PayloadCheck check) { payloadCheck = check; }

    bool IsLoggedIn() const { return loggedIn != 0; }
    const NameString& GetProfileName() const { return profileName; }
    online::OnlineContext* Services() const { return services; }

    // Process-wide save state.
    static bool WritePending();
    // Main thread: hands the renderer its pending block, then waits for every posted write.
    static void WaitForPendingWrites();
    static uint32_t& ProgressStamp();
    static uint32_t& ResultsStamp();
    // Tests: back to the state at program start (no write may be pending).
    static void ResetProcessState();

protected:
    uint8_t loggedIn = 0;
    NameString profileName;
    online::OnlineContext* services;
    PayloadCheck payloadCheck = nullptr;

private:
    // ReadCloudFile, then AcceptPayload: the copy's stamp, or 0 when it is not usable.
    bool ReadUsableCopy(const char* profile, const char* fileName, uint32_t tag, uint32_t layout, uint8_t** data,
                        uint32_t* size, uint32_t* stamp);
    static void RunWriteJob(void* argument, const uint8_t* payload, uint32_t bytes);
};

class SteamGamerProfile : public GamerProfile {
public:
    using GamerProfile::GamerProfile;
    // Reads and writes the copies through the online remote storage.
    void WriteCloudFile(const char* profileName, const char* fileName, uint32_t tag, uint32_t layout, uint32_t stamp,
                        const uint8_t* data, uint32_t size) override;
    bool ReadCloudFile(const char* profileName, const char* fileName, uint32_t tag, uint32_t layout, uint8_t** data,
                       uint32_t* size, uint32_t* stamp) override;
};

// The profile operations as scripts see them; answers when logged out are neutral
// (false, 0, or the given default). Main thread.
class LCZKRGamerProfile : public SteamGamerProfile {
public:
    using SteamGamerProfile::SteamGamerProfile;

    virtual uint32_t GetLastUnlockedMissionNumericalId(uint32_t index) = 0;
    virtual bool SetLastUnlockedMissionNumericalId(uint32_t value, uint32_t index) = 0;
    virtual uint32_t GetLastFinishedMissionNumericalId(uint32_t index) = 0;
    virtual bool SetLastFinishedMissionNumericalId(uint32_t value, uint32_t index) = 0;
    virtual uint32_t GetLastPresentedMissionNumericalId(uint32_t index) = 0;
    virtual bool SetLastPresentedMissionNumericalId(uint32_t value, uint32_t index) = 0;
    virtual bool IsEndlessModeUnlocked(const char* id) = 0;
    virtual bool UnlockEndlessMode(const char* id) = 0;
    virtual uint32_t GetMissionScore(const char* missionId) = 0;
    virtual bool StoreMissionScore(const char* missionId, uint32_t score) = 0;
    // Answers GetTotalScoreForAllMissions whatever the argument.
    virtual uint32_t GetTotalScore(const char* ignored) = 0;
    virtual uint32_t GetTotalScoreForAllMissions() = 0;
    virtual uint8_t GetMissionDistinctionLevel(const char* missionId, const char* medalType) = 0;
    virtual bool StoreMissionDistinctionLevel(const char* missionId, const char* medalType, uint8_t level) = 0;
    virtual bool CheckMissionFlag(const char* missionId, const char* flag) = 0;
    virtual bool RaiseMissionFlag(const char* missionId, const char* flag) = 0;
    virtual bool RaiseProgressFlag(const char* flag) = 0;
    virtual bool CheckProgressFlag(const char* flag) = 0;
    virtual bool ClearProgressFlag(const char* flag) = 0;
    virtual uint32_t GetUnsignedStatValue(const char* name) = 0;
    virtual float GetFloatStatValue(const char* name) = 0;
    virtual bool UpdateUnsignedStatValue(const char* name, uint32_t value) = 0;
    virtual bool UpdateFloatStatValue(const char* name, float value) = 0;
    virtual uint32_t GetUnsignedLocalDataValue(const char* name, uint32_t defaultValue) = 0;
    virtual float GetFloatLocalDataValue(const char* name, float defaultValue) = 0;
    virtual bool UpdateUnsignedLocalDataValue(const char* name, uint32_t value) = 0;
    virtual bool UpdateFloatLocalDataValue(const char* name, float value) = 0;
    virtual bool IsAchievementUnlocked(const char* name) = 0;
    virtual bool IsAwardUnlocked(const char* name) { return false; }
    virtual bool UnlockAchievement(const char* name) = 0;
    virtual bool UnlockAward(const char* name) { return false; }
    virtual bool DebugLockAchievement(const char* name) = 0;
    virtual void DebugResetProgress() = 0;
    virtual void DebugResetResults() = 0;
    virtual void DebugResetStats() = 0;
    virtual bool StoreProgress() = 0;
    virtual bool StoreResults() = 0;
    virtual bool StoreStats() = 0;
    virtual bool IsProgessDirty() = 0;
    virtual bool IsResultsDirty() = 0;
    virtual bool IsStatsDirty() = 0;
};
