#include "net/online/PCMacProgressData.h"

namespace {

bool ReadEntry(const std::vector<std::unique_ptr<PCMacProgressEntry>>& entries, uint32_t index, NameString* name,
               int32_t* value) {
    if (index >= entries.size()) return false;
    if (name) *name = entries[index]->name;
    if (value) *value = entries[index]->value;
    return true;
}

}  // namespace

PCMacProgressData gPCMacProgressData;

PCMacAreaProgressData::PCMacAreaProgressData(const PCMacAreaProgressData& other) : deathsNumber(other.deathsNumber) {
    for (const auto& entry : other.friendEntries) friendEntries.push_back(std::make_unique<PCMacProgressEntry>(*entry));
    for (const auto& entry : other.otherEntries) otherEntries.push_back(std::make_unique<PCMacProgressEntry>(*entry));
}

bool PCMacAreaProgressData::GetFriendEntry(uint32_t index, NameString* name, int32_t* value) const {
    return ReadEntry(friendEntries, index, name, value);
}

bool PCMacAreaProgressData::GetOtherEntry(uint32_t index, NameString* name, int32_t* value) const {
    return ReadEntry(otherEntries, index, name, value);
}

bool PCMacProgressData::GetUserData(uint32_t* areaIndex, int32_t* value) const {
    if (userAreaIndex == PROGRESS_INVALID_INDEX) return false;
    if (areaIndex) *areaIndex = userAreaIndex;
    if (value) *value = userValue;
    return true;
}

PCMacProgressData::PCMacProgressData(const PCMacProgressData& other)
    : userAreaIndex(other.userAreaIndex), userName(other.userName), userValue(other.userValue) {
    for (const auto& area : other.areas) areas.push_back(std::make_unique<PCMacAreaProgressData>(*area));
}

PCMacAreaProgressData* PCMacProgressData::GetArea(uint32_t index) const {
    return index < areas.size() ? areas[index].get() : nullptr;
}

void PCMacProgressData::Reset(uint32_t areaCount) {
    areas.clear();
    for (uint32_t i = 0; i < areaCount; ++i) areas.push_back(std::make_unique<PCMacAreaProgressData>());
    userAreaIndex = PROGRESS_INVALID_INDEX;
    userName.Clear();
    userValue = 0;
}
