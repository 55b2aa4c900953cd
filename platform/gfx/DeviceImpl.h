#pragma once
// Private to platform/gfx: the recording device's objects.
//
// Reference counts: an object's public count is what AddRef/Release report; while it is
// above zero the object holds one reference on its device and counts as live. The
// device's bindings (textures, targets, shaders, streams, ...) hold internal references,
// so an object released while bound stays in memory until it is unbound, as the
// original's runtime does. Surfaces of textures and swap chains share their
// container's counts. The back buffer, the automatic depth surface and the implicit
// swap chain belong to the device; references handed out for them block Reset.
// Every field below is guarded by the device lock.
#include <array>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/gfx/GfxRecorder.h"
#include "platform/gfx/ShaderCompiler.h"

namespace gfx::detail {

class DeviceImpl;
class GlBackend;

constexpr uint32_t kNoPool = kPoolCount;  // shaders, declarations, queries

class ObjectCore {
public:
    ObjectCore(DeviceImpl* device, ObjectKind kind, uint32_t pool);
    virtual ~ObjectCore();  // tells a drawing back end to drop its copy

    DeviceImpl* device;
    ObjectKind kind;
    uint32_t pool;
    uint32_t serial;
    uint32_t publicRefs = 1;
    uint32_t internalRefs = 0;
    ObjectCore* container = nullptr;  // counts are the container's
    bool deviceOwned = false;

    ObjectCore* Owner() { return container ? container : this; }
};

// The one reference-counting base of the device's objects: the interface's AddRef and
// Release go to the device, which keeps the counts (see above). Core is ObjectCore or
// a shared core derived from it; its constructors are inherited.
template <class Interface, class Core = ObjectCore>
class Counted : public Interface, public Core {
public:
    using Core::Core;
    uint32_t AddRef() final;
    uint32_t Release() final;
};

// A counted resource also hands out its device (with a reference of its own).
template <class Interface, class Core = ObjectCore>
class CountedResource : public Counted<Interface, Core> {
public:
    using Counted<Interface, Core>::Counted;
    Result GetDevice(Device** out) final;
};

enum class SurfaceRole : uint8_t { TextureLevel, RenderTarget, DepthStencil, OffscreenPlain, BackBuffer };

class SurfaceImpl final : public CountedResource<Surface> {
public:
    SurfaceImpl(DeviceImpl* device, SurfaceRole role, uint32_t width, uint32_t height, Format format, uint32_t usage,
                Pool pool, MultisampleType ms, uint32_t msQuality, bool lockable);

    ResourceType GetType() override { return RTYPE_SURFACE; }
    Result GetDesc(SurfaceDesc* desc) override;
    Result LockRect(LockedRect* locked, const Rect* rect, uint32_t flags) override;
    Result UnlockRect() override;

    // Under the device lock.
    Result LockLocked(LockedRect* locked, const Rect* rect, uint32_t flags);
    Result UnlockLocked();
    uint8_t* Texel(uint32_t x, uint32_t y) { return bytes.data() + static_cast<size_t>(y) * pitch + x * texelBytes; }
    bool IsRenderTarget() const { return (usage & USAGE_RENDERTARGET) != 0; }
    bool IsDepth() const { return (usage & USAGE_DEPTHSTENCIL) != 0; }

    SurfaceRole role;
    uint32_t width, height;
    Format format;
    uint32_t usage;
    MultisampleType multiSample;
    uint32_t multiSampleQuality;
    bool lockable;
    bool locked = false;
    uint32_t lockFlags = 0;
    // With a drawing back end (GlBackend.h): the bytes changed since the GPU copy was
    // made, or the GPU copy changed since the bytes were read back.
    bool cpuDirty = true;
    bool gpuDirty = false;
    uint32_t pitch = 0;
    uint32_t texelBytes = 0;
    std::vector<uint8_t> bytes;  // one sample per pixel, also for multisampled surfaces
};

class TextureImpl final : public CountedResource<Texture> {
public:
    TextureImpl(DeviceImpl* device, uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, Format format,
                Pool pool);
    ResourceType GetType() override { return RTYPE_TEXTURE; }
    uint32_t GetLevelCount() override { return static_cast<uint32_t>(levels.size()); }
    Result GetLevelDesc(uint32_t level, SurfaceDesc* desc) override;
    Result GetSurfaceLevel(uint32_t level, Surface** surface) override;
    Result LockRect(uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) override;
    Result UnlockRect(uint32_t level) override;

