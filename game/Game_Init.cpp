// Game start and close.
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/Time.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "core/profiler/Profiler.h"
#include "engine/services/GameClock.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/EntityManager.h"
#include "engine/VornexEngine.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "engine/script/LuaWrapper.h"
#include "net/NetStaticInit.h"
#include "net/online/InGameStore.h"
#include "net/online/ServerRequestThread.h"
#include "net/online/VornexAnalytics.h"
#include "engine/entity/ScriptScheduler.h"
#include "platform/online/Online.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "platform/window/Window.h"
#include "render/VornexRenderer.h"
#include "render/scene/RendererScene.h"
#include "scene/entities/TriggerEntity.h"
#include "scene/sequences/SequenceSystem.h"
#include "sound/SoundEngine.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UITextBase.h"
#include "ui/localisation/StringReplacementContainer.h"
#include "ui/video/VideoEngine.h"
#include "ui/widgets/UIGameConsoleScreen.h"

namespace {

// Close waits this long for the delegate to allow closing, pumping the online
// callbacks at this interval.
constexpr double kCloseWaitSeconds = 10.0;
constexpr uint32_t kClosePumpMs = 10;

void ForwardLogMessage(uint32_t severity, uint32_t category, const char* text) {
    if (gGame) gGame->OnLogMessage(severity, category, text);
}

void CentreCursor(uint32_t window) {
    wnd::Rect client;
    if (!window || !wnd::GetClientRect(window, &client)) return;
    wnd::Point point{client.Width() / 2, client.Height() / 2};
    if (wnd::ClientToScreen(window, &point)) wnd::SetCursorPos(point.x, point.y);
}

const Game::MultiplayerEngineFactory kNetMultiplayerEngineFactory = {&CreateMultiplayerEngine,
                                                                      &DeleteMultiplayerEngine};
Game::MultiplayerEngineFactory gMultiplayerEngineFactory = kNetMultiplayerEngineFactory;

}  // namespace

void Game::SetMultiplayerEngineFactory(const MultiplayerEngineFactory* factory) {
    gMultiplayerEngineFactory = factory ? *factory : kNetMultiplayerEngineFactory;
}

void Game::CheckCursorCounter(int32_t counter, int32_t expected) {
    if (counter != expected) gLog.Warning(LogCategory::Engine, "Hardware cursor counter invalid: %d (expected %d)", counter, expected);
}

void Game::ResetFrameStamps() {
    lastFrameStamp = fixedStepStamp = gVornexEngine.Timer().Now();
    lastMultiplayerStep = static_cast<uint64_t>(gGameClock->GetCurrentTime());
}

void Game::Init(uint32_t gameWindow, uint32_t width, uint32_t height, GameDelegate* gameDelegate, char** arguments,
                int argumentCount) {
    InstallGameServices();
    // 1-2. Arguments; the multiplayer engine, published to scripts.
    argv = arguments;
    argc = argumentCount;
    multiplayerEngine = gMultiplayerEngineFactory.create();
    if (multiplayerEngine) gLua.SetGlobalObject(multiplayerEngine, "MultiplayerEngine", "gMultiplayerEngine");
    // 3. The window, with the cursor in the middle of its client area.
    window = gameWindow;
    CentreCursor(window);
    // 4. Touch input.
    InitTouch();
    // 5. The hardware cursor goes.
    if (hardwareCursorShown) {
        hardwareCursorShown = false;
        CheckCursorCounter(wnd::ShowCursor(false), -1);
    }
    // 6. The delegate, also for the renderer; the project's outline parameters.
    delegate = gameDelegate;
    gVornexRenderer.PostGameDelegate(delegate);
    seenDisplayResets = 0;  // the renderer's start is news to this delegate
    gVornexRenderer.SetOutlineParams(gProjectConfig->outline);
    gVornexRenderer.SetSecondaryOutlineParams(gProjectConfig->uiOutline);
    // 7. Server requests and analytics when the delegate wants them.
    if (delegate && delegate->UseServerRequestThread()) {
        StartServerRequestThread();
        gVornexAnalytics.Init();
        serverRequestThreadStarted = true;
    }
    // 8-9. Outlines, no blocked rendering, the in-game profilers and the log forwarded.
    outlineParams = gProjectConfig->outline;
    blockRenderingMask = 0;
    gProfiler.BindEnabledMask(gGameConfig->inGameProfilers);
    gLog.SetCallback(&ForwardLogMessage);
    // 10-11. The client size, for the text too; the input on the window.
    clientWidth = width;
    clientHeight = height;
    UITextBase::SetScreenResolution(width, height, true, true);
    initialised = true;
    quitting = false;
    inputManager->Init(window);
    inputManager->InitDevices(window);
    // 12. The camera, the clocks, the console, the schedulers, triggers and the store.
    cameraController = new GameCameraController();
    gameTimer.Reset();
    gameplayTimer.Reset();
    smoothGameTimer.Reset();
    smoothGameplayTimer.Reset();
    console = new UIGameConsoleScreen;
    gameScheduler = new ScriptScheduler();
    gameplayScheduler = new ScriptScheduler();
    TriggerEntity::EnableChecks();
    const char* storeDefinitions = gProjectConfig->storeDefinitionFile;
    if (storeDefinitions && *storeDefinitions) store = new InGameStore(storeDefinitions);
    // 13. The delegate's init around the sequences and the entities; the camera settles.
    if (delegate) delegate->OnPreInit();
    if (gEntityManager && gSequenceSystem) gSequenceSystem->Init(gEntityManager, true);
    if (delegate) delegate->OnInit();
    InitEntities();
    if (delegate) delegate->OnAfterInit();
    cameraController->Update();
    // 14-15. The loading screen when there is one; the game clocks start from the timer base.
    if (screens[GAMESCREEN_LOADING]) ShowLoadingScreen();
    gameTimer.ResetTime(Time::Base().start);
    gameplayTimer.ResetTime(Time::Base().start);
    ResetFrameStamps();
    timeMultiplier = 1.0f;
    timeMultiplierFade.Start(0, 1.0f, 0.0f, 0);
}

