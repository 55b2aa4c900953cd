#pragma once
// Game: the game-world singleton (gGame, script class "Game"). Initialised by the program
// after the engine; owns what one running game needs on the main thread: the delegate
// pointer, the input manager, the camera controller, the UI screen slots, the pending
// scene switch, the time multiplier, the four game timers and the entity lists.
//
// The operations live in facets: Game_Init.cpp, Game_Activation.cpp, Game_Scene.cpp,
// Game_Console.cpp, Game_Input.cpp, Game_Tick.cpp, Game_EntityLists.cpp, Game_Render.cpp
// and Game_Platform.cpp.
//
// Main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/Time.h"
#include "core/config/OutlineParams.h"
#include "core/fs/FsUtil.h"
#include "core/math/Vector.h"
#include "core/rtti/SafePointer.h"
#include "engine/tween/Fade.h"
#include "engine/services/GameServices.h"
#include "engine/services/GameTimer.h"
#include "engine/input/TouchHelper.h"

struct GameFrameView;
class Entity;
class GameCameraController;
class GameDelegate;
class GameRenderServices;
class InGameStore;
class InputManager;
class MultiplayerEngine;
class ScriptScheduler;
struct SceneFileImage;
class Semaphore;
class UIGameConsoleScreen;
class UIElement;
class UIScreen;
class UITextBase;

// Scene switch flags.
enum : uint32_t {
    SWITCHSCENE_KEEP_TEMPLATES = 1,         // unused templates stay loaded
    SWITCHSCENE_DELETE_NOT_CLIENT_SIDE = 2,  // entities whose template is not loaded client side go
    SWITCHSCENE_WAIT_SEMAPHORE = 4,          // the load waits on the switch semaphore
    SWITCHSCENE_KEEP_LOADING_SCREEN = 8,     // the loading screen stays up after the load
};

// How long the loading screen's fade is given before it goes.
constexpr uint32_t kLoadingScreenFadeMs = 300;

// A delayed entity operation: run when the game clock reaches its time (0 while it waits
// on the server-delayed list).
struct DelayedEntityRecord {
    uint64_t time = 0;
    uint32_t kind = 0;  // DelayedEntityKind (engine/services/GameServices.h)
    SafePointer<Entity> entity;
};

class Game {
public:
    Game();
    ~Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    // ---- Start, close, activation, scenes, console and input ----
    // Start (Game_Init.cpp). The window is a window-layer handle; the delegate is not
    // owned and may be null. While the Game runs it answers the layers below through
    // GameServices, the camera services and GameRenderServices.
    void Init(uint32_t window, uint32_t width, uint32_t height, GameDelegate* delegate, char** argv, int argc);
    // Waits at most 10 s for the delegate to allow it, pumping the online callbacks.
    void Close();
    void Quit();
    bool IsQuitting() const { return quitting; }
    // The program's command-line arguments as Init received them (null outside them).
    int GetArgumentCount() const { return argc; }
    const char* GetArgument(int index) const { return index >= 0 && index < argc && argv ? argv[index] : nullptr; }
    bool IsInitialised() const { return initialised; }

    // Activation (Game_Activation.cpp): suspend true for a suspend/resume request,
    // false for focus loss and regain.
    void Deactivate(bool suspend);
    void Activate(bool suspend);
    bool CanSleepInBackground() const;
    void SetEvictOnDeactivation(bool evict) { evictOnDeactivation = evict; }
    bool IsDeactivated() const { return deactivated; }
    bool IsSuspended() const { return suspended; }
    bool AreResourcesEvicted() const { return resourcesEvicted; }
    static bool IsStandaloneBuild() { return true; }

