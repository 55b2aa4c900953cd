#include "engine/game/GameDelegate.h"

#include "core/CrtRand.h"
#include "core/config/ProjectConfig.h"
#include "engine/services/EngineServices.h"
#include "engine/game/LeaderboardViewer.h"

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
    if (!definitions || !*definitions || !gEngineServices.createInGameStore) return;
    InGameStore* store = gEngineServices.createInGameStore(definitions);
    if (!store) return;
    if (gEngineServices.getInGameStoreItemImageFiles) gEngineServices.getInGameStoreItemImageFiles(store, request, result);
    if (gEngineServices.deleteInGameStore) gEngineServices.deleteInGameStore(store);
}

uint32_t* GameDelegate::Slot74(uint32_t, uint32_t, uint32_t* result) {
    if (result) *result = 0;
    return result;
}

bool GameDelegate::ShouldSample() {
    if (gSampleNumber % 100 == 0) return true;
    gSampleNumber = CrtRand();
    return false;
}

namespace {
uint32_t SetQuestionMark(Dynarray<char16_t>& text) {
    text.Clear();
    text.Add(u'?');
    text.Add(0);
    return 0;
}
}  // namespace

uint32_t GameDelegate::Slot81(uint32_t, Dynarray<char16_t>& text) { return SetQuestionMark(text); }
uint32_t GameDelegate::Slot82(Dynarray<char16_t>& text) { return SetQuestionMark(text); }

void GameDelegate::SetSampleNumber(int32_t value) { gSampleNumber = value; }
int32_t GameDelegate::GetSampleNumber() { return gSampleNumber; }
