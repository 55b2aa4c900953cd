#include "engine/delegate/GameDelegate.h"

#include "core/CrtRand.h"
#include "core/config/ProjectConfig.h"
#include "engine/services/MultiplayerServices.h"
#include "engine/delegate/LeaderboardViewer.h"

namespace {
// Zero until something sets it, as a zero-initialised integer is.
int32_t gSampleNumber = 0;
}  // namespace

GameDelegate::~GameDelegate() { delete leaderboardViewer; }

void GameDelegate::OnInit() {
    if (!leaderboardViewer) leaderboardViewer = CreateLeaderboardViewer();
}

void GameDelegate::HandleStoreRequest(uint32_t request, DynarraySafe<NameString>& result) {
    const char* definitions = gProjectConfig ? gProjectConfig->storeDefinitionFile : nullptr;
    if (!definitions || !*definitions) return;
    MultiplayerServices& online = GetMultiplayerServices();
    InGameStore* store = online.CreateInGameStore(definitions);
    if (!store) return;
    online.GetInGameStoreItemImageFiles(store, request, result);
    online.DeleteInGameStore(store);
}

uint32_t* GameDelegate::LookupValueInto(uint32_t, uint32_t, uint32_t* result) {
    if (result) *result = 0;
    return result;
}

bool GameDelegate::ShouldSample() {
    if (gSampleNumber % 100 == 0) return true;
    gSampleNumber = CrtRand();
    return false;
}

void GameDelegate::SetSampleNumber(int32_t value) { gSampleNumber = value; }
int32_t GameDelegate::GetSampleNumber() { return gSampleNumber; }
