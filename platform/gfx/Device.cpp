// Graphics device: design note.
//
// One device implementation records and validates; the drawing device is the same
// object with a GL back end attached (GlBackend.h), to which the calls that change
// pixels are handed after their checks and records. Without a back end the device
// stands in for a hardware device on a machine without one. Every resource
// keeps real bytes in memory (one sample per pixel, also for multisampled surfaces), so
// clears, copies, locks and uploads can be checked byte by byte. Each draw appends a
// record holding everything bound at that moment; blocks of state that did not change
// are shared between records. The device's usage rules are checked on every call and
// reported through the recorder (GfxRecorder.h); the result codes are the ones the
// original device returns for the same mistakes.
//
// Threads: one recursive device-wide lock serialises every call (the device is always
// "multithreaded"); each call is counted per thread so tests can tell who called.
// Files: Device.cpp (lifetime, reference counts, recorder, factory), DeviceResources.cpp
// (creation, locks, queries, swap chains), DeviceState.cpp (state, draws and their
// records), DeviceTargets.cpp (targets, clears, copies, scenes, present and reset).
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/gfx/DeviceImpl.h"
#include "platform/gfx/GlBackend.h"
#include "platform/gfx/PixelFormat.h"
#include "platform/gfx/SelfCounted.h"

namespace gfx {
namespace {

std::atomic<uint32_t> gNextSerial{1};

std::mutex gGlobalsMutex;
ValidationSink gSink = nullptr;
void* gSinkUser = nullptr;
CapabilityFaults gFaults;
std::atomic<DeviceKind> gDeviceKind{DeviceKind::Recording};

const char* const kCallKindNames[] = {
    "CreateDevice", "Reset", "Present", "SwapChainPresent", "TestCooperativeLevel", "BeginScene", "EndScene",
    "SetGammaRamp", "CreateAdditionalSwapChain", "CreateTexture", "CreateCubeTexture", "CreateRenderTarget",
    "CreateDepthStencilSurface", "CreateOffscreenPlainSurface", "CreateVertexBuffer", "CreateIndexBuffer",
    "CreateVertexDeclaration", "CreateVertexShader", "CreatePixelShader", "CreateQuery", "GetBackBuffer",
    "SetRenderTarget", "GetRenderTarget", "SetDepthStencilSurface", "GetDepthStencilSurface", "StretchRect",
    "ColorFill", "Clear", "SetViewport", "SetScissorRect", "SetRenderState", "SetSamplerState", "SetTexture",
    "SetVertexShader", "SetPixelShader", "SetVertexShaderConstant", "SetPixelShaderConstant", "SetFVF",
    "SetVertexDeclaration", "SetStreamSource", "SetStreamSourceFreq", "SetIndices", "DrawPrimitive",
    "DrawIndexedPrimitive", "DrawPrimitiveUP", "DrawIndexedPrimitiveUP", "Lock", "Unlock", "QueryIssue",
    "QueryGetData", "LoadSurface", "Other",
};
static_assert(sizeof(kCallKindNames) / sizeof(kCallKindNames[0]) == static_cast<size_t>(CallKind::Count),
              "one name per call kind");

// Display modes of the single adapter, X8R8G8B8.
const DisplayMode kModes[] = {
    {640, 480, 60, FMT_X8R8G8B8},    {800, 600, 60, FMT_X8R8G8B8},    {800, 600, 75, FMT_X8R8G8B8},
    {1024, 768, 60, FMT_X8R8G8B8},   {1280, 720, 60, FMT_X8R8G8B8},   {1280, 1024, 60, FMT_X8R8G8B8},
    {1366, 768, 60, FMT_X8R8G8B8},   {1600, 900, 60, FMT_X8R8G8B8},   {1920, 1080, 50, FMT_X8R8G8B8},
    {1920, 1080, 59, FMT_X8R8G8B8},  {1920, 1080, 60, FMT_X8R8G8B8},  {1920, 1080, 144, FMT_X8R8G8B8},
    {2560, 1440, 60, FMT_X8R8G8B8},
};
constexpr uint32_t kModeCount = sizeof(kModes) / sizeof(kModes[0]);

void FillCaps(Caps* caps, bool hardwareVertexProcessing) {
    std::memset(caps, 0, sizeof(*caps));
    caps->deviceType = DEVTYPE_HAL;
    caps->maxTextureWidth = 16384;
    caps->maxTextureHeight = 16384;
    caps->maxSimultaneousTextures = 8;
    caps->maxStreams = kMaxStreams;
    caps->numSimultaneousRTs = kMaxRenderTargets;
    caps->vertexShaderVersion = kVertexShaderVersion30;
    caps->pixelShaderVersion = kPixelShaderVersion30;
    caps->maxVertexShaderConst = kVertexShaderFloatConstants;
    caps->maxPrimitiveCount = 0xFFFFFF;
    caps->maxVertexIndex = 0xFFFFFF;
    caps->hardwareVertexProcessing = hardwareVertexProcessing ? 1 : 0;
}

class FactoryImpl final : public detail::SelfCounted<DeviceFactory> {
public:
    explicit FactoryImpl(DeviceKind kind) : kind(kind) {}
    uint32_t GetAdapterCount() override { return 1; }
    uint32_t GetAdapterModeCount(uint32_t adapter, Format format) override {
        return adapter == 0 && format == FMT_X8R8G8B8 ? kModeCount : 0;
    }
    Result EnumAdapterModes(uint32_t adapter, Format format, uint32_t mode, DisplayMode* out) override {
        if (adapter != 0 || format != FMT_X8R8G8B8 || mode >= kModeCount || !out) return ERR_INVALIDCALL;
        *out = kModes[mode];
        return OK;
    }
    Result GetAdapterDisplayMode(uint32_t adapter, DisplayMode* out) override {
        if (adapter != 0 || !out) return ERR_INVALIDCALL;
        *out = {1920, 1080, 60, FMT_X8R8G8B8};
        return OK;
    }
    Result CheckDeviceFormat(uint32_t adapter, DeviceType type, Format adapterFormat, uint32_t usage,
                             ResourceType resourceType, Format checkFormat) override {
        if (adapter != 0 || type != DEVTYPE_HAL) return ERR_INVALIDCALL;
        detail::FormatInfo info;
        if (!detail::GetFormatInfo(checkFormat, &info)) return ERR_NOTAVAILABLE;
        if (detail::FormatRefused(checkFormat, usage, GetCapabilityFaults())) return ERR_NOTAVAILABLE;
        if (kind == DeviceKind::Drawing && !detail::GlFormatSupported(checkFormat, usage)) return ERR_NOTAVAILABLE;
        if ((usage & USAGE_DEPTHSTENCIL) && !info.depth) return ERR_NOTAVAILABLE;
        if ((usage & USAGE_RENDERTARGET) && (info.depth || info.blockCompressed)) return ERR_NOTAVAILABLE;
        if (info.depth && !(usage & USAGE_DEPTHSTENCIL) && resourceType == RTYPE_TEXTURE) return ERR_NOTAVAILABLE;
        return OK;
    }
    Result CheckDeviceMultiSampleType(uint32_t adapter, DeviceType type, Format surfaceFormat, int32_t windowed,
                                      MultisampleType ms, uint32_t* qualityLevels) override {
        if (adapter != 0 || type != DEVTYPE_HAL) return ERR_INVALIDCALL;
        const bool ok = ms == MULTISAMPLE_NONE ||
                        ((ms == MULTISAMPLE_2_SAMPLES || ms == MULTISAMPLE_4_SAMPLES || ms == MULTISAMPLE_8_SAMPLES) &&
                         !GetCapabilityFaults().refuseMultisample);
        if (qualityLevels) *qualityLevels = ok ? 1 : 0;
        return ok ? OK : ERR_NOTAVAILABLE;
    }
    Result GetDeviceCaps(uint32_t adapter, DeviceType type, Caps* caps) override {
        if (adapter != 0 || type != DEVTYPE_HAL || !caps) return ERR_INVALIDCALL;
        FillCaps(caps, !GetCapabilityFaults().refuseHardwareVertexProcessing);
        return OK;
    }
    Result CreateDevice(uint32_t adapter, DeviceType type, void* focusWindow, uint32_t behaviorFlags,
                        PresentParameters* params, Device** device) override {
        if (!device || !params || adapter != 0 || type != DEVTYPE_HAL) return ERR_INVALIDCALL;
        *device = nullptr;
        if (GetCapabilityFaults().refuseDeviceCreation) return ERR_NOTAVAILABLE;
        const uint32_t vp = behaviorFlags & (CREATE_HARDWARE_VERTEXPROCESSING | CREATE_SOFTWARE_VERTEXPROCESSING |
                                             CREATE_MIXED_VERTEXPROCESSING);
        if (vp != CREATE_HARDWARE_VERTEXPROCESSING && vp != CREATE_SOFTWARE_VERTEXPROCESSING &&
            vp != CREATE_MIXED_VERTEXPROCESSING)
            return ERR_INVALIDCALL;
        if ((behaviorFlags & CREATE_PUREDEVICE) && vp != CREATE_HARDWARE_VERTEXPROCESSING) return ERR_INVALIDCALL;
        if (vp != CREATE_SOFTWARE_VERTEXPROCESSING && GetCapabilityFaults().refuseHardwareVertexProcessing)
            return ERR_NOTAVAILABLE;
        if (params->multiSampleType != MULTISAMPLE_NONE && GetCapabilityFaults().refuseMultisample)
            return ERR_INVALIDCALL;
        if (params->backBufferWidth > 16384 || params->backBufferHeight > 16384) return ERR_INVALIDCALL;
        if (params->backBufferFormat == FMT_UNKNOWN) params->backBufferFormat = FMT_X8R8G8B8;
        if (params->backBufferWidth == 0) params->backBufferWidth = 640;
        if (params->backBufferHeight == 0) params->backBufferHeight = 480;
        if (params->backBufferCount == 0) params->backBufferCount = 1;
        if (params->enableAutoDepthStencil && !detail::IsDepthFormat(params->autoDepthStencilFormat))
            return ERR_INVALIDCALL;
        std::unique_ptr<detail::GlBackend> drawing;
        if (kind == DeviceKind::Drawing) {
            std::string error;
            drawing = detail::GlBackend::Create(&error);
            if (!drawing) {
                std::fprintf(stderr, "graphics device: no drawing device: %s\n", error.c_str());
                return ERR_NOTAVAILABLE;
            }
        }
        auto* created = new detail::DeviceImpl(*params, behaviorFlags);
        if (drawing) created->AttachBackend(std::move(drawing));
        created->Count(CallKind::CreateDevice);
        *device = created;
        return OK;
    }

private:
    DeviceKind kind;
};

}  // namespace

// ---------------------------------------------------------------- globals

const char* CallKindName(CallKind kind) {
    const auto i = static_cast<size_t>(kind);
    return i < static_cast<size_t>(CallKind::Count) ? kCallKindNames[i] : "?";
}

void SetValidationSink(ValidationSink sink, void* user) {
    std::lock_guard<std::mutex> lock(gGlobalsMutex);
    gSink = sink;
    gSinkUser = user;
}

void SetCapabilityFaults(const CapabilityFaults& faults) {
    std::lock_guard<std::mutex> lock(gGlobalsMutex);
    gFaults = faults;
}

CapabilityFaults GetCapabilityFaults() {
    std::lock_guard<std::mutex> lock(gGlobalsMutex);
    return gFaults;
}

void SelectDeviceKind(DeviceKind kind) { gDeviceKind.store(kind); }
DeviceKind SelectedDeviceKind() { return gDeviceKind.load(); }

DeviceFactory* CreateDeviceFactory(uint32_t sdkVersion) {
    return sdkVersion == SDK_VERSION ? new FactoryImpl(gDeviceKind.load()) : nullptr;
}

uint32_t SerialOf(Unknown* object) {
    if (!object) return 0;
    if (auto* core = dynamic_cast<detail::ObjectCore*>(object)) return core->serial;
    if (auto* device = dynamic_cast<detail::DeviceImpl*>(object)) return device->Serial();
    return 0;
}

Recorder* GetRecorder(Device* device) { return dynamic_cast<detail::DeviceImpl*>(device); }

namespace detail {

bool FormatRefused(Format format, uint32_t usage, const CapabilityFaults& faults) {
    if (format == FMT_INTZ && faults.refuseIntz) return true;
    if (format == FMT_RAWZ && faults.refuseRawz) return true;
    if (detail::IsTenBitFormat(format) && (usage & USAGE_RENDERTARGET) && faults.refuse10BitRenderTarget) return true;
    return false;
}

ObjectCore::ObjectCore(DeviceImpl* device, ObjectKind kind, uint32_t pool)
    : device(device), kind(kind), pool(pool), serial(gNextSerial.fetch_add(1)) {}

ObjectCore::~ObjectCore() { device->ObjectDestroyed(this); }

void DeviceImpl::AttachBackend(std::unique_ptr<GlBackend> drawing) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    backend = std::move(drawing);
    if (backend) backend->SetOwner(this);
}

void DeviceImpl::ObjectDestroyed(ObjectCore* object) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (backend) backend->Forget(object);
}

