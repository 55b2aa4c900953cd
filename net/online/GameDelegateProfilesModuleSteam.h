#pragma once
// GameDelegateProfilesModuleSteam: the game delegate's profile module over the online
// services. It owns the current gamer profile (made by its profile factory) and the
// leaderboards manager; the game's delegate derives from it as a second base and
// forwards the profile operations to it.
//
// Threads: main thread.
#include "net/online/SteamLeaderboardsManager.h"

class GamerProfile;
namespace online {
class OnlineContext;
}

class GameDelegateProfilesModule {
public:
    GameDelegateProfilesModule() = default;
    GameDelegateProfilesModule(const GameDelegateProfilesModule&) = delete;
    GameDelegateProfilesModule& operator=(const GameDelegateProfilesModule&) = delete;
    // Destroys the profile (its Destroy, which sends "OnRelease").
    virtual ~GameDelegateProfilesModule();
    // False while the profile has pending work.
    virtual bool MayClose();
    // The profile factory; the caller keeps the object.
    virtual GamerProfile* CreateProfile() = 0;
    virtual void OnInit() {}
    virtual void OnClose() {}

    GamerProfile* GetProfile() const { return profile; }

protected:
    GamerProfile* profile = nullptr;
};

class GameDelegateProfilesModuleSteam : public GameDelegateProfilesModule {
public:
    // services: the signed-in user's online services; null: the process-wide services
    // (online::GlobalContext()) as they are when OnInit runs, for a module made before
    // the engine starts its online services.
    explicit GameDelegateProfilesModuleSteam(online::OnlineContext* services);
    ~GameDelegateProfilesModuleSteam() override;

    // False while the profile has pending work or a leaderboard upload is unanswered.
    bool MayClose() override;
    // Builds a PCMacGamerProfile on the module's services and leaderboards.
    GamerProfile* CreateProfile() override;
    // Logs the default user in at start-up (on the process-wide services when the module
    // was made without any), out at close.
    void OnInit() override;
    void OnClose() override { LogOut(); }

    // Creates the profile (dropping any previous one) and logs it in with no name.
    void LogInDefaultUser();
    // Destroys the profile ("OnRelease", then it waits for its pending writes) and
    // drops every leaderboard record and request.
    void LogOut();

    SteamLeaderboardsManager& GetLeaderboardsManager() { return leaderboards; }

protected:
    online::OnlineContext* services;
    SteamLeaderboardsManager leaderboards;
};
