#pragma once
// LuaGameDelegate: the base of the game's delegate, the one scripts see as "LuaGameDelegate"
// (a GameDelegate). It adds the four operations of a delegate whose events go to scripts:
// its script class name, the current scene's local script, the registration of the game's
// binding packages and one reserved operation. The game's delegate derives from it and
// forwards the engine's events to the script table "Game".
//
// Main thread only.
#include "engine/delegate/GameDelegate.h"

class LuaGameDelegate : public GameDelegate {
public:
    // The script class the delegate is pushed under.
    virtual const char* GetScriptClassName() const { return "LuaGameDelegate"; }
    // Runs the script "scenes/<scene>" of the entity manager's current scene; nothing
    // without a scene.
    virtual void RunSceneLocalLuaFiles();
    // Opens the game's binding packages: none in the base.
    virtual void RegisterBindings() {}
    // Reserved; does nothing.
    virtual void ReservedOperation() {}
};
