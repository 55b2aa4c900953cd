// Application activation and deactivation: focus loss and regain, suspend and resume,
// and the eviction and reload of resources around them.
#include "core/Log.h"
#include "engine/services/EngineServices.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "platform/os/Thread.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"

namespace {

// The resources evicted on deactivation (textures).
constexpr uint32_t kEvictedTypes = 1;

bool SoundRunning() { return gEngineServices.soundEngineRunning && gEngineServices.soundEngineRunning(); }

}  // namespace

bool Game::CanSleepInBackground() const {
    if (multiplayerEngine && gEngineServices.multiplayerIsIdle && !gEngineServices.multiplayerIsIdle(multiplayerEngine))
        return false;
    return delegate ? delegate->CanSleep() : true;
}

void Game::FadeOutLoadingScreen() {
    UIScreen* screen = screens[GAMESCREEN_LOADING];
    if (!screen || !gEngineServices.uiScreenHasFadeFlag || !gEngineServices.uiScreenHasFadeFlag(screen)) return;
    if (gEngineServices.uiScreenFadeOut) gEngineServices.uiScreenFadeOut(screen);
    os::Sleep(kLoadingScreenFadeMs);
}

void Game::Deactivate(bool suspend) {
    if (!suspend) {
        if (!deactivated) {
            deactivated = true;
            gLog.Print(LogSeverity::Information, LogCategory::Engine, "Deactivating the app");
            if (gEngineServices.soundSetAppActive) gEngineServices.soundSetAppActive(false);
            if (SoundRunning()) {
                if (gEngineServices.soundFadeMasterVolume) gEngineServices.soundFadeMasterVolume(0.0f, 1.0f, 0);
                if (CanSleepInBackground() && gEngineServices.soundSetTimeoutMode)
                    gEngineServices.soundSetTimeoutMode(true);
            }
            inputManager->ReleaseActiveTaps();
            if (delegate) delegate->OnAppDeactivate(false);
        }
    } else if (!suspended) {
        suspended = true;
        inputManager->ReleaseActiveTaps();
        if (delegate) delegate->OnAppDeactivate(true);
    }

    if (!evictOnDeactivation || resourcesEvicted || !IsStandaloneBuild()) return;
    if (delegate && !delegate->CanDeactivateApp()) return;
    if (suspend) {
        ShowLoadingScreen();
        gResourceManager.PostUnloadData(kEvictedTypes, true);
        gResourceManager.Flush();
        gVornexRenderer.FlushCommands(true);
        FadeOutLoadingScreen();
        TurnLoadingScreenOff();
    } else {
        gResourceManager.PostUnloadData(kEvictedTypes, true);
    }
    resourcesEvicted = true;
}

void Game::ReloadEvictedResources() {
    if (!resourcesEvicted) return;
    ShowLoadingScreen();
    gResourceManager.PostRestoreData(kEvictedTypes);
    resourcesEvicted = false;
    FadeOutLoadingScreen();
    TurnLoadingScreenOff();
}

void Game::Activate(bool suspend) {
    if (suspend) {
        if (!suspended) return;
        suspended = false;
        if (!deactivated) ReloadEvictedResources();
        if (delegate) delegate->OnAppActivate(true);
        return;
    }
    if (!deactivated) return;
    deactivated = false;
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Activating the app");
    if (SoundRunning()) {
        if (gEngineServices.soundFadeMasterVolume) gEngineServices.soundFadeMasterVolume(1.0f, 1.0f, 0);
        if (gEngineServices.soundSetTimeoutMode) gEngineServices.soundSetTimeoutMode(false);
    }
    if (!suspended) ReloadEvictedResources();
    if (gEngineServices.soundSetAppActive) gEngineServices.soundSetAppActive(true);
    if (delegate) delegate->OnAppActivate(false);
}
