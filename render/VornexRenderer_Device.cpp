// Device management: present parameters from the configuration, display modes, device
// creation, application of present parameters and device reset, release and close,
// the frame's output binding and output passes, the loading screen and blank frames.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "core/Log.h"
#include "core/ThreadCheck.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "platform/window/Window.h"
#include "render/DeviceObjectHandle.h"
#include "render/GameRenderServices.h"
#include "render/SceneDrawServices.h"
#include "render/UIDrawServices.h"
#include "render/VertexDeclarationCache.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"

using namespace gfx;

namespace {
constexpr uint32_t kResetRetries = 40;       // tries of a reset that reports a lost device
constexpr uint32_t kResetRetrySleepMs = 50;  // 2 s in all
constexpr uint32_t kPresenterPriority = 99;
const uint32_t kWindowWidths[] = {800, 848, 960, 1024, 1280, 1376, 1440, 1680, 1800, 1920};
}  // namespace

namespace {
// Reports come from the render and loader threads. The table is bounded: past its size a
// new distinct report is logged every time rather than counted.
constexpr size_t kMaxCountedReports = 256;
std::mutex gReportMutex;
std::map<std::string, uint32_t> gReportCounts;
}  // namespace

void LogValidationReport(void*, const ValidationReport& report) {
    {
        std::lock_guard<std::mutex> lock(gReportMutex);
        const auto at = gReportCounts.find(report.message);
        if (at != gReportCounts.end()) {
            ++at->second;
            return;
        }
        if (gReportCounts.size() < kMaxCountedReports) gReportCounts.emplace(report.message, 1);
    }
    gLog.Warning(LogCategory::RenderDevice, "%s", report.message.c_str());
}

void LogValidationRepeats() {
    std::map<std::string, uint32_t> counts;
    {
        std::lock_guard<std::mutex> lock(gReportMutex);
        counts.swap(gReportCounts);
    }
    for (const auto& [message, count] : counts)
        if (count > 1) gLog.Warning(LogCategory::RenderDevice, "%s (reported %u times)", message.c_str(), count);
}

// ---------------------------------------------------------------------------------------
// Display modes (main thread)

uint32_t DisplayModeList::Find(uint32_t width, uint32_t height, bool* found) const {
    auto at = std::lower_bound(entries.begin(), entries.end(), std::make_pair(width, height),
                               [](const DisplayModeEntry& e, const std::pair<uint32_t, uint32_t>& key) {
                                   return e.width != key.first ? e.width < key.first : e.height < key.second;
                               });
    *found = at != entries.end() && at->width == width && at->height == height;
    return static_cast<uint32_t>(at - entries.begin());
}

void DisplayModeList::Add(const DisplayModeEntry& mode) {
    bool found = false;
    const uint32_t at = Find(mode.width, mode.height, &found);
    if (!found) {
        entries.insert(entries.begin() + at, mode);
        return;
    }
    auto distance = [](uint32_t rate) { return rate > 60 ? rate - 60 : 60 - rate; };
    if (distance(mode.refreshRate) < distance(entries[at].refreshRate)) entries[at] = mode;
}

void VornexRenderer::RefreshDisplayModes() {
    displayModes.Clear();
    windowSizes.clear();
    const uint32_t sw = static_cast<uint32_t>(std::max(0, wnd::GetScreenWidth()));
    const uint32_t sh = static_cast<uint32_t>(std::max(0, wnd::GetScreenHeight()));
    uint32_t last = 0;
    for (uint32_t w : kWindowWidths)
        if (w <= sw && sw) {
            windowSizes.push_back({w, static_cast<uint32_t>(uint64_t(w) * sh / sw)});
            last = w;
        }
    if (last < sw) windowSizes.push_back({sw, sh});
    if (!factory) factory = CreateDeviceFactory(SDK_VERSION);
    if (!factory) return;
    const uint32_t count = factory->GetAdapterModeCount(0, FMT_X8R8G8B8);
    for (uint32_t i = 0; i < count; ++i) {
        DisplayMode m;
        if (Failed(factory->EnumAdapterModes(0, FMT_X8R8G8B8, i, &m))) continue;
        if (m.width >= 640 && m.height >= 480) displayModes.Add({m.width, m.height, m.refreshRate, m.format});
    }
}

