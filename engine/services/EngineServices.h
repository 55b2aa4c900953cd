#pragma once
// The services of subsystems built above the engine (rendering, scene content, user
// interface, sound, multiplayer and online services), reached by the engine only through
// this one table of hooks. Each library fills its entries from its own start-up rows; an
// empty entry means the least behaviour, which each caller documents. Later subsystems
// extend the table by adding entries.
//
// Main thread; filled at start-up, read afterwards.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"

class BoundedReader;
class Entity;
class Player;
struct MPMethodCall;
struct MPAnimValue;
class EntityManager;
class EntityTemplate;
class InGameStore;
class NameString;
struct TriggerActivator;
class Matrix;
class MultiplayerEngine;
class SequenceActionFactory;
class SequenceSpawner;
class SequenceSystem;
class ShaderManager;
class SoundEngine;
class SoundEntriesContainer;
class EntitySoundEmitter;
struct SoundParamWrapper;
class StringReplacementContainer;
class UIElement;
class UIGameConsoleScreen;
class UIScreen;
class UITextBase;
struct Vector;
class VideoEngine;

// The engine's online-services start-up (engine/VornexEngine.cpp).
bool InitSteam();

struct EngineServices {
    // ---- Multiplayer and online services ----
    // InGameStore from the project's store definition file; deleted through
    // deleteInGameStore. Without it the delegate's store request does nothing.
    InGameStore* (*createInGameStore)(const char* definitionFile) = nullptr;
    void (*deleteInGameStore)(InGameStore* store) = nullptr;
    // InGameStore::GetItemImageFiles: appends every item's image file name.
    void (*getInGameStoreItemImageFiles)(InGameStore* store, uint32_t word, DynarraySafe<NameString>& files) = nullptr;

    // ---- Singletons published to scripts by LuaWrapper::Init (nil while a hook is empty
    // or returns null) ----
    ShaderManager* (*shaderManager)() = nullptr;                            // gShaderManager
    SoundEngine* (*soundEngine)() = nullptr;                                // gSoundEngine
    SoundEntriesContainer* (*soundEntriesContainer)() = nullptr;            // gSoundEntriesContainer
    StringReplacementContainer* (*defaultReplacementContainer)() = nullptr;  // gDefaultReplacementContainer
    SequenceSystem* (*sequenceSystem)() = nullptr;                          // gSequenceSystem
    SequenceSpawner* (*sequenceSpawner)() = nullptr;                        // gSequenceSpawner
    SequenceActionFactory* (*sequenceActionFactory)() = nullptr;            // gSequenceActionFactory
    VideoEngine* (*videoEngine)() = nullptr;                                // gVideoEngine

    // ---- User interface ----
    // UIScreen::FindTrackedEntitySlot: the slot of an element the screen tracks,
    // negative when it does not. Empty: no element is tracked.
    int32_t (*uiScreenFindTrackedEntitySlot)(UIScreen* screen, UIElement* element) = nullptr;
    // UIScreen::HitTestTrackedEntity: whether the position lies inside the tracked
    // element. Empty: nothing is hit.
    bool (*uiScreenHitTestTrackedEntity)(UIScreen* screen, int32_t slot, const Vector& position) = nullptr;
    // UITextBase::SetTextUnicharPtr (null clears the text) and UITextBase::AppendText.
    // Empty: nothing is written.
    void (*uiTextSetTextUnicharPtr)(UITextBase* text, const char16_t* characters) = nullptr;
    void (*uiTextAppendText)(UITextBase* text, const char16_t* characters) = nullptr;