    // Scenes and the loading screen (Game_Scene.cpp). A refused switch leaves nothing
    // pending; one requested while a scene loads stays pending for the next tick. The
    // semaphore (not owned) must outlive the load.
    void SwitchScene(const char* name, uint32_t flags, Semaphore* semaphore);
    bool IsLastSwitchedSceneEqual(const char* name) const;
    bool IsSwitchPending() const { return switchPending; }
    const char* PendingSceneName() const { return pendingSceneName; }
    uint32_t GetSwitchFlags() const { return switchFlags; }
    void LoadPendingScene();
    // Whether the last scene load asked for a scene it could not load (missing, empty,
    // cut short or corrupt; logged).
    bool LastSceneLoadFailed() const { return sceneLoadFailed; }
    void SetTimeMultiplier(float value, float seconds);
    float GetTimeMultiplier() const { return timeMultiplier; }
    void ShowLoadingScreen();
    void TurnLoadingScreenOff();
    bool IsLoadingScreenActive() const;

    // Console and key binds (Game_Console.cpp).
    bool OnKeyDown(uint32_t key);
    void OnChar(uint32_t character);
    void ProcessConsoleCommands();
    void OnLogMessage(uint32_t severity, uint32_t category, const char* text);
    void AppendGameConsoleLine(const char* text);
    void BindKey(uint32_t key, const char* command);
    void RemoveAllKeyBinds();
    bool IsGameConsoleActive() const;
    void SetConsoleLevel(uint32_t level) { consoleLevel = level; }

    // Input and display (Game_Input.cpp).
    void UpdateInput(bool focused);
    bool RouteMouseToScreen(UIScreen* screen);
    bool RouteTouchDownToScreens(uint32_t tap, float x, float y);
    bool RouteTouchMoveToScreens(uint32_t tap, float x, float y);
    bool RouteTouchUpToScreens(uint32_t tap, float x, float y);
    void RequestScreenResoultionChange(uint32_t width, uint32_t height);
    // False while quitting or without a request.
    bool GetPendingResolution(uint32_t* width, uint32_t* height) const;
    void ClearPendingResolution() { pendingWidth = pendingHeight = 0; }
    void OnResolutionChanged(uint32_t width, uint32_t height, bool skipNotify);
    void RequestFullScreen(bool fullScreen);
    // Takes and clears the request; false when there is none.
    bool TakeFullScreenRequest(bool* fullScreen);
    // Calls the delegate's OnDisplayReset. Tick calls it once for any number of device
    // creations and resets the renderer finished since the last Tick that saw one.
    void NotifyDelegateDisplayReset();
    void RevertToDefaultOutlineParams();
    void SetOutlineMaskStr(const char* hex);
    const OutlineParams& GetOutlineParams() const { return outlineParams; }
    uint32_t GetOutlineMask() const { return outlineMask; }

    // The UI screen slots (not owned: the UI layer empties a slot before the screen it
    // placed there dies; Close releases what is left).
    void SetScreen(GameScreenSlot slot, UIScreen* screen) { screens[slot] = screen; }
    UIScreen* GetScreen(GameScreenSlot slot) const { return screens[slot]; }
    void SetLoadingScreenSetting(uint8_t setting) { loadingScreenSetting = setting; }

    InputManager* GetInputManager() const { return inputManager; }
    GameCameraController* GetCameraController() const { return cameraController; }
    GameDelegate* GetDelegate() const { return delegate; }
    MultiplayerEngine* GetMultiplayerEngine() const { return multiplayerEngine; }
    // What Init makes the multiplayer engine with and Close deletes it with. The default
    // is the multiplayer layer's own (CreateMultiplayerEngine, DeleteMultiplayerEngine); a
    // program that drives its own engine installs another pair, and null restores the
    // default. A create that returns null leaves the Game without an engine.
    struct MultiplayerEngineFactory {
        MultiplayerEngine* (*create)();
        void (*destroy)(MultiplayerEngine* engine);
    };
    static void SetMultiplayerEngineFactory(const MultiplayerEngineFactory* factory);
    // No multiplayer engine, or one that has the authority.
    bool HasMultiplayerAuthority() const;
    uint32_t GetClientWidth() const { return clientWidth; }
    uint32_t GetClientHeight() const { return clientHeight; }

    // ---- Tick ----
    // Game_Tick.cpp: once per main-loop pass, told whether the window has focus.
    void Tick(bool focused);
    bool IsPaused() const { return gameTimer.IsPaused(); }
    bool IsGameplayPaused() const { return gameplayTimer.IsPaused(); }
    // The clock offset is (high << 32 | low) game-clock units.
    void MultiplayerStep(uint32_t steps, uint32_t offsetLow, uint32_t offsetHigh);

