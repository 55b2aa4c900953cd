// The profile's data classes and their registrations (rows of the multiplayer layer's
// start-up table). Registering a derived class registers its base first.
#include "net/online/GamerProfileData.h"

#include <cstring>

#include "core/rtti/RTTIArrayProperty.h"
#include "net/online/StatsTables.h"

namespace ZKRGamerProfileData {

const char* const kMissionIds[kMissionCount] = {"M01", "M02", "M03", "M04", "M05", "M06", "M07", "M08",
                                                "M09", "M10", "M11", "M12", "M13", "M14", "M15"};
const char* const kDistinctionTypes[kDistinctionCount] = {"Celerity", "Ruthlessness", "Efficiency"};

namespace {

RTTIClass* gMissionMedalEntryClass = nullptr;
RTTIClass* gMissionEntryClass = nullptr;
RTTIClass* gStatEntryClass = nullptr;
RTTIClass* gLocalDataEntryClass = nullptr;
RTTIClass* gAchievementEntryClass = nullptr;
RTTIClass* gResultsDataClass = nullptr;
RTTIClass* gStatsDataClass = nullptr;

template <class T>
void AddDirect(RTTIClass* c, const char* name, size_t offset) {
    c->AddProperty(new RTTIDirectAccessTypedProperty<T>(name, offset));
}

template <class E>
void DeleteAll(Dynarray<E*>& a) {
    for (E* e : a) delete e;
    a.Release();
}

bool SameText(const NameString& name, const char* text) { return std::strcmp(name.CStr(), text) == 0; }

}  // namespace

// ---- Entries ----

const RTTIClass* ZKRGamerProfileMissionMedalEntry::RegisterClass() {
    if (gMissionMedalEntryClass) return gMissionMedalEntryClass;
    RTTIClass* c = CreateRegisteredClass(gMissionMedalEntryClass, "ZKRGamerProfileMissionMedalEntry", kRTTIRootBaseName);
    AddDirect<NameString>(c, "Type", RTTI_OFFSETOF(ZKRGamerProfileMissionMedalEntry, type));
    AddDirect<uint8_t>(c, "Level", RTTI_OFFSETOF(ZKRGamerProfileMissionMedalEntry, level));
    return c;
}
const RTTIClass* ZKRGamerProfileMissionMedalEntry::GetRTTIClass() const { return RegisterClass(); }

ZKRGamerProfileMissionEntry::~ZKRGamerProfileMissionEntry() { DeleteAll(distinctions); }

const RTTIClass* ZKRGamerProfileMissionEntry::RegisterClass() {
    if (gMissionEntryClass) return gMissionEntryClass;
    ZKRGamerProfileMissionMedalEntry::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gMissionEntryClass, "ZKRGamerProfileMissionEntry", kRTTIRootBaseName);
    AddDirect<NameString>(c, "Id", RTTI_OFFSETOF(ZKRGamerProfileMissionEntry, id));
    AddDirect<uint32_t>(c, "Score", RTTI_OFFSETOF(ZKRGamerProfileMissionEntry, score));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<ZKRGamerProfileMissionMedalEntry*>>(
        "Distinctions", RTTI_OFFSETOF(ZKRGamerProfileMissionEntry, distinctions)));
    c->AddProperty(new RTTIDynarrayProperty<DynarraySafe<NameString>>("Flags", RTTI_OFFSETOF(ZKRGamerProfileMissionEntry, flags)));
    return c;
}
const RTTIClass* ZKRGamerProfileMissionEntry::GetRTTIClass() const { return RegisterClass(); }

ZKRGamerProfileMissionMedalEntry* ZKRGamerProfileMissionEntry::FindDistinction(const char* type) const {
    if (!type) return nullptr;
    for (ZKRGamerProfileMissionMedalEntry* d : distinctions)
        if (d && SameText(d->type, type)) return d;
    return nullptr;
}

void ZKRGamerProfileMissionEntry::AddDistinction(const char* type) {
    auto* d = new ZKRGamerProfileMissionMedalEntry;
    d->type = type;
    distinctions.Add(d);
}

bool ZKRGamerProfileMissionEntry::HasFlag(const char* flag) const {
    for (const NameString& f : flags)
        if (SameText(f, flag ? flag : "")) return true;
    return false;
}