bool VornexRenderer::FindDisplayMode(uint32_t width, uint32_t height, DisplayModeEntry* out) const {
    if (displayModes.Count() == 0) return false;
    bool found = false;
    const uint32_t at = displayModes.Find(width, height, &found);
    *out = displayModes[found ? at : (at == 0 ? 0 : at - 1)];
    return true;
}

WindowSize VornexRenderer::FindNearestDisplayMode(uint32_t width, uint32_t height) const {
    uint32_t best = 0;
    for (uint32_t i = 0; i < windowSizes.size(); ++i)
        if (windowSizes[i].width <= width && windowSizes[i].height <= height) best = i;
    return windowSizes.empty() ? WindowSize{0, 0} : windowSizes[best];
}

// ---------------------------------------------------------------------------------------
// Present parameters (main thread)

void VornexRenderer::ComputePresentParameters(uint32_t width, uint32_t height, bool applyConfiguration,
                                              bool fullScreen, PresentParameterBlock* block) {
    if (width && height) clientWidth = width, clientHeight = height;
    const RendererSettings& s = settings;
    const float scale = applyConfiguration ? s.semiResolutionScreenScale : 1.0f;
    PresentParameterBlock b{};
    b.fullScreenWidth = fullScreen ? width : 0;
    b.fullScreenHeight = fullScreen ? height : 0;
    b.renderWidth = static_cast<uint32_t>(static_cast<float>(clientWidth) * scale);
    b.renderHeight = static_cast<uint32_t>(static_cast<float>(clientHeight) * scale);
    b.msaaMode = s.msaaMode;
    b.quality = s.gfxQualityLevel;
    uint32_t shadow = std::clamp<uint32_t>(s.shadowMapSize, 16, 4096);
    if (b.quality < 2) shadow /= 2;
    b.shadowMapSize = b.quality == 0 ? 0 : shadow;
    b.shadowMap = b.quality > 0 && s.enableShadowMap;
    b.gpuSync = s.gpuSync;
    std::memcpy(b.globalFloats, s.globalFloats, sizeof b.globalFloats);
    b.shadowFiltering = s.enableShadowMapFiltering && s.enableShadowMap && b.quality > 2;
    b.refraction = s.enableRefraction && b.quality >= 2;
    b.outlines = s.enableOutlines;
    b.vsync = applyConfiguration && s.vSync;
    b.fullScreen = fullScreen;
    b.standalone = s.standalone;
    b.scale = scale;
    b.globalFlags56[0] = s.globalFlags[0];
    b.globalFlags56[1] = s.globalFlags[1];
    b.highQuality = b.quality >= 3;
    b.globalFlag59 = s.globalFlags[2];
    b.linearDepthRange = s.linearDepthRange;
    *block = b;
}

// ---------------------------------------------------------------------------------------
// Creation, reset, release (main thread inside Start and Reset, else render thread)