    GameTimer& GetGameTimer() { return gameTimer; }
    GameTimer& GetGameplayTimer() { return gameplayTimer; }
    GameTimer& GetSmoothGameTimer() { return smoothGameTimer; }
    GameTimer& GetSmoothGameplayTimer() { return smoothGameplayTimer; }
    ScriptScheduler* GetGameScheduler() const { return gameScheduler; }
    ScriptScheduler* GetGameplayScheduler() const { return gameplayScheduler; }
    float GetFrameDelta() const { return frameDelta; }
    float GetFrameGameDelta() const { return frameGameDelta; }
    uint32_t GetTickedFrameCount() const { return tickedFrames; }
    uint32_t GetFixedStepCount() const { return fixedSteps; }
    uint32_t GetFrameCount() const { return frameCount; }
    uint32_t GetVariableSubStep() const { return variableSubStep; }
    uint32_t GetLastStepCount() const { return lastStepCount; }
    bool IsFixedStepFrame() const { return lastFixedMode; }
    int64_t GetLastFrameStamp() const { return lastFrameStamp; }
    int64_t GetFixedStepStamp() const { return fixedStepStamp; }
    uint64_t GetLastMultiplayerStepTime() const { return lastMultiplayerStep; }
    uint64_t GetReplicationTime() const { return replicationTime; }
    bool IsFocused() const { return focused; }

    // ---- Entity lists and delayed operations (Game_EntityLists.cpp) ----
    // Every list holds weak references; a walk skips emptied ones and then compacts the
    // list in order. Removal empties the reference in place, so it is safe while a list is
    // being walked.
    void AddTickEntity(Entity* entity);  // no duplicates
    void RemoveTickEntity(Entity* entity);
    void TickEntities();        // "OnTick"
    void TickEntitiesSmooth();  // "OnSmoothTick"
    // Replicated-property upkeep; with alsoReceived (and authority) also the list of
    // entities whose received changes the next multiplayer step applies.
    void RegisterTickEntity(Entity* entity, bool alsoReceived);
    void UpdateEntityLists();
    void ApplyReplicationChanges(uint64_t time, uint64_t previousTime);
    void AddServerDelayedEntity(Entity* entity, uint32_t kind);
    void FlushServerDelayedEntities(uint64_t time);
    void AddDelayedEntity(Entity* entity, uint64_t time, uint32_t kind);
    // Runs the due records (all with flushAll). They are taken out of the list before
    // the first one runs, so records that handlers add wait for the next call.
    void TickDelayed(bool flushAll);
    void TearOffEntity(Entity* entity);
    bool IsMIDInDelayedLists(uint16_t multiplayerId) const;
    void ClearDelayedEntityLists();
    void AddMeshToAnimationList(Entity* mesh);  // no duplicates
    void RemoveMeshFromAnimationList(Entity* mesh);
    void StepMeshAnimations();
    void AddMeshToFinishList(Entity* mesh);  // no duplicates
    void RemoveMeshFromFinishList(Entity* mesh);
    void FinishMeshAnimations();
    void InitEntities();

