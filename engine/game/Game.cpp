// The Game: the game-world singleton of the main thread.
//
// One Game exists for the whole process (built by the engine's start-up table, module
// 1). Game::Init makes it run a game: it creates the multiplayer engine, the camera
// controller, the console screen, the schedulers and the store, and installs the hooks
// through which the layers below reach it (the entity issue's Game entries of
// gEngineServices, the cameras' services, the renderer's controller release and
// reconnect); Game::Close undoes all of it. Between them the main loop calls Tick once
// per pass (Game_Tick.cpp) and services the scene switches it requested
// (Game_Scene.cpp).
//
// Facets: Game_Init.cpp (start and close), Game_Activation.cpp, Game_Scene.cpp,
// Game_Console.cpp, Game_Input.cpp, Game_Tick.cpp, Game_EntityLists.cpp.
//
// Threads: main thread only.
#include "engine/game/Game.h"

#include <cstring>

#include "core/Memory.h"
#include "engine/services/EngineServices.h"
#include "engine/VornexEngine.h"
#include "engine/camera/CameraServices.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/Entity.h"
#include "engine/game/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "engine/entity/ScriptScheduler.h"
#include "render/RenderHooks.h"
#include "render/VornexRenderer.h"

Game* gGame = nullptr;

namespace {

// The cameras' view of the renderer and of the running Game.
class GameCameraServices : public CameraServices {
public:
    void SetViewport(const CameraViewport& v) override {
        gVornexRenderer.SetViewport(v.x, v.y, v.width, v.height, v.minZ, v.maxZ);
    }
    void SetCamera(const Matrix& world, const Matrix& view, const Matrix& projection) override {
        gVornexRenderer.SetCamera(view, projection, world);
    }
    void Clear(uint32_t flags, const Vector& color, float depth, uint32_t stencil) override {
        gVornexRenderer.Clear(flags, color, depth, stencil);
    }
    void PostCameraFloat(float value) override { gVornexRenderer.PostCameraFloat(value); }
    const Matrix& CurrentView() const override { return gVornexRenderer.CurrentView(); }
    const Matrix& CurrentProjection() const override { return gVornexRenderer.CurrentProjection(); }
    void GetWindowSize(uint32_t* width, uint32_t* height) const override {
        *width = gVornexRenderer.ScreenWidth();
        *height = gVornexRenderer.ScreenHeight();
    }
    int64_t SmoothGameTime() const override { return gGame->GetSmoothGameTimer().Time(); }
    int64_t SmoothGameplayTime() const override { return gGame->GetSmoothGameplayTimer().Time(); }
    int64_t EngineTime() const override { return gVornexEngine.Timer().Time(); }
    float FrameGameDelta() const override { return gGame->GetFrameGameDelta(); }
    float SmoothGameLastDelta() const override { return gGame->GetSmoothGameTimer().LastDelta(); }
    float TimeMultiplier() const override { return gGame->GetTimeMultiplier(); }
    uint32_t VariableSubStepIndex() const override { return gGame->GetVariableSubStep(); }
};

GameCameraServices gGameCameraServices;

bool RouteTouchDown(void* game, uint32_t tap, float x, float y) {
    return static_cast<Game*>(game)->RouteTouchDownToScreens(tap, x, y);
}
bool RouteTouchMove(void* game, uint32_t tap, float x, float y) {
    return static_cast<Game*>(game)->RouteTouchMoveToScreens(tap, x, y);
}
bool RouteTouchUp(void* game, uint32_t tap, float x, float y) {
    return static_cast<Game*>(game)->RouteTouchUpToScreens(tap, x, y);
}

// The scheduler that flags & 12 select, with its clock's present time.
ScriptScheduler* SelectScheduler(uint32_t selection, int64_t* now) {
    switch (selection & SCRIPTSCHEDULER_SELECTION) {
        case 4:
            *now = gGame->GetGameplayTimer().Time();
            return gGame->GetGameplayScheduler();
        case 8:
            *now = gVornexEngine.Timer().Time();
            return gVornexEngine.Scheduler();
        default:
            *now = gGame->GetGameTimer().Time();
            return gGame->GetGameScheduler();
    }
}

void InitEntityThroughDelegate(Entity* entity) {
    if (GameDelegate* d = gGame->GetDelegate())
        d->InitEntity(entity);
    else
        EntityInitBatch::InitEntity(entity);
}

}  // namespace

Game::Game() { CreateInputManager(); }

void Game::CreateInputManager() {
    delete inputManager;
    inputManager = new InputManager();
    inputManager->SetTouchRouting({&RouteTouchDown, &RouteTouchMove, &RouteTouchUp, this});
}

Game::~Game() {
    RemoveHooks();
    EngineFree(pendingCommand);
    EngineFree(pendingSceneName);
    delete cameraController;
    delete gameScheduler;
    delete gameplayScheduler;
    delete inputManager;
}

void Game::InstallHooks() {
    InstallGameEntityListHooks();
    SetCameraServices(&gGameCameraServices);
    gRenderHooks.gameControllersRelease = [] { gGame->GetInputManager()->ReleaseGameControllers(); };
    gRenderHooks.gameControllersReconnect = [] { gGame->GetInputManager()->ReconnectGameControllers(); };
    gRenderHooks.gameDelegateRenderScenePass = [](void* d) { static_cast<GameDelegate*>(d)->OnRenderScenePass(); };
    gEngineServices.scriptScheduler = &SelectScheduler;
    gEngineServices.gameInitEntity = &InitEntityThroughDelegate;
    gEngineServices.gameTickedFrame = [] { return gGame->GetTickedFrameCount(); };
    gEngineServices.gameSmoothTime = [] { return gGame->GetSmoothGameTimer().Time(); };
    gEngineServices.gameSmoothFrameDelta = [] { return gGame->GetSmoothGameTimer().LastDelta(); };
    gEngineServices.gameSmoothGameplayTime = [] { return gGame->GetSmoothGameplayTimer().Time(); };
    gEngineServices.gameGameplayPaused = [] { return gGame->IsGameplayPaused(); };
}

void Game::RemoveHooks() {
    RemoveGameEntityListHooks();
    if (&GetCameraServices() == &gGameCameraServices) SetCameraServices(nullptr);
    gRenderHooks.gameControllersRelease = nullptr;
    gRenderHooks.gameControllersReconnect = nullptr;
    gRenderHooks.gameDelegateRenderScenePass = nullptr;
    gEngineServices.scriptScheduler = nullptr;
    gEngineServices.gameInitEntity = nullptr;
    gEngineServices.gameTickedFrame = nullptr;
    gEngineServices.gameSmoothTime = nullptr;
    gEngineServices.gameSmoothFrameDelta = nullptr;
    gEngineServices.gameSmoothGameplayTime = nullptr;
    gEngineServices.gameGameplayPaused = nullptr;
}

bool Game::HasMultiplayerAuthority() const {
    return !multiplayerEngine || !gEngineServices.multiplayerHasAuthority ||
           gEngineServices.multiplayerHasAuthority(multiplayerEngine);
}

bool Game::ScreenShown(GameScreenSlot slot) const {
    return screens[slot] && gEngineServices.uiScreenIsShown && gEngineServices.uiScreenIsShown(screens[slot]);
}

void Game::UpdateScreen(GameScreenSlot slot) {
    if (screens[slot] && gEngineServices.uiScreenUpdate) gEngineServices.uiScreenUpdate(screens[slot]);
}

