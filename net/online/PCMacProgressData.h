#pragma once
// PCMacProgressData: the result of a progress analysis, read by scripts. One record per
// progress area of a level (how many players stopped there, which friends did, and up to
// ten other players who did) plus the local user's own area, name and value.
//
// Threads: main thread only.
#include <cstdint>
#include <memory>
#include <vector>

#include "core/text/NameString.h"

// The user's area index when the user finished the level, and when the user has no entry.
constexpr uint32_t PROGRESS_FINISHED_INDEX = 100;
constexpr uint32_t PROGRESS_INVALID_INDEX = 101;

struct PCMacProgressEntry {
    NameString name;
    int32_t value = 0;
};

class PCMacAreaProgressData {
public:
    static constexpr uint32_t kMaxOtherEntries = 10;

    PCMacAreaProgressData() = default;
    // A copy holds copies of the entries.
    PCMacAreaProgressData(const PCMacAreaProgressData& other);

    uint32_t GetDeathsNumber() const { return deathsNumber; }
    uint32_t GetFriendsEntriesNumber() const { return static_cast<uint32_t>(friendEntries.size()); }
    bool GetFriendEntry(uint32_t index, NameString* name, int32_t* value) const;
    uint32_t GetOtherEntriesNumber() const { return static_cast<uint32_t>(otherEntries.size()); }
    bool GetOtherEntry(uint32_t index, NameString* name, int32_t* value) const;

    uint32_t deathsNumber = 0;
    std::vector<std::unique_ptr<PCMacProgressEntry>> friendEntries;
    std::vector<std::unique_ptr<PCMacProgressEntry>> otherEntries;
};

class PCMacProgressData {
public:
    PCMacProgressData() = default;
    // A copy holds copies of the areas and their entries.
    PCMacProgressData(const PCMacProgressData& other);

    uint32_t GetUserAreaIndex() const { return userAreaIndex; }
    // False (outputs untouched) when the user has no entry.
    bool GetUserData(uint32_t* areaIndex, int32_t* value) const;
    uint32_t GetAreasNumber() const { return static_cast<uint32_t>(areas.size()); }
    // Null past the last area.
    PCMacAreaProgressData* GetArea(uint32_t index) const;

    // Back to a fresh result of areaCount empty areas.
    void Reset(uint32_t areaCount);

    std::vector<std::unique_ptr<PCMacAreaProgressData>> areas;
    uint32_t userAreaIndex = PROGRESS_INVALID_INDEX;
    NameString userName;
    int32_t userValue = 0;
};

// The progress data scripts copy (PCMacProgressData.Instance): an empty result, which
// nothing analyses.
extern PCMacProgressData gPCMacProgressData;