// ---------------------------------------------------------------- device lifetime

DeviceImpl::DeviceImpl(const PresentParameters& params, uint32_t behaviorFlags)
    : serial(gNextSerial.fetch_add(1)), behaviorFlags(behaviorFlags), params(params) {
    for (uint32_t i = 0; i < 256; ++i) {
        const auto v = static_cast<uint16_t>(i * 257);
        gamma.red[i] = gamma.green[i] = gamma.blue[i] = v;
    }
    CreateImplicitTargets();
    ResetState();
}

DeviceImpl::~DeviceImpl() {
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        // Drop every binding, then free what only the bindings kept (released objects).
        state.textures.fill(nullptr);
        state.renderTargets.fill(nullptr);
        state.depthStencil = nullptr;
        state.vertexShader = nullptr;
        state.pixelShader = nullptr;
        state.declaration = nullptr;
        state.indices = nullptr;
        for (auto& s : state.streams) s.buffer = nullptr;
        for (ObjectCore* object : objects) delete object;
        objects.clear();
    }
}

uint32_t DeviceImpl::AddRef() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return ++refs;
}

uint32_t DeviceImpl::Release() {
    uint32_t r;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (refs == 0) return 0;
        r = --refs;
    }
    if (r == 0) delete this;
    return r;
}

