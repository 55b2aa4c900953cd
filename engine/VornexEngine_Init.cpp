// Engine start-up: every service in its fixed order, and the failure path.
#include <cstdarg>
#include <cstdio>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "core/fs/FsUtil.h"
#include "core/fs/PhysicalFileReader.h"
#include "core/math/BoundingBox4.h"
#include "core/profiler/Profiler.h"
#include "engine/services/EngineCore.h"
#include "engine/services/MultiplayerServices.h"
#include "engine/services/SceneContentServices.h"
#include "engine/services/SoundServices.h"
#include "engine/services/UIServices.h"
#include "engine/VornexEngine.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/script/LuaWrapper.h"
#include "engine/entity/ScriptScheduler.h"
#include "platform/online/Online.h"
#include "platform/os/Thread.h"
#include "render/VornexRenderer.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/scene/RendererScene.h"
#include "render/shaders/ShaderManager.h"

namespace {

// The compiled strings and the template type of scene-parameter templates.
constexpr const char* kCompiledStringsFile = "L01n.bin";
constexpr uint32_t kSceneParametersTemplateType = 9;
// The vertical extent of the entity manager's world box.
constexpr float kWorldBottom = -25.0f;
constexpr float kWorldTop = 200.0f;
// How long a failed start-up waits before shutting down.
constexpr uint32_t kFailureSleepMs = 1000;

}  // namespace

bool VornexEngine::Init(uint32_t window, const char* titleText, GameConfig* gameConfiguration,
                        bool runStartupScripts) {
    configuration = gameConfiguration;
    shutdownPending = true;
    startFailure[0] = 0;
    if (RunInit(window, titleText, runStartupScripts)) return true;
    // Said here, before the shutdown destroys a log sink handed to the engine, so the
    // log of a program that ends for it says why.
    gLog.Error(LogCategory::Engine, "VornexEngine start-up failed: the engine shuts down");
    os::Sleep(kFailureSleepMs);
    SteamAPI_RunCallbacks();
    Shutdown();
    return false;
}

void VornexEngine::NoteStartFailure(const char* format, ...) {
    if (startFailure[0]) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(startFailure, sizeof startFailure, format, args);
    va_end(args);
}

bool VornexEngine::RunInit(uint32_t window, const char* titleText, bool runStartupScripts) {
    bool savedConfigLoaded = false;
    if (!StartCore(titleText, &savedConfigLoaded)) return false;
    if (!LoadProjectData()) return false;
    if (!StartRenderingAndLoading(window, runStartupScripts, savedConfigLoaded)) return false;
    InitWorldAndText();
    // The engine is up.
    initialized = true;
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Engine successfully initialized");
    return true;
}

bool VornexEngine::StartCore(const char* titleText, bool* savedConfigLoaded) {
    // 1. A title names the project's user folder.
    if (!titleText || !titleText[0]) {
        NoteStartFailure("the program has no window title");
        return false;
    }
    // 2. The single-precision and COM set-up of the original platform have nothing to do
    // here: floats are IEEE single throughout.
    // 3. Core state; the title copy.
    mainThreadId = os::CurrentThreadId();
    EngineCore::Init(configuration);
    EngineFree(title);
    title = fs::CopyText(titleText);
    if (!title) {
        NoteStartFailure("out of memory");
        return false;
    }
    // 4-7. Banner, online services, the container reader, user folders.
    LogBanner();
    if (!GetMultiplayerServices().StartOnlineServices()) {
        NoteStartFailure("the online services did not start");
        return false;
    }
    fileReaderStarted = gPhysicalFileReader.Start();
    MountUserFolders();
    // 8. Saved and optimal settings; the log's frame numbers follow the configuration.
    *savedConfigLoaded = ReadOptimalSettings();
    if (configuration) Log::SetFrameInfoMode(configuration->logFrameInfo);
    return true;
}