bool VornexRenderer::CreateDevice(uint32_t windowHandle, uint8_t flags) {
    presenter->Start();
    presenter->SetPriority(kPresenterPriority);
    if (!factory) factory = CreateDeviceFactory(SDK_VERSION);
    if (!factory) return false;
    presentParams = {};
    presentParams.backBufferCount = 1;
    presentParams.windowed = 1;
    wnd::Rect client;
    if (wnd::GetClientRect(windowHandle, &client)) {
        presentParams.backBufferWidth = static_cast<uint32_t>(std::max(0, client.Width()));
        presentParams.backBufferHeight = static_cast<uint32_t>(std::max(0, client.Height()));
    }
    presentParams.backBufferFormat = FMT_X8R8G8B8;
    presentParams.swapEffect = SWAPEFFECT_DISCARD;
    presentParams.presentationInterval = PRESENT_INTERVAL_IMMEDIATE;
    presentParams.deviceWindow = reinterpret_cast<void*>(uintptr_t(windowHandle));
    void* focus = presentParams.deviceWindow;
    Result r = factory->CreateDevice(0, DEVTYPE_HAL, focus,
                                     CREATE_HARDWARE_VERTEXPROCESSING | CREATE_PUREDEVICE | CREATE_MULTITHREADED,
                                     &presentParams, &device);
    // The pure-device flag needs hardware vertex processing, so the retry drops it.
    if (Failed(r))
        r = factory->CreateDevice(0, DEVTYPE_HAL, focus, CREATE_SOFTWARE_VERTEXPROCESSING | CREATE_MULTITHREADED,
                                  &presentParams, &device);
    if (Failed(r) || !device) {
        device = nullptr;
        gLog.Error(LogCategory::RenderDevice, "VornexRenderer::CreateDevice - the device cannot be created (0x%X)",
                   static_cast<uint32_t>(r));
        return false;
    }
    if (Recorder* recorder = GetRecorder(device)) recorder->SetDrawRecordMode(DrawRecordMode::Off);
    backBufferWidth = presentParams.backBufferWidth;
    backBufferHeight = presentParams.backBufferHeight;
    rawz = Succeeded(factory->CheckDeviceFormat(0, DEVTYPE_HAL, FMT_X8R8G8B8, USAGE_DEPTHSTENCIL, RTYPE_TEXTURE, FMT_RAWZ));
    intz = Succeeded(factory->CheckDeviceFormat(0, DEVTYPE_HAL, FMT_X8R8G8B8, USAGE_DEPTHSTENCIL, RTYPE_TEXTURE, FMT_INTZ));
    gLog.Print(LogSeverity::Information, LogCategory::RenderDevice, "Caps - RAWZ: %d, INTZ: %d", rawz ? 1 : 0,
               intz ? 1 : 0);
    hardwareDepth = rawz || intz;
    declarationCache = new VertexDeclarationCache(device);
    CreateSceneGrid();
    ambientCubeKeysSet = false;  // a new device's cube is refreshed at its first frame
    ApplyPresentParameters(windowHandle);
    ResetStateCache();
    renderTasks.assign(kFrameRenderTasks, {});
    sortKeys.assign(kFrameRenderTasks, {});
    sortedKeys.assign(kFrameRenderTasks, {});
    deferredMeshes.assign(kFrameDeferredMeshes, {});
    outlinedEntities.assign(kFrameOutlinedEntities, {});
    lights.assign(kFrameLights, nullptr);
    GetSceneDrawServices().InitParticleGlobals();
    GetUIDrawServices().CreateFontSharedIndexBuffer();
    CreateGlobalVertexDeclaration();
    deviceCreated = true;
    startTime = os::ReadCounter();
    displayResets.fetch_add(1, std::memory_order_release);
    return true;
}