void DeviceImpl::Count(CallKind kind) {
    const auto i = static_cast<size_t>(kind);
    ++calls[i];
    const os::ThreadId self = os::CurrentThreadId();
    for (ThreadRecord& t : threads) {
        if (t.thread == self) {
            ++t.calls[i];
            return;
        }
    }
    ThreadRecord t{self, {}};
    t.calls[i] = 1;
    threads.push_back(t);
}

namespace {
constexpr size_t kMaxKeptReports = 1024;
}  // namespace

Result DeviceImpl::Report(bool violation, CallKind call, const char* rule, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    ValidationReport report{violation, call, rule, std::string(CallKindName(call)) + ": " + text};
    if (violation) ++violations;
    ValidationSink sink;
    void* user;
    {
        std::lock_guard<std::mutex> lock(gGlobalsMutex);
        sink = gSink;
        user = gSinkUser;
    }
    if (sink) {
        sink(user, report);
    } else if (violation && validationMode == ValidationMode::Strict) {
        std::fprintf(stderr, "graphics device rule broken (strict validation): %s\n", report.message.c_str());
        std::abort();
    }
    reports.push_back(std::move(report));
    // Bounded in long runs: a rule broken every frame keeps only the latest reports.
    if (reports.size() > kMaxKeptReports) reports.erase(reports.begin(), reports.begin() + kMaxKeptReports / 2);
    return ERR_INVALIDCALL;
}