void Game::Close() {
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Game closing...");
    // 1. The default string replacements, the loading screen and the renderer's scene go.
    if (gDefaultReplacementContainer) gDefaultReplacementContainer->Clear();
    TurnLoadingScreenOff();
    gVornexRenderer.PostGameDelegate(nullptr);
    gVornexRenderer.FlushCommands(false);
    // 2. The delegate may hold the close back for at most 10 s.
    WaitUntilDelegateCanClose();
    // 3-6. Gameplay stops: sequences, the delegate's close, input, scene parameters,
    // delayed operations, sound and video.
    const uint32_t closedWindow = StopGameplayForClose();
    // 7-9. The multiplayer engine, the scene's entities and the delegate's after-close.
    ReleaseSessionForClose();
    // 10. Every object the Game holds.
    ReleaseGameObjects();
    // 11. The hardware cursor comes back, centred.
    if (!hardwareCursorShown) {
        hardwareCursorShown = true;
        CheckCursorCounter(wnd::ShowCursor(true), 0);
        CentreCursor(closedWindow);
    }
    ClearGameServices();
    // The Game is closed.
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Game closed");
}

void Game::WaitUntilDelegateCanClose() {
    const int64_t waitStart = os::ReadRealCounter();
    const int64_t waitTicks = Time::FromSeconds(kCloseWaitSeconds).ticks;
    while (delegate && !delegate->CanClose()) {
        if (os::ReadRealCounter() - waitStart >= waitTicks) break;
        SteamAPI_RunCallbacks();
        os::Sleep(kClosePumpMs);
    }
}

uint32_t Game::StopGameplayForClose() {
    // 3-4. Sequences stop; an initialised game tells its delegate and gets fresh input
    // (the old input manager releases its devices).
    if (gSequenceSystem) gSequenceSystem->StopAllSequences(true, false, "");
    if (initialised) {
        if (delegate) delegate->OnClose();
        CreateInputManager();
    }
    // 5. Scene-parameter overrides dropped, every delayed operation run.
    if (gRendererScene) gRendererScene->PostSceneParameters(nullptr, SCENE_MODE_OVERRIDE, 0.0f);
    TickDelayed(true);
    const uint32_t closedWindow = window;
    window = 0;
    // 6. Sound and video.
    if (gSoundEngine) {
        gSoundEngine->StopSound(kSoundAllInstances, 0.8f);
        gSoundEngine->SetChannelFrequencyRatio(kSoundAllChannels, 1.0f, 3.0f, 0);
    }
    if (gVideoEngine) gVideoEngine->Stop();
    return closedWindow;
}

void Game::ReleaseSessionForClose() {
    // 7. The multiplayer engine.
    if (multiplayerEngine) {
        gLua.SetGlobalObject(nullptr, "MultiplayerEngine", "gMultiplayerEngine");
        gMultiplayerEngineFactory.destroy(multiplayerEngine);
        multiplayerEngine = nullptr;
    }
    // 8. The scene's entities, pending trigger checks and the UI's memory guard.
    if (gEntityManager) gEntityManager->NewScene();
    TriggerEntity::ClearPendingChecks();
    DisableUIMemoryGuard();
    // 9. The delegate's after-close; the game is no longer initialised.
    if (initialised) {
        if (delegate) delegate->OnAfterClose();
        initialised = false;
    }
}

void Game::ReleaseGameObjects() {
    tickEntities.Release();
    replicatedEntities.Release();
    receivedChangeEntities.Release();
    serverDelayedEntities.Release();
    delayedEntities.Release();
    animatedMeshes.Release();
    meshFinishList.Release();
    delete cameraController;
    cameraController = nullptr;
    delete store;
    store = nullptr;
    for (UIScreen*& screen : screens) {
        if (screen) screen->Release();
        screen = nullptr;
    }
    if (console) console->Release();
    console = nullptr;
    gLog.SetCallback(nullptr);
    EngineFree(pendingCommand);
    pendingCommand = nullptr;
    EngineFree(pendingSceneName);
    pendingSceneName = nullptr;
    switchPending = false;
    switchFlags = 0;
    switchSemaphore = nullptr;
    delete gameScheduler;
    gameScheduler = nullptr;
    delete gameplayScheduler;
    gameplayScheduler = nullptr;
    if (serverRequestThreadStarted) {
        gVornexAnalytics.Shutdown();
        StopServerRequestThread();
        serverRequestThreadStarted = false;
    }
    gProfiler.BindEnabledMask(gGameConfig->editorProfilers);
}

void Game::Quit() {
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "gGame::Quit");
    if (quitting) return;
    quitting = true;
    if (delegate) delegate->OnQuit();
}