bool VornexEngine::LoadProjectData() {
    // 9-10. Data but textures, then the project configuration; volumes left unset take the
    // project's defaults.
    if (!MountData(kMountAllButTextures)) {
        NoteStartFailure("%s", mountFailure[0] ? mountFailure : "the game's data cannot be mounted");
        return false;
    }
    ProjectConfig& project = GetProjectConfig();
    if (!project.Load()) {
        NoteStartFailure("the project's settings common/Project.ConfigBin cannot be read (missing or damaged)");
        return false;
    }
    if (configuration) {
        if (configuration->sfxVolume < 0.0f) configuration->sfxVolume = project.defaultSoundVolume;
        if (configuration->musicVolume < 0.0f) configuration->musicVolume = project.defaultMusicVolume;
        if (configuration->voiceVolume < 0.0f) configuration->voiceVolume = project.defaultSpeechVolume;
    }
    return true;
}

bool VornexEngine::StartRenderingAndLoading(uint32_t window, bool runStartupScripts, bool savedConfigLoaded) {
    ProjectConfig& project = GetProjectConfig();
    // 11-13. Renderer and presenter; the renderer settings of a first run; textures.
    const bool fullScreen = configuration && configuration->fullScreenMode;
    if (!gVornexRenderer.Start(window, fullScreen ? 1 : 0)) {
        NoteStartFailure("the renderer did not start (no graphics device)");
        return false;
    }
    if (!savedConfigLoaded && configuration) configuration->FillRendererParams();
    gVornexRenderer.SetVisualizationMode(project.visualizationMode);
    MountData(kMountTextures);
    // 14-18. Loader, script host, scratch buffer, templates, engine scheduler.
    gResourceManager.Start();
    if (runStartupScripts) gLua.Init();
    gScratchAllocator.Init(project.GetAnimationBufferKB() * 1024u);
    gEntityTemplateRegistry.Init();
    if (!scheduler) scheduler = new ScriptScheduler;
    // 19. Shaders, then the services that use them.
    if (!gShaderManager || !gShaderManager->LoadDefinitions()) {
        NoteStartFailure("the shader definitions common/Shaders/Shaders.DefBin cannot be read (missing or damaged)");
        return false;
    }
    gShaderManager->InitPostProcessShaders(gVornexRenderer.PostProcess());
    GetUIServices().InitVideoEngine();
    if (gRendererScene) gRendererScene->PostInit();
    GetSoundServices().StartEngine();
    GetSoundServices().FlushEngine();
    return true;
}

void VornexEngine::InitWorldAndText() {
    ProjectConfig& project = GetProjectConfig();
    // 20-22. World, profiler, frame timer.
    const float range = project.GetWorldRange();
    if (gEntityManager)
        gEntityManager->Init(BoundingBox4(Vector(-range, kWorldBottom, -range, 1.0f), Vector(range, kWorldTop, range, 1.0f)),
                             project.GetWorldCell());
    gProfiler.Init(configuration ? configuration->inGameProfilers : nullptr);
    frameTimer.Reset();
    // 23-25. System font, strings and font table, the start-up mark on every pool.
    if (!systemFont) {
        systemFont = gResourceManager.GetResource(RESOURCE_FONT, kSystemFontName, 0, true, 0);
        if (systemFont) systemFont->Load(true);
    }
    UIServices& ui = GetUIServices();
    if (ui.CreateStringManager()) {
        stringsCreated = true;
        ui.LoadCompiledStrings(kCompiledStringsFile);
    }
    ui.LoadFontTable();
    gResourceManager.SetFlagsOnPools(kAllResourceTypes, RESOURCE_FLAG_STARTUP);
    // 26. No exception filter: a fault ends the process with the system's report.
    // 27. The UI scene parameters start settled.
    if (!project.uiSceneParamTemplate.IsNull()) {
        EntityTemplate* t = gEntityTemplateRegistry.FindTemplateByGUID(project.uiSceneParamTemplate, true);
        if (t && t->GetTypeId() == kSceneParametersTemplateType)
            GetSceneContentServices().StopSceneParametersTransition(t);
    }
}
