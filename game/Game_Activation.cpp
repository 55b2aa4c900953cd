// Application activation and deactivation: focus loss and regain, suspend and resume,
// and the eviction and reload of resources around them.
#include "core/Log.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "net/MultiplayerEngine.h"
#include "platform/os/Thread.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "sound/SoundEngine.h"
#include "ui/elements/UIScreen.h"

namespace {

// The resources evicted on deactivation (textures).
constexpr uint32_t kEvictedTypes = 1;

bool SoundRunning() { return gSoundEngine && gSoundEngine->IsRunning(); }

}  // namespace

bool Game::CanSleepInBackground() const {
    if (multiplayerEngine && !multiplayerEngine->IsIdle()) return false;
    return delegate ? delegate->CanSleep() : true;
}

bool Game::StartLoadingScreenFade() {
    UIScreen* screen = screens[GAMESCREEN_LOADING];
    if (!screen || !screen->BlendingWhenUsedAsLoadingScreen()) return false;
    screen->RemoveAllActions(uint32_t(-1));
    screen->ChangeColor(0.2f, 1, 1, 1, 0, 0, 0);
    return true;
}

void Game::FadeOutLoadingScreen() {
    if (StartLoadingScreenFade()) os::Sleep(kLoadingScreenFadeMs);
}

void Game::Deactivate(bool suspend) {
    if (!suspend) {
        if (!deactivated) {
            deactivated = true;
            gLog.Print(LogSeverity::Information, LogCategory::Engine, "Deactivating the app");
            if (gSoundEngine) gSoundEngine->SetAppActive(false);
            if (SoundRunning()) {
                gSoundEngine->FadeMasterVolume(0.0f, 1.0f, 0);
                if (CanSleepInBackground()) gSoundEngine->SetTimeoutMode(1);
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
        gSoundEngine->FadeMasterVolume(1.0f, 1.0f, 0);
        gSoundEngine->SetTimeoutMode(0);
    }
    if (!suspended) ReloadEvictedResources();
    if (gSoundEngine) gSoundEngine->SetAppActive(true);
    if (delegate) delegate->OnAppActivate(false);
}