void VornexRenderer::ApplyPresentParameters(uint32_t windowHandle) {
    const PresentParameterBlock& b = blockInForce;
    const bool fullScreenSize = b.fullScreenWidth && b.fullScreenHeight;
    // Leaving full screen takes the device back to its window, with the back buffer it
    // had there (a windowed resize changes only the render size). A reset without a size
    // that asks for full screen (a settings change) keeps the presentation as it is.
    const bool leaveFullScreen = !fullScreenSize && !b.fullScreen && !presentParams.windowed;
    if (leaveFullScreen) {
        presentParams.windowed = 1;
        presentParams.backBufferWidth = windowBackBuffer.width;
        presentParams.backBufferHeight = windowBackBuffer.height;
        presentParams.fullScreenRefreshRateInHz = 0;
    }
    // In a window the back buffer follows the client area: the presented picture is the
    // back buffer, so one of another size would be squeezed or cut into the window.
    bool windowResized = false;
    if (!fullScreenSize && presentParams.windowed && clientWidth && clientHeight &&
        (presentParams.backBufferWidth != clientWidth || presentParams.backBufferHeight != clientHeight)) {
        presentParams.backBufferWidth = clientWidth;
        presentParams.backBufferHeight = clientHeight;
        windowResized = true;
    }
    if (fullScreenSize) {
        if (presentParams.windowed && b.fullScreen)
            windowBackBuffer = {presentParams.backBufferWidth, presentParams.backBufferHeight};
        presentParams.backBufferWidth = b.fullScreenWidth;
        presentParams.backBufferHeight = b.fullScreenHeight;
        presentParams.windowed = b.fullScreen ? 0 : 1;
        presentParams.fullScreenRefreshRateInHz = 0;
        // Only a listed mode of exactly that size gives its refresh rate; the main window
        // has already put the display in the size it could give, which the back buffer
        // takes as it is.
        DisplayModeEntry mode;
        if (b.fullScreen && FindDisplayMode(b.fullScreenWidth, b.fullScreenHeight, &mode) &&
            mode.width == b.fullScreenWidth && mode.height == b.fullScreenHeight) {
            presentParams.backBufferWidth = mode.width;
            presentParams.backBufferHeight = mode.height;
            presentParams.fullScreenRefreshRateInHz = mode.refreshRate;
        }
    }
    backBufferWidth = presentParams.backBufferWidth;
    backBufferHeight = presentParams.backBufferHeight;
    if (windowHandle) presentParams.deviceWindow = reinterpret_cast<void*>(uintptr_t(windowHandle));
    presentParams.presentationInterval = b.vsync ? PRESENT_INTERVAL_ONE : PRESENT_INTERVAL_IMMEDIATE;
    const bool changed = renderWidth != b.renderWidth || renderHeight != b.renderHeight;
    renderWidth = b.renderWidth;
    renderHeight = b.renderHeight;
    // A pending reset (a lost device) resets the device itself also in a window: only a
    // reset brings a lost device back.
    const bool pending = deviceResetPending.load(std::memory_order_acquire);
    if (fullScreenSize || leaveFullScreen || (device && windowResized))
        DeviceReset(true);
    else if (device && (changed || pending))
        DeviceReset(pending);
}

namespace {
void LogResetFailure(Result r, const PresentParameters& p) {
    switch (r) {
    case ERR_INVALIDCALL: gLog.Error(LogCategory::Resources, "Device::Reset error: D3DERR_INVALIDCALL"); break;
    case ERR_OUTOFVIDEOMEMORY: gLog.Error(LogCategory::Resources, "Device::Reset error: D3DERR_OUTOFVIDEOMEMORY"); break;
    case ERR_DRIVERINTERNALERROR:
        gLog.Error(LogCategory::Resources, "Device::Reset error: D3DERR_DRIVERINTERNALERROR");
        break;
    case ERR_DEVICEREMOVED: gLog.Error(LogCategory::Resources, "Device::Reset error: D3DERR_DEVICEREMOVED"); break;
    case ERR_DEVICELOST: gLog.Error(LogCategory::Resources, "Device::Reset error: D3DERR_DEVICELOST"); break;
    default: gLog.Error(LogCategory::Resources, "Device::Reset unknown error 0x%X", static_cast<uint32_t>(r)); break;
    }
    gLog.Error(LogCategory::Resources, "BackBufferWidth=%u, BackBufferHeight=%u, BackBufferFormat=%u, BackBufferCount=%u",
               p.backBufferWidth, p.backBufferHeight, static_cast<uint32_t>(p.backBufferFormat), p.backBufferCount);
    gLog.Error(LogCategory::Resources,
               "MultiSampleType=%u, MultiSampleQuality=%u, SwapEffect=%u, hDeviceWindow=%u, Windowed=%u, "
               "EnableAutoDepthStencil=%u",
               static_cast<uint32_t>(p.multiSampleType), p.multiSampleQuality, static_cast<uint32_t>(p.swapEffect),
               static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p.deviceWindow)), static_cast<uint32_t>(p.windowed),
               static_cast<uint32_t>(p.enableAutoDepthStencil));
    gLog.Error(LogCategory::Resources, "AutoDepthStencilFormat=%u, Flags=%u, FullScreen_RefreshRateInHz=%u, PresentationInterval=%u",
               static_cast<uint32_t>(p.autoDepthStencilFormat), p.flags, p.fullScreenRefreshRateInHz,
               p.presentationInterval);
}
}  // namespace

