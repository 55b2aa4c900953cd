// Scene switching: the request, its execution inside the next tick, the loading screen
// and the time multiplier.
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/Sync.h"
#include "core/Time.h"
#include "engine/services/EngineServices.h"
#include "engine/services/GameClock.h"
#include "engine/VornexEngine.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/BinaryScene.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/game/Game.h"
#include "engine/game/GameDelegate.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "render/RenderHooks.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/scene/RendererScene.h"

namespace {

constexpr const char* kSceneDirectory = "scenes";
// A load held by its semaphore says so this often.
constexpr float kSemaphoreWarningSeconds = 10.0f;

double SecondsSince(int64_t start) {
    return static_cast<double>(os::ReadCounter() - start) / static_cast<double>(os::kCounterFrequency);
}

double SecondsSinceProgramStart() {
    Time now;
    now.LoadHardwareTime();
    return now.ToSeconds();
}

// Every entity taking part in the multiplayer game goes.
void DestroyNetworkedEntities() {
    DynarraySafe<SafePointer<Entity>> networked;
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        if (e->GetMultiplayerRole() != MPROLE_NONE) networked.Add(SafePointer<Entity>(e));
    for (uint32_t i = 0; i < networked.Count(); ++i)
        if (Entity* e = networked[i].Get()) gEntityManager->DestroyEntity(e);
}

void WaitForSwitchSemaphore(Semaphore* semaphore, const char* sceneName) {
    while (!semaphore->WaitSeconds(kSemaphoreWarningSeconds))
        gLog.Warning(LogCategory::Engine, "Scene switch to %s still waits for its semaphore",
                     sceneName ? sceneName : "<none>");
}

}  // namespace

void Game::SwitchScene(const char* name, uint32_t flags, Semaphore* semaphore) {
    EngineFree(pendingSceneName);
    pendingSceneName = nullptr;
    if (delegate && !delegate->CanSwitchScene(name)) {
        // Nothing of this request, nor of an earlier one, stays pending.
        switchFlags = 0;
        switchSemaphore = nullptr;
        switchPending = false;
        return;
    }
    pendingSceneName = name && *name ? CopyText(name) : nullptr;
    switchSemaphore = semaphore;
    switchFlags = flags;
    switchPending = true;
    ++switchRequests;
}

bool Game::IsLastSwitchedSceneEqual(const char* name) const {
    const char* stored = pendingSceneName ? pendingSceneName : "";
    return std::strcmp(stored, name ? name : "") == 0;
}

void Game::CloseLoadingScreen() {
    UIScreen* screen = screens[GAMESCREEN_LOADING];
    const bool fade = screen && gEngineServices.uiScreenHasFadeFlag && gEngineServices.uiScreenHasFadeFlag(screen);
    if (fade && gEngineServices.uiScreenFadeOut) gEngineServices.uiScreenFadeOut(screen);
    gVornexRenderer.FlushCommands(false);
    if (fade) os::Sleep(kLoadingScreenFadeMs);
    TurnLoadingScreenOff();
}

