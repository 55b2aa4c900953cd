#pragma once
// The gamer profile's data objects: campaign progress, mission results, and the
// stats-and-achievements mirror. Progress and results are the payloads of the cloud
// files "progress" and "results": their registered class names, property names, order
// and types are the file format, and the layout value stored beside each payload
// rejects a file written with another layout.
//
// Entry records are owned by their arrays through pointers. Mission ids compare as
// interned names; medal types, stat, achievement and local-data names as text, exactly.
//
// Threads: main thread. The save job serialises on the main thread and hands the bytes
// to the worker; no data object crosses threads.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

namespace ZKRGamerProfileData {

constexpr uint32_t kMissionCount = 15;
constexpr uint32_t kDistinctionCount = 3;
// The campaign's mission ids and the distinction (medal) types, in table order.
extern const char* const kMissionIds[kMissionCount];
extern const char* const kDistinctionTypes[kDistinctionCount];

class ZKRGamerProfileMissionMedalEntry : public RTTIPolyBaseClass {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    NameString type;
    uint8_t level = 0;
};

class ZKRGamerProfileMissionEntry : public RTTIPolyBaseClass {
public:
    ZKRGamerProfileMissionEntry() = default;
    ZKRGamerProfileMissionEntry(const ZKRGamerProfileMissionEntry&) = delete;
    ZKRGamerProfileMissionEntry& operator=(const ZKRGamerProfileMissionEntry&) = delete;
    ~ZKRGamerProfileMissionEntry() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // The distinction entry of the medal type (text compare), or null.
    ZKRGamerProfileMissionMedalEntry* FindDistinction(const char* type) const;
    void AddDistinction(const char* type);
    bool HasFlag(const char* flag) const;

    NameString id;
    uint32_t score = 0;
    Dynarray<ZKRGamerProfileMissionMedalEntry*> distinctions;
    DynarraySafe<NameString> flags;
};

// "Name" + u32 "UVal": a stat value word (an int or a float's bits).
class ZKRGamerProfileStatEntry : public RTTIPolyBaseClass {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    NameString name;
    uint32_t value = 0;
};

class ZKRGamerProfileLocalDataEntry : public RTTIPolyBaseClass {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    NameString name;
    uint32_t value = 0;
};

class ZKRGamerProfileAchievementEntry : public RTTIPolyBaseClass {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    NameString name;
    bool unlocked = false;
};

class ZKRGamerProfileResultsData : public RTTIPolyBaseClass {
public:
    ZKRGamerProfileResultsData() = default;
    ZKRGamerProfileResultsData(const ZKRGamerProfileResultsData&) = delete;
    ZKRGamerProfileResultsData& operator=(const ZKRGamerProfileResultsData&) = delete;
    ~ZKRGamerProfileResultsData() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // Deletes every mission entry.
    virtual void Reset();
    // Appends a bare mission entry (score 0); its index.
    virtual uint32_t AddMission(const char* id);

    // The mission entry whose id is the interned name, or null.
    ZKRGamerProfileMissionEntry* FindMission(const NameString& id) const;
    void DeleteMissions();
    // Exchanges the mission tables (a scratch object read whole replaces this one's).
    void SwapMissions(ZKRGamerProfileResultsData& other) { missions.Swap(other.missions); }

    Dynarray<ZKRGamerProfileMissionEntry*> missions;
    uint8_t dirty = 0;
};

class ZKRGamerProfileStatsData : public RTTIPolyBaseClass {
public:
    ZKRGamerProfileStatsData() = default;
    ZKRGamerProfileStatsData(const ZKRGamerProfileStatsData&) = delete;
    ZKRGamerProfileStatsData& operator=(const ZKRGamerProfileStatsData&) = delete;
    ~ZKRGamerProfileStatsData() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // Appends a stat entry with value 0; its index.
    virtual uint32_t AddStat(const char* name);

    ZKRGamerProfileStatEntry* FindStat(const char* name) const;
    ZKRGamerProfileAchievementEntry* FindAchievement(const char* name) const;
    // Every stat value 0, every achievement locked, dirty set.
    void ResetValues();

    Dynarray<ZKRGamerProfileStatEntry*> stats;
    Dynarray<ZKRGamerProfileAchievementEntry*> achievements;
    uint8_t dirty = 0;
};

}  // namespace ZKRGamerProfileData

namespace PCMacGamerProfileData {

using ZKRGamerProfileData::ZKRGamerProfileLocalDataEntry;

class PCMacGamerProfileResultsData : public ZKRGamerProfileData::ZKRGamerProfileResultsData {
public:
    // Holds the default table: every mission with its three distinctions.
    PCMacGamerProfileResultsData();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // Keeps the entries: every score 0, every flag list empty, every level 0; dirty.
    void Reset() override;
    // Appends the mission with its three distinctions at level 0.
    uint32_t AddMission(const char* id) override;
    // After a load: every table mission present with every distinction type.
    void CompleteMissions();
};

class PCMacGamerProfileStatsData : public ZKRGamerProfileData::ZKRGamerProfileStatsData {
public:
    // Holds the default table: every stat row (value 0) and every achievement (locked).
    PCMacGamerProfileStatsData();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    uint32_t AddStat(const char* name) override;
    // Stat types (0 int, 1 float), parallel to the stats; not a property.
    Dynarray<uint32_t> types;
};

class PCMacGamerProfileProgressData : public RTTIPolyBaseClass {
public:
    PCMacGamerProfileProgressData();
    PCMacGamerProfileProgressData(const PCMacGamerProfileProgressData&) = delete;
    PCMacGamerProfileProgressData& operator=(const PCMacGamerProfileProgressData&) = delete;
    ~PCMacGamerProfileProgressData() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // Back to the defaults (dirty set).
    void ResetToDefaults();
    // Appends a local data entry (value 0); its index.
    virtual uint32_t AddLocalData(const char* name);
    ZKRGamerProfileLocalDataEntry* FindLocalData(const char* name) const;
    // Exchanges every property value with other (a scratch object read whole).
    void SwapValues(PCMacGamerProfileProgressData& other);

    uint32_t lastUnlockedMissionNumericalId[4];
    uint32_t lastFinishedMissionNumericalId[4];
    uint32_t lastPresentedMissionNumericalId[4];
    DynarraySafe<NameString> unlockedEndlessModesIds;
    DynarraySafe<NameString> flags;
    Dynarray<ZKRGamerProfileLocalDataEntry*> localData;
    uint8_t dirty = 1;
};

}  // namespace PCMacGamerProfileData