void VornexRenderer::DeviceReset(bool resetDevice) {
    if (presenter->IsRunning()) presenter->Flush();
    presenter->AcknowledgeDeviceLoss();
    if (!device) return;
    ResetStateCache();
    ReleaseRenderTargets();
    ReleaseBuiltInGeometry();
    ReleaseOutputSurfaces();
    device->SetDepthStencilSurface(nullptr);
    depthInForce = nullptr;
    bool reset = true;
    if (resetDevice) {
        GetGameRenderServices().ReleaseGameControllers();
        Result r = device->Reset(&presentParams);
        // A lost device is retried for a bounded time; the frame loop resets again later.
        for (uint32_t tries = 1; r == ERR_DEVICELOST && tries < kResetRetries; ++tries) {
            os::Sleep(kResetRetrySleepMs);
            r = device->Reset(&presentParams);
        }
        if (Failed(r)) {
            LogResetFailure(r, presentParams);
            reset = false;
        }
        GetGameRenderServices().ReconnectGameControllers();
        inScene = false;  // a reset ends any scene
    }
    device->SetRenderState(RS_LIGHTING, 0);
    device->SetRenderState(RS_COLORVERTEX, 0);
    // A failed reset leaves the request standing: EndFrame reports it and the main loop
    // resets again.
    if (reset) deviceResetPending.store(false, std::memory_order_release);
    CreateRenderTargets();
    CreateBuiltInGeometry();
    ResetStateCache();
    if (resetDevice && reset) displayResets.fetch_add(1, std::memory_order_release);
}

void VornexRenderer::ReleaseDeviceResources() {
    RunResourceJobs(0, 0.0f);
    ReleaseGlobalVertexDeclaration();
    GetUIDrawServices().ReleaseFontSharedIndexBuffer();
    ReleaseRenderTargets();
    ReleaseOutputSurfaces();
    if (device) device->SetDepthStencilSurface(nullptr);
    depthInForce = nullptr;
    delete declarationCache;
    declarationCache = nullptr;
    ReleaseSceneGrid();
    ReleaseBuiltInGeometry();
}

void VornexRenderer::CloseDX() {
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "_CloseDX begin");
    presenter->Stop();
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "_CloseDX waiting for jobs");
    RunResourceJobs(0, 0.0f);
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "_CloseDX all jobs complete");
    // Nothing the device made may outlive it.
    if (device) ReleaseDeviceResources();
    SafeReleaseInterface(&device);
    SafeReleaseInterface(&factory);
    inScene = false;  // a scene a stop cut short ended with its device
    LogValidationRepeats();
    presentParams = {};
    deviceCreated = false;
    renderWidth = renderHeight = 0;
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "_CloseDX Delete arrays");
    std::vector<RenderTaskRecord>().swap(renderTasks);
    for (auto* v : {&sortKeys, &sortedKeys}) std::vector<RenderSortKey>().swap(*v);
    for (auto* v : {&deferredMeshes, &outlinedEntities}) std::vector<GatheredContext>().swap(*v);
    std::vector<RendererLight*>().swap(lights);
    taskCount = deferredCount = outlinedCount = lightCount = 0;
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "_CloseDX Delete display modes");
    displayModes.Clear();
    windowSizes.clear();
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "_CloseDX All done!!!");
}

