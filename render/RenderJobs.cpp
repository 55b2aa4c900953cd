#include "render/RenderJobs.h"

#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "platform/gfx/TextureLoad.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "render/DeviceObjectHandle.h"
#include "render/VertexDeclarationCache.h"
#include "render/VornexRenderer.h"
#include "render/VornexRendererObject.h"
#include "render/ResourceStreamPump.h"

namespace {
constexpr uint32_t kWaitSliceMs = 10;
constexpr int64_t kPollTicks = os::kCounterFrequency / 5000;  // 0.2 ms

// Runs a job to its end on the calling thread (no render thread to hand it to).
void RunInline(VornexRendererResourceAccessJob* job, VornexRenderer& renderer) {
    while (!job->Execute(renderer)) {
    }
}

// Releases a device object on the render thread (a type-2 record carrying it), or at
// once while that thread does not run.
void ReleaseDeviceObject(gfx::Unknown* object) {
    if (!object) return;
    if (!gVornexRenderer.IsRunning()) {
        object->Release();
        return;
    }
    auto release = [](VornexRenderer&, uint32_t flag, CommandRingBuffer& ring) {
        gfx::Unknown* o = nullptr;
        if (ring.ReadValue(o) && o && flag == 0) o->Release();
    };
    if (gVornexRenderer.BeginResourceCall(release, object, 0)) gVornexRenderer.EndResourceJobWrite();
}
}  // namespace

// ---------------------------------------------------------------------------------------
// Base job

VornexRendererResourceAccessJob::VornexRendererResourceAccessJob(bool wants, bool forget, bool stream)
    : wantsEvent(wants && !forget), fireAndForget(forget), inStream(stream) {}

VornexRendererResourceAccessJob::~VornexRendererResourceAccessJob() {
    if (!fireAndForget) WaitForCompletion();
    delete event;
}

void VornexRendererResourceAccessJob::WaitForCompletion() {
    if (done.load(std::memory_order_acquire)) return;
    if (!event) {
        while (!done.load(std::memory_order_acquire)) {
            os::Sleep(kWaitSliceMs);
            if (!inStream) PumpResourceStreams();
        }
        return;
    }
    if (inStream) {
        event->Wait();
    } else {
        // A running render thread finishes a queued job within microseconds: polling
        // that long first spares the waiter a sleep and a wake-up per job.
        const int64_t pollEnd = os::ReadRealCounter() + kPollTicks;
        bool signalled = false;
        while (!(signalled = event->Wait(0)) && os::ReadRealCounter() < pollEnd) os::YieldThread();
        if (!signalled)
            while (!event->Wait(kWaitSliceMs)) PumpResourceStreams();
    }
    delete event;
    event = nullptr;
    done.store(true, std::memory_order_release);
}

void VornexRendererResourceAccessJob::Complete() {
    if (fireAndForget) {
        delete this;
    } else if (event) {
        event->Set();  // the waiter marks the job done
    } else {
        done.store(true, std::memory_order_release);
    }
}

void SubmitResourceJob(VornexRendererResourceAccessJob* job, bool wait) {
    if (!job) return;
    const bool forget = job->fireAndForget;
    if (job->done.load(std::memory_order_acquire)) {
        job->done.store(false, std::memory_order_release);
        VornexRenderer& renderer = gVornexRenderer;
        if (!renderer.IsRunning()) {
            RunInline(job, renderer);
            job->Complete();
            return;
        }
        if (job->wantsEvent && !job->event) job->event = new os::Event;
        if (job->inStream) {
            // The stream has one writer, the main thread (BeginCommand asserts it).
            VornexRendererResourceAccessJob* pointer = job;
            if (renderer.BeginCommand(TASK_RUN_JOB, sizeof pointer)) {
                renderer.Ring().WriteValue(pointer);
                renderer.FlushCommands(false);
            } else {
                renderer.QueueResourceJob(job);
            }
        } else {
            renderer.QueueResourceJob(job);
        }
    }
    if (wait && !forget) job->WaitForCompletion();
}

namespace {
template <class Job, class Object>
void SubmitFireAndForget(Object* object, bool inStream) {
    if (!object) return;
    SubmitResourceJob(new Job(object, uint32_t(JOB_FIRE_AND_FORGET) | (inStream ? uint32_t(JOB_IN_STREAM) : 0u)), false);
}
}  // namespace

void SubmitResourceAddRefJob(DeviceObjectHandle* handle, bool inStream) {
    SubmitFireAndForget<VornexRendererResourceAddRefJob>(handle, inStream);
}

void SubmitTextureDeletionJob(DeviceObjectHandle* handle, bool inStream) {
    SubmitFireAndForget<VornexRendererTextureDeletionJob>(handle, inStream);
}

