// The renderer: the one owner of the graphics device, driven by a command stream.
//
// Design. The main thread writes records into 4096-byte blocks reserved in the
// renderer's BaseThread ring (one ring record 8 per block) and commits a block when it
// is full, at a flush and at every frame end. The render thread ("Renderer", time-out
// 0) executes the records of each block in order through a table of small task
// handlers, one per id (VornexRenderer_Stream.cpp), and between blocks runs its idle
// tick: blank frames, the loading screen while a scene loads (presented by the
// "PresenterThread"), and resource jobs. After more than 16 idle ticks it blocks on the
// commit signal, a semaphore that every commit releases once.
//
// Layers: the class is declared at the root of render/ with the stream and device layer
// that every subfolder uses; this file and the other facets in render/frame/ sit above
// resources, shaders, sound and scene and are the only ones that reach all of them (the
// start-up table, Start/Stop/Reset, the task handlers, the ambient cube). The stream and
// device layer reaches upwards only through members defined here (CreateSceneGrid,
// PostProcessTargetMode, SetProfilerFontLookup) and the stream pump the resource manager
// registers (ResourceStreamPump.h).
//
// Facets: here (start-up table, construction, Start/Stop/Reset), _Stream (front end, task
// loop, idle tick), _Writers (the main-thread writers), frame/_Tasks (the handlers that
// are neither state, targets, device nor debug; the scene grid; post-processing),
// _State (the device layer and state cache), _Targets (render targets), _Device (device
// creation, reset, present parameters, display modes, output binding, presenter
// hand-off), _Geometry (built-in meshes, declarations, batch meshes), _Debug (debug draws
// 54-68), frame/_AmbientCube. Later subsystems are reached through the seams
// SceneDrawServices, UIDrawServices and GameRenderServices; the scene and post-processing
// passes plug into the declared seams (RunScenePasses, RunShadowMapPass, PostProcessChain, ...).
#include "render/VornexRenderer.h"

#include <cassert>
#include <new>

#include "core/Log.h"
#include "core/ThreadCheck.h"
#include "render/frame/RenderStaticInit.h"
#include "core/config/RendererConfigContainer.h"
#include "core/profiler/Profiler.h"
#include "platform/os/Thread.h"
#include "platform/window/Window.h"
#include "render/SceneDrawServices.h"
#include "render/VornexRenderer_Local.h"
#include "render/shaders/PostProcessChain.h"
#include "render/frame/RendererProfilerDrawer.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceList.h"
#include "render/sound/ResourceSound.h"
#include "render/sound/SoundMemoryPool.h"
#include "render/scene/LightmapMapping.h"
#include "render/scene/RendererScene.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderDefinitions.h"
#include "render/shaders/ShaderManager.h"

namespace {

alignas(VornexRenderer) unsigned char gRendererStorage[sizeof(VornexRenderer)];
alignas(VornexRendererPresenterThread) unsigned char gPresenterStorage[sizeof(VornexRendererPresenterThread)];

// A change of the configuration's quality level applies the settings to the renderer.
class RendererConfigApply final : public RendererConfigServices {
public:
    void ApplyRendererConfig(const RendererConfigContainer& config) override { gVornexRenderer.ApplyConfig(config); }
};
RendererConfigApply gRendererConfigApply;

}  // namespace

VornexRenderer& gVornexRenderer = *reinterpret_cast<VornexRenderer*>(gRendererStorage);
VornexRendererPresenterThread& gVornexRendererPresenter =
    *reinterpret_cast<VornexRendererPresenterThread*>(gPresenterStorage);

void CreateGlobalPresenter() { new (gPresenterStorage) VornexRendererPresenterThread; }
void DestroyGlobalPresenter() { gVornexRendererPresenter.~VornexRendererPresenterThread(); }

void CreateGlobalRenderer() {
    new (gRendererStorage) VornexRenderer;
    SetRendererConfigServices(&gRendererConfigApply);
}

void DestroyGlobalRenderer() {
    SetRendererConfigServices(nullptr);
    gVornexRenderer.~VornexRenderer();
}