    uint32_t width, height, usage;
    Format format;
    std::vector<std::unique_ptr<SurfaceImpl>> levels;
};

class CubeTextureImpl final : public CountedResource<CubeTexture> {
public:
    CubeTextureImpl(DeviceImpl* device, uint32_t edge, uint32_t levels, uint32_t usage, Format format, Pool pool);
    ResourceType GetType() override { return RTYPE_CUBETEXTURE; }
    uint32_t GetLevelCount() override { return levelCount; }
    Result GetLevelDesc(uint32_t level, SurfaceDesc* desc) override;
    Result GetCubeMapSurface(CubeFace face, uint32_t level, Surface** surface) override;
    Result LockRect(CubeFace face, uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) override;
    Result UnlockRect(CubeFace face, uint32_t level) override;

    SurfaceImpl* Level(uint32_t face, uint32_t level) { return faces[face][level].get(); }

    uint32_t edge, levelCount, usage;
    Format format;
    std::array<std::vector<std::unique_ptr<SurfaceImpl>>, 6> faces;
};

class BufferCore : public ObjectCore {
public:
    BufferCore(DeviceImpl* device, ObjectKind kind, uint32_t length, uint32_t usage, Pool pool);
    Result LockBuffer(uint32_t offset, uint32_t size, void** data, uint32_t flags);
    Result UnlockBuffer();

    uint32_t usage;
    uint32_t lockCount = 0;
    std::vector<uint8_t> bytes;
    // Bytes written by locks since the drawing back end's last upload; a discard lock
    // makes all of them new.
    uint32_t dirtyBegin = 0, dirtyEnd = 0;
    bool dirtyDiscard = false;
};

class VertexBufferImpl final : public CountedResource<VertexBuffer, BufferCore> {
public:
    VertexBufferImpl(DeviceImpl* device, uint32_t length, uint32_t usage, uint32_t fvf, Pool pool)
        : CountedResource(device, ObjectKind::VertexBuffer, length, usage, pool), fvf(fvf) {}
    ResourceType GetType() override { return RTYPE_VERTEXBUFFER; }
    Result Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) override;
    Result Unlock() override;
    Result GetDesc(VertexBufferDesc* desc) override;
    uint32_t fvf;
};

class IndexBufferImpl final : public CountedResource<IndexBuffer, BufferCore> {
public:
    IndexBufferImpl(DeviceImpl* device, uint32_t length, uint32_t usage, Format format, Pool pool)
        : CountedResource(device, ObjectKind::IndexBuffer, length, usage, pool), format(format) {}
    ResourceType GetType() override { return RTYPE_INDEXBUFFER; }
    Result Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) override;
    Result Unlock() override;
    Result GetDesc(IndexBufferDesc* desc) override;
    Format format;
};

class DeclarationImpl final : public Counted<VertexDeclaration> {
public:
    DeclarationImpl(DeviceImpl* device, std::vector<VertexElement> elements);
    Result GetDeclaration(VertexElement* elements, uint32_t* count) override;
    std::shared_ptr<const std::vector<VertexElement>> elements;  // end marker included
};

class ShaderCore : public ObjectCore {
public:
    ShaderCore(DeviceImpl* device, ObjectKind kind, std::vector<uint32_t> code,
               std::shared_ptr<const std::vector<ConstantDesc>> constants);
    Result Function(void* data, uint32_t* size);
    std::vector<uint32_t> code;
    std::shared_ptr<const std::vector<ConstantDesc>> constants;
};

class VertexShaderImpl final : public Counted<VertexShader, ShaderCore> {
public:
    using Counted::Counted;
    Result GetFunction(void* data, uint32_t* size) override { return Function(data, size); }
};

class PixelShaderImpl final : public Counted<PixelShader, ShaderCore> {
public:
    using Counted::Counted;
    Result GetFunction(void* data, uint32_t* size) override { return Function(data, size); }
};