void SubmitObjectDeletionJob(VornexRendererObject* object, bool inStream) {
    SubmitFireAndForget<VornexRendererObjetDeletionJob>(object, inStream);
}

#define JOB_BASE(flags) \
    VornexRendererResourceAccessJob(((flags) & JOB_WANTS_EVENT) != 0, ((flags) & JOB_FIRE_AND_FORGET) != 0, \
                                    ((flags) & JOB_IN_STREAM) != 0)

// ---------------------------------------------------------------------------------------
// References and deletion

VornexRendererResourceAddRefJob::VornexRendererResourceAddRefJob(DeviceObjectHandle* h, uint32_t flags)
    : JOB_BASE(flags), handle(h) {}

bool VornexRendererResourceAddRefJob::Execute(VornexRenderer&) {
    if (handle) handle->AddRef();
    return true;
}

VornexRendererTextureDeletionJob::VornexRendererTextureDeletionJob(DeviceObjectHandle* h, uint32_t flags)
    : JOB_BASE(flags), handle(h) {}

bool VornexRendererTextureDeletionJob::Execute(VornexRenderer&) {
    if (handle) handle->Unref();
    handle = nullptr;
    return true;
}

VornexRendererObjetDeletionJob::VornexRendererObjetDeletionJob(VornexRendererObject* o, uint32_t flags)
    : JOB_BASE(flags), object(o) {}

bool VornexRendererObjetDeletionJob::Execute(VornexRenderer&) {
    if (object) object->Destroy();
    object = nullptr;
    return true;
}

VornexRendererTextureUnloadDataJob::VornexRendererTextureUnloadDataJob(DeviceObjectHandle* h, uint32_t flags)
    : JOB_BASE(flags), handle(h) {}