namespace {
// The resource manager, with the factories of the pools above render/resources.
void CreateResourceManagerWithPools() {
    ResourceManager::SetPoolFactory(RESOURCE_SHADER, []() -> ResourcePool* { return new ResourceShaderPool; });
    ResourceManager::SetPoolFactory(RESOURCE_SOUND, []() -> ResourcePool* { return new ResourceSoundPool; });
    CreateGlobalResourceManager();
}

// The shader manager, with the resource lists' shader-name fix that reaches it.
void CreateShaderManager() {
    StaticInitCreateGlobal<ShaderManager, gShaderManager>();
    ResourceList::SetShaderNameHook([](char* name) {
        if (gShaderManager) gShaderManager->FixHardwareDepthBits(name);
    });
}

template <void (*Create)(), void (*Destroy)()>
void InPlaceRow() {
    Create();
    PushExitHandler([](void*) { Destroy(); }, nullptr);
}

using K = StaticInitKind;
const StaticInitRow kRenderRows[] = {
    {2, K::GlobalObject, "VornexRendererPresenterThread", &InPlaceRow<CreateGlobalPresenter, DestroyGlobalPresenter>, 0,
     0},
    {2, K::GlobalObject, "gVornexRenderer", &InPlaceRow<CreateGlobalRenderer, DestroyGlobalRenderer>, 0, 0},
    {3, K::GlobalObject, "gResourceManager",
     &InPlaceRow<CreateResourceManagerWithPools, DestroyGlobalResourceManager>, 0, 0},
    {5, K::GlobalObject, "gRendererScene", &StaticInitCreateGlobal<RendererScene, gRendererScene>, 0, 0},
    {6, K::GlobalObject, "gSoundMemoryPool", &StaticInitCreateGlobal<SoundMemoryPool, gSoundMemoryPool>, 0, 0},
    {6, K::GlobalObject, "gShaderManager", &CreateShaderManager, 0, 0},
    {7, K::ClassRegistration, "ResourceEntry", &StaticInitRegister<ResourceEntry>, 0, 0},
    {7, K::ClassRegistration, "ResourceList", &StaticInitRegister<ResourceList>, 0, 0},
    {10, K::BareClassRegistration, "VornexRendererObject", nullptr, 0, 0},
    {11, K::ClassRegistration, "ShaderParameterDefinition", &StaticInitRegister<ShaderParameterDefinition>, 0, 0},
    {11, K::ClassRegistration, "ShaderOption", &StaticInitRegister<ShaderOption>, 0, 0},
    {11, K::ClassRegistration, "ShaderFamily", &StaticInitRegister<ShaderFamily>, 0, 0},
    {11, K::ClassRegistration, "LightmapMapping", &StaticInitRegister<LightmapMapping>, 0, 0},
};
}  // namespace

const StaticInitTable kRenderStaticInit = {kRenderRows, sizeof(kRenderRows) / sizeof(kRenderRows[0])};

// ---------------------------------------------------------------------------------------

VornexRenderer::VornexRenderer()
    : BaseThread(kWorkerSettings[WORKER_RENDERER].name, kWorkerSettings[WORKER_RENDERER].ringBytes,
                 kWorkerSettings[WORKER_RENDERER].useLock, kWorkerSettings[WORKER_RENDERER].waitTimeoutMs),
      presenter(&gVornexRendererPresenter),
      profilerDrawer(new RendererProfilerDrawer),
      postProcess(new PostProcessChain) {
    InstallSemaphore(&commitSignal);
    InitBlendModeTable();
    for (SamplerCache& s : samplers) s = SamplerCache{nullptr, false, 0};
    for (uint8_t& b : frameVisibleLayers) b = 0xFF;
    owners[OWNER_PROFILER_GRAPH] = {[](void*) { gProfiler.ReleaseGraphVertexBuffer(); },
                                    [](void*) { gProfiler.CreateGraphVertexBuffer(); }, nullptr};
    owners[OWNER_POST_PROCESS] = {[](void* c) { static_cast<PostProcessChain*>(c)->ReleaseDeviceObjects(); },
                                  [](void* c) { static_cast<PostProcessChain*>(c)->CreateDeviceObjects(); },
                                  postProcess};
    owners[OWNER_BATCH_MESHES] = {[](void* c) { static_cast<VornexRenderer*>(c)->ReleaseBatchMeshes(); },
                                  [](void* c) { static_cast<VornexRenderer*>(c)->CreateBatchMeshes(); }, this};
}