// ---------------------------------------------------------------------------------------
// Frame output (render thread)

void VornexRenderer::ReleaseOutputSurfaces() {
    SafeReleaseInterface(&outputSurface);
    SafeReleaseInterface(&backBufferSurface);
}

void VornexRenderer::BindOutput(SwapChain* swapChain, uint8_t multisample, uint8_t mode) {
    ASSERT_ON_THREAD(ThreadId(), "render thread");
    if (!device) return;
    CheckAmbientCube();  // the frame-begin step, before the scene begins
    ReleaseOutputSurfaces();
    if (swapChain)
        swapChain->GetBackBuffer(0, BACKBUFFER_TYPE_MONO, &backBufferSurface);
    else
        device->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &backBufferSurface);
    if (appliedConstantGeneration != constantGeneration) SetGlobalShaderConstants();
    Surface* depth = targets[TARGET_MAIN_DEPTH].surface;
    if (swapChain) {
        outputSurface = backBufferSurface;
    } else if (multisample && targets[TARGET_MSAA_COLOR].surface) {
        outputSurface = targets[TARGET_MSAA_COLOR].surface;
        depth = targets[TARGET_MSAA_DEPTH].surface;
        needsResolve = true;
    } else {
        outputSurface = targets[TARGET_SCENE_COLOR].surface;
    }
    if (outputSurface) outputSurface->AddRef();
    if (!inScene) {
        device->BeginScene();
        inScene = true;
    }
    if (mode == 1 && outputSurface) {
        SetRenderTargets(outputSurface, nullptr, swapChain ? 1 : 0);
    } else if (mode == 2 && backBufferSurface) {
        SetRenderTargets(backBufferSurface, nullptr, 1);
        if (targets[TARGET_BACKBUFFER_DEPTH].surface) depth = targets[TARGET_BACKBUFFER_DEPTH].surface;
    }
    if (mode == 1 || mode == 2) {
        device->SetRenderState(RS_ZENABLE, 1);
        device->SetDepthStencilSurface(depth);
        depthInForce = depth;
    }
    drawCalls = primitives = 0;
    colorFactor = Vector(1, 1, 1, 1);
}

void VornexRenderer::UpscaleFinal() {
    ASSERT_ON_THREAD(ThreadId(), "render thread");
    deferredCount = outlinedCount = lightCount = 0;
    std::memset(gatherFlags, 0, sizeof gatherFlags);
    if (!device) return;
    for (uint32_t stage = 0; stage < kSamplerStageCount; ++stage) SetTexture(stage, nullptr, samplers[stage].flags);
    SetVertexShader(nullptr);
    SetPixelShader(nullptr);
    if (eventQueries[currentQuery] && blockInForce.gpuSync) eventQueries[currentQuery]->Issue(ISSUE_END);
    if (inScene) {
        device->EndScene();
        inScene = false;
    }
    Surface* backBuffer = nullptr;
    if (Succeeded(device->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &backBuffer))) {
        device->SetRenderTarget(1, nullptr);
        device->SetRenderTarget(0, backBuffer);
        backBuffer->Release();
    }
    ReleaseOutputSurfaces();
    device->SetDepthStencilSurface(nullptr);
    depthInForce = nullptr;
    needsResolve = false;
}

bool VornexRenderer::TaskLightBuffers(CommandRingBuffer&) {
    if (!device) return true;
    if (lightBufferClearMark && targets[TARGET_LIGHT_0].surface) {
        device->ColorFill(targets[TARGET_LIGHT_0].surface, nullptr, 0);
        lightBufferClearMark = false;
    }
    SetTexture(6, targets[TARGET_LIGHT_0].texture, LightBufferSamplerFlags());
    SetTexture(7, targets[TARGET_LIGHT_1].texture, LightBufferSamplerFlags());
    return true;
}

