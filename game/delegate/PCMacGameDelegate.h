#pragma once
// PCMacGameDelegate: the desktop game's delegate, seen by scripts as "PCMacGameDelegate"
// (script base "ZKRGameDelegate"). To the script forwarding of ZKRLuaGameDelegate it adds
// the gamer profile and the leaderboards through its profile module
// (GameDelegateProfilesModuleSteam, the second base):
//   - the Xbox Live queries answer the profile's (false without a profile), its log-in
//     goes to the profile, and SaveConfig / LoadConfig to the profile's operations;
//   - online services are on (IsSteamEnabled), and so is the server-request worker;
//   - CanClose is the module's may-close test (no save and no score upload pending);
//   - OnInit logs the default user in before the scripts' init; OnClose logs out after
//     the scripts' close;
//   - OnBigFrameTick answers the profile's hook when there is a profile;
//   - store request 5 also lists the two save-information images.
//
// The module takes the process-wide online services when its init runs, since the
// delegate is made before the engine starts them (services null), or the given ones.
//
// ZKRLuaGameDelegate stays the first base: the delegate reaches scripts (its events,
// gGameDelegate) at the address of that part, which must be the object's own.
//
// Main thread only.
#include "game/delegate/ZKRLuaGameDelegate.h"
#include "net/online/GameDelegateProfilesModuleSteam.h"

class PCMacGameDelegate : public ZKRLuaGameDelegate, public GameDelegateProfilesModuleSteam {
public:
    explicit PCMacGameDelegate(online::OnlineContext* services = nullptr);
    ~PCMacGameDelegate() override;

    const char* GetScriptClassName() const override { return "PCMacGameDelegate"; }

    bool IsXBoxLiveEnabled() override;
    bool IsXBoxLiveSignedIn() override;
    bool IsXBoxLiveAgeRestricted() override;
    bool IsSteamEnabled() override { return true; }
    bool CanClose() override { return MayClose(); }
    bool UseServerRequestThread() override { return true; }
    void XBoxLiveLogin() override;
    // Both bases' OnInit and OnClose: the module's and the scripts' in their order.
    void OnInit() override;
    void OnClose() override;
    bool OnBigFrameTick() override;
    void SaveConfig() override;
    void LoadConfig() override;
    void HandleStoreRequest(uint32_t request, DynarraySafe<NameString>& result) override;

    // The profile of the logged-in user, or null.
    GamerProfile* GetLoggedInProfile() const { return GetProfile(); }
    using GameDelegateProfilesModuleSteam::GetLeaderboardsManager;
};