void Game::LoadPendingScene() {
    if (!switchPending) {
        switchFlags = 0;
        return;
    }
    const int64_t start = os::ReadCounter();
    const int64_t programStart = Time::Base().start;
    // The load works on its own copy of the request: the delegate's handlers may make a
    // new one, which frees the stored name and stays pending for the next tick.
    char* const name = CopyText(pendingSceneName);
    const uint32_t flags = switchFlags;
    Semaphore* const semaphore = switchSemaphore;
    const uint32_t request = switchRequests;

    // 1-3.
    sceneLoadedOnce = true;
    if (delegate) delegate->OnSwitchScene(name);
    TickDelayed(true);
    DestroyNetworkedEntities();
    if (delegate) delegate->OnSwitchSceneAfterNetEntitiesDestroyed();
    ShowLoadingScreen();

    // 4. A new scene with its lightmaps; templates it does not use go unless kept.
    gEntityManager->NewScene();
    if (name && gRendererScene) gRendererScene->LoadLightmaps(name);
    if (!(flags & SWITCHSCENE_KEEP_TEMPLATES)) gEntityTemplateRegistry.UnloadUnusedTemplates();

    // 5. The resource list and the scene file through the loader.
    gVornexRenderer.FlushCommands(false);
    const int64_t preloadStart = os::ReadCounter();
    void* sceneData = nullptr;
    if (name) {
        gResourceManager.PostPreloadList(name, "ResList", kSceneDirectory);
        gResourceManager.PostLoadScene(&sceneData, name, kBinarySceneExtension, kSceneDirectory);
    }
    gVornexRenderer.FlushCommands(true);
    gResourceManager.Flush();
    gLog.Print(LogSeverity::Information, LogCategory::Engine,
               "Resource preloaded in %f sec. Decompression time: %f, wait for read time: %f, read time: %f",
               SecondsSince(preloadStart), 0.0, 0.0, 0.0);

    // 6. The scene itself.
    if (sceneData) {
        int64_t t = os::ReadCounter();
        LoadOptimizedTemplates(name, kSceneDirectory);
        gLog.Print(LogSeverity::Information, LogCategory::Engine, "Optimized templates loaded in %f sec", SecondsSince(t));
        t = os::ReadCounter();
        LoadBinaryScene(name, kSceneDirectory, SCENEPARSE_INSTALL_GRID | SCENEPARSE_SEQUENCES, 0);
        gLog.Print(LogSeverity::Information, LogCategory::Engine, "Scene deserialized in %f sec", SecondsSince(t));
        EngineFree(sceneData);
        gEntityManager->SetSceneFileName(name);
    }

    // 7-9.
    gameTimer.ResetTime(programStart);
    gameplayTimer.ResetTime(programStart);
    smoothGameTimer.ResetTime(programStart);
    smoothGameplayTimer.ResetTime(programStart);
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Scene data loaded in %f seconds (%f since program start)",
               SecondsSince(start), SecondsSinceProgramStart());
    if (delegate) delegate->OnDuringSwitchScene();
    InitEntities();
    if (delegate) delegate->OnAfterSwitchScene();
    gVornexRenderer.FlushCommands(true);
    gResourceManager.Flush();
    TickDelayed(true);

    // 10. The semaphore holds the end of the load.
    bool close = !(flags & SWITCHSCENE_KEEP_LOADING_SCREEN);
    if (semaphore) {
        if (!(flags & SWITCHSCENE_WAIT_SEMAPHORE)) {
            if (screens[GAMESCREEN_LOADING] && close && !semaphore->WaitSeconds(0.0f)) {
                CloseLoadingScreen();
                close = false;
                WaitForSwitchSemaphore(semaphore, name);
            }
        } else {
            WaitForSwitchSemaphore(semaphore, name);
            gVornexRenderer.SetSceneLoading(0);
        }
    }

    // 11-13.
    if (cameraController) cameraController->Update();
    const FrameTimer& engineTimer = gVornexEngine.Timer();
    gVornexRenderer.PostFrameParams(RenderFrameClock{engineTimer.Time(), engineTimer.Delta()},
                                    RenderFrameClock{smoothGameTimer.Time(), smoothGameTimer.LastDelta()},
                                    RenderFrameClock{smoothGameplayTimer.Time(), smoothGameplayTimer.LastDelta()}, 0);
    if (screens[GAMESCREEN_LOADING] && close) CloseLoadingScreen();
    if (delegate) {
        if (!firstSceneEventSent) {
            firstSceneEventSent = true;
            delegate->OnFirstSceneLoaded();
        }
        delegate->OnSceneReady();
    }

    // 14-15.
    gameTimer.ResetTime(programStart);
    gameplayTimer.ResetTime(programStart);
    const bool newRequest = switchRequests != request;
    if (!newRequest) switchPending = false;
    ResetFrameStamps();
    tickedFrames = fixedSteps = 0;
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Scene switched in %f seconds (%f since program start)",
               SecondsSince(start), SecondsSinceProgramStart());
    gResourceManager.PostLogSoundMemoryPool();
    if (!newRequest) switchFlags = 0;
    EngineFree(name);
}

void Game::SetTimeMultiplier(float value, float seconds) {
    timeMultiplierFade.Start(gVornexEngine.Timer().Time(), value, seconds, 0);
    if (!timeMultiplierFade.active) timeMultiplier = timeMultiplierFade.current;
}

void Game::ShowLoadingScreen() {
    UIScreen* screen = screens[GAMESCREEN_LOADING];
    if (!screen) return;
    gVornexRenderer.SetLoadingScreen(screen, 0, loadingScreenSetting);
    gVornexRenderer.SetSceneLoading(1);
}

void Game::TurnLoadingScreenOff() {
    gVornexRenderer.SetLoadingScreen(nullptr, 0, 0);
    gVornexRenderer.SetSceneLoading(0);
}

bool Game::IsLoadingScreenActive() const { return gVornexRenderer.SceneLoading(); }
