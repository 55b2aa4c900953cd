#pragma once
// GameDelegate: the interface through which the engine tells the game layer about
// engine events and asks it for decisions (time-step mode, background sleeping, scene
// switches, closing). The Game holds one delegate (not owned); every caller tolerates a
// null delegate and then behaves as this base class does. The game's delegate derives
// from it and forwards most events to its scripts.
//
// The operations are listed in their fixed order. Nothing depends on the positions.
// Main thread, except OnRenderScenePass (render thread).
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"

class Entity;
class LeaderboardViewer;  // engine/delegate/LeaderboardViewer.h; created at init, owned by the delegate
struct MPMethodCall;
class Player;
class Sequence;

class GameDelegate {
public:
    GameDelegate() = default;
    virtual ~GameDelegate();  // deletes the leaderboard viewer
    GameDelegate(const GameDelegate&) = delete;
    GameDelegate& operator=(const GameDelegate&) = delete;

    // The first of two yes/no queries without arguments: false here; the game's delegate
    // answers true.
    virtual bool QueryFirstFlag() { return false; }
    virtual bool IsXBoxLiveEnabled() { return false; }
    virtual bool IsXBoxLiveSignedIn() { return false; }
    virtual bool IsXBoxLiveAgeRestricted() { return false; }
    virtual bool IsSteamEnabled() { return false; }
    virtual bool CanClose() { return true; }
    virtual bool UseServerRequestThread() { return false; }
    virtual bool OnBeforeTick() { return true; }  // true: fixed 1/15 s steps
    virtual void XBoxLiveLogin() {}
    virtual bool CanSleep() { return true; }
    virtual void OnPreInit() {}
    // Creates the leaderboard viewer through CreateLeaderboardViewer while there is none.
    virtual void OnInit();
    virtual void OnAfterInit() {}
    virtual void OnQuit() {}
    virtual void OnClose() {}
    virtual void OnAfterClose() {}
    virtual bool CanSwitchScene(const char* sceneName) { return true; }
    virtual void OnSwitchScene(const char* sceneName) {}
    virtual void OnSwitchSceneAfterNetEntitiesDestroyed() {}
    virtual void OnDuringSwitchScene() {}
    virtual void OnAfterSwitchScene() {}
    virtual void OnSceneReady() {}
    virtual void OnFirstSceneLoaded() {}
    virtual void OnAppActivate(bool suspend) {}
    virtual void OnAppDeactivate(bool suspend) {}
    virtual void OnCancelCurrentGame() {}
    virtual void OnGameCenterMatchingCompleted(bool success) {}
    virtual void InitEntity(Entity* entity) {}
    virtual bool OnBigFrameTick() { return true; }  // false skips the frame
    virtual void OnTick() {}
    virtual void OnSmoothTick() {}
    virtual void OnAfterTick() {}
    virtual void OnPauseTick() {}
    virtual void OnTickInput() {}
    virtual void OnInputEvent(int32_t type, uint32_t value) {}
    virtual void OnInputConfigChanged() {}
    virtual void OnScreenResolutionChanged() {}
    virtual void OnPreSceneRender() {}
    virtual void OnPostSceneRender() {}
    virtual void SaveConfig() {}
    // The operation after SaveConfig: the game's delegate forwards it to the profile's
    // operation of the same name (which does nothing); nothing here.
    virtual void LoadConfig() {}
    // The game's delegate forgets that its script bindings are registered, so the next
    // OnPreInit or OnDistributionInit registers them again.
    virtual void ResetBindingsRegistration() {}
    virtual void OnXBoxLiveLoginFinished() {}
    virtual void OnDisplayReset() {}
    virtual void OnChatMessage(bool lobby, int32_t kind, const char16_t* text) {}
    virtual void OnLobbyUpdated() {}
    virtual void OnLobbyJoinRequested() {}
    virtual void OnLobbyGameStartRequest(uint32_t value, bool first, bool second) {}
    virtual void OnLobbyError(int32_t error) {}
    // Start and end of a distribution run: the game's delegate runs its distribution
    // scripts and the Game's "OnInit", then the Game's "OnClose".
    virtual void OnDistributionInit(uint32_t) {}
    virtual void OnDistributionClose() {}
    // Lists the script files of a resource set (or of a scene) into files.
    virtual void LoadMainScripts(const char* setName, DynarraySafe<NameString>& files) {}
    virtual void RegisterSceneScripts(const char* sceneName, DynarraySafe<NameString>& files) {}
    // With store definitions in the project configuration, a temporary store answers the
    // request (its item image files are appended to result); otherwise nothing.
    virtual void HandleStoreRequest(uint32_t request, DynarraySafe<NameString>& result);
    // A word for a pair of words; 0 here and in the game's delegate.
    virtual uint32_t MapPair(uint32_t, uint32_t) { return 0; }
    // The second yes/no query without arguments: false here; the game's delegate answers
    // true.
    virtual bool QuerySecondFlag() { return false; }
    // The value of a pair of words through result (when given), which it returns; the
    // value is 0 here and in the game's delegate.
    virtual uint32_t* LookupValueInto(uint32_t, uint32_t, uint32_t* result);
    // The same lookup answered by value: 0 here and in the game's delegate.
    virtual uint32_t LookupValue(uint32_t, uint32_t) { return 0; }
    virtual bool CanDeactivateApp() { return true; }
    // True while the process-wide sample number is a multiple of 100; otherwise the
    // number is replaced by CrtRand() and the answer is false.
    virtual bool ShouldSample();
    virtual void OnGameHosted(int32_t result) {}
    virtual void OnGameJoined(int32_t result) {}
    virtual void OnGameDisconnected(int32_t reason) {}
    virtual bool OnPlayerConnecting() { return false; }
    virtual void OnPlayerConnected(Player* player) {}
    virtual void OnPlayerReady(Player* player) {}
    virtual void OnPlayerDisconnected(Player* player, uint32_t reason) {}
    virtual void OnPlayerConnectionStall(Player* player) {}
    virtual void OnPlayerConnectionResume(Player* player) {}
    virtual void OnReplicatedProperty(Entity* entity) {}
    virtual void OnReplicatedMethodCall(Player* player, const MPMethodCall* call) {}
    virtual void OnTornOff(Entity* entity) {}
    virtual void OnRenderScenePass() {}  // render thread, at the start of each scene pass
    virtual LeaderboardViewer* CreateLeaderboardViewer() { return nullptr; }
    // The Game Center queries: not enabled here, and the matchmaking screen opens nothing.
    virtual bool IsGameCenterEnabled() { return false; }
    virtual void OpenGameCenterMatchmakingUI() {}

    // Asked before an action starts a sequence; the sequence the delegate started in its
    // place, or null to let the action start it.
    virtual Sequence* OverrideStartSequence(const char* sequenceName, bool gameplayTime) { return nullptr; }
    // Adds files of a kind to a packaging list.
    virtual void FileListHook(uint32_t kind, DynarraySafe<NameString>& files) {}

    LeaderboardViewer* GetLeaderboardViewer() const { return leaderboardViewer; }
    int32_t GetCounter() const { return counter; }

    // Test hook: the process-wide number of ShouldSample.
    static void SetSampleNumber(int32_t value);
    static int32_t GetSampleNumber();

private:
    LeaderboardViewer* leaderboardViewer = nullptr;
    int32_t counter = 5;
};
