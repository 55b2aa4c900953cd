// The profile module: log-in and log-out of the default user, and the may-close test.
#include "net/online/GameDelegateProfilesModuleSteam.h"

#include <new>

#include "net/online/PCMacGamerProfile.h"
#include "platform/online/Online.h"

GameDelegateProfilesModule::~GameDelegateProfilesModule() {
    if (profile) profile->Destroy();
    profile = nullptr;
}

bool GameDelegateProfilesModule::MayClose() { return !profile || !profile->HasPendingWork(); }

GameDelegateProfilesModuleSteam::GameDelegateProfilesModuleSteam(online::OnlineContext* services)
    : services(services), leaderboards(services) {}

GameDelegateProfilesModuleSteam::~GameDelegateProfilesModuleSteam() {
    // The profile goes before the leaderboards manager it posts scores to.
    if (profile) profile->Destroy();
    profile = nullptr;
}

bool GameDelegateProfilesModuleSteam::MayClose() {
    return GameDelegateProfilesModule::MayClose() && !leaderboards.HasPendingUploads();
}

void GameDelegateProfilesModuleSteam::OnInit() {
    online::OnlineContext* global = services ? nullptr : online::GlobalContext();
    if (global) {
        // The manager is remade in place on the services (it holds nothing yet: without
        // services every request failed at once), so whoever holds it keeps a valid one.
        if (profile) LogOut();
        leaderboards.~SteamLeaderboardsManager();
        new (&leaderboards) SteamLeaderboardsManager(global);
        services = global;
    }
    LogInDefaultUser();
}

GamerProfile* GameDelegateProfilesModuleSteam::CreateProfile() { return new PCMacGamerProfile(services, &leaderboards); }

void GameDelegateProfilesModuleSteam::LogInDefaultUser() {
    if (profile) LogOut();
    profile = CreateProfile();
    if (profile) profile->Login(nullptr);
}

void GameDelegateProfilesModuleSteam::LogOut() {
    if (profile) profile->Destroy();
    profile = nullptr;
    leaderboards.Clear();
}
