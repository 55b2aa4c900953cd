#include "game/delegate/PCMacGameDelegate.h"

#include "net/online/GamerProfile.h"
#include "net/online/PCMacProgressAnalyzer.h"

namespace {

// The store request whose file list carries the save-information images.
constexpr uint32_t kPCMacSaveInfoRequest = 5;

}  // namespace

PCMacGameDelegate::PCMacGameDelegate(online::OnlineContext* services) : GameDelegateProfilesModuleSteam(services) {}

PCMacGameDelegate::~PCMacGameDelegate() = default;

bool PCMacGameDelegate::IsXBoxLiveEnabled() { return profile && profile->IsXBoxLiveEnabled(); }
bool PCMacGameDelegate::IsXBoxLiveSignedIn() { return profile && profile->IsXBoxLiveSignedIn(); }
bool PCMacGameDelegate::IsXBoxLiveAgeRestricted() { return profile && profile->IsXBoxLiveAgeRestricted(); }

void PCMacGameDelegate::XBoxLiveLogin() {
    if (profile) profile->XBoxLiveLogin();
}

void PCMacGameDelegate::OnInit() {
    GameDelegateProfilesModuleSteam::OnInit();
    // The analyzer scripts copy works over the module's leaderboards while they live.
    gPCMacProgressAnalyzer = PCMacProgressAnalyzer(&GetLeaderboardsManager());
    ZKRLuaGameDelegate::OnInit();
}

void PCMacGameDelegate::OnClose() {
    ZKRLuaGameDelegate::OnClose();
    gPCMacProgressAnalyzer = PCMacProgressAnalyzer(nullptr);
    GameDelegateProfilesModuleSteam::OnClose();
}

bool PCMacGameDelegate::OnBigFrameTick() {
    const bool answer = ZKRLuaGameDelegate::OnBigFrameTick();
    return profile ? profile->OnBigFrameTick() : answer;
}

void PCMacGameDelegate::SaveConfig() {
    if (profile) profile->SaveConfig();
}

void PCMacGameDelegate::LoadConfig() {
    if (profile) profile->LoadConfig();
}

void PCMacGameDelegate::HandleStoreRequest(uint32_t request, DynarraySafe<NameString>& result) {
    if (request == kPCMacSaveInfoRequest) {
        result.Add(NameString("PS3/SaveInfo_ICON0.PNG"));
        result.Add(NameString("PS3/SaveInfo_PIC1.PNG"));
    }
    GameDelegate::HandleStoreRequest(request, result);
}