bool VornexRenderer::TaskDepthStencil(CommandRingBuffer& r) {
    uint8_t on = 0;
    if (!Read(r, on)) return false;
    depthInForce = on ? targets[TARGET_MAIN_DEPTH].surface : nullptr;
    if (device) device->SetDepthStencilSurface(depthInForce);
    return true;
}

// ---------------------------------------------------------------------------------------
// Loading screen and blank frames (render thread)

void VornexRenderer::SetUICamera() {
    ASSERT_ON_THREAD(ThreadId(), "render thread");
    float a = static_cast<float>(renderWidth), b = static_cast<float>(renderHeight);
    GetUIDrawServices().GetVirtualSize(&a, &b);
    if (!(a > 0.0f) || !(b > 0.0f)) return;
    Matrix perspective, fit, projectionMatrix, viewMatrix;
    perspective.LoadPerspectiveOffCenterLH(-a / 2, a / 2, b / 2, -b / 2, a, 10 * a);
    const float s = (static_cast<float>(renderHeight) * a) / (static_cast<float>(renderWidth) * b);
    if (s <= 1.0f)
        fit.LoadScale(s, 1.0f, 1.0f);
    else
        fit.LoadScale(1.0f, 1.0f / s, 1.0f);
    projectionMatrix.Mul(fit, perspective);  // the projection, then the aspect fit
    viewMatrix.LoadTranslation(-a / 2, -b / 2, a);  // the UI plane (0..A, 0..B) at depth A
    SetCameraState(viewMatrix, projectionMatrix, Matrix::IDENTITY, 0);
}

void VornexRenderer::LoadingScreenPresent() {
    ASSERT_ON_THREAD(ThreadId(), "render thread");
    CriticalSectionGuard guard(&rendererLock);
    if (!sceneLoading.load(std::memory_order_acquire) || !device || !loadingScreen) return;
    lastLoadingPresent = os::ReadCounter();
    BindOutput(nullptr, 0, 1);
    ApplyFullViewport();
    UIElement* screen = loadingScreen;
    const Vector colour = GetUIDrawServices().GetColor(screen);
    ClearTarget(CLEAR_TARGET | (depthInForce ? CLEAR_ZBUFFER : 0), colour, 1.0f, 0);
    if (!loadingScreenOverScene) {
        PostProcessTargetMode(0);
        Upscale();
    }
    SetUICamera();
    colorFactor = Vector(1, 1, 1, 1);
    GetUIDrawServices().Draw(screen);
    colorFactor = Vector(1, 1, 1, 1);
    if (loadingScreenOverScene) {
        PostProcessTargetMode(1);
        Upscale();
    }
    UpscaleFinal();
    if (presenter->AcknowledgeDeviceLoss()) deviceResetPending.store(true, std::memory_order_release);
    PostPresentToPresenter(loadingPresentInterval, device, eventQueries[currentQuery]);
    currentQuery ^= 1;
    loadingPresents.fetch_add(1, std::memory_order_acq_rel);
}

void VornexRenderer::PresentBlankFrame() {
    ASSERT_ON_THREAD(ThreadId(), "render thread");
    if (!device) return;
    Surface* backBuffer = nullptr;
    if (Failed(device->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &backBuffer))) return;
    SetRenderTargets(backBuffer, nullptr, 3);
    ApplyViewport(0, 0, backBufferWidth, backBufferHeight, 0.0f, 1.0f);
    ClearTarget(CLEAR_TARGET | (depthInForce ? CLEAR_ZBUFFER : 0), Vector(0, 0, 0, 0), 1.0f, 0);
    backBuffer->Release();
    if (device->Present(nullptr, nullptr, nullptr, nullptr) == ERR_DEVICELOST)
        deviceResetPending.store(true, std::memory_order_release);
}