class QueryImpl final : public Counted<Query> {
public:
    QueryImpl(DeviceImpl* device, QueryType type);
    QueryType GetType() override { return type; }
    Result Issue(uint32_t flags) override;
    Result GetData(void* data, uint32_t size, uint32_t flags) override;
    QueryType type;
    uint32_t pendingPolls = 0;
};

class SwapChainImpl final : public Counted<SwapChain> {
public:
    SwapChainImpl(DeviceImpl* device, const PresentParameters& params);
    Result Present(const Rect* source, const Rect* dest, void* window, const void* dirtyRegion,
                   uint32_t flags) override;
    Result GetBackBuffer(uint32_t index, BackBufferType type, Surface** surface) override;
    Result GetPresentParameters(PresentParameters* params) override;
    void Rebuild(const PresentParameters& params);  // new back buffer for new parameters

    PresentParameters params;
    std::unique_ptr<SurfaceImpl> backBuffer;
};

struct StreamSlot {
    VertexBufferImpl* buffer = nullptr;
    uint32_t offset = 0, stride = 0, frequency = 1;
};

// The device state that draws capture.
struct BoundState {
    StateBlock states;
    ConstantBlock vertexConstants, pixelConstants;
    std::array<ObjectCore*, kSamplerStageCount> textures{};
    std::array<SurfaceImpl*, kMaxRenderTargets> renderTargets{};
    SurfaceImpl* depthStencil = nullptr;
    Viewport viewport{};
    Rect scissor{};
    VertexShaderImpl* vertexShader = nullptr;
    PixelShaderImpl* pixelShader = nullptr;
    uint32_t fvf = 0;
    DeclarationImpl* declaration = nullptr;
    std::array<StreamSlot, kMaxStreams> streams{};
    IndexBufferImpl* indices = nullptr;
};

// True when the capability faults make the device refuse the format for the usage.
bool FormatRefused(Format format, uint32_t usage, const CapabilityFaults& faults);

// Copies (same size) or scales with point or linear filtering between colour surfaces.
void Blit(SurfaceImpl* source, const Rect& sourceRect, SurfaceImpl* dest, const Rect& destRect, TextureFilter filter);

// Fills the render and sampler states with the device defaults.
void SetDefaultStates(StateBlock* block, bool autoDepth);

class DeviceImpl final : public Device, public Recorder {
public:
    DeviceImpl(const PresentParameters& params, uint32_t behaviorFlags);
    ~DeviceImpl() override;