void DeviceImpl::AddLive(ObjectCore* object, int delta) {
    auto& slot = live[static_cast<size_t>(object->kind)][object->pool];
    slot = static_cast<uint32_t>(static_cast<int>(slot) + delta);
}

void DeviceImpl::Register(ObjectCore* object) {
    objects.insert(object);
    AddLive(object, +1);
    ++refs;  // the object's reference on its device
}

uint32_t DeviceImpl::AddRefObject(ObjectCore* object) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    ObjectCore* owner = object->Owner();
    if (owner->publicRefs == 0) {
        if (!owner->deviceOwned) Report(true, CallKind::Other, "use-after-release", "AddRef of a released object");
        ++refs;
    }
    return ++owner->publicRefs;
}

uint32_t DeviceImpl::ReleaseObject(ObjectCore* object) {
    ObjectCore* toDelete = nullptr;
    bool dropDeviceRef = false;
    uint32_t result;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        ObjectCore* owner = object->Owner();
        if (owner->publicRefs == 0) {
            Report(true, CallKind::Other, "use-after-release", "Release of an object with no references");
            return 0;
        }
        result = --owner->publicRefs;
        if (result == 0) {
            dropDeviceRef = true;
            if (!owner->deviceOwned) {
                AddLive(owner, -1);
                if (owner->internalRefs == 0) {
                    objects.erase(owner);
                    toDelete = owner;
                }
            }
        }
    }
    delete toDelete;
    if (dropDeviceRef) Release();
    return result;
}