    // ---- Script API (Game_Script.cpp) ----
    // Whether this program is a shipping build (no debug checks compiled in).
    static bool IsFinalBuild();
    // The window neither lost its focus nor was suspended.
    bool IsActive() const { return !deactivated && !suspended; }
    void SetOutlineParams(const OutlineParams& params) { outlineParams = params; }
    void SetOutlineMask(uint32_t mask) { outlineMask = mask; }
    // Pause requests (GameTimer::Pause) of the game and smooth game timers, of the
    // gameplay and smooth gameplay timers; DisablePause reaches all four.
    void Pause(bool pause);
    void PauseGameplay(bool pause);
    void DisablePause(bool disable);
    // The timers' reads: times, last deltas (seconds) and frame counts.
    Time GetGameTime() const { return gameTimer.GetGameTime(); }
    Time GetSmoothGameTime() const { return smoothGameTimer.GetGameTime(); }
    Time GetGameplayTime() const { return gameplayTimer.GetGameTime(); }
    Time GetSmoothGameplayTime() const { return smoothGameplayTimer.GetGameTime(); }
    float GetElapsedGameTime() const { return gameTimer.GetElapsedGameTime(); }
    float GetSmoothElapsedGameTime() const { return smoothGameTimer.GetElapsedGameTime(); }
    float GetElapsedGameplayTime() const { return gameplayTimer.GetElapsedGameTime(); }
    float GetSmoothElapsedGameplayTime() const { return smoothGameplayTimer.GetElapsedGameTime(); }
    uint32_t GetNonPausedGameFrame() const { return gameTimer.GetNonPausedFrame(); }
    uint32_t GetNonPausedGameplayFrame() const { return gameplayTimer.GetNonPausedFrame(); }
    uint32_t GetCurrentFrame() const { return gameTimer.GetCurrentFrame(); }
    // The frames the tick counted (skipped ones included).
    uint32_t GetBigFrameIndex() const { return frameCount; }
    // GameTimer::ResetTime of one timer.
    void ResetGameTime(const Time& time) { gameTimer.ResetTime(time.ticks); }
    void ResetSmoothGameTime(const Time& time) { smoothGameTimer.ResetTime(time.ticks); }
    void ResetGameplayTime(const Time& time) { gameplayTimer.ResetTime(time.ticks); }
    void ResetSmoothGameplayTime(const Time& time) { smoothGameplayTimer.ResetTime(time.ticks); }
    // The scene running now is no gameplay scene (a menu); the next switch clears it.
    void MarkCurrentSceneAsNonGameplay() { currentSceneNonGameplay = true; }
    bool IsCurrentSceneNonGameplay() const { return currentSceneNonGameplay; }
    bool IsHardwareCursorEnabled() const { return hardwareCursorShown; }
    // Client width / client height; 1 while the height is 0.
    float GetScreenAspect() const;
    void EnableMouseTapEmulation(bool enable);
    // The console screen from scripts: shown flag and lines; nothing without a console.
    void ToggleConsole();
    void ShowConsole(bool show);
    void ClearConsole();
    // The user pause: a change pauses (or resumes) all four timers once each.
    void SetUserPause(bool pause);
    bool IsUserPaused() const { return userPaused; }
    // Queues the eviction of the temporary loading-screen resources (flag 256).
    void EvictTemporaryLoadingScreenResources();
    // A Lua text run after delay seconds on the clock flags & 12 select: 4 gameplay, 8
    // engine, otherwise game time.
    void ScheduleScriptCall(const char* text, float delay, uint32_t flags);
    // The scheduler of the clock flags & 12 select (null when it does not exist) and that
    // clock's time through now.
    ScriptScheduler* SelectScheduler(uint32_t flags, int64_t* now);
    // Removes the text's calls from the engine and game-time schedulers; the
    // gameplay-time scheduler keeps its own.
    void DeleteScriptCalls(const char* text);
    // Seconds.
    static float GetMouseDoubleClickTime();
    // False while the project disables game controllers.
    bool IsXControllerPresent(uint32_t index) const;
    bool IsXControllerKeyPressed(uint32_t key, uint32_t index) const;
    // Replace the screen of the slot, telling the old screen it left and the new one it
    // entered.
    void SetActiveUIScreen(UIScreen* screen);
    void SetPreFSEUIScreen(UIScreen* screen);
    // Keeps the setting, makes the screen the loading screen and prepares it; shown at
    // once when asked. The flag has no effect.
    void SetLoadingUIScreen(UIScreen* screen, bool show, bool flag, uint8_t setting);
    // The scripts' form: not shown, setting 0.
    void SetLoadingUIScreen(UIScreen* screen) { SetLoadingUIScreen(screen, false, false, 0); }
    UIScreen* GetActiveUIScreen() const { return screens[GAMESCREEN_ACTIVE]; }
    UIScreen* GetPreFSEUIScreen() const { return screens[GAMESCREEN_PRE_FSE]; }
    // Through the active screen with the client size; false without one. The point and
    // ray results below may be null (nothing is written; false where a bool answers).
    bool UIPointToScreenPoint(const Vector& uiPoint, Vector* screenPoint) const;
    bool ScreenPointToUIPoint(const Vector& screenPoint, Vector* uiPoint) const;
    bool WorldPositionToUIPoint(const Vector& position, Vector* uiPoint) const;
    // The camera's ray through a normalised screen point: origin (w 1) and unit
    // direction (w 0); without a camera controller (0, 0, 0, 1) and (0, 0, 1, 0).
    void ScreenPointToWorld(const Vector& point, Vector* origin, Vector* direction) const;
    // Where that ray meets the plane (a, b, c, d: ax + by + cz + d = 0) ahead of its
    // origin; false (result untouched) when it does not.
    bool LoadScreenPointProjectedOnWorldPlane(const Vector& point, const Vector& plane, Vector* result) const;
    // Plain forwards to the input manager for scripts (mouse buttons by their input
    // codes); engine code calls the input manager itself.
    bool IsKeyPressed(uint32_t key) const;
    bool IsKeyPressedForTheFirstTime(uint32_t key) const;
    const Vector& GetCursorPosition() const;
    bool IsCursorOnGameWindow() const;
    float GetMouseWheel() const;
    Vector GetXControllerAnalogInput(uint32_t index) const;
    float GetXControllerLeftTriggerInput(uint32_t index) const;
    float GetXControllerRightTriggerInput(uint32_t index) const;
    bool IsXControllerKeyPressedForTheFirstTime(uint32_t key, uint32_t index) const;
    void EnableControllerInput(bool enable, uint32_t index);
    bool IsDIControllerPresent() const;
    void AppendDIDeviceName(UITextBase* text, bool clear) const;
    void AppendDIKeyName(UITextBase* text, uint32_t button, bool clear) const;
    Vector GetDIControllerAnalogInput() const;
    bool IsMouseButtonPressed(uint32_t button) const;
    bool IsMouseButtonPressedForTheFirstTime(uint32_t button) const;
    bool IsMouseButtonReleasedForTheFirstTime(uint32_t button) const;
    uint32_t GetNewTap();
    uint32_t GetNewTapForUIElement(UIScreen* screen, UIElement* element);
    bool IsTapWithinUIElement(uint32_t tap, UIScreen* screen, UIElement* element) const;
    uint32_t GetNextReleasedTap();
    bool IsTapStillActive(uint32_t tap) const;
    bool GetTapPosition(uint32_t tap, Vector* position) const;
    void CancelTapAsClick(uint32_t tap);
    void MarkTapRetrieved(uint32_t tap);