const RTTIClass* ZKRGamerProfileStatEntry::RegisterClass() {
    if (gStatEntryClass) return gStatEntryClass;
    RTTIClass* c = CreateRegisteredClass(gStatEntryClass, "ZKRGamerProfileStatEntry", kRTTIRootBaseName);
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(ZKRGamerProfileStatEntry, name));
    AddDirect<uint32_t>(c, "UVal", RTTI_OFFSETOF(ZKRGamerProfileStatEntry, value));
    return c;
}
const RTTIClass* ZKRGamerProfileStatEntry::GetRTTIClass() const { return RegisterClass(); }

const RTTIClass* ZKRGamerProfileLocalDataEntry::RegisterClass() {
    if (gLocalDataEntryClass) return gLocalDataEntryClass;
    RTTIClass* c = CreateRegisteredClass(gLocalDataEntryClass, "ZKRGamerProfileLocalDataEntry", kRTTIRootBaseName);
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(ZKRGamerProfileLocalDataEntry, name));
    AddDirect<uint32_t>(c, "UVal", RTTI_OFFSETOF(ZKRGamerProfileLocalDataEntry, value));
    return c;
}
const RTTIClass* ZKRGamerProfileLocalDataEntry::GetRTTIClass() const { return RegisterClass(); }

const RTTIClass* ZKRGamerProfileAchievementEntry::RegisterClass() {
    if (gAchievementEntryClass) return gAchievementEntryClass;
    RTTIClass* c = CreateRegisteredClass(gAchievementEntryClass, "ZKRGamerProfileAchievementEntry", kRTTIRootBaseName);
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(ZKRGamerProfileAchievementEntry, name));
    AddDirect<bool>(c, "Unlocked", RTTI_OFFSETOF(ZKRGamerProfileAchievementEntry, unlocked));
    return c;
}
const RTTIClass* ZKRGamerProfileAchievementEntry::GetRTTIClass() const { return RegisterClass(); }

// ---- Results ----

ZKRGamerProfileResultsData::~ZKRGamerProfileResultsData() { DeleteMissions(); }

const RTTIClass* ZKRGamerProfileResultsData::RegisterClass() {
    if (gResultsDataClass) return gResultsDataClass;
    ZKRGamerProfileMissionEntry::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gResultsDataClass, "ZKRGamerProfileResultsData", kRTTIRootBaseName);
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<ZKRGamerProfileMissionEntry*>>(
        "MissionsData", RTTI_OFFSETOF(ZKRGamerProfileResultsData, missions)));
    return c;
}
const RTTIClass* ZKRGamerProfileResultsData::GetRTTIClass() const { return RegisterClass(); }

void ZKRGamerProfileResultsData::DeleteMissions() { DeleteAll(missions); }

void ZKRGamerProfileResultsData::Reset() { DeleteMissions(); }

uint32_t ZKRGamerProfileResultsData::AddMission(const char* id) {
    auto* m = new ZKRGamerProfileMissionEntry;
    m->id = id;
    return missions.Add(m);
}

ZKRGamerProfileMissionEntry* ZKRGamerProfileResultsData::FindMission(const NameString& id) const {
    if (id.IsEmpty()) return nullptr;
    for (ZKRGamerProfileMissionEntry* m : missions)
        if (m && m->id == id) return m;
    return nullptr;
}

// ---- Stats ----

ZKRGamerProfileStatsData::~ZKRGamerProfileStatsData() {
    DeleteAll(stats);
    DeleteAll(achievements);
}

const RTTIClass* ZKRGamerProfileStatsData::RegisterClass() {
    if (gStatsDataClass) return gStatsDataClass;
    ZKRGamerProfileStatEntry::RegisterClass();
    ZKRGamerProfileAchievementEntry::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gStatsDataClass, "ZKRGamerProfileStatsData", kRTTIRootBaseName);
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<ZKRGamerProfileStatEntry*>>(
        "Stats", RTTI_OFFSETOF(ZKRGamerProfileStatsData, stats)));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<ZKRGamerProfileAchievementEntry*>>(
        "Achievements", RTTI_OFFSETOF(ZKRGamerProfileStatsData, achievements)));
    return c;
}
const RTTIClass* ZKRGamerProfileStatsData::GetRTTIClass() const { return RegisterClass(); }