VornexRenderer::~VornexRenderer() {
    if (started) Stop();
    delete postProcess;
    delete profilerDrawer;
}

void VornexRenderer::RebuildSettingResources() {
    if (!device) return;
    postProcess->ReleaseDeviceObjects();
    CreateRenderTargets();
    postProcess->CreateDeviceObjects();
}

void VornexRenderer::SetProfilerFontLookup(void* (*acquire)(const char* name), void (*release)(void* font)) {
    profilerDrawer->SetFontLookup(acquire, release);
}

void VornexRenderer::ApplyConfig(const RendererConfigContainer& c) {
    settings.msaaMode = c.msaaMode;
    settings.gfxQualityLevel = c.gfxQualityLevel;
    settings.semiResolutionScreenScale = c.semiResolutionScreenScale;
    settings.brightness = c.brightness;
    settings.screenScaleX = c.screenScaleX;
    settings.screenScaleY = c.screenScaleY;
    settings.gpuSync = c.gpuSync;
    settings.vSync = c.vSync;
    settings.enableShadowMap = c.enableShadowMap;
    settings.enableShadowMapFiltering = c.enableShadowMapFiltering;
    settings.shadowMapSize = c.shadowMapSize;
    settings.enableFullScreenEffects = c.enableFullScreenEffects;
    settings.enableRefraction = c.enableRefraction;
    settings.enableOutlines = c.enableOutlines;
    settings.displayShadowDebugInfo = c.displayShadowDebugInfo;
}

void VornexRenderer::SetDeviceObjectOwner(DeviceObjectOwnerSlot slot, const DeviceObjectOwner& owner) {
    if (slot < OWNER_FIXED_COUNT) owners[slot] = owner;
}

void VornexRenderer::RegisterDeviceObjectOwner(const DeviceObjectOwner& owner) { registeredOwners.push_back(owner); }

void VornexRenderer::RunOwners(bool create) {
    auto run = [create](const DeviceObjectOwner& o) {
        if (auto f = create ? o.create : o.release) f(o.context);
    };
    for (const DeviceObjectOwner& o : owners) run(o);
    for (const DeviceObjectOwner& o : registeredOwners) run(o);
}

void VornexRenderer::AssertMainThread() const {
    ASSERT_ON_THREAD(ownerThread, "main thread");
}

// ---------------------------------------------------------------------------------------
// Main-thread camera

void VornexRenderer::SetCamera(const Matrix& viewMatrix, const Matrix& projectionMatrix, const Matrix& third) {
    AssertMainThread();
    mainView = viewMatrix;
    mainProjection = projectionMatrix;
    mainViewProjection.Mul(projectionMatrix, viewMatrix);  // view first, then projection
    mainInverseView.Inverse(viewMatrix);
    mainCameraInvertible = mainInverseViewProjection.Inverse(mainViewProjection);
    mainCameraPosition = mainInverseView.r[3];
    // Clip-space planes (z >= 0, z <= w, x <= w, x >= -w, y <= w, y >= -w) into world space.
    static const Vector kClipPlanes[6] = {{0, 0, 1, 0},  {0, 0, -1, 1}, {-1, 0, 0, 1},
                                          {1, 0, 0, 1},  {0, -1, 0, 1}, {0, 1, 0, 1}};
    for (uint32_t i = 0; i < 6; ++i) {
        const Vector& c = kClipPlanes[i];
        const Matrix& m = mainViewProjection;
        mainFrustumPlanes[i] = Vector(m.r[0].x * c.x + m.r[0].y * c.y + m.r[0].z * c.z + m.r[0].w * c.w,
                                      m.r[1].x * c.x + m.r[1].y * c.y + m.r[1].z * c.z + m.r[1].w * c.w,
                                      m.r[2].x * c.x + m.r[2].y * c.y + m.r[2].z * c.z + m.r[2].w * c.w,
                                      m.r[3].x * c.x + m.r[3].y * c.y + m.r[3].z * c.z + m.r[3].w * c.w);
    }
    mainFrustumBox = BoundingBox4::INVALID;
    for (uint32_t i = 0; i < 8; ++i) {
        Vector corner((i & 1) ? 1.0f : -1.0f, (i & 2) ? 1.0f : -1.0f, (i & 4) ? 1.0f : 0.0f, 1.0f);
        corner.TransformHomogen(mainInverseViewProjection);
        mainFrustumCorners[i] = corner;
        mainFrustumBox.Expand(corner);
    }
    Post(TASK_CAMERA, viewMatrix, projectionMatrix, third, mainFrustumPlanes);
}

