#pragma once
// ZKRLuaGameDelegate: the game's delegate, seen by scripts as "ZKRGameDelegate". It turns
// the engine's events into calls of Lua functions, two ways:
//   - a Game call: the method of the script class "Game" on the Game object (gGame);
//   - a delegate call: the method of the delegate's own script class (GetScriptClassName)
//     on the delegate, looked up through that class's script bases ("PCMacGameDelegate",
//     "ZKRGameDelegate", "LuaGameDelegate", "GameDelegate"), so a script may define it on
//     any of them.
// Which event goes which way, with which arguments and what the engine gets back, is one
// table in ZKRLuaGameDelegate.cpp. A missing Lua function is reported by the script host
// and is no error here.
//
// Start-up: the first OnPreInit of the process runs the reserved operation; every
// OnPreInit registers the game's bindings unless they are registered (the
// bindings-registered flag, cleared by ResetBindingsRegistration), then runs the main
// script "Main" of "common/scripts". OnDistributionInit does the same with
// "DistributionMain" and then the Game's "OnInit".
//
// Main thread only.
#include "game/delegate/LuaGameDelegate.h"

class ZKRLuaGameDelegate : public LuaGameDelegate {
public:
    const char* GetScriptClassName() const override { return "ZKRGameDelegate"; }
    // Opens the game's binding packages (GameBindingPackages.h) in their order, then
    // publishes the delegate as the script global "gGameDelegate", a user type of its
    // script class.
    void RegisterBindings() override;

    bool QueryFirstFlag() override { return true; }
    // The script's answer; true when the call does not run or fails.
    bool CanSleep() override;
    void OnPreInit() override;
    // The base's init (the leaderboard viewer), then the Game's "OnInit".
    void OnInit() override;
    void OnAfterInit() override;
    void OnQuit() override;
    void OnClose() override;
    void OnAfterClose() override;
    void OnSwitchScene(const char* sceneName) override;
    void OnSwitchSceneAfterNetEntitiesDestroyed() override;
    void OnDuringSwitchScene() override;
    void OnAfterSwitchScene() override;
    void OnAppActivate(bool suspend) override;
    void OnAppDeactivate(bool suspend) override;
    void OnCancelCurrentGame() override;
    void OnGameCenterMatchingCompleted(bool success) override;
    // The "OnInit" passes of the entity's script class.
    void InitEntity(Entity* entity) override;
    // Calls the script; the answer is true whatever it returns.
    bool OnBigFrameTick() override;
    void OnTick() override;
    void OnSmoothTick() override;
    void OnAfterTick() override;
    void OnPauseTick() override;
    void OnTickInput() override;
    void OnInputEvent(int32_t type, uint32_t value) override;
    void OnInputConfigChanged() override;
    void OnScreenResolutionChanged() override;
    void ResetBindingsRegistration() override;
    void OnXBoxLiveLoginFinished() override;
    // The text reaches the script as a new LuaUnicodeString (a terminated copy) that the
    // script's collector owns, so a script may keep it.
    void OnChatMessage(bool lobby, int32_t kind, const char16_t* text) override;
    void OnLobbyUpdated() override;
    void OnLobbyJoinRequested() override;
    void OnLobbyGameStartRequest(uint32_t value, bool first, bool second) override;
    void OnLobbyError(int32_t error) override;
    void OnDistributionInit(uint32_t) override;
    void OnDistributionClose() override;
    void LoadMainScripts(const char* setName, DynarraySafe<NameString>& files) override;
    void RegisterSceneScripts(const char* sceneName, DynarraySafe<NameString>& files) override;
    bool QuerySecondFlag() override { return true; }
    void OnGameHosted(int32_t result) override;
    void OnGameJoined(int32_t result) override;
    void OnGameDisconnected(int32_t reason) override;
    // The script's answer (accept); false when the call does not run or fails.
    bool OnPlayerConnecting() override;
    void OnPlayerConnected(Player* player) override;
    void OnPlayerReady(Player* player) override;
    void OnPlayerDisconnected(Player* player, uint32_t reason) override;
    void OnPlayerConnectionStall(Player* player) override;
    void OnPlayerConnectionResume(Player* player) override;
    // Through the script replication bridge (engine/entity/ReplicationBridge.h).
    void OnReplicatedProperty(Entity* entity) override;
    void OnReplicatedMethodCall(Player* player, const MPMethodCall* call) override;
    // The entity's script method "OnTornOff".
    void OnTornOff(Entity* entity) override;

    // The two process-wide flags, and the test hook that clears both.
    static bool IsPreInitDone();
    static bool AreBindingsRegistered();
    static void ResetProcessFlags();

private:
    void RegisterBindingsOnce();
};