void DeviceImpl::Bind(ObjectCore* newObject, ObjectCore* oldObject) {
    if (newObject) ++newObject->Owner()->internalRefs;
    if (!oldObject) return;
    ObjectCore* owner = oldObject->Owner();
    if (--owner->internalRefs == 0 && owner->publicRefs == 0 && !owner->deviceOwned) {
        objects.erase(owner);
        delete owner;
    }
}

SurfaceImpl* DeviceImpl::AsSurface(Surface* surface) {
    auto* impl = dynamic_cast<SurfaceImpl*>(surface);
    return impl && impl->device == this ? impl : nullptr;
}

// ---------------------------------------------------------------- recorder

void DeviceImpl::SetValidationMode(ValidationMode mode) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    validationMode = mode;
}

std::vector<ValidationReport> DeviceImpl::Reports() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return reports;
}

size_t DeviceImpl::ViolationCount() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return violations;
}

void DeviceImpl::ClearReports() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    reports.clear();
    violations = 0;
}

void DeviceImpl::SetDrawRecordMode(DrawRecordMode mode) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    drawRecordMode = mode;
    if (mode == DrawRecordMode::Off) drawRecords.clear();
}

std::vector<DrawRecord> DeviceImpl::DrawRecords() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return drawRecords;
}

void DeviceImpl::ClearDrawRecords() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    drawRecords.clear();
}

void DeviceImpl::SetLockLogging(bool on) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    lockLogging = on;
    if (!on) lockLog.clear();
}

std::vector<LockRecord> DeviceImpl::LockLog() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return lockLog;
}

void DeviceImpl::ClearLockLog() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    lockLog.clear();
}

void DeviceImpl::AppendCall(CallKind kind, std::initializer_list<uint32_t> args, ObjectCore* object,
                            ObjectCore* object2, const void* data, size_t bytes) {
    CallRecord record{kind, {}, nullptr, nullptr, {}};
    std::copy_n(args.begin(), std::min(args.size(), record.args.size()), record.args.begin());
    for (auto [core, out] : {std::pair{object, &record.object}, std::pair{object2, &record.object2}}) {
        if (!core) continue;
        Bind(core, nullptr);
        callLogObjects.push_back(core);
        *out = dynamic_cast<Unknown*>(core);
    }
    if (data && bytes) {
        const auto* p = static_cast<const uint8_t*>(data);
        record.data.assign(p, p + bytes);
    }
    callLog.push_back(std::move(record));
}

