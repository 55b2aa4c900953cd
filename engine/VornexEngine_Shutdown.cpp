// Engine shutdown: the services in the reverse of their start-up order. Every step
// tolerates a service that never started, so a failed or partial start-up shuts down
// through the same path.
#include "core/Log.h"
#include "core/Memory.h"
#include "core/config/ProjectConfig.h"
#include "core/fs/PhysicalFileReader.h"
#include "core/profiler/Profiler.h"
#include "engine/services/EngineCore.h"
#include "engine/SceneRenderList.h"
#include "engine/services/SceneContentServices.h"
#include "engine/services/SoundServices.h"
#include "engine/services/UIServices.h"
#include "engine/VornexEngine.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/script/LuaWrapper.h"
#include "engine/entity/ScriptScheduler.h"
#include "platform/online/Online.h"
#include "render/VornexRenderer.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/scene/RendererScene.h"
#include "render/shaders/PostProcessChain.h"
#include "render/shaders/ShaderManager.h"

void VornexEngine::FlushRenderer() {
    if (gVornexRenderer.IsRendererRunning()) gVornexRenderer.FlushCommands(true);
}

void VornexEngine::Shutdown() {
    if (!shutdownPending) return;
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "VornexEngine closing...");
    // 2-3. What the last frames used: the scene list, strings, fonts, owned objects.
    if (initialized && gSceneRenderList) gSceneRenderList->PostRelease();
    if (stringsCreated) GetUIServices().DeleteStringManager();
    stringsCreated = false;
    if (systemFont) systemFont->Release();
    systemFont = nullptr;
    GetUIServices().FreeFontTable();
    for (uint32_t i = 0; i < ownedObjects.Count(); ++i) delete ownedObjects[i];
    ownedObjects.Clear();
    // 4. Entities and templates, with the render thread done with them.
    FlushRenderer();
    if (gEntityManager) gEntityManager->Shutdown();
    gEntityTemplateRegistry.Shutdown();
    FlushRenderer();
    // 5. Main-thread services.
    delete scheduler;
    scheduler = nullptr;
    GetSceneContentServices().ClearSequenceSystem();
    GetSceneContentServices().ClearSequenceActionFactory();
    GetSoundServices().RemoveAllSoundEntries();
    gScratchAllocator.Release();
    gLua.Close();
    // Every run's log ends with its count, a failed start-up's too.
    gLog.Print(LogSeverity::Progress, LogCategory::Script, "Script errors: %u", LuaWrapper::GetErrorCount());
    gProfiler.Release();
    GetUIServices().CloseVideoEngine();
    GetSoundServices().StopEngine();
    if (gRendererScene && gVornexRenderer.IsRendererRunning()) gRendererScene->PostShutdown();
    gVornexRenderer.PostProcess().ReleaseShaders();
    // 6. Every resource but shaders.
    if (gResourceManager.IsRunning()) {
        gResourceManager.PostEvictResources(kAllResourceTypesButShaders, true, 0, 0);
        gResourceManager.Flush();
    }
    // 7. Shaders, then the device's resources.
    FlushRenderer();
    if (gShaderManager) gShaderManager->Close();
    if (gVornexRenderer.IsRendererRunning()) {
        gVornexRenderer.PostReleaseDeviceResources();
        gVornexRenderer.FlushCommands(true);
    }
    // 8. The workers, in reverse order of their start, and the core.
    gResourceManager.Stop();
    gVornexRenderer.Stop();
    if (gProjectConfig) gProjectConfig->ReleaseData();
    if (fileReaderStarted) gPhysicalFileReader.Stop();
    fileReaderStarted = false;
    SteamAPI_Shutdown();
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "VornexEngine closed");
    EngineCore::Shutdown();
    EngineFree(title);
    title = nullptr;
    configuration = nullptr;
    initialized = false;
    shutdownPending = false;
}