    // ---- Device ----
    uint32_t AddRef() override;
    uint32_t Release() override;
    Result TestCooperativeLevel() override;
    Result Reset(PresentParameters* params) override;
    Result Present(const Rect* source, const Rect* dest, void* window, const void* dirtyRegion) override;
    Result BeginScene() override;
    Result EndScene() override;
    Result GetDeviceCaps(Caps* caps) override;
    void SetGammaRamp(uint32_t swapChain, uint32_t flags, const GammaRamp* ramp) override;
    void GetGammaRamp(uint32_t swapChain, GammaRamp* ramp) override;
    Result CreateAdditionalSwapChain(PresentParameters* params, SwapChain** swapChain) override;
    Result GetSwapChain(uint32_t index, SwapChain** swapChain) override;
    Result CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, Format format, Pool pool,
                         Texture** texture, void* sharedHandle) override;
    Result CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage, Format format, Pool pool,
                             CubeTexture** texture, void* sharedHandle) override;
    Result CreateRenderTarget(uint32_t width, uint32_t height, Format format, MultisampleType ms, uint32_t msQuality,
                              int32_t lockable, Surface** surface, void* sharedHandle) override;
    Result CreateDepthStencilSurface(uint32_t width, uint32_t height, Format format, MultisampleType ms,
                                     uint32_t msQuality, int32_t discard, Surface** surface,
                                     void* sharedHandle) override;
    Result CreateOffscreenPlainSurface(uint32_t width, uint32_t height, Format format, Pool pool, Surface** surface,
                                       void* sharedHandle) override;
    Result CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, Pool pool, VertexBuffer** buffer,
                              void* sharedHandle) override;
    Result CreateIndexBuffer(uint32_t length, uint32_t usage, Format format, Pool pool, IndexBuffer** buffer,
                             void* sharedHandle) override;
    Result CreateVertexDeclaration(const VertexElement* elements, VertexDeclaration** declaration) override;
    Result CreateVertexShader(const uint32_t* code, uint32_t codeBytes, VertexShader** shader) override;
    Result CreatePixelShader(const uint32_t* code, uint32_t codeBytes, PixelShader** shader) override;
    Result CreateQuery(QueryType type, Query** query) override;
    Result GetBackBuffer(uint32_t swapChain, uint32_t index, BackBufferType type, Surface** surface) override;
    Result SetRenderTarget(uint32_t index, Surface* surface) override;
    Result GetRenderTarget(uint32_t index, Surface** surface) override;
    Result SetDepthStencilSurface(Surface* surface) override;
    Result GetDepthStencilSurface(Surface** surface) override;
    Result StretchRect(Surface* source, const Rect* sourceRect, Surface* dest, const Rect* destRect,
                       TextureFilter filter) override;
    Result ColorFill(Surface* surface, const Rect* rect, Color color) override;
    Result GetRenderTargetData(Surface* renderTarget, Surface* destSurface) override;
    Result UpdateSurface(Surface* source, const Rect* sourceRect, Surface* dest, const void* destPoint) override;
    Result Clear(uint32_t rectCount, const Rect* rects, uint32_t flags, Color color, float z,
                 uint32_t stencil) override;
    Result SetViewport(const Viewport* viewport) override;
    Result GetViewport(Viewport* viewport) override;
    Result SetScissorRect(const Rect* rect) override;
    Result GetScissorRect(Rect* rect) override;
    Result SetRenderState(RenderStateType state, uint32_t value) override;
    Result GetRenderState(RenderStateType state, uint32_t* value) override;
    Result SetSamplerState(uint32_t sampler, SamplerStateType type, uint32_t value) override;
    Result GetSamplerState(uint32_t sampler, SamplerStateType type, uint32_t* value) override;
    Result SetTexture(uint32_t stage, BaseTexture* texture) override;
    Result GetTexture(uint32_t stage, BaseTexture** texture) override;
    Result SetVertexShader(VertexShader* shader) override;
    Result GetVertexShader(VertexShader** shader) override;
    Result SetPixelShader(PixelShader* shader) override;
    Result GetPixelShader(PixelShader** shader) override;
    Result SetVertexShaderConstantF(uint32_t start, const float* data, uint32_t count) override;
    Result GetVertexShaderConstantF(uint32_t start, float* data, uint32_t count) override;
    Result SetPixelShaderConstantF(uint32_t start, const float* data, uint32_t count) override;
    Result GetPixelShaderConstantF(uint32_t start, float* data, uint32_t count) override;
    Result SetVertexShaderConstantI(uint32_t start, const int32_t* data, uint32_t count) override;
    Result SetPixelShaderConstantI(uint32_t start, const int32_t* data, uint32_t count) override;
    Result SetVertexShaderConstantB(uint32_t start, const int32_t* data, uint32_t count) override;
    Result SetPixelShaderConstantB(uint32_t start, const int32_t* data, uint32_t count) override;
    Result SetFVF(uint32_t fvf) override;
    Result GetFVF(uint32_t* fvf) override;
    Result SetVertexDeclaration(VertexDeclaration* declaration) override;
    Result GetVertexDeclaration(VertexDeclaration** declaration) override;
    Result SetStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride) override;
    Result SetStreamSourceFreq(uint32_t stream, uint32_t setting) override;
    Result SetIndices(IndexBuffer* buffer) override;
    Result DrawPrimitive(PrimitiveType type, uint32_t startVertex, uint32_t primitiveCount) override;
    Result DrawIndexedPrimitive(PrimitiveType type, int32_t baseVertex, uint32_t minIndex, uint32_t numVertices,
                                uint32_t startIndex, uint32_t primitiveCount) override;
    Result DrawPrimitiveUP(PrimitiveType type, uint32_t primitiveCount, const void* vertexData,
                           uint32_t stride) override;
    Result DrawIndexedPrimitiveUP(PrimitiveType type, uint32_t minIndex, uint32_t numVertices,
                                  uint32_t primitiveCount, const void* indexData, Format indexFormat,
                                  const void* vertexData, uint32_t stride) override;

    // ---- Recorder ----
    void SetValidationMode(ValidationMode mode) override;
    std::vector<ValidationReport> Reports() override;
    size_t ViolationCount() override;
    void ClearReports() override;
    void SetDrawRecordMode(DrawRecordMode mode) override;
    std::vector<DrawRecord> DrawRecords() override;
    void ClearDrawRecords() override;
    void SetLockLogging(bool on) override;
    std::vector<LockRecord> LockLog() override;
    void ClearLockLog() override;
    void SetCallLogging(bool on) override;
    std::vector<CallRecord> CallLog() override;
    void ClearCallLog() override;
    uint64_t CallCount(CallKind kind) override;
    uint64_t DroppedCalls() override;
    uint64_t CallCountOnThread(os::ThreadId thread, CallKind kind) override;
    std::vector<ThreadCalls> CallsByThread() override;
    void ResetCallCounts() override;
    uint32_t LiveObjects(ObjectKind kind) override;
    uint32_t LiveObjects(ObjectKind kind, Pool pool) override;
    uint64_t PresentCount() override;
    void LoseDeviceOnNextPresent() override;
    void FailResets(uint32_t count, Result result) override;
    void SetQueryLatency(uint32_t polls) override;
    void FailLocks(uint32_t count) override;
    Result ReadSurface(Surface* surface, std::vector<uint8_t>* bytes) override;

    // ---- Shared with the objects (device lock held unless noted) ----
    std::recursive_mutex mutex;
    // True (and one fault used) while FailLocks has refusals left.
    bool TakeLockFault() { return failLocks ? (--failLocks, true) : false; }
    void Count(CallKind kind);  // call counters and the thread record
    // Reports a broken rule (violation) or a warning; returns ERR_INVALIDCALL for use as a result.
    Result Report(bool violation, CallKind call, const char* rule, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    void Register(ObjectCore* object);  // a new object with one public reference
    uint32_t AddRefObject(ObjectCore* object);
    uint32_t ReleaseObject(ObjectCore* object);  // takes the lock itself
    void Bind(ObjectCore* newObject, ObjectCore* oldObject);
    void AddLive(ObjectCore* object, int delta);
    SurfaceImpl* AsSurface(Surface* surface);
    uint32_t Serial() const { return serial; }
    const PresentParameters& Params() const { return params; }
    uint32_t QueryLatency() const { return queryLatency; }
    GlBackend* Backend() const { return backend.get(); }
    void AttachBackend(std::unique_ptr<GlBackend> drawing);
    void ObjectDestroyed(ObjectCore* object);  // takes the lock
    void FinishOutsideScene();
    bool Lost() const { return lost; }
    Result PresentLocked(CallKind call);
    // Appends to the call log while it is on; objects must be this device's own.
    void LogCall(CallKind kind, std::initializer_list<uint32_t> args, ObjectCore* object = nullptr,
                 ObjectCore* object2 = nullptr, const void* data = nullptr, size_t bytes = 0) {
        if (callLogging) AppendCall(kind, args, object, object2, data, bytes);
    }
    void LogLock(const LockRecord& record) {
        if (lockLogging) lockLog.push_back(record);
    }

private:
    struct ThreadRecord {
        os::ThreadId thread;
        std::array<uint64_t, static_cast<size_t>(CallKind::Count)> calls;
    };

    void AppendCall(CallKind kind, std::initializer_list<uint32_t> args, ObjectCore* object, ObjectCore* object2,
                    const void* data, size_t bytes);
    void ResetState();
    void CreateImplicitTargets();
    Result CheckDrawState(CallKind call, PrimitiveType type, uint32_t primitiveCount, uint32_t vertexCount,
                          uint32_t firstVertex, bool indexed, uint32_t indexStart);
    void RecordDraw(DrawRecord record);
    // A copy of a UP draw's vertex bytes for its record (null while records are off).
    std::shared_ptr<const std::vector<uint8_t>> CopyUserVertices(const void* data, uint32_t count,
                                                                 uint32_t stride) const;
    void StatesChanged() { stateSnapshot.reset(); }
    // A set call that leaves its state as it is: counted, and nothing else is done.
    Result Dropped() {
        ++droppedCalls;
        return OK;
    }
    // The binders of the device state. Own: the device's own object behind a pointer
    // (null for null); false, reported as "foreign-object", for an object of another
    // device, of another kind or already released. Rebind: points a slot at an object,
    // moving the internal reference. HandOut: a bound object with a reference of its own.
    template <class Impl, class Interface>
    bool Own(Interface* object, Impl** out, CallKind call, const char* what);
    template <class Impl>
    void Rebind(Impl*& slot, Impl* object) {
        Bind(object, slot);
        slot = object;
    }
    template <class Interface>
    static Result HandOut(Interface* bound, Interface** out) {
        if (!out) return ERR_INVALIDCALL;
        *out = bound;
        if (bound) bound->AddRef();
        return OK;
    }
    Result SetConstants(bool pixel, uint32_t start, const float* data, uint32_t count, CallKind call);
    void ClearRect(SurfaceImpl* surface, const Rect& rect, uint32_t flags, Color color, float z, uint32_t stencil);
    bool ClipToTarget(const Rect& in, Rect* out) const;
    Result CheckPresentParameters(PresentParameters* params, CallKind call);

    std::unique_ptr<GlBackend> backend;  // null for the recording device; outlives every object
    uint32_t serial;
    uint32_t refs = 1;
    uint32_t behaviorFlags;
    PresentParameters params;
    BoundState state;
    bool inScene = false;
    bool lost = false;
    bool loseOnNextPresent = false;
    uint32_t failResets = 0;
    Result failResetResult = ERR_DEVICELOST;
    uint32_t queryLatency = 0;
    uint32_t failLocks = 0;
    uint64_t presents = 0;
    GammaRamp gamma{};

    std::unique_ptr<SwapChainImpl> implicitSwapChain;  // owns the back buffer
    std::unique_ptr<SurfaceImpl> autoDepth;
    std::unordered_set<ObjectCore*> objects;  // every object not owned by a container or the device
    std::array<std::array<uint32_t, kPoolCount + 1>, static_cast<size_t>(ObjectKind::Count)> live{};

    ValidationMode validationMode = ValidationMode::Warn;
    std::vector<ValidationReport> reports;
    size_t violations = 0;
    DrawRecordMode drawRecordMode = DrawRecordMode::LastFrame;
    std::vector<DrawRecord> drawRecords;
    uint64_t recordsFrame = 0;
    bool lockLogging = false;
    std::vector<LockRecord> lockLog;
    bool callLogging = false;
    std::vector<CallRecord> callLog;
    std::vector<ObjectCore*> callLogObjects;  // each holds an internal reference
    std::shared_ptr<const StateBlock> stateSnapshot;
    std::shared_ptr<const ConstantBlock> vertexSnapshot, pixelSnapshot;
    std::array<uint64_t, static_cast<size_t>(CallKind::Count)> calls{};
    uint64_t droppedCalls = 0;  // see Recorder::DroppedCalls
    std::vector<ThreadRecord> threads;
};

