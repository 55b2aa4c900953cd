// The profile module: log-in and log-out of the default user, and the may-close test.
#include "net/online/GameDelegateProfilesModuleSteam.h"

#include "net/online/PCMacGamerProfile.h"

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
