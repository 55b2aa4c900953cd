// Scene switching: the request, its execution inside the next tick, the loading screen
// and the time multiplier.
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/Sync.h"
#include "core/Time.h"
#include "engine/services/GameClock.h"
#include "engine/VornexEngine.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/BinaryScene.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "render/SceneDrawServices.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/scene/RendererScene.h"
#include "ui/elements/UIScreen.h"

namespace {

constexpr const char* kSceneDirectory = "scenes";
// A load held by its semaphore says so this often.
constexpr float kSemaphoreWarningSeconds = 10.0f;

double SecondsSince(int64_t start) { return Time(os::ReadCounter() - start).ToSeconds(); }

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

// The renderer's and the loader's queues drained, in that order (what the renderer runs
// may queue loads).
void FlushRendererAndLoader() {
    gVornexRenderer.FlushCommands(true);
    gResourceManager.Flush();
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
    pendingSceneName = name && *name ? fs::CopyText(name) : nullptr;
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
    const bool fade = StartLoadingScreenFade();
    gVornexRenderer.FlushCommands(false);
    if (fade) os::Sleep(kLoadingScreenFadeMs);
    TurnLoadingScreenOff();
}

// The load works on its own copy of the request: the delegate's handlers may make a new
// one, which frees the stored name and stays pending for the next tick.
struct Game::SceneLoad {
    char* name;
    uint32_t flags;
    Semaphore* semaphore;
    uint32_t request;
    int64_t start;
    int64_t programStart;
};

void Game::LoadPendingScene() {
    if (!switchPending) {
        switchFlags = 0;
        return;
    }
    SceneLoad load{fs::CopyText(pendingSceneName), switchFlags, switchSemaphore, switchRequests, os::ReadCounter(),
                   Time::Base().start};
    BeginSceneSwitch(load);
    ClearForNewScene(load);
    SceneFileImage image;
    ReadSceneFiles(load, &image);
    sceneLoadFailed = !BuildScene(load, &image);
    StartSceneEntities(load);
    const bool close = HoldForSemaphore(load);
    PresentScene(close);
    FinishSceneSwitch(load);
    EngineFree(load.name);
}

// 1-3. The delegate hears of the switch, networked entities go, the loading screen shows.
void Game::BeginSceneSwitch(const SceneLoad& load) {
    sceneLoadedOnce = true;
    currentSceneNonGameplay = false;
    if (delegate) delegate->OnSwitchScene(load.name);
    TickDelayed(true);
    DestroyNetworkedEntities();
    if (delegate) delegate->OnSwitchSceneAfterNetEntitiesDestroyed();
    ShowLoadingScreen();
}

// 4. A new scene with its lightmaps; templates it does not use go unless kept.
void Game::ClearForNewScene(const SceneLoad& load) {
    gEntityManager->NewScene();
    if (load.name && gRendererScene) gRendererScene->LoadLightmaps(load.name);
    if (!(load.flags & SWITCHSCENE_KEEP_TEMPLATES)) gEntityTemplateRegistry.UnloadUnusedTemplates();
}

// 5. The loader preloads the resource list and reads the scene file whole; one wait
// for the renderer and the loader.
void Game::ReadSceneFiles(const SceneLoad& load, SceneFileImage* image) {
    gVornexRenderer.FlushCommands(false);
    const int64_t preloadStart = os::ReadCounter();
    if (load.name) {
        gResourceManager.PostPreloadList(load.name, "ResList", kSceneDirectory);
        gResourceManager.PostLoadScene(image, load.name, kBinarySceneExtension, kSceneDirectory);
    }
    FlushRendererAndLoader();
    gLog.Print(LogSeverity::Information, LogCategory::Engine,
               "Resource preloaded in %f sec. Decompression time: %f, wait for read time: %f, read time: %f",
               SecondsSince(preloadStart), 0.0, 0.0, 0.0);
}

// 6. The scene's optimized templates, then its entities from the bytes the loader read.
// False when a scene was asked for and could not be loaded (one line says why).
bool Game::BuildScene(const SceneLoad& load, SceneFileImage* image) {
    if (!load.name) return true;  // no scene asked for: an empty one
    if (!image->bytes) {
        if (!image->opened)
            gLog.Print(LogSeverity::Error, LogCategory::Engine, "Unable to open file for reading (%s/%s)",
                       kSceneDirectory, load.name);
        else
            gLog.Error(LogCategory::Engine, "Scene %s/%s.%s is empty", kSceneDirectory, load.name,
                       kBinarySceneExtension);
        return false;
    }
    int64_t t = os::ReadCounter();
    LoadOptimizedTemplates(load.name, kSceneDirectory);
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Optimized templates loaded in %f sec", SecondsSince(t));
    t = os::ReadCounter();
    const bool parsed = ParseBinaryScene(static_cast<const uint8_t*>(image->bytes), image->size,
                                         SCENEPARSE_INSTALL_GRID | SCENEPARSE_SEQUENCES, 0);
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Scene deserialized in %f sec", SecondsSince(t));
    EngineFree(image->bytes);
    image->bytes = nullptr;
    gEntityManager->SetSceneFileName(load.name);
    if (!parsed)
        gLog.Error(LogCategory::Engine, "Scene %s/%s.%s is cut short or corrupt; what could be read was loaded",
                   kSceneDirectory, load.name, kBinarySceneExtension);
    return parsed;
}

// 7-9. The timers start from the program start; the entities initialise; one wait for the
// renderer and the loader.
void Game::StartSceneEntities(const SceneLoad& load) {
    gameTimer.ResetTime(load.programStart);
    gameplayTimer.ResetTime(load.programStart);
    smoothGameTimer.ResetTime(load.programStart);
    smoothGameplayTimer.ResetTime(load.programStart);
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Scene data loaded in %f seconds (%f since program start)",
               SecondsSince(load.start), SecondsSinceProgramStart());
    if (delegate) delegate->OnDuringSwitchScene();
    InitEntities();
    if (delegate) delegate->OnAfterSwitchScene();
    FlushRendererAndLoader();
    TickDelayed(true);
}