    // ---- Render frame and platform helpers ----
    // Game_Render.cpp: posts the frame's commands to the renderer; false when the
    // renderer reports a lost device (the caller resets it).
    bool RenderFrame();
    // Switches read by the frame: block-rendering mask (bit 1 suppresses the shadow
    // pass), extra full-screen-effect flags, and the FSE, FXAA and SSAO options (all on
    // after construction).
    void SetBlockRenderingMask(uint32_t mask) { blockRenderingMask = mask; }
    uint32_t GetBlockRenderingMask() const { return blockRenderingMask; }
    void SetExtraFSEFlags(uint32_t flags) { extraFSEFlags = flags; }
    void ToggleFSE() { fseEnabled = !fseEnabled; }
    void ToggleFXAA() { fxaaEnabled = !fxaaEnabled; }
    void ToggleSSAO() { ssaoEnabled = !ssaoEnabled; }
    // The post-process command's mode bits: the extra flags, | 4 with FXAA, | 1 with FSE.
    uint32_t PostProcessModeBits() const;

    // Game_Platform.cpp. Touch through the optional touch helper: InitTouch from Init;
    // OnTouch for each touch message (count contacts behind the handle), false when the
    // helper cannot read touches (the message then goes to the default procedure).
    void InitTouch();
    bool OnTouch(uint32_t count, wnd::TouchHandle handle);
    // The device lighting: InitEnvLight tries the library once and resets the device;
    // SetEnvLight colours every location (red, green, blue, brightness in 0 to 1).
    void InitEnvLight();
    void SetEnvLight(const Vector& colour);
    void DeinitEnvLight();
    // The hardware cursor from a 32 x 32 TGA of mount "Textures" with its hotspot; a
    // null or empty name removes it. A file that fails to load or has the wrong format
    // leaves no hardware cursor.
    void SetHardwareCursor(const char* name, int32_t hotspotX, int32_t hotspotY);
    // Only on a change of the shown state; showing with centre puts the cursor in the
    // middle of the client area.
    void EnableHardwareCursor(bool show, bool centre);
    // Builds the stored cursor again (window activation).
    void RefreshHardwareCursor();
    wnd::CursorHandle GetHardwareCursor() const { return hardwareCursor; }
    // While the window is unfocused: a beep and a flash, or a restore.
    void FlashWindow();
    void RestoreWindow();
    // The normalised point (clamped to 0 to 1) becomes the cursor position.
    void SetCursorPosition(const Vector& point);
    uint32_t GetWindow() const { return window; }

private:
    // ---- Fields of start, close, activation, scenes, console and input ----
    void CreateInputManager();
    void InstallGameServices();
    void ClearGameServices();
    // The loading screen's fade (when its flag is set) and the pause that lets it run.
    void FadeOutLoadingScreen();
    // Starts the loading screen's fade when it asks for one (its actions stop and it turns
    // transparent white over 0.2 s); false when it does not fade.
    bool StartLoadingScreenFade();
    void CloseLoadingScreen();
    // The steps of LoadPendingScene (Game_Scene.cpp), in order.
    struct SceneLoad;
    void BeginSceneSwitch(const SceneLoad& load);
    void ClearForNewScene(const SceneLoad& load);
    void ReadSceneFiles(const SceneLoad& load, SceneFileImage* image);
    bool BuildScene(const SceneLoad& load, SceneFileImage* image);
    void StartSceneEntities(const SceneLoad& load);
    bool HoldForSemaphore(const SceneLoad& load);
    void PresentScene(bool closeLoadingScreen);
    void FinishSceneSwitch(const SceneLoad& load);
    void ReloadEvictedResources();
    void RunConsoleLine(char* line, uint32_t size);
    void UpdateScreen(GameScreenSlot slot);
    bool ScreenShown(GameScreenSlot slot) const;
    void ResetFrameStamps();
    // The close's pieces (Game_Init.cpp): steps 2, 3-6 (returns the closed window), 7-9, 10.
    void WaitUntilDelegateCanClose();
    uint32_t StopGameplayForClose();
    void ReleaseSessionForClose();
    void ReleaseGameObjects();
    // The render frame's pieces (Game_Render.cpp): steps 4-7 and the scene's submission.
    void DrawFrameContent(uint32_t width, uint32_t height);
    void SubmitScene(const GameFrameView& view);
    // The tick's pieces (Game_Tick.cpp). The steps one frame owes: fixed steps of the game
    // clock; variable steps (whole steps of the frame's game delta, plus the remainder as a
    // last step when it is large enough).
    struct TickSteps {
        uint32_t fixed = 0;
        uint32_t whole = 0;
        uint32_t variable = 0;
        float remainder = 0.0f;
        float gameDelta = 0.0f;  // seconds of game time this frame
    };
    bool TickInBackground();
    void MeasureFrameDelta();
    TickSteps PlanSteps(float factor);
    void RunFixedSteps(const TickSteps& steps);
    void RunVariableSteps(const TickSteps& steps);
    void EngineUpdate();
    void GameStep();
    void FrameUpkeep();
    void CheckCursorCounter(int32_t counter, int32_t expected);