uint32_t ZKRGamerProfileStatsData::AddStat(const char* name) {
    auto* s = new ZKRGamerProfileStatEntry;
    s->name = name;
    return stats.Add(s);
}

ZKRGamerProfileStatEntry* ZKRGamerProfileStatsData::FindStat(const char* name) const {
    if (!name) return nullptr;
    for (ZKRGamerProfileStatEntry* s : stats)
        if (s && SameText(s->name, name)) return s;
    return nullptr;
}

ZKRGamerProfileAchievementEntry* ZKRGamerProfileStatsData::FindAchievement(const char* name) const {
    if (!name) return nullptr;
    for (ZKRGamerProfileAchievementEntry* a : achievements)
        if (a && SameText(a->name, name)) return a;
    return nullptr;
}

void ZKRGamerProfileStatsData::ResetValues() {
    for (ZKRGamerProfileStatEntry* s : stats)
        if (s) s->value = 0;
    for (ZKRGamerProfileAchievementEntry* a : achievements)
        if (a) a->unlocked = false;
    dirty = 1;
}

}  // namespace ZKRGamerProfileData

namespace PCMacGamerProfileData {

using namespace ZKRGamerProfileData;

namespace {
RTTIClass* gPCMacResultsClass = nullptr;
RTTIClass* gPCMacStatsClass = nullptr;
RTTIClass* gProgressClass = nullptr;

constexpr uint32_t kDefaultUnlocked[4] = {1, 0, 0, 0};
constexpr uint32_t kDefaultFinished[4] = {0, 0, 0, 0};
constexpr uint32_t kDefaultPresented[4] = {1, 0, 0, 0};
}  // namespace

// ---- Results ----

PCMacGamerProfileResultsData::PCMacGamerProfileResultsData() {
    for (const char* id : kMissionIds) AddMission(id);
}

const RTTIClass* PCMacGamerProfileResultsData::RegisterClass() {
    if (gPCMacResultsClass) return gPCMacResultsClass;
    ZKRGamerProfileResultsData::RegisterClass();
    return CreateRegisteredClass(gPCMacResultsClass, "PCMacGamerProfileResultsData", "ZKRGamerProfileResultsData");
}
const RTTIClass* PCMacGamerProfileResultsData::GetRTTIClass() const { return RegisterClass(); }

void PCMacGamerProfileResultsData::Reset() {
    for (ZKRGamerProfileMissionEntry* m : missions) {
        if (!m) continue;
        m->score = 0;
        m->flags.Release();
        for (ZKRGamerProfileMissionMedalEntry* d : m->distinctions)
            if (d) d->level = 0;
    }
    dirty = 1;
}

uint32_t PCMacGamerProfileResultsData::AddMission(const char* id) {
    const uint32_t index = ZKRGamerProfileResultsData::AddMission(id);
    if (index == kDynarrayNone) return index;
    for (const char* type : kDistinctionTypes) missions[index]->AddDistinction(type);
    return index;
}

void PCMacGamerProfileResultsData::CompleteMissions() {
    for (const char* id : kMissionIds) {
        ZKRGamerProfileMissionEntry* m = FindMission(NameString(id));
        if (!m) {
            AddMission(id);
            continue;
        }
        for (const char* type : kDistinctionTypes)
            if (!m->FindDistinction(type)) m->AddDistinction(type);
    }
}

// ---- Stats ----

PCMacGamerProfileStatsData::PCMacGamerProfileStatsData() {
    for (const StatRow& row : kStatRows) types[AddStat(row.name)] = row.type;
    for (const char* name : kAchievementNames) {
        auto* a = new ZKRGamerProfileAchievementEntry;
        a->name = name;
        achievements.Add(a);
    }
}

const RTTIClass* PCMacGamerProfileStatsData::RegisterClass() {
    if (gPCMacStatsClass) return gPCMacStatsClass;
    ZKRGamerProfileStatsData::RegisterClass();
    return CreateRegisteredClass(gPCMacStatsClass, "PCMacGamerProfileStatsData", "ZKRGamerProfileStatsData");
}
const RTTIClass* PCMacGamerProfileStatsData::GetRTTIClass() const { return RegisterClass(); }

uint32_t PCMacGamerProfileStatsData::AddStat(const char* name) {
    const uint32_t index = ZKRGamerProfileStatsData::AddStat(name);
    types.Add(0);
    return index;
}

// ---- Progress ----

PCMacGamerProfileProgressData::PCMacGamerProfileProgressData() { ResetToDefaults(); }

PCMacGamerProfileProgressData::~PCMacGamerProfileProgressData() {
    for (ZKRGamerProfileLocalDataEntry* e : localData) delete e;
}

const RTTIClass* PCMacGamerProfileProgressData::RegisterClass() {
    if (gProgressClass) return gProgressClass;
    ZKRGamerProfileLocalDataEntry::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gProgressClass, "PCMacGamerProfileProgressData", kRTTIRootBaseName);
    c->AddProperty(new RTTIPureMemoryBlockProperty("LastUnlockedMissionNumericalId",
                                                   RTTI_OFFSETOF(PCMacGamerProfileProgressData, lastUnlockedMissionNumericalId), 16));
    c->AddProperty(new RTTIPureMemoryBlockProperty("LastFinishedMissionNumericalId",
                                                   RTTI_OFFSETOF(PCMacGamerProfileProgressData, lastFinishedMissionNumericalId), 16));
    c->AddProperty(new RTTIPureMemoryBlockProperty("LastPresentedMissionNumericalId",
                                                   RTTI_OFFSETOF(PCMacGamerProfileProgressData, lastPresentedMissionNumericalId), 16));
    c->AddProperty(new RTTIDynarrayProperty<DynarraySafe<NameString>>(
        "UnlockedEndlessModesIds", RTTI_OFFSETOF(PCMacGamerProfileProgressData, unlockedEndlessModesIds)));
    c->AddProperty(new RTTIDynarrayProperty<DynarraySafe<NameString>>("Flags", RTTI_OFFSETOF(PCMacGamerProfileProgressData, flags)));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<ZKRGamerProfileLocalDataEntry*>>(
        "LocalData", RTTI_OFFSETOF(PCMacGamerProfileProgressData, localData)));
    return c;
}
const RTTIClass* PCMacGamerProfileProgressData::GetRTTIClass() const { return RegisterClass(); }