// 10. The semaphore holds the end of the load. Returns whether the loading screen is
// still to be closed.
bool Game::HoldForSemaphore(const SceneLoad& load) {
    bool close = !(load.flags & SWITCHSCENE_KEEP_LOADING_SCREEN);
    if (!load.semaphore) return close;
    if (load.flags & SWITCHSCENE_WAIT_SEMAPHORE) {
        WaitForSwitchSemaphore(load.semaphore, load.name);
        gVornexRenderer.SetSceneLoading(0);
    } else if (screens[GAMESCREEN_LOADING] && close && !load.semaphore->WaitSeconds(0.0f)) {
        // Not yet signalled: the loading screen goes now and the load waits.
        CloseLoadingScreen();
        close = false;
        WaitForSwitchSemaphore(load.semaphore, load.name);
    }
    return close;
}

// 11-13. The first frame's camera and clocks, the loading screen closed, the delegate's
// scene events.
void Game::PresentScene(bool closeLoadingScreen) {
    if (cameraController) cameraController->Update();
    const FrameTimer& engineTimer = gVornexEngine.Timer();
    gVornexRenderer.PostFrameParams(RenderFrameClock{engineTimer.Time(), engineTimer.Delta()},
                                    RenderFrameClock{smoothGameTimer.Time(), smoothGameTimer.LastDelta()},
                                    RenderFrameClock{smoothGameplayTimer.Time(), smoothGameplayTimer.LastDelta()}, 0);
    if (screens[GAMESCREEN_LOADING] && closeLoadingScreen) CloseLoadingScreen();
    if (!delegate) return;
    if (!firstSceneEventSent) {
        firstSceneEventSent = true;
        delegate->OnFirstSceneLoaded();
    }
    delegate->OnSceneReady();
}

// 14-15. The clocks restart; the request is done unless a new one came meanwhile.
void Game::FinishSceneSwitch(const SceneLoad& load) {
    gameTimer.ResetTime(load.programStart);
    gameplayTimer.ResetTime(load.programStart);
    const bool newRequest = switchRequests != load.request;
    if (!newRequest) switchPending = false;
    ResetFrameStamps();
    tickedFrames = fixedSteps = 0;
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Scene switched in %f seconds (%f since program start)",
               SecondsSince(load.start), SecondsSinceProgramStart());
    gResourceManager.PostLogSoundMemoryPool();
    if (!newRequest) switchFlags = 0;
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