    // ---- Sound ----
    // SoundEngine::SetListener: posts the listener (rows side, up, forward, position) to
    // the sound thread. Empty: no listener.
    void (*soundEngineSetListener)(const Matrix& listener) = nullptr;
    // The entity's sound methods (engine/entity/Entity_Sound.cpp). The emitter is the
    // entity's own field; the entries that may create it get it by reference with the
    // entity's global transform. Empty: PlaySound gives 0, GetSoundEmitter null, the
    // rest do nothing.
    EntitySoundEmitter* (*entityGetSoundEmitter)(EntitySoundEmitter*& emitter, const Matrix& global) = nullptr;
    uint32_t (*entityPlaySound)(EntitySoundEmitter*& emitter, const Matrix& global, const char* name,
                                const SoundParamWrapper* params) = nullptr;
    void (*entityStopSound)(EntitySoundEmitter* emitter, uint32_t id, float seconds) = nullptr;
    void (*entityExitLoop)(EntitySoundEmitter* emitter, uint32_t id) = nullptr;
    void (*entityPauseSound)(EntitySoundEmitter* emitter, uint32_t id, float seconds, int32_t channel) = nullptr;
    void (*entityResumeSound)(EntitySoundEmitter* emitter, uint32_t id, float seconds, int32_t channel) = nullptr;
    void (*entitySetSoundVolume)(EntitySoundEmitter* emitter, float target, float seconds, uint32_t curve,
                                 uint32_t id) = nullptr;
    void (*entitySetVelocityForDopplerEffect)(EntitySoundEmitter*& emitter, const Matrix& global,
                                              const Vector& velocity) = nullptr;
    void (*entitySetSoundAltitudeOverride)(EntitySoundEmitter*& emitter, const Matrix& global, float altitude) = nullptr;
    void (*entityUpdateSoundEmitter)(EntitySoundEmitter* emitter, const Matrix& global) = nullptr;
    void (*entityReleaseSoundEmitter)(EntitySoundEmitter* emitter) = nullptr;

    // ---- Entities: multiplayer engine (empty: no multiplayer engine) ----
    // MultiplayerEngine::OnEntityCreated: gives a replicated entity its id.
    void (*multiplayerOnEntityCreated)(Entity* entity) = nullptr;
    void (*multiplayerOnEntityDestroyed)(Entity* entity) = nullptr;
    void (*multiplayerOnEntityTornOff)(Entity* entity) = nullptr;
    // MultiplayerEngine::MarkEntityDirty: the entity's dirty properties go out.
    void (*multiplayerMarkEntityDirty)(Entity* entity) = nullptr;
    // MultiplayerEngine::IsMultiplayerGame and IsServer (empty: false), and
    // MultiplayerEngine::ReplicateMethodCall, which sends a method-call record to the
    // owner's peer(s) (empty: no multiplayer engine).
    bool (*multiplayerIsMultiplayerGame)() = nullptr;
    bool (*multiplayerIsServer)() = nullptr;
    void (*multiplayerReplicateMethodCall)(Player* owner, const MPMethodCall& call, bool reliable) = nullptr;
    // The entity-creation listener: its hook runs at the end of every creation; its
    // query answers whether script execution may run (empty: no listener, which forbids
    // ExecuteScript).
    void (*entityCreationListener)(Entity* entity) = nullptr;
    bool (*entityListenerAllowsScripts)() = nullptr;

    // ---- Entities: scene content (empty: nothing happens) ----
    // MeshEntity::UnmountEntity on the old mesh parent of a child mounted to its bone.
    void (*meshUnmountEntity)(Entity* meshParent, Entity* child) = nullptr;
    // The re-mount: applies the child's mount record through its new mesh parent.
    void (*meshMountEntity)(Entity* meshParent, Entity* child) = nullptr;
    // Entity::CreateTriggerTracker: the record of an entity whose template activates
    // triggers (null: none); QueueTriggerCheck after a move; DestroyTriggerTracker.
    TriggerActivator* (*createTriggerTracker)(Entity* entity) = nullptr;
    void (*queueTriggerCheck)(Entity* entity) = nullptr;
    void (*destroyTriggerTracker)(Entity* entity, TriggerActivator* record) = nullptr;
    // The mesh templates' global shader preset name (null clears it).
    void (*setMeshShaderPreset)(const char* presetName) = nullptr;

    // MeshEntity::SetAnimationReplication (false: not a mesh).
    bool (*meshSetAnimationReplication)(Entity* entity, bool enable, uint32_t animProperty, uint32_t progressProperty) = nullptr;

    // ---- Scene content: scene parameters (empty: nothing starts) ----
    // SceneParametersTemplate::StartTransition of a scene-parameter entity's template.
    void (*sceneParametersStartTransition)(EntityTemplate* t, uint32_t flags, float blendTime) = nullptr;
    // The sequence system's read of a scene's sequence property list (false: corrupt).
    // Empty: the sequences are skipped.
    bool (*sequenceSystemReadProperties)(BoundedReader& in) = nullptr;