void DeviceImpl::SetCallLogging(bool on) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    callLogging = on;
    if (!on) ClearCallLog();
}

std::vector<CallRecord> DeviceImpl::CallLog() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return callLog;
}

void DeviceImpl::ClearCallLog() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    callLog.clear();
    for (ObjectCore* core : callLogObjects) Bind(nullptr, core);
    callLogObjects.clear();
}

uint64_t DeviceImpl::CallCount(CallKind kind) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return kind < CallKind::Count ? calls[static_cast<size_t>(kind)] : 0;
}

uint64_t DeviceImpl::CallCountOnThread(os::ThreadId thread, CallKind kind) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (kind >= CallKind::Count) return 0;
    for (const ThreadRecord& t : threads)
        if (t.thread == thread) return t.calls[static_cast<size_t>(kind)];
    return 0;
}

std::vector<ThreadCalls> DeviceImpl::CallsByThread() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    std::vector<ThreadCalls> out;
    for (const ThreadRecord& t : threads) out.push_back({t.thread, t.calls});
    return out;
}

uint64_t DeviceImpl::DroppedCalls() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return droppedCalls;
}

void DeviceImpl::ResetCallCounts() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    calls.fill(0);
    droppedCalls = 0;
    threads.clear();
}

uint32_t DeviceImpl::LiveObjects(ObjectKind kind) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (kind >= ObjectKind::Count) return 0;
    uint32_t total = 0;
    for (uint32_t n : live[static_cast<size_t>(kind)]) total += n;
    return total;
}

uint32_t DeviceImpl::LiveObjects(ObjectKind kind, Pool pool) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (kind >= ObjectKind::Count || pool >= kPoolCount) return 0;
    return live[static_cast<size_t>(kind)][pool];
}

uint64_t DeviceImpl::PresentCount() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return presents;
}

void DeviceImpl::LoseDeviceOnNextPresent() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    loseOnNextPresent = true;
}

void DeviceImpl::FailResets(uint32_t count, Result result) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    failResets = count;
    failResetResult = result;
}

void DeviceImpl::FailLocks(uint32_t count) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    failLocks = count;
}

void DeviceImpl::SetQueryLatency(uint32_t polls) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    queryLatency = polls;
}

Result DeviceImpl::ReadSurface(Surface* surface, std::vector<uint8_t>* bytes) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    SurfaceImpl* s = AsSurface(surface);
    if (!s || !bytes) return ERR_INVALIDCALL;
    if (backend) backend->SyncToCpu(s);
    *bytes = s->bytes;
    return OK;
}

Result DeviceImpl::GetDeviceCaps(Caps* caps) {
    CallScope scope(this, CallKind::Other);
    if (!caps) return ERR_INVALIDCALL;
    FillCaps(caps, (behaviorFlags & CREATE_SOFTWARE_VERTEXPROCESSING) == 0);
    return OK;
}

void DeviceImpl::SetGammaRamp(uint32_t swapChain, uint32_t flags, const GammaRamp* ramp) {
    CallScope scope(this, CallKind::SetGammaRamp);
    if (swapChain != 0 || !ramp) {
        Report(true, CallKind::SetGammaRamp, "gamma-ramp-arguments", "swap chain %u, ramp %p", swapChain,
               static_cast<const void*>(ramp));
        return;
    }
    gamma = *ramp;
}

void DeviceImpl::GetGammaRamp(uint32_t swapChain, GammaRamp* ramp) {
    CallScope scope(this, CallKind::Other);
    if (ramp) *ramp = gamma;
}

}  // namespace detail
}  // namespace gfx