void VornexRenderer::SetCameraMatrices(const Matrix& viewMatrix, const Matrix& projectionMatrix, const Matrix& secondA,
                                       const Matrix& secondB) {
    SetCamera(viewMatrix, projectionMatrix, Matrix::IDENTITY);
    Post(TASK_CAMERA_MATRICES, secondA, secondB);
}

// ---------------------------------------------------------------------------------------
// Start-up, shutdown and reset (main thread)

bool VornexRenderer::Start(uint32_t windowHandle, uint8_t flags) {
    if (started) return deviceCreated;
    ownerThread = 0;
    // A new session: nothing of a previous run's render-thread state carries over.
    loadingScreen = nullptr;
    loadingScreenOverScene = blankFrameMode = 0;
    brightness = -1.0f;
    screenScaleX = screenScaleY = 1.0f;
    bucketEnableMask = 0xFFFFFFFFu;
    outlineTypeMask = visualizationMode = 0;
    sceneLoading.store(false, std::memory_order_release);
    deviceResetPending.store(false, std::memory_order_release);
    // Counts start from zero, so a frame end lost in an earlier session does not keep
    // the frame counts apart in this one.
    postedRecords = 0;
    for (std::atomic<uint32_t>* count : {&consumedTasks, &postedFrames, &completedFrames, &waitedFrames})
        count->store(0, std::memory_order_release);
    while (frameSemaphore.WaitSeconds(0.0f)) {
    }
    if (!BaseThread::Start()) return false;
    ownerThread = os::CurrentThreadId();
    startFlags = flags;
    window = windowHandle;
    gfx::SetValidationSink(&LogValidationReport, nullptr);
    RefreshDisplayModes();
    wnd::Rect client;
    if (!wnd::GetClientRect(windowHandle, &client)) client = wnd::Rect{};
    ComputePresentParameters(static_cast<uint32_t>(client.Width()), static_cast<uint32_t>(client.Height()), true, false,
                             &presentBlock);
    blockInForce = presentBlock;
    if (!blockOpen) ReserveBlock();
    // The overlay's graph buffer is one of the device objects made with the device.
    gProfiler.SetDrawer(profilerDrawer);
    const bool created = CreateDevice(windowHandle, flags);
    started = true;
    CloseBlock(TASK_END_OF_BLOCK_WAIT);
    BaseThread::Flush();
    ReserveBlock();
    return created;
}

void VornexRenderer::Stop() {
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "VornexRenderer closing...");
    if (started) {
        AssertMainThread();
        FlushCommands(true);
        WaitForResourceJobs(10);
        // The device closes on the render thread, which owns it.
        if (BeginCommand(TASK_CLOSE_DX, 0)) FlushCommands(true);
        if (blockOpen) CloseBlock(TASK_END_OF_BLOCK);
        started = false;
        gProfiler.SetDrawer(nullptr);
    }
    BaseThread::Stop();
    blockOpen = false;
    blockStart = recordEnd = nullptr;
    ownerThread = 0;
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "VornexRenderer closed");
}

void VornexRenderer::Reset(uint32_t windowHandle, uint32_t width, uint32_t height, bool applyConfiguration,
                           bool fullScreen) {
    AssertMainThread();
    if (!started) return;
    FlushCommands(true);
    gResourceManager.Flush();
    WaitForResourceJobs(30);
    PresentParameterBlock block;
    ComputePresentParameters(width, height, applyConfiguration, fullScreen, &block);
    {
        CriticalSectionGuard guard(&rendererLock);
        blockInForce = block;
        ApplyPresentParameters(windowHandle);
    }
    FlushCommands(true);
}