    // ---- Game entity lists ----
    // MeshEntity::Animate (render flags) and MeshEntity::UpdateReplicatedAnimData for the
    // meshes on the Game's two mesh lists. Empty: nothing happens.
    void (*meshAnimate)(Entity* mesh, uint32_t renderFlags) = nullptr;
    void (*meshUpdateReplicatedAnimData)(Entity* mesh) = nullptr;

    // ---- The Game ----
    // What the Game calls of the subsystems above the engine. Empty entries give the
    // least behaviour: no multiplayer engine, no console, no screen, no sound, no video.
    //
    // MultiplayerEngine: made by Game::Init (its thread starts with it) and deleted by
    // Game::Close. Without one the Game acts as the authority. IsIdle: mode 0 and no
    // queued callbacks (empty: true); HasAuthority: mode 0 or 1 (empty: true).
    MultiplayerEngine* (*multiplayerCreate)() = nullptr;
    void (*multiplayerDelete)(MultiplayerEngine* engine) = nullptr;
    bool (*multiplayerIsIdle)(MultiplayerEngine* engine) = nullptr;
    bool (*multiplayerHasAuthority)(MultiplayerEngine* engine) = nullptr;
    // The end of a simulation step (game-clock time); the per-frame main-thread step;
    // the due replicated method calls.
    void (*multiplayerEndFrame)(MultiplayerEngine* engine, uint64_t time) = nullptr;
    void (*multiplayerUpdateMainThread)(MultiplayerEngine* engine) = nullptr;
    void (*multiplayerDispatchReplicatedMethodCalls)(MultiplayerEngine* engine, bool force) = nullptr;
    // ServerRequestThread start and stop; VornexAnalytics::Init and its shutdown.
    void (*serverRequestThreadStart)() = nullptr;
    void (*serverRequestThreadStop)() = nullptr;
    void (*analyticsInit)() = nullptr;
    void (*analyticsShutdown)() = nullptr;

    // SequenceSystem::StopAllSequences (clear semaphores, deferred, next sequence name);
    // SequenceSystem::Init is the engine's entry (sequenceSystemInit).
    void (*sequenceSystemStopAllSequences)(bool clearSemaphores, bool deferred, const char* next) = nullptr;
    // Trigger processing: switched on by Game::Init (entities may queue checks);
    // TriggerEntity::ProcessPendingChecks once per running game step;
    // TriggerEntity::ClearPendingChecks (switches it off again) from Game::Close.
    void (*triggerEnableChecks)() = nullptr;
    void (*triggerProcessPendingChecks)() = nullptr;
    void (*triggerClearPendingChecks)() = nullptr;

    // Sound: whether the sound engine runs (empty: false); the application's activation
    // state; SoundEngine::FadeMasterVolume (target, seconds, curve); the sound thread's
    // time-out mode (true: wait without a time-out); SoundEngine::StopSound (instance,
    // -1 all; fade seconds; flags); SoundEngine::SetChannelFrequencyRatio (channel, -1
    // all; ratio; seconds; flags). VideoEngine::Stop.
    bool (*soundEngineRunning)() = nullptr;
    void (*soundSetAppActive)(bool active) = nullptr;
    void (*soundFadeMasterVolume)(float target, float seconds, uint32_t curve) = nullptr;
    void (*soundSetTimeoutMode)(bool waitForever) = nullptr;
    void (*soundStopSound)(int32_t instance, float fadeSeconds, uint32_t flags) = nullptr;
    void (*soundSetChannelFrequencyRatio)(int32_t channel, float ratio, float seconds, uint32_t flags) = nullptr;
    void (*videoStop)() = nullptr;

    // The console screen (UIGameConsoleScreen): made by Game::Init, released by
    // Game::Close. IsShown (empty: false); OnKeyDown true when the key was consumed;
    // GetEnteredCommand copies the entered line (at most size - 1 characters and a
    // terminator) and forgets it, false when there is none; AddLine (text, colour).
    UIGameConsoleScreen* (*consoleScreenCreate)() = nullptr;
    void (*consoleScreenRelease)(UIGameConsoleScreen* console) = nullptr;
    bool (*consoleScreenIsShown)(const UIGameConsoleScreen* console) = nullptr;
    void (*consoleScreenOnChar)(UIGameConsoleScreen* console, uint32_t character) = nullptr;
    bool (*consoleScreenOnKeyDown)(UIGameConsoleScreen* console, uint32_t key) = nullptr;
    bool (*consoleScreenGetEnteredCommand)(UIGameConsoleScreen* console, char* buffer, uint32_t size) = nullptr;
    void (*consoleScreenAddLine)(UIGameConsoleScreen* console, const char* text, const Vector& colour) = nullptr;

