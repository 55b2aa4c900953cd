#include "app/TempScriptDelegate.h"

#include <lua.hpp>

#include "bindings/game/GamePackages.h"
#include "engine/script/LuaBindings.h"
#include "engine/script/LuaWrapper.h"
#include "game/Game.h"

namespace app {

void TempScriptDelegate::RegisterBindings() {
    lua_State* L = gLua.GetState();
    if (!L) return;
    OpenGamePackages(L);
    RepairClassFieldAssignment(L);
    gLua.SetGlobalObject(this, GetScriptClassName(), "gGameDelegate");
}

void TempScriptDelegate::GameCall(const char* name) { gLua.CallMethod(0, 0, gGame, "Game", name); }
void TempScriptDelegate::DelegateCall(const char* name) { gLua.CallMethod(0, 0, this, GetScriptClassName(), name); }

bool TempScriptDelegate::CanSleep() {
    if (!gLua.CallMethod(0, 1, this, GetScriptClassName(), "CanSleep")) return true;
    const bool answer = gLua.ToBool(-1);
    gLua.Pop(1);
    return answer;
}

void TempScriptDelegate::OnPreInit() {
    RegisterBindings();
    gLua.ExecuteFile("Main", kScriptFolder);
}

void TempScriptDelegate::OnInit() {
    GameDelegate::OnInit();
    GameCall("OnInit");
}

void TempScriptDelegate::OnAfterInit() { GameCall("OnAfterInit"); }
void TempScriptDelegate::OnQuit() { DelegateCall("OnQuit"); }
void TempScriptDelegate::OnClose() { GameCall("OnClose"); }
void TempScriptDelegate::OnAfterClose() { GameCall("OnAfterClose"); }

void TempScriptDelegate::OnSwitchScene(const char* sceneName) {
    gLua.PushString(sceneName);
    gLua.CallMethod(1, 0, gGame, "Game", "OnSwitchScene");
}

void TempScriptDelegate::OnSwitchSceneAfterNetEntitiesDestroyed() { GameCall("OnSwitchSceneAfterNetEntitiesDestroyed"); }
void TempScriptDelegate::OnDuringSwitchScene() { GameCall("OnDuringSwitchScene"); }
void TempScriptDelegate::OnAfterSwitchScene() { GameCall("OnAfterSwitchScene"); }
void TempScriptDelegate::OnAppActivate(bool) { GameCall("OnAppActivate"); }
void TempScriptDelegate::OnAppDeactivate(bool) { GameCall("OnAppDeactivate"); }

bool TempScriptDelegate::OnBigFrameTick() {
    DelegateCall("OnBigFrameTick");
    return true;
}

void TempScriptDelegate::OnTick() { DelegateCall("OnTick"); }
void TempScriptDelegate::OnSmoothTick() { DelegateCall("OnSmoothTick"); }
void TempScriptDelegate::OnAfterTick() { DelegateCall("OnAfterTick"); }
void TempScriptDelegate::OnPauseTick() { DelegateCall("OnPauseTick"); }
void TempScriptDelegate::OnTickInput() { DelegateCall("OnTickInput"); }

void TempScriptDelegate::OnInputEvent(int32_t type, uint32_t value) {
    gLua.PushInt(type);
    gLua.PushUInt(value);
    gLua.CallMethod(2, 0, this, GetScriptClassName(), "OnInputEvent");
}

void TempScriptDelegate::OnInputConfigChanged() { GameCall("OnInputConfigChanged"); }
void TempScriptDelegate::OnScreenResolutionChanged() { GameCall("OnScreenResolutionChanged"); }

}  // namespace app
