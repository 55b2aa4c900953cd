#pragma once
// TempScriptDelegate: a stand-in for the game's delegate while it is being written. It
// opens the game's packages, runs the main script at pre-init and forwards the events the
// sample's script handles: Game calls on the script class "Game" with the Game object,
// delegate calls on its own script class "PCMacGameDelegate" (found through
// "ZKRGameDelegate") with the delegate as self.
//
// Main thread.
#include "game/delegate/LuaGameDelegate.h"

namespace app {

class TempScriptDelegate : public LuaGameDelegate {
public:
    const char* GetScriptClassName() const override { return "PCMacGameDelegate"; }
    void RegisterBindings() override;

    bool CanSleep() override;
    void OnPreInit() override;
    void OnInit() override;
    void OnAfterInit() override;
    void OnQuit() override;
    void OnClose() override;
    void OnAfterClose() override;
    void OnSwitchScene(const char* sceneName) override;
    void OnSwitchSceneAfterNetEntitiesDestroyed() override;
    void OnDuringSwitchScene() override;
    void OnAfterSwitchScene() override;
    void OnAppActivate(bool) override;
    void OnAppDeactivate(bool) override;
    bool OnBigFrameTick() override;
    void OnTick() override;
    void OnSmoothTick() override;
    void OnAfterTick() override;
    void OnPauseTick() override;
    void OnTickInput() override;
    void OnInputEvent(int32_t type, uint32_t value) override;
    void OnInputConfigChanged() override;
    void OnScreenResolutionChanged() override;

private:
    void GameCall(const char* name);
    void DelegateCall(const char* name);
};

}  // namespace app