    bool initialised = false;
    bool hardwareCursorShown = true;
    bool suspended = false;
    bool deactivated = false;
    bool resourcesEvicted = false;
    bool quitting = false;
    InputManager* inputManager = nullptr;
    GameCameraController* cameraController = nullptr;
    uint32_t clientWidth = 0, clientHeight = 0;
    UIScreen* screens[GAMESCREEN_COUNT] = {};
    uint8_t loadingScreenSetting = 0;
    UIGameConsoleScreen* console = nullptr;
    uint32_t consoleLevel = 0;
    char* pendingCommand = nullptr;
    char* pendingSceneName = nullptr;
    uint32_t switchFlags = 0;
    bool switchPending = false;
    uint32_t switchRequests = 0;  // accepted requests, so a load sees one made meanwhile
    Semaphore* switchSemaphore = nullptr;
    uint32_t window = 0;
    uint32_t pendingWidth = 0, pendingHeight = 0;
    bool fullScreenRequested = false, fullScreenRequest = false;
    OutlineParams outlineParams;
    uint32_t outlineMask = 0;
    uint32_t blockRenderingMask = 0;
    GameDelegate* delegate = nullptr;
    uint32_t seenDisplayResets = 0;  // the renderer's DisplayResets the delegate heard of
    char** argv = nullptr;
    int argc = 0;
    bool sceneLoadedOnce = false;
    bool sceneLoadFailed = false;
    bool firstSceneEventSent = false;
    bool evictOnDeactivation = false;
    bool serverRequestThreadStarted = false;
    MultiplayerEngine* multiplayerEngine = nullptr;
    InGameStore* store = nullptr;
    // Mouse routing: the cursor position each button last reported, and the touch moves.
    Vector buttonPositions[6];
    Vector lastTapPosition;
    bool tapMoved = false;

