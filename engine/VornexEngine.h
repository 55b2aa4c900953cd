#pragma once
// VornexEngine (global gVornexEngine, script global of the same name): the process-wide
// engine object. Init brings every engine service up in one fixed order when the main
// window exists; Shutdown takes them down in the reverse order and tolerates services
// that never started or were already stopped, so it may run after a failed Init and a
// second time after a failed window set-up. Between them the Game tick calls Update once
// per tick pass (or per variable sub-step), and an unfocused main loop calls Idle.
//
// The engine owns its frame timer (real time, advanced only by the Game tick) and the
// engine-level script scheduler run against that timer. The project configuration is
// the process-wide gProjectConfig, read by Init from "Project.ConfigBin".
//
// Start-up order (workers in brackets): core, banner, online services, [physical file
// reader], user folders, saved and optimal settings, data but "textures", project
// configuration, [renderer and presenter], "textures", [ResourceManager], script host,
// scratch allocator, templates, engine scheduler, shader definitions, post-processing
// shaders, video, render-side scene state, [sound], entity manager, profiler, frame
// timer, system font, strings and font table, pool parameter, UI scene parameters.
//
// Threads: main thread only (Init records it).
#include <cstdint>

#include "core/Dynarray.h"
#include "engine/services/FrameTimer.h"
#include "platform/os/Thread.h"

class GameConfig;
class ProjectConfig;
class Resource;
class ScriptScheduler;

// An object the engine deletes (through its virtual destructor) at shutdown.
class VornexEngineOwnedObject {
public:
    virtual ~VornexEngineOwnedObject() = default;
};

// The mount masks of VornexEngine::MountData: bit i mounts data kind i.
enum : uint32_t {
    kDataKindAnimations = 0,
    kDataKindCommon = 1,
    kDataKindScenes = 2,
    kDataKindSounds = 3,
    kDataKindTemplates = 4,
    kDataKindVoices = 5,
    kDataKindVideos = 6,
    kDataKindTextures = 7,
    kDataKindCount = 8,
    kMountAllButTextures = ~(1u << kDataKindTextures),
    kMountTextures = 1u << kDataKindTextures,
};

// The hash seed of the engine's container sets and the number of their one extra file.
constexpr uint32_t kContainerHashSeed = 0x5BD1E995u;
constexpr uint32_t kContainerExtraFiles = 1;

class VornexEngine {
public:
    VornexEngine();
    ~VornexEngine();
    VornexEngine(const VornexEngine&) = delete;
    VornexEngine& operator=(const VornexEngine&) = delete;

    // Brings the engine up on the window (a window-layer handle) for the title, with the
    // game configuration (kept, not owned). runStartupScripts opens the script host. On
    // any failure: sleeps 1 s, pumps the online callbacks, shuts down and returns false.
    bool Init(uint32_t window, const char* title, GameConfig* configuration, bool runStartupScripts);
    void Shutdown();

    // The engine's share of a Game tick pass: frame parameters to the renderer (engine
    // timer and the two smooth timers with their deltas in seconds), the scratch
    // allocator's next frame, one console line, the engine scheduler, one collector step,
    // the sequence system tick and the online callbacks.
    void Update(int64_t smoothGameTime, float smoothGameDelta, int64_t smoothGameplayTime, float smoothGameplayDelta,
                uint32_t flags);
    // Sleeps, then pumps the online callbacks (unfocused main loop).
    void Idle(uint32_t milliseconds);

    // Saves the game configuration to "config.bin" in "project"; false when it did not
    // reach its place (or there is no configuration).
    bool SaveConfig();
    // Hands the URL to the desktop's opener without waiting; false only for a null URL.
    bool ActivateExternalBrowser(const char* url);

    // Start-up pieces, public so that tests reach each one.
    // Loads the saved configuration, then applies and deletes "OptimalSettings.cfg" from
    // "locals" (saving the configuration); returns whether the saved one was loaded.
    bool ReadOptimalSettings();
    // Mounts the data kinds whose bits are set (bits 8-10 ignored) as folders or
    // container sets; false when a needed mount failed (the others are still mounted).
    bool MountData(uint32_t mask);
    // "user" and "project" (created with its parents); false when either failed.
    bool MountUserFolders();
    void LogBanner();
    // Hook of the online services' warnings.
    static void OnSteamWarning(int severity, const char* text);

    bool IsInitialized() const { return initialized; }
    // Why the last Init failed, as one line a user can act on ("" when it did not fail or
    // gave no reason): the program says it even when no log is attached.
    const char* StartFailure() const { return startFailure; }
    GameConfig* Configuration() const { return configuration; }
    // The configuration the start-up pieces use when called on their own (Init sets it).
    void SetConfiguration(GameConfig* c) { configuration = c; }
    ProjectConfig& GetProjectConfig() const;
    const char* Title() const { return title ? title : ""; }
    os::ThreadId MainThreadId() const { return mainThreadId; }
    FrameTimer& Timer() { return frameTimer; }
    const FrameTimer& Timer() const { return frameTimer; }
    // Null before Init's scheduler step and after Shutdown.
    ScriptScheduler* Scheduler() const { return scheduler; }
    Resource* SystemFont() const { return systemFont; }

    // Takes ownership: deleted at shutdown.
    void AddOwnedObject(VornexEngineOwnedObject* object);

private:
    bool RunInit(uint32_t window, const char* title, bool runStartupScripts);
    // RunInit's stages (VornexEngine_Init.cpp): steps 1-8, 9-10, 11-19 and 20-27.
    bool StartCore(const char* titleText, bool* savedConfigLoaded);
    bool LoadProjectData();
    bool StartRenderingAndLoading(uint32_t window, bool runStartupScripts, bool savedConfigLoaded);
    void InitWorldAndText();
    bool MountDataFolders(const char* dataDirectory, uint32_t mask);
    bool MountDataContainers(const char* dataDirectory, uint32_t mask);
    // The data directory from "Repository path" (empty: executable folder; relative:
    // joined to it and normalised).
    bool DataDirectory(char* buffer, uint32_t size) const;
    // A renderer flush with wait, only while the renderer thread runs.
    static void FlushRenderer();
    // Keeps the first reason of a failing start-up; later ones are dropped.
    void NoteStartFailure(const char* format, ...) __attribute__((format(printf, 2, 3)));

    Dynarray<VornexEngineOwnedObject*> ownedObjects;
    GameConfig* configuration = nullptr;
    char* title = nullptr;
    os::ThreadId mainThreadId = 0;
    ScriptScheduler* scheduler = nullptr;
    bool initialized = false;
    Resource* systemFont = nullptr;
    FrameTimer frameTimer;
    // The physical file reader was started by this engine (Shutdown stops it).
    bool fileReaderStarted = false;
    bool stringsCreated = false;
    // Init ran since the last Shutdown: a second Shutdown finds nothing to do.
    bool shutdownPending = false;
    char startFailure[512] = {};
    // The first data kind that did not mount in the last MountData (its file or folder).
    char mountFailure[512] = {};
};

extern VornexEngine& gVornexEngine;
// The engine object's static storage is built and destroyed by the ordered start-up.
void CreateGlobalVornexEngine();
void DestroyGlobalVornexEngine();

// The name of the system font (a font resource, kind 2) the engine keeps loaded.
constexpr const char* kSystemFontName = "_system.ttf~020";

// Online-services start-up during engine start-up (what MultiplayerServices calls):
// offline with local data when no broker is configured; false ends start-up.
bool InitSteam();
