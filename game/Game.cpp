// The Game: the game-world singleton of the main thread.
//
// One Game exists for the whole process (built by the engine's start-up table, module
// 1). Game::Init makes it run a game: it creates the multiplayer engine, the camera
// controller, the console screen, the schedulers and the store, and installs the seams
// through which the layers below reach it (GameServices, the cameras' services, the
// renderer's controller release and reconnect, the input manager's touch routing);
// Game::Close undoes all of it. Between them the main loop calls Tick once per pass
// (Game_Tick.cpp) and services the scene switches it requested (Game_Scene.cpp).
//
// Facets: Game_Init.cpp (start and close), Game_Activation.cpp, Game_Scene.cpp,
// Game_Console.cpp, Game_Input.cpp, Game_Tick.cpp, Game_EntityLists.cpp.
//
// Threads: main thread only.
#include "game/Game.h"

#include <cstring>

#include "core/Memory.h"
#include "engine/services/GameServices.h"
#include "engine/VornexEngine.h"
#include "engine/camera/CameraServices.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/Entity.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/script/LuaWrapper.h"
#include "engine/input/InputManager.h"
#include "engine/input/TouchRoutingServices.h"
#include "engine/entity/ScriptScheduler.h"
#include "game/GameEntityListener.h"
#include "net/MultiplayerEngine.h"
#include "render/GameRenderServices.h"
#include "render/VornexRenderer.h"
#include "ui/elements/UIScreen.h"

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

// The input manager's touches, offered to the running Game's screens.
class GameTouchRoutingServices final : public TouchRoutingServices {
public:
    bool RouteTouchDown(uint32_t tap, float x, float y) override { return gGame->RouteTouchDownToScreens(tap, x, y); }
    bool RouteTouchMove(uint32_t tap, float x, float y) override { return gGame->RouteTouchMoveToScreens(tap, x, y); }
    bool RouteTouchUp(uint32_t tap, float x, float y) override { return gGame->RouteTouchUpToScreens(tap, x, y); }
};

GameTouchRoutingServices gGameTouchRoutingServices;

// What the layers below read of the running Game.
class RunningGameServices : public GameServices {
public:
    GameTimer* GetGameTimer() override { return &gGame->GetGameTimer(); }
    GameTimer* GetGameplayTimer() override { return &gGame->GetGameplayTimer(); }
    GameTimer* GetSmoothGameTimer() override { return &gGame->GetSmoothGameTimer(); }
    GameTimer* GetSmoothGameplayTimer() override { return &gGame->GetSmoothGameplayTimer(); }
    int64_t SmoothGameTime() const override { return gGame->GetSmoothGameTimer().Time(); }
    int64_t SmoothGameplayTime() const override { return gGame->GetSmoothGameplayTimer().Time(); }
    float SmoothFrameDelta() const override { return gGame->GetSmoothGameTimer().LastDelta(); }
    bool IsGameplayPaused() const override { return gGame->IsGameplayPaused(); }
    uint32_t TickedFrameCount() const override { return gGame->GetTickedFrameCount(); }
    ScriptScheduler* SelectScheduler(uint32_t selection, int64_t* now) override {
        return gGame->SelectScheduler(selection, now);
    }

    UIScreen* GetScreen(GameScreenSlot slot) const override { return gGame->GetScreen(slot); }
    void SetScreen(GameScreenSlot slot, UIScreen* screen) override { gGame->SetScreen(slot, screen); }
    GameDelegate* GetDelegate() const override { return gGame->GetDelegate(); }
    MultiplayerEngine* GetMultiplayerEngine() const override { return gGame->GetMultiplayerEngine(); }
    int GetArgumentCount() const override { return gGame->GetArgumentCount(); }
    const char* GetArgument(int index) const override { return gGame->GetArgument(index); }

    void AddTickEntity(Entity* entity) override { gGame->AddTickEntity(entity); }
    void RemoveTickEntity(Entity* entity) override { gGame->RemoveTickEntity(entity); }
    void RegisterReplicatedEntity(Entity* entity, bool alsoReceived) override {
        gGame->RegisterTickEntity(entity, alsoReceived);
    }
    void AddMeshToAnimationList(Entity* mesh) override { gGame->AddMeshToAnimationList(mesh); }
    void RemoveMeshFromAnimationList(Entity* mesh) override { gGame->RemoveMeshFromAnimationList(mesh); }
    void AddMeshToFinishList(Entity* mesh) override { gGame->AddMeshToFinishList(mesh); }
    void RemoveMeshFromFinishList(Entity* mesh) override { gGame->RemoveMeshFromFinishList(mesh); }
    void OnReplicatedProperty(Entity* entity) override {
        if (GameDelegate* d = gGame->GetDelegate()) d->OnReplicatedProperty(entity);
    }
    bool InitEntity(Entity* entity) override {
        GameDelegate* d = gGame->GetDelegate();
        if (d) d->InitEntity(entity);
        return d != nullptr;
    }
    bool HasEntityCreationListener() const override { return gGameEntityListener != nullptr; }
    void OnEntityCreatedByListener(Entity* entity) override {
        if (gGameEntityListener) gGameEntityListener->OnEntityCreated(entity);
    }
    bool ListenerAllowsScripts() const override { return gGameEntityListener && gGameEntityListener->AllowsScripts(); }

