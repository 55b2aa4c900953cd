// PCMacGamerProfile: life cycle, script events, and the progress and results files.
//
// Log-in resets the data, sends "OnInit", loads progress and results and asks the
// service for the stats; "OnDataRetrieved" follows once all three are in (a failed load
// counts as in, with default data). A copy is read into a scratch object and applied
// only when its whole property list parsed, so a damaged copy never leaves the data
// half-read; a copy that passes its checksum but does not parse counts as absent.
#include <cstring>
#include <memory>

#include "core/BoundedReader.h"
#include "core/Log.h"
#include "engine/script/LuaWrapper.h"
#include "net/online/PCMacGamerProfile.h"
#include "net/online/StatsTables.h"

using namespace PCMacGamerProfileData;

namespace {

constexpr const char* kProgressFileName = "progress";
constexpr const char* kResultsFileName = "results";
constexpr uint32_t kSerializeOptions = 0;

// Reads a progress payload whole into scratch; false when it does not parse.
bool ParseProgress(const uint8_t* data, uint32_t size, PCMacGamerProfileProgressData& scratch) {
    BoundedReader in(data, size);
    scratch.GetRTTIClass()->DeserializeProperties(in, &scratch, kSerializeOptions);
    return !in.Failed();
}

bool ParseResults(const uint8_t* data, uint32_t size, PCMacGamerProfileResultsData& scratch) {
    BoundedReader in(data, size);
    scratch.SolidDeserialize(in, kSerializeOptions);
    return !in.Failed();
}


// The data object's property list in a new[] buffer; null when it has none.
uint8_t* Serialize(const RTTIPolyBaseClass& object, uint32_t& size) {
    size = object.SolidSerialize(nullptr, kSerializeOptions);
    if (!size) return nullptr;
    uint8_t* buffer = new uint8_t[size];
    object.SolidSerialize(buffer, kSerializeOptions);
    return buffer;
}

// Progress and results payloads must parse whole into a scratch object. An empty
// payload is a valid file with nothing to read (the data keep their defaults). Runs on
// the worker too: the scratch objects are its own.
bool AcceptPayload(uint32_t tag, const uint8_t* data, uint32_t size) {
    if (!size) return true;
    if (tag == kProgressFileTag) {
        PCMacGamerProfileProgressData scratch;
        return ParseProgress(data, size, scratch);
    }
    if (tag == kResultsFileTag) {
        PCMacGamerProfileResultsData scratch;
        return ParseResults(data, size, scratch);
    }
    return false;
}

}  // namespace

PCMacGamerProfile::PCMacGamerProfile(online::OnlineContext* services, SteamLeaderboardsManager* leaderboards)
    : LCZKRGamerProfile(services),
      statsReceived(this, &PCMacGamerProfile::OnUserStatsReceived),
      statsStored(this, &PCMacGamerProfile::OnUserStatsStored),
      achievementStored(this, &PCMacGamerProfile::OnUserAchievementStored),
      overlayActivated(this, &PCMacGamerProfile::OnGameOverlayActivated),
      leaderboards(leaderboards) {
    SetPayloadCheck(&AcceptPayload);
    if (!services) return;
    services->RegisterCallback(&statsReceived, online::UserStatsReceived::kCallbackId);
    services->RegisterCallback(&statsStored, online::UserStatsStored::kCallbackId);
    services->RegisterCallback(&achievementStored, online::UserAchievementStored::kCallbackId);
    services->RegisterCallback(&overlayActivated, online::GameOverlayActivated::kCallbackId);
    statsReceived.registered = statsStored.registered = achievementStored.registered = overlayActivated.registered = true;
}

PCMacGamerProfile::~PCMacGamerProfile() {
    // The pending jobs call this object's cloud operations: they must finish while it is
    // still whole (the base part's wait would run them against the base class).
    WaitForPendingWrites();
    if (!services) return;
    if (statsReceived.registered) services->UnregisterCallback(&statsReceived);
    if (statsStored.registered) services->UnregisterCallback(&statsStored);
    if (achievementStored.registered) services->UnregisterCallback(&achievementStored);
    if (overlayActivated.registered) services->UnregisterCallback(&overlayActivated);
}