    // UIScreen slots the Game uses. IsShown (empty: false); the cursor position the
    // screen works with; mouse and touch presses, releases and moves (position, button
    // code or tap id; true when the screen took it; empty: false); a character; the
    // per-frame update; Release when the Game drops the screen.
    bool (*uiScreenIsShown)(const UIScreen* screen) = nullptr;
    void (*uiScreenSetCursorPosition)(UIScreen* screen, const Vector& position) = nullptr;
    bool (*uiScreenOnMouseButtonDown)(UIScreen* screen, const Vector& position, uint32_t button) = nullptr;
    bool (*uiScreenOnMouseButtonUp)(UIScreen* screen, const Vector& position, uint32_t button) = nullptr;
    bool (*uiScreenOnMouseMove)(UIScreen* screen, const Vector& position, uint32_t button) = nullptr;
    void (*uiScreenOnChar)(UIScreen* screen, uint32_t character) = nullptr;
    void (*uiScreenUpdate)(UIScreen* screen) = nullptr;
    void (*uiScreenRelease)(UIScreen* screen) = nullptr;
    // The loading screen's fade flag (empty: false), and its fade out:
    // UIElement::RemoveAllActions (-1), then UIElement::ChangeColor towards transparent
    // white over 0.2 s.
    bool (*uiScreenHasFadeFlag)(const UIScreen* screen) = nullptr;
    void (*uiScreenFadeOut)(UIScreen* screen) = nullptr;
    // UITextBase::SetScreenResolution (width, height, 1, 1); UIElement::DisableUIMemoryGuard;
    // StringReplacementContainer::Clear of the default container.
    void (*uiTextSetScreenResolution)(uint32_t width, uint32_t height, uint32_t a, uint32_t b) = nullptr;
    void (*uiDisableMemoryGuard)() = nullptr;
    void (*clearDefaultReplacementContainer)() = nullptr;
    // ---- end of the Game ----

    // ---- Engine start-up and shutdown ----
    // Online-services start-up (the engine's InitSteam by default); false ends start-up.
    bool (*initSteam)() = &InitSteam;
    // VideoEngine::Init at start-up and VideoEngine::Close at shutdown. Empty: no video.
    void (*videoEngineInit)() = nullptr;
    void (*videoEngineClose)() = nullptr;
    // SoundEngine::Start (the sound thread starts and posts its initialisation), the
    // flush that waits for it, and the stop of the sound thread at shutdown.
    // SoundEntriesContainer::RemoveAllSoundEntries at shutdown. Empty: no sound.
    void (*soundEngineStart)() = nullptr;
    void (*soundEngineFlush)() = nullptr;
    void (*soundEngineStop)() = nullptr;
    void (*soundRemoveAllSoundEntries)() = nullptr;
    // SequenceSystem::Init (entity manager, enable) from the Game's start,
    // SequenceSystem::Tick from every engine update, SequenceSystem::Clear and
    // SequenceActionFactory::Clear at shutdown. Empty: no sequences.
    void (*sequenceSystemInit)(EntityManager* entityManager, bool enable) = nullptr;
    void (*sequenceSystemTick)() = nullptr;
    void (*sequenceSystemClear)() = nullptr;
    void (*sequenceActionFactoryClear)() = nullptr;
    // The StringManager: created at start-up, its compiled strings loaded from a file of
    // "Common" (false when unreadable), deleted at shutdown. Empty: no localised strings.
    void (*stringManagerCreate)() = nullptr;
    bool (*stringManagerLoadCompiledStrings)(const char* fileName) = nullptr;
    void (*stringManagerDelete)() = nullptr;
    // UIFontTable::Load of "Fonts.Config" from "Common" and the release of the UI font
    // definitions at shutdown. Empty: no font table.
    bool (*uiFontTableLoad)() = nullptr;
    void (*uiFontTableFree)() = nullptr;
    // SceneParametersTemplate::StopTransition on the project's UI scene-parameter
    // template (a template of type id 9). Empty: nothing to stop.
    void (*sceneParametersStopTransition)(EntityTemplate* t) = nullptr;
    // Release of the render-side scene list at shutdown. Empty: there is none.
    void (*releaseSceneRenderList)() = nullptr;