    // ---- Fields of the render frame and platform helpers ----
    uint32_t extraFSEFlags = 0;
    bool fseEnabled = true, fxaaEnabled = true, ssaoEnabled = true;
    TouchHelper touchHelper;
    wnd::CursorHandle hardwareCursor = 0;
    char hardwareCursorName[1025] = {};
    int32_t hardwareCursorX = 0, hardwareCursorY = 0;

    // ---- Fields of the tick ----
    float frameDeltas[4] = {};  // oldest first
    int64_t lastFrameStamp = 0;
    int64_t fixedStepStamp = 0;
    FloatFade timeMultiplierFade;
    float timeMultiplier = 1.0f;
    float frameDelta = 0.0f;
    float frameGameDelta = 0.0f;
    uint32_t tickedFrames = 0;
    uint32_t fixedSteps = 0;
    uint32_t frameCount = 0;
    uint32_t variableSubStep = 0;
    uint32_t lastStepCount = 0;
    bool lastFixedMode = false;
    GameTimer gameTimer, gameplayTimer, smoothGameTimer, smoothGameplayTimer;
    ScriptScheduler* gameScheduler = nullptr;
    ScriptScheduler* gameplayScheduler = nullptr;
    uint64_t lastMultiplayerStep = 0;
    uint64_t replicationTime = 0;
    bool focused = false;

    // ---- Entity lists (Game_EntityLists.cpp) ----
    DynarraySafe<SafePointer<Entity>> tickEntities;
    DynarraySafe<SafePointer<Entity>> replicatedEntities;
    DynarraySafe<SafePointer<Entity>> receivedChangeEntities;
    DynarraySafe<DelayedEntityRecord> serverDelayedEntities;
    DynarraySafe<DelayedEntityRecord> delayedEntities;
    DynarraySafe<SafePointer<Entity>> animatedMeshes;
    DynarraySafe<SafePointer<Entity>> meshFinishList;
    // The due records a TickDelayed call runs, innermost call first (tear-off reaches them).
    struct DelayedBatch {
        DynarraySafe<DelayedEntityRecord> records;
        DelayedBatch* outer = nullptr;
    };
    DelayedBatch* runningDelayed = nullptr;
    void RunDelayedRecord(DelayedEntityRecord& record, uint64_t now);
    // The entity-list tests set the delegate, switch flags and multiplayer engine read here.
    friend struct GameEntityListsTestAccess;

    // ---- Script API, private part (Game_Script.cpp) ----
    void ReplaceScreen(GameScreenSlot slot, UIScreen* screen);
    bool userPaused = false;
    bool currentSceneNonGameplay = false;
};

// The Game's answers to the layers below (GameServices and GameRenderServices forwarding
// to gGame), which Init installs and Close removes.
GameServices& GetRunningGameServices();
GameRenderServices& GetRunningGameRenderServices();

extern Game* gGame;