void PCMacGamerProfile::Destroy() {
    CallScript("OnRelease");
    LCZKRGamerProfile::Destroy();
}

void PCMacGamerProfile::CallScript(const char* method, int argCount) {
    gLua.CallMethod(argCount, 0, this, GetScriptClassName(), method);
}

bool PCMacGamerProfile::Login(const char* name, uint32_t unused) {
    if (!LCZKRGamerProfile::Login(name, unused)) return false;
    CallScript("OnInit");
    LoadAllData();
    return true;
}

bool PCMacGamerProfile::HasPendingWork() const { return GamerProfile::HasPendingWork() || pendingStatsStores > 0; }

void PCMacGamerProfile::ResetData() {
    progress.ResetToDefaults();
    results.Reset();
    stats.ResetValues();
    progressLoaded = resultsLoaded = statsRetrieved = dataRetrievedSent = 0;
    statsValid = 0;
    deferredUnlocks.Release();
    pendingStatsStores = 0;
}

void PCMacGamerProfile::CheckDataRetrieved() {
    if (!loggedIn || dataRetrievedSent || !progressLoaded || !resultsLoaded || !statsRetrieved) return;
    dataRetrievedSent = 1;
    CallScript("OnDataRetrieved");
}

void PCMacGamerProfile::LoadProgress() {
    uint8_t* data = nullptr;
    uint32_t size = 0;
    const uint32_t layout = progress.GetRTTIClass()->GetLayoutHash(&progress);
    std::unique_ptr<PCMacGamerProfileProgressData> scratch(new PCMacGamerProfileProgressData);
    if (LoadData(kProgressFileName, kProgressFileTag, layout, &data, &size, &ProgressStamp())) {
        if (size && ParseProgress(data, size, *scratch))
            progress.SwapValues(*scratch);
        else
            progress.ResetToDefaults();
        delete[] data;
    } else {
        progress.ResetToDefaults();
    }
    progressLoaded = 1;
    CheckDataRetrieved();
}

void PCMacGamerProfile::LoadResults() {
    uint8_t* data = nullptr;
    uint32_t size = 0;
    const uint32_t layout = results.GetRTTIClass()->GetLayoutHash(&results);
    std::unique_ptr<PCMacGamerProfileResultsData> scratch(new PCMacGamerProfileResultsData);
    if (LoadData(kResultsFileName, kResultsFileTag, layout, &data, &size, &ResultsStamp())) {
        if (size && ParseResults(data, size, *scratch)) {
            results.SwapMissions(*scratch);
            results.CompleteMissions();
        } else {
            results.Reset();
        }
        delete[] data;
    } else {
        results.Reset();
    }
    resultsLoaded = 1;
    CheckDataRetrieved();
}

void PCMacGamerProfile::LoadAllData() {
    if (!loggedIn) return;
    LoadProgress();
    LoadResults();
    if (loggedIn && !statsRetrieved && services) services->UserStats()->RequestCurrentStats();
}

bool PCMacGamerProfile::StoreProgress() {
    if (!loggedIn) return false;
    uint32_t size = 0;
    uint8_t* data = Serialize(progress, size);
    if (!data) return false;
    const uint32_t layout = progress.GetRTTIClass()->GetLayoutHash(&progress);
    SaveDataAsync(kProgressFileName, kProgressFileTag, layout, data, size, ProgressStamp());
    progress.dirty = 0;
    return true;
}

bool PCMacGamerProfile::StoreResults() {
    if (!loggedIn) return false;
    uint32_t size = 0;
    uint8_t* data = Serialize(results, size);
    if (!data) return false;
    const uint32_t layout = results.GetRTTIClass()->GetLayoutHash(&results);
    SaveDataAsync(kResultsFileName, kResultsFileTag, layout, data, size, ResultsStamp());
    results.dirty = 0;
    return true;
}