void PCMacGamerProfileProgressData::ResetToDefaults() {
    std::memcpy(lastUnlockedMissionNumericalId, kDefaultUnlocked, sizeof kDefaultUnlocked);
    std::memcpy(lastFinishedMissionNumericalId, kDefaultFinished, sizeof kDefaultFinished);
    std::memcpy(lastPresentedMissionNumericalId, kDefaultPresented, sizeof kDefaultPresented);
    unlockedEndlessModesIds.Release();
    flags.Release();
    for (ZKRGamerProfileLocalDataEntry* e : localData) delete e;
    localData.Release();
    dirty = 1;
}

uint32_t PCMacGamerProfileProgressData::AddLocalData(const char* name) {
    auto* e = new ZKRGamerProfileLocalDataEntry;
    e->name = name;
    return localData.Add(e);
}

ZKRGamerProfileLocalDataEntry* PCMacGamerProfileProgressData::FindLocalData(const char* name) const {
    if (!name) return nullptr;
    for (ZKRGamerProfileLocalDataEntry* e : localData)
        if (e && std::strcmp(e->name.CStr(), name) == 0) return e;
    return nullptr;
}

void PCMacGamerProfileProgressData::SwapValues(PCMacGamerProfileProgressData& other) {
    for (int i = 0; i < 4; ++i) {
        std::swap(lastUnlockedMissionNumericalId[i], other.lastUnlockedMissionNumericalId[i]);
        std::swap(lastFinishedMissionNumericalId[i], other.lastFinishedMissionNumericalId[i]);
        std::swap(lastPresentedMissionNumericalId[i], other.lastPresentedMissionNumericalId[i]);
    }
    std::swap(unlockedEndlessModesIds.count, other.unlockedEndlessModesIds.count);
    std::swap(unlockedEndlessModesIds.capacity, other.unlockedEndlessModesIds.capacity);
    std::swap(unlockedEndlessModesIds.data, other.unlockedEndlessModesIds.data);
    std::swap(flags.count, other.flags.count);
    std::swap(flags.capacity, other.flags.capacity);
    std::swap(flags.data, other.flags.data);
    localData.Swap(other.localData);
}

}  // namespace PCMacGamerProfileData