    // ---- Configuration helper and Game script API ----
    // What the configuration helper (gConfigHelper) and the Game's script methods call
    // of the subsystems above the engine.
    //
    // Sound: re-applies the configuration's music, SFX and voice volumes after a volume
    // setter. Empty: nothing.
    void (*soundRefreshVolumes)() = nullptr;
    // User interface: reloads the localised resources after the language changed.
    // Empty: nothing.
    void (*reloadLanguage)() = nullptr;
    // StringManager: the text of a string id in the current language (lookup with
    // language 11 and flags 1, 1), null when there is none; the current text language
    // (0..10). Empty: no text; English.
    const char16_t* (*stringManagerLookup)(const char* id) = nullptr;
    uint32_t (*stringManagerCurrentLanguage)() = nullptr;
    // Analytics records: open one for a table name, add named values, end it (which
    // hands it over for posting). Empty: nothing is recorded.
    void (*analyticsBegin)(const char* name) = nullptr;
    void (*analyticsEnd)() = nullptr;
    void (*analyticsAddInt)(const char* key, int32_t value) = nullptr;
    void (*analyticsAddFloat)(const char* key, float value) = nullptr;
    void (*analyticsAddString)(const char* key, const char* value) = nullptr;
    // Rendering: rebuilds the post-processing, shadow and outline render resources after
    // the graphics settings changed. Empty: nothing.
    void (*rebuildRenderResources)() = nullptr;
    // UIScreen: told when it enters (true) or leaves (false) a Game screen slot;
    // prepared as the loading screen (UI flag 32). Empty: nothing.
    void (*uiScreenSlotChanged)(UIScreen* screen, bool entered) = nullptr;
    void (*uiScreenPrepareLoading)(UIScreen* screen) = nullptr;
    // UIScreen point conversions for a client size: UI point to normalised screen point,
    // back, and a world position (with the camera's view and projection) to a UI point,
    // false when it lies behind the camera. Empty: false, the output untouched.
    bool (*uiScreenUIPointToScreenPoint)(const UIScreen* screen, const Vector& point, uint32_t width, uint32_t height,
                                         Vector* out) = nullptr;
    bool (*uiScreenScreenPointToUIPoint)(const UIScreen* screen, const Vector& point, uint32_t width, uint32_t height,
                                         Vector* out) = nullptr;
    bool (*uiScreenWorldPositionToUIPoint)(const UIScreen* screen, const Vector& position, uint32_t width,
                                           uint32_t height, const Matrix& view, const Matrix& projection,
                                           Vector* out) = nullptr;
    // ---- end of the configuration helper and Game script API ----
    // ---- Navigation ----
    // The "Player collision type" of a mesh entity's template (PLAYER_COLLISION_*; empty:
    // "None") and, for "Face", the mesh's main-memory vertices and triangles (false: none).
    uint32_t (*meshPlayerCollisionType)(Entity* mesh) = nullptr;
    bool (*meshCollisionData)(Entity* mesh, struct MeshCollisionData* out) = nullptr;
    // DebugPathList::SetPoints on the path display (0 points clear it). Empty: no display.
    void (*debugPathSetPoints)(const Vector* points, uint32_t count) = nullptr;

    // ---- Render frame ----
    // What Game::RenderFrame draws besides the scene. Empty entries draw nothing.
    // UIScreen: whether it blocks the scene behind it (its "SetBlocksSceneRendering"
    // flag; empty: false), and UIScreen::Render (client size, smooth game and gameplay
    // times in counter ticks, cursor position). The console screen's render.
    bool (*uiScreenBlocksSceneRendering)(const UIScreen* screen) = nullptr;
    void (*uiScreenRender)(UIScreen* screen, uint32_t width, uint32_t height, int64_t gameTime, int64_t gameplayTime,
                           const Vector& cursor) = nullptr;
    void (*consoleScreenRender)(UIGameConsoleScreen* console, uint32_t width, uint32_t height) = nullptr;
    // VideoEngine: a video plays with frames left to show (empty: false); it plays full
    // screen; the frame update, and the draw of the full-screen frame.
    bool (*videoIsPlaying)() = nullptr;
    bool (*videoIsFullScreen)() = nullptr;
    void (*videoUpdateFrame)() = nullptr;
    void (*videoDrawFrame)() = nullptr;
};

extern EngineServices gEngineServices;