    bool TakesDelayedEntities() const override { return true; }
    bool AddServerDelayedEntity(Entity* entity, DelayedEntityKind kind) override {
        gGame->AddServerDelayedEntity(entity, kind);
        return true;
    }
    void AddDelayedEntity(Entity* entity, uint64_t time, DelayedEntityKind kind) override {
        gGame->AddDelayedEntity(entity, time, kind);
    }
    bool IsMIDInDelayedLists(uint16_t multiplayerId) const override {
        return gGame->IsMIDInDelayedLists(multiplayerId);
    }
    void ClearDelayedEntityLists() override { gGame->ClearDelayedEntityLists(); }
};

RunningGameServices gRunningGameServices;

// What the renderer calls of the running Game: the delegate's scene hook and the game
// controllers around a device reset.
class RunningGameRenderServices final : public GameRenderServices {
public:
    void RenderScenePass(GameDelegate* delegate) override { delegate->OnRenderScenePass(); }
    void ReleaseGameControllers() override { gGame->GetInputManager()->ReleaseGameControllers(); }
    void ReconnectGameControllers() override { gGame->GetInputManager()->ReconnectGameControllers(); }
};

RunningGameRenderServices gRunningGameRenderServices;

// The script host's distribution listings, answered by the running Game's delegate.
class RunningScriptListingServices final : public ScriptListingServices {
public:
    void LoadMainScripts(const char* setName, DynarraySafe<NameString>& files) override {
        if (GameDelegate* d = gGame->GetDelegate()) d->LoadMainScripts(setName, files);
    }
    void RegisterSceneScripts(const char* sceneName, DynarraySafe<NameString>& files) override {
        if (GameDelegate* d = gGame->GetDelegate()) d->RegisterSceneScripts(sceneName, files);
    }
};

RunningScriptListingServices gRunningScriptListingServices;

}  // namespace

GameServices& GetRunningGameServices() { return gRunningGameServices; }

GameRenderServices& GetRunningGameRenderServices() { return gRunningGameRenderServices; }

Game::Game() { CreateInputManager(); }

void Game::CreateInputManager() {
    delete inputManager;
    inputManager = new InputManager();
}

Game::~Game() {
    ClearGameServices();
    EngineFree(pendingCommand);
    EngineFree(pendingSceneName);
    delete cameraController;
    delete gameScheduler;
    delete gameplayScheduler;
    delete inputManager;
}

void Game::InstallGameServices() {
    SetGameServices(&gRunningGameServices);
    SetCameraServices(&gGameCameraServices);
    SetGameRenderServices(&gRunningGameRenderServices);
    SetTouchRoutingServices(&gGameTouchRoutingServices);
    SetScriptListingServices(&gRunningScriptListingServices);
}

void Game::ClearGameServices() {
    if (&GetGameServices() == &gRunningGameServices) SetGameServices(nullptr);
    if (&GetCameraServices() == &gGameCameraServices) SetCameraServices(nullptr);
    if (&GetGameRenderServices() == &gRunningGameRenderServices) SetGameRenderServices(nullptr);
    if (&GetTouchRoutingServices() == &gGameTouchRoutingServices) SetTouchRoutingServices(nullptr);
    if (&GetScriptListingServices() == &gRunningScriptListingServices) SetScriptListingServices(nullptr);
}

ScriptScheduler* Game::SelectScheduler(uint32_t selection, int64_t* now) {
    switch (selection & SCRIPTSCHEDULER_SELECTION) {
        case 4:
            *now = gameplayTimer.Time();
            return gameplayScheduler;
        case 8:
            *now = gVornexEngine.Timer().Time();
            return gVornexEngine.Scheduler();
        default:
            *now = gameTimer.Time();
            return gameScheduler;
    }
}

bool Game::HasMultiplayerAuthority() const {
    return !multiplayerEngine || multiplayerEngine->HasAuthority();
}

bool Game::ScreenShown(GameScreenSlot slot) const {
    return screens[slot] && screens[slot]->IsVisible();
}

void Game::UpdateScreen(GameScreenSlot slot) {
    if (screens[slot]) screens[slot]->Update(screens[slot]->CursorPosition());
}