bool VornexRendererTextureUnloadDataJob::Execute(VornexRenderer& renderer) {
    if (handle) {
        handle->ReleaseInterface();
        renderer.ForgetTextureHolder(handle);
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Creation

VornexRendererResourceCreationJob::VornexRendererResourceCreationJob(const void* block, uint32_t size,
                                                                     bool takeOver, uint32_t flags)
    : JOB_BASE(flags) {
    if (!block || size == 0) {
        if (takeOver) EngineFree(const_cast<void*>(block));
        return;
    }
    if (takeOver) {
        data = static_cast<uint8_t*>(const_cast<void*>(block));
    } else if ((data = static_cast<uint8_t*>(EngineAlloc(size))) != nullptr) {
        std::memcpy(data, block, size);
    }
    if (data) dataSize = size;
}

VornexRendererResourceCreationJob::~VornexRendererResourceCreationJob() {
    WaitBeforeDestruction();
    EngineFree(data);
}

uint32_t VornexRendererTextureCreationJob::RowPitch(gfx::Format format, uint32_t width) {
    switch (format) {
    case gfx::FMT_A8R8G8B8:
    case gfx::FMT_X8R8G8B8:
        return width * 4;
    case gfx::FMT_A8:
    case gfx::FMT_L8:
        return width;
    case gfx::FMT_A8L8:
        return width * 2;
    default:
        return 0;
    }
}

VornexRendererTextureCreationJob::VornexRendererTextureCreationJob(uint32_t w, uint32_t h, uint32_t l, uint32_t u,
                                                                   gfx::Format f, gfx::Pool p, const void* pixels,
                                                                   uint32_t pixelBytes, bool takeOver,
                                                                   uint32_t flags)
    : VornexRendererResourceCreationJob(pixels, pixelBytes, takeOver, flags),
      width(w), height(h), levels(l), usage(u), format(f), pool(p) {}

VornexRendererTextureCreationJob::~VornexRendererTextureCreationJob() {
    WaitBeforeDestruction();
    SubmitTextureDeletionJob(handle, false);
}

DeviceObjectHandle* VornexRendererTextureCreationJob::TakeHandle() {
    DeviceObjectHandle* h = handle;
    handle = nullptr;
    return h;
}

bool VornexRendererTextureCreationJob::Execute(VornexRenderer& renderer) {
    if (!created) {
        created = true;
        handle = new DeviceObjectHandle;
        if (!handle->CreateTexture(width, height, levels, usage, format, pool)) {
            handle->Unref();
            handle = nullptr;
            return true;
        }
        return data == nullptr;
    }
    // Rows are tightly packed; pixels that do not cover the whole level copy nothing.
    const uint32_t pitch = RowPitch(format, width);
    if (pitch == 0 || uint64_t(pitch) * height > dataSize) return true;
    gfx::Surface* surface = nullptr;
    gfx::Texture* texture = handle ? handle->Texture2D() : nullptr;
    if (!texture || gfx::Failed(texture->GetSurfaceLevel(0, &surface))) return true;
    const gfx::Rect rect{0, 0, int32_t(width), int32_t(height)};
    gfx::LoadSurfaceFromMemory(surface, nullptr, &rect, data, format, pitch, nullptr, &rect, gfx::FILTER_NONE, 0);
    surface->Release();
    return true;
}

VornexRendererDDSTextureCreationJob::VornexRendererDDSTextureCreationJob(const void* fileBytes, uint32_t size,
                                                                         bool takeOver, gfx::Pool p,
                                                                         DeviceObjectHandle* t, uint32_t flags)
    : VornexRendererResourceCreationJob(fileBytes, size, takeOver, flags), pool(p), target(t) {}

VornexRendererDDSTextureCreationJob::~VornexRendererDDSTextureCreationJob() {
    WaitBeforeDestruction();
    if (handle != target) SubmitTextureDeletionJob(handle, false);
}

DeviceObjectHandle* VornexRendererDDSTextureCreationJob::TakeHandle() {
    DeviceObjectHandle* h = handle;
    if (handle != target) handle = nullptr;
    return h;
}

bool VornexRendererDDSTextureCreationJob::Execute(VornexRenderer& renderer) {
    gfx::ImageInfo info{};
    if (data && gfx::Succeeded(gfx::GetImageInfoFromFileInMemory(data, dataSize, &info))) {
        DeviceObjectHandle* h = target ? target : new DeviceObjectHandle;
        if (info.resourceType == gfx::RTYPE_TEXTURE)
            renderer.CreateTextureFromDDS(h, data, dataSize, info.mipLevels, pool);
        else if (info.resourceType == gfx::RTYPE_CUBETEXTURE)
            renderer.CreateCubeTextureFromDDS(h, data, dataSize, info.mipLevels, pool);
        // A texture replaced in a shared holder must be bound again.
        if (target) renderer.ForgetTextureHolder(target);
        if (!target && !h->Texture()) {
            h->Unref();
            h = nullptr;
        }
        handle = h;
    }
    if (!handle || !handle->Texture())
        gLog.Error(LogCategory::Resources, "Unable to create texture interface!");
    return true;
}

VornexRendererVertexBufferCreationJob::VornexRendererVertexBufferCreationJob(uint32_t s, uint32_t u, uint32_t f,
                                                                             gfx::Pool p, const void* block,
                                                                             bool takeOver, uint32_t flags)
    : VornexRendererResourceCreationJob(block, block ? s : 0, takeOver, flags), size(s), usage(u), fvf(f), pool(p) {}

VornexRendererVertexBufferCreationJob::~VornexRendererVertexBufferCreationJob() {
    WaitBeforeDestruction();
    ReleaseDeviceObject(buffer);
}

gfx::VertexBuffer* VornexRendererVertexBufferCreationJob::TakeBuffer() {
    gfx::VertexBuffer* b = buffer;
    buffer = nullptr;
    return b;
}

namespace {
// First pass creates, the next (with data) fills; the same for both buffer kinds.
template <class Buffer, class Create>
bool CreateAndFill(Buffer*& buffer, const uint8_t* data, uint32_t size, Create create) {
    if (!buffer) {
        if (gfx::Failed(create(&buffer))) buffer = nullptr;
        return !buffer || !data;
    }
    void* locked = nullptr;
    if (gfx::Succeeded(buffer->Lock(0, size, &locked, 0)) && locked) {
        std::memcpy(locked, data, size);
        buffer->Unlock();
    }
    return true;
}
}  // namespace

bool VornexRendererVertexBufferCreationJob::Execute(VornexRenderer& renderer) {
    gfx::Device* device = renderer.Device();
    if (!device) return true;
    return CreateAndFill(buffer, data, size, [&](gfx::VertexBuffer** out) {
        return device->CreateVertexBuffer(size, usage, fvf, pool, out, nullptr);
    });
}

VornexRendererIndexBufferCreationJob::VornexRendererIndexBufferCreationJob(uint32_t s, uint32_t u, gfx::Format f,
                                                                           gfx::Pool p, const void* block,
                                                                           bool takeOver, uint32_t flags)
    : VornexRendererResourceCreationJob(block, block ? s : 0, takeOver, flags), size(s), usage(u), format(f),
      pool(p) {}

VornexRendererIndexBufferCreationJob::~VornexRendererIndexBufferCreationJob() {
    WaitBeforeDestruction();
    ReleaseDeviceObject(buffer);
}

gfx::IndexBuffer* VornexRendererIndexBufferCreationJob::TakeBuffer() {
    gfx::IndexBuffer* b = buffer;
    buffer = nullptr;
    return b;
}

bool VornexRendererIndexBufferCreationJob::Execute(VornexRenderer& renderer) {
    gfx::Device* device = renderer.Device();
    if (!device) return true;
    return CreateAndFill(buffer, data, size, [&](gfx::IndexBuffer** out) {
        return device->CreateIndexBuffer(size, usage, format, pool, out, nullptr);
    });
}

VornexRendererVertexDeclarationCreationJob::VornexRendererVertexDeclarationCreationJob(
    const gfx::VertexElement* elements, uint32_t count, uint32_t flags)
    : VornexRendererResourceCreationJob(elements, count * uint32_t(sizeof(gfx::VertexElement)), false, flags) {}

VornexRendererVertexDeclarationCreationJob::~VornexRendererVertexDeclarationCreationJob() {
    WaitBeforeDestruction();
    ReleaseDeviceObject(declaration);
}

gfx::VertexDeclaration* VornexRendererVertexDeclarationCreationJob::TakeDeclaration() {
    gfx::VertexDeclaration* d = declaration;
    declaration = nullptr;
    return d;
}

bool VornexRendererVertexDeclarationCreationJob::Execute(VornexRenderer& renderer) {
    const uint32_t count = dataSize / uint32_t(sizeof(gfx::VertexElement));
    if (count == 0 || !renderer.DeclarationCache()) return true;
    const auto* elements = reinterpret_cast<const gfx::VertexElement*>(data);
    if (elements[0].type == gfx::DECLTYPE_UNUSED) return true;
    declaration = renderer.DeclarationCache()->GetOrCreate(elements, count);
    return true;
}

// ---------------------------------------------------------------------------------------
// Read-back

VornexRendererBufferSerializationJob::VornexRendererBufferSerializationJob(uint32_t flags) : JOB_BASE(flags) {}

VornexRendererBufferSerializationJob::~VornexRendererBufferSerializationJob() {
    WaitBeforeDestruction();
    EngineFree(block);
}

void* VornexRendererBufferSerializationJob::TakeBlock(uint32_t* size) {
    void* b = block;
    if (size) *size = blockSize;
    block = nullptr;
    blockSize = 0;
    return b;
}

namespace {
// Copies the whole buffer into a new block; nothing for an empty or unlockable one.
template <class Buffer, class Desc>
void ReadBack(Buffer* buffer, uint8_t*& block, uint32_t& blockSize) {
    Desc desc{};
    if (!buffer || gfx::Failed(buffer->GetDesc(&desc)) || desc.size == 0) return;
    void* locked = nullptr;
    if (gfx::Failed(buffer->Lock(0, 0, &locked, gfx::LOCK_READONLY)) || !locked) return;
    block = static_cast<uint8_t*>(EngineAlloc(desc.size));
    if (block) {
        std::memcpy(block, locked, desc.size);
        blockSize = desc.size;
    }
    buffer->Unlock();
}
}  // namespace

VornexRendererVertexBufferSerializationJob::VornexRendererVertexBufferSerializationJob(gfx::VertexBuffer* b,
                                                                                       uint32_t flags)
    : VornexRendererBufferSerializationJob(flags), buffer(b) {}

bool VornexRendererVertexBufferSerializationJob::Execute(VornexRenderer&) {
    ReadBack<gfx::VertexBuffer, gfx::VertexBufferDesc>(buffer, block, blockSize);
    return true;
}

VornexRendererIndexBufferSerializationJob::VornexRendererIndexBufferSerializationJob(gfx::IndexBuffer* b,
                                                                                     uint32_t flags)
    : VornexRendererBufferSerializationJob(flags), buffer(b) {}

bool VornexRendererIndexBufferSerializationJob::Execute(VornexRenderer&) {
    ReadBack<gfx::IndexBuffer, gfx::IndexBufferDesc>(buffer, block, blockSize);
    return true;
}

VornexRendererVertexDeclarationSerializationJob::VornexRendererVertexDeclarationSerializationJob(
    gfx::VertexDeclaration* d, uint32_t flags)
    : VornexRendererBufferSerializationJob(flags), declaration(d) {}

bool VornexRendererVertexDeclarationSerializationJob::Execute(VornexRenderer&) {
    uint32_t count = 0;
    if (!declaration || gfx::Failed(declaration->GetDeclaration(nullptr, &count)) || count == 0) return true;
    const uint32_t bytes = count * uint32_t(sizeof(gfx::VertexElement));
    block = static_cast<uint8_t*>(EngineAlloc(bytes));
    if (block && gfx::Succeeded(declaration->GetDeclaration(reinterpret_cast<gfx::VertexElement*>(block), &count)))
        blockSize = bytes;
    return true;
}