// RAII: takes the device lock and counts the call.
class CallScope {
public:
    CallScope(DeviceImpl* device, CallKind kind) : lock(device->mutex) { device->Count(kind); }

private:
    std::lock_guard<std::recursive_mutex> lock;
};

template <class Impl, class Interface>
bool DeviceImpl::Own(Interface* object, Impl** out, CallKind call, const char* what) {
    *out = nullptr;
    if (!object) return true;
    auto* impl = dynamic_cast<Impl*>(object);
    const ObjectCore* owner = impl ? static_cast<ObjectCore*>(impl)->Owner() : nullptr;
    if (!owner || impl->device != this || (owner->publicRefs == 0 && !owner->deviceOwned)) {
        Report(true, call, "foreign-object", "%s of another device or released", what);
        return false;
    }
    *out = impl;
    return true;
}

template <class Interface, class Core>
uint32_t Counted<Interface, Core>::AddRef() {
    return this->device->AddRefObject(this);
}

template <class Interface, class Core>
uint32_t Counted<Interface, Core>::Release() {
    return this->device->ReleaseObject(this);
}

template <class Interface, class Core>
Result CountedResource<Interface, Core>::GetDevice(Device** out) {
    if (!out) return ERR_INVALIDCALL;
    this->device->AddRef();
    *out = this->device;
    return OK;
}

}  // namespace gfx::detail
