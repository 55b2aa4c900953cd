#pragma once
// GameRenderServices: what the renderer needs of the running Game: the game delegate's
// scene hook and the game controllers around a device reset, behind one small
// interface. The Game installs its implementation while it runs; until then (and after
// SetGameRenderServices(nullptr)) the base class does nothing.
//
// Threads: installed and removed on the main thread while the renderer runs (the Game's
// start and close), so the render thread reads the installed pointer atomically;
// RenderScenePass on the render thread, the controller calls on the thread that resets
// the device. An installed implementation outlives its removal.
class GameDelegate;

class GameRenderServices {
public:
    virtual ~GameRenderServices() = default;

    // The game delegate's scene hook, once at the start of each scene pass (the delegate
    // the frame's parameters handed over).
    virtual void RenderScenePass(GameDelegate* delegate) {}
    // Releases the game controllers before a device reset, and reconnects them after.
    virtual void ReleaseGameControllers() {}
    virtual void ReconnectGameControllers() {}
};

GameRenderServices& GetGameRenderServices();
// Not owned; null restores the default.
void SetGameRenderServices(GameRenderServices* services);
