// Creation of device objects, their reference counts, locks, queries and swap chains.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/gfx/DeviceImpl.h"
#include "platform/gfx/GlBackend.h"
#include "platform/gfx/PixelFormat.h"

namespace gfx::detail {
namespace {

constexpr uint32_t kMaxDimension = 16384;
constexpr uint32_t kMaxBufferBytes = 256u << 20;
constexpr uint8_t kDiscardFill = 0xCD;  // contents after a discard are undefined; make misuse visible

uint32_t FullMipCount(uint32_t width, uint32_t height) {
    uint32_t levels = 1;
    while (width > 1 || height > 1) {
        width = std::max(1u, width / 2);
        height = std::max(1u, height / 2);
        ++levels;
    }
    return levels;
}

}  // namespace

// ---------------------------------------------------------------- surfaces

SurfaceImpl::SurfaceImpl(DeviceImpl* device, SurfaceRole role, uint32_t width, uint32_t height, Format format,
                         uint32_t usage, Pool pool, MultisampleType ms, uint32_t msQuality, bool lockable)
    : CountedResource(device, ObjectKind::Surface, pool),
      role(role),
      width(width),
      height(height),
      format(format),
      usage(usage),
      multiSample(ms),
      multiSampleQuality(msQuality),
      lockable(lockable) {
    FormatInfo info;
    GetFormatInfo(format, &info);
    texelBytes = info.blockCompressed ? 0 : info.bytesPerTexel;
    pitch = RowPitch(format, width);
    bytes.assign(LevelBytes(format, width, height), 0);
}


Result SurfaceImpl::GetDesc(SurfaceDesc* desc) {
    if (!desc) return ERR_INVALIDCALL;
    std::lock_guard<std::recursive_mutex> lock(device->mutex);
    *desc = {format, RTYPE_SURFACE, usage, static_cast<Pool>(pool == kNoPool ? POOL_DEFAULT : pool), multiSample,
             multiSampleQuality, width, height};
    return OK;
}

Result SurfaceImpl::LockRect(LockedRect* out, const Rect* rect, uint32_t flags) {
    CallScope scope(device, CallKind::Lock);
    return LockLocked(out, rect, flags);
}

Result SurfaceImpl::UnlockRect() {
    CallScope scope(device, CallKind::Unlock);
    return UnlockLocked();
}

Result SurfaceImpl::LockLocked(LockedRect* out, const Rect* rect, uint32_t flags) {
    if (!out) return ERR_INVALIDCALL;
    out->bits = nullptr;
    out->pitch = 0;
    if (device->TakeLockFault()) return ERR_INVALIDCALL;
    if (!lockable) return device->Report(true, CallKind::Lock, "lock-not-lockable", "surface %u cannot be locked", serial);
    if (locked) return device->Report(true, CallKind::Lock, "lock-twice", "surface %u is already locked", serial);
    if (flags & LOCK_NOOVERWRITE)
        return device->Report(true, CallKind::Lock, "lock-nooverwrite-texture", "NOOVERWRITE is for buffers only");
    if ((flags & LOCK_DISCARD) && !(usage & USAGE_DYNAMIC))
        return device->Report(true, CallKind::Lock, "lock-discard-not-dynamic",
                              "DISCARD on surface %u without DYNAMIC usage", serial);
    if ((flags & LOCK_DISCARD) && (flags & LOCK_READONLY))
        return device->Report(true, CallKind::Lock, "lock-discard-readonly", "DISCARD with READONLY");
    Rect r = {0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
            rect->right > static_cast<int32_t>(width) || rect->bottom > static_cast<int32_t>(height))
            return device->Report(true, CallKind::Lock, "lock-rect-outside", "rect outside surface %u", serial);
        r = *rect;
    }
    FormatInfo info;
    GetFormatInfo(format, &info);
    if (info.blockCompressed && ((r.left | r.top) & 3))
        return device->Report(true, CallKind::Lock, "lock-rect-unaligned", "block-compressed rect not on 4x4 blocks");
    // The drawing device hands out what the GPU drew (a discard needs no read-back).
    if (device->Backend() && !(flags & LOCK_DISCARD)) device->Backend()->SyncToCpu(this);
    if (flags & LOCK_DISCARD) std::fill(bytes.begin(), bytes.end(), kDiscardFill);
    lockFlags = flags;
    const size_t offset = info.blockCompressed
                              ? static_cast<size_t>(r.top / 4) * pitch + static_cast<size_t>(r.left / 4) * info.bytesPerTexel
                              : static_cast<size_t>(r.top) * pitch + static_cast<size_t>(r.left) * texelBytes;
    locked = true;
    out->pitch = static_cast<int32_t>(pitch);
    out->bits = bytes.data() + offset;
    return OK;
}

Result SurfaceImpl::UnlockLocked() {
    if (!locked) return device->Report(true, CallKind::Unlock, "unlock-not-locked", "surface %u is not locked", serial);
    locked = false;
    if (!(lockFlags & LOCK_READONLY)) {
        cpuDirty = true;
        gpuDirty = false;
    }
    return OK;
}

// ---------------------------------------------------------------- textures

TextureImpl::TextureImpl(DeviceImpl* device, uint32_t width, uint32_t height, uint32_t levelCount, uint32_t usage,
                         Format format, Pool pool)
    : CountedResource(device, ObjectKind::Texture, pool), width(width), height(height), usage(usage), format(format) {
    const bool lockable = !(usage & (USAGE_RENDERTARGET | USAGE_DEPTHSTENCIL)) &&
                          (pool != POOL_DEFAULT || (usage & USAGE_DYNAMIC));
    uint32_t w = width, h = height;
    for (uint32_t i = 0; i < levelCount; ++i) {
        auto level = std::make_unique<SurfaceImpl>(device, SurfaceRole::TextureLevel, w, h, format, usage, pool,
                                                   MULTISAMPLE_NONE, 0, lockable);
        level->container = this;
        levels.push_back(std::move(level));
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
}


Result TextureImpl::GetLevelDesc(uint32_t level, SurfaceDesc* desc) {
    if (level >= levels.size()) return ERR_INVALIDCALL;
    return levels[level]->GetDesc(desc);
}

Result TextureImpl::GetSurfaceLevel(uint32_t level, Surface** surface) {
    if (!surface) return ERR_INVALIDCALL;
    *surface = nullptr;
    if (level >= levels.size()) return ERR_INVALIDCALL;
    levels[level]->AddRef();
    *surface = levels[level].get();
    return OK;
}

Result TextureImpl::LockRect(uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) {
    CallScope scope(device, CallKind::Lock);
    if (level >= levels.size()) return device->Report(true, CallKind::Lock, "lock-level", "level %u of %zu", level, levels.size());
    return levels[level]->LockLocked(locked, rect, flags);
}

Result TextureImpl::UnlockRect(uint32_t level) {
    CallScope scope(device, CallKind::Unlock);
    if (level >= levels.size()) return ERR_INVALIDCALL;
    return levels[level]->UnlockLocked();
}

CubeTextureImpl::CubeTextureImpl(DeviceImpl* device, uint32_t edge, uint32_t levelCount, uint32_t usage,
                                 Format format, Pool pool)
    : CountedResource(device, ObjectKind::CubeTexture, pool), edge(edge), levelCount(levelCount), usage(usage),
      format(format) {
    const bool lockable = !(usage & (USAGE_RENDERTARGET | USAGE_DEPTHSTENCIL)) &&
                          (pool != POOL_DEFAULT || (usage & USAGE_DYNAMIC));
    for (auto& face : faces) {
        uint32_t e = edge;
        for (uint32_t i = 0; i < levelCount; ++i) {
            auto level = std::make_unique<SurfaceImpl>(device, SurfaceRole::TextureLevel, e, e, format, usage, pool,
                                                       MULTISAMPLE_NONE, 0, lockable);
            level->container = this;
            face.push_back(std::move(level));
            e = std::max(1u, e / 2);
        }
    }
}

Result CubeTextureImpl::GetLevelDesc(uint32_t level, SurfaceDesc* desc) {
    if (level >= levelCount) return ERR_INVALIDCALL;
    return faces[0][level]->GetDesc(desc);
}

Result CubeTextureImpl::GetCubeMapSurface(CubeFace face, uint32_t level, Surface** surface) {
    if (!surface) return ERR_INVALIDCALL;
    *surface = nullptr;
    if (face > CUBEMAP_FACE_NEGATIVE_Z || level >= levelCount) return ERR_INVALIDCALL;
    faces[face][level]->AddRef();
    *surface = faces[face][level].get();
    return OK;
}

Result CubeTextureImpl::LockRect(CubeFace face, uint32_t level, LockedRect* locked, const Rect* rect,
                                 uint32_t flags) {
    CallScope scope(device, CallKind::Lock);
    if (face > CUBEMAP_FACE_NEGATIVE_Z || level >= levelCount)
        return device->Report(true, CallKind::Lock, "lock-level", "face %u level %u", face, level);
    return faces[face][level]->LockLocked(locked, rect, flags);
}

Result CubeTextureImpl::UnlockRect(CubeFace face, uint32_t level) {
    CallScope scope(device, CallKind::Unlock);
    if (face > CUBEMAP_FACE_NEGATIVE_Z || level >= levelCount) return ERR_INVALIDCALL;
    return faces[face][level]->UnlockLocked();
}

// ---------------------------------------------------------------- buffers

BufferCore::BufferCore(DeviceImpl* device, ObjectKind kind, uint32_t length, uint32_t usage, Pool pool)
    : ObjectCore(device, kind, pool), usage(usage), bytes(length, 0) {}

Result BufferCore::LockBuffer(uint32_t offset, uint32_t size, void** data, uint32_t flags) {
    if (!data) return ERR_INVALIDCALL;
    *data = nullptr;
    if (device->TakeLockFault()) return ERR_INVALIDCALL;
    const uint32_t length = static_cast<uint32_t>(bytes.size());
    if ((flags & (LOCK_DISCARD | LOCK_NOOVERWRITE)) && !(usage & USAGE_DYNAMIC))
        return device->Report(true, CallKind::Lock, "lock-discard-not-dynamic",
                              "DISCARD or NOOVERWRITE on buffer %u without DYNAMIC usage", serial);
    if ((flags & LOCK_READONLY) && (usage & USAGE_WRITEONLY))
        return device->Report(true, CallKind::Lock, "lock-readonly-writeonly", "READONLY on WRITEONLY buffer %u", serial);
    if ((flags & LOCK_DISCARD) && (flags & LOCK_NOOVERWRITE))
        return device->Report(true, CallKind::Lock, "lock-discard-nooverwrite", "DISCARD with NOOVERWRITE");
    if (offset > length || (size != 0 && size > length - offset))
        return device->Report(true, CallKind::Lock, "lock-range", "offset %u size %u beyond buffer %u of %u bytes",
                               offset, size, serial, length);
    if (flags & LOCK_DISCARD) std::fill(bytes.begin(), bytes.end(), kDiscardFill);
    if (!(flags & LOCK_READONLY)) {
        const uint32_t end = size == 0 ? length : offset + size;
        dirtyBegin = dirtyEnd > dirtyBegin ? std::min(dirtyBegin, offset) : offset;
        dirtyEnd = std::max(dirtyEnd, end);
        dirtyDiscard = dirtyDiscard || (flags & LOCK_DISCARD) != 0;
    }
    ++lockCount;
    device->LogLock({serial, offset, size, flags});
    *data = bytes.data() + offset;
    return OK;
}

Result BufferCore::UnlockBuffer() {
    if (lockCount == 0) return device->Report(true, CallKind::Unlock, "unlock-not-locked", "buffer %u is not locked", serial);
    --lockCount;
    return OK;
}

Result VertexBufferImpl::Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) {
    CallScope scope(device, CallKind::Lock);
    return LockBuffer(offset, size, data, flags);
}
Result VertexBufferImpl::Unlock() {
    CallScope scope(device, CallKind::Unlock);
    return UnlockBuffer();
}
Result VertexBufferImpl::GetDesc(VertexBufferDesc* desc) {
    if (!desc) return ERR_INVALIDCALL;
    std::lock_guard<std::recursive_mutex> lock(device->mutex);
    *desc = {FMT_UNKNOWN, RTYPE_VERTEXBUFFER, usage, static_cast<Pool>(pool), static_cast<uint32_t>(bytes.size()), fvf};
    return OK;
}

Result IndexBufferImpl::Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) {
    CallScope scope(device, CallKind::Lock);
    return LockBuffer(offset, size, data, flags);
}
Result IndexBufferImpl::Unlock() {
    CallScope scope(device, CallKind::Unlock);
    return UnlockBuffer();
}
Result IndexBufferImpl::GetDesc(IndexBufferDesc* desc) {
    if (!desc) return ERR_INVALIDCALL;
    std::lock_guard<std::recursive_mutex> lock(device->mutex);
    *desc = {format, RTYPE_INDEXBUFFER, usage, static_cast<Pool>(pool), static_cast<uint32_t>(bytes.size())};
    return OK;
}

// ---------------------------------------------------------------- declarations, shaders, queries

DeclarationImpl::DeclarationImpl(DeviceImpl* device, std::vector<VertexElement> list)
    : Counted(device, ObjectKind::VertexDeclaration, kNoPool),
      elements(std::make_shared<const std::vector<VertexElement>>(std::move(list))) {}
Result DeclarationImpl::GetDeclaration(VertexElement* out, uint32_t* count) {
    if (!count) return ERR_INVALIDCALL;
    const auto n = static_cast<uint32_t>(elements->size());
    if (out) std::memcpy(out, elements->data(), n * sizeof(VertexElement));
    *count = n;
    return OK;
}

ShaderCore::ShaderCore(DeviceImpl* device, ObjectKind kind, std::vector<uint32_t> code,
                       std::shared_ptr<const std::vector<ConstantDesc>> constants)
    : ObjectCore(device, kind, kNoPool), code(std::move(code)), constants(std::move(constants)) {}

Result ShaderCore::Function(void* data, uint32_t* size) {
    if (!size) return ERR_INVALIDCALL;
    const auto bytes = static_cast<uint32_t>(code.size() * 4);
    if (data) {
        if (*size < bytes) return ERR_MOREDATA;
        std::memcpy(data, code.data(), bytes);
    }
    *size = bytes;
    return OK;
}


QueryImpl::QueryImpl(DeviceImpl* device, QueryType type) : Counted(device, ObjectKind::Query, kNoPool), type(type) {}

Result QueryImpl::Issue(uint32_t flags) {
    CallScope scope(device, CallKind::QueryIssue);
    if (flags != ISSUE_END)
        return device->Report(true, CallKind::QueryIssue, "query-issue-flags", "an event query takes ISSUE_END only");
    pendingPolls = device->QueryLatency();
    return OK;
}

Result QueryImpl::GetData(void* data, uint32_t size, uint32_t flags) {
    CallScope scope(device, CallKind::QueryGetData);
    if ((data == nullptr) != (size == 0))
        return device->Report(true, CallKind::QueryGetData, "query-data-size", "data and size disagree");
    if (device->Lost()) return ERR_DEVICELOST;
    if (pendingPolls > 0) {
        --pendingPolls;
        return OK_FALSE;
    }
    if (data && size >= 4) {
        const int32_t done = 1;
        std::memcpy(data, &done, 4);
    }
    return OK;
}

// ---------------------------------------------------------------- swap chains

SwapChainImpl::SwapChainImpl(DeviceImpl* device, const PresentParameters& p)
    : Counted(device, ObjectKind::SwapChain, POOL_DEFAULT) {
    Rebuild(p);
}

void SwapChainImpl::Rebuild(const PresentParameters& p) {
    params = p;
    backBuffer = std::make_unique<SurfaceImpl>(device, SurfaceRole::BackBuffer, p.backBufferWidth, p.backBufferHeight,
                                               p.backBufferFormat, USAGE_RENDERTARGET, POOL_DEFAULT,
                                               p.multiSampleType, p.multiSampleQuality, (p.flags & 1u) != 0);
    backBuffer->container = this;
}


Result SwapChainImpl::GetBackBuffer(uint32_t index, BackBufferType type, Surface** surface) {
    CallScope scope(device, CallKind::GetBackBuffer);
    if (!surface) return ERR_INVALIDCALL;
    *surface = nullptr;
    if (index >= std::max(1u, params.backBufferCount) || type != BACKBUFFER_TYPE_MONO) return ERR_INVALIDCALL;
    backBuffer->AddRef();
    *surface = backBuffer.get();
    return OK;
}

Result SwapChainImpl::GetPresentParameters(PresentParameters* out) {
    if (!out) return ERR_INVALIDCALL;
    std::lock_guard<std::recursive_mutex> lock(device->mutex);
    *out = params;
    return OK;
}

// ---------------------------------------------------------------- device creation calls

Result DeviceImpl::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, Format format,
                                 Pool pool, Texture** texture, void* sharedHandle) {
    CallScope scope(this, CallKind::CreateTexture);
    if (!texture) return ERR_INVALIDCALL;
    *texture = nullptr;
    FormatInfo info;
    if (!GetFormatInfo(format, &info))
        return Report(true, CallKind::CreateTexture, "unknown-format", "format %u", format);
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension || pool > POOL_SCRATCH ||
        sharedHandle)
        return Report(true, CallKind::CreateTexture, "texture-arguments", "%ux%u pool %u", width, height, pool);
    const CapabilityFaults faults = GetCapabilityFaults();
    if (FormatRefused(format, usage, faults)) return ERR_INVALIDCALL;  // as a device without the format does
    if (Backend() && !GlFormatSupported(format, usage)) return ERR_INVALIDCALL;
    if ((usage & (USAGE_RENDERTARGET | USAGE_DEPTHSTENCIL)) && pool != POOL_DEFAULT)
        return Report(true, CallKind::CreateTexture, "target-not-default-pool", "render or depth textures need POOL_DEFAULT");
    if ((usage & USAGE_DEPTHSTENCIL) != 0 && !info.depth) return ERR_INVALIDCALL;
    if (info.depth && !(usage & USAGE_DEPTHSTENCIL)) return ERR_INVALIDCALL;
    if ((usage & USAGE_RENDERTARGET) && (info.depth || info.blockCompressed)) return ERR_INVALIDCALL;
    if ((usage & USAGE_DYNAMIC) && pool == POOL_MANAGED)
        return Report(true, CallKind::CreateTexture, "dynamic-managed", "DYNAMIC textures cannot be MANAGED");
    const uint32_t full = FullMipCount(width, height);
    if (levels == 0 || levels > full) levels = full;
    try {
        auto* t = new TextureImpl(this, width, height, levels, usage, format, pool);
        Register(t);
        *texture = t;
        return OK;
    } catch (const std::bad_alloc&) {
        return ERR_OUTOFVIDEOMEMORY;
    }
}

Result DeviceImpl::CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage, Format format, Pool pool,
                                     CubeTexture** texture, void* sharedHandle) {
    CallScope scope(this, CallKind::CreateCubeTexture);
    if (!texture) return ERR_INVALIDCALL;
    *texture = nullptr;
    FormatInfo info;
    if (!GetFormatInfo(format, &info) || info.depth)
        return Report(true, CallKind::CreateCubeTexture, "unknown-format", "format %u", format);
    if (edge == 0 || edge > kMaxDimension || pool > POOL_SCRATCH || sharedHandle)
        return Report(true, CallKind::CreateCubeTexture, "texture-arguments", "edge %u pool %u", edge, pool);
    if (FormatRefused(format, usage, GetCapabilityFaults())) return ERR_INVALIDCALL;
    if (Backend() && !GlFormatSupported(format, usage)) return ERR_INVALIDCALL;
    if ((usage & USAGE_RENDERTARGET) && pool != POOL_DEFAULT)
        return Report(true, CallKind::CreateCubeTexture, "target-not-default-pool", "render textures need POOL_DEFAULT");
    const uint32_t full = FullMipCount(edge, edge);
    if (levels == 0 || levels > full) levels = full;
    try {
        auto* cube = new CubeTextureImpl(this, edge, levels, usage, format, pool);
        Register(cube);
        *texture = cube;
        return OK;
    } catch (const std::bad_alloc&) {
        return ERR_OUTOFVIDEOMEMORY;
    }
}

Result DeviceImpl::CreateRenderTarget(uint32_t width, uint32_t height, Format format, MultisampleType ms,
                                      uint32_t msQuality, int32_t lockable, Surface** surface, void* sharedHandle) {
    CallScope scope(this, CallKind::CreateRenderTarget);
    if (!surface) return ERR_INVALIDCALL;
    *surface = nullptr;
    FormatInfo info;
    if (!GetFormatInfo(format, &info) || info.depth || info.blockCompressed || width == 0 || height == 0 ||
        width > kMaxDimension || height > kMaxDimension || sharedHandle)
        return Report(true, CallKind::CreateRenderTarget, "target-arguments", "%ux%u format %u", width, height, format);
    if (ms != MULTISAMPLE_NONE && GetCapabilityFaults().refuseMultisample) return ERR_INVALIDCALL;
    if (FormatRefused(format, USAGE_RENDERTARGET, GetCapabilityFaults())) return ERR_INVALIDCALL;
    if (Backend() && !GlFormatSupported(format, USAGE_RENDERTARGET)) return ERR_INVALIDCALL;
    if (ms != MULTISAMPLE_NONE && lockable)
        return Report(true, CallKind::CreateRenderTarget, "lockable-multisample", "multisampled targets are not lockable");
    try {
        auto* s = new SurfaceImpl(this, SurfaceRole::RenderTarget, width, height, format, USAGE_RENDERTARGET,
                                  POOL_DEFAULT, ms, msQuality, lockable != 0);
        Register(s);
        *surface = s;
        return OK;
    } catch (const std::bad_alloc&) {
        return ERR_OUTOFVIDEOMEMORY;
    }
}

Result DeviceImpl::CreateDepthStencilSurface(uint32_t width, uint32_t height, Format format, MultisampleType ms,
                                             uint32_t msQuality, int32_t discard, Surface** surface,
                                             void* sharedHandle) {
    CallScope scope(this, CallKind::CreateDepthStencilSurface);
    if (!surface) return ERR_INVALIDCALL;
    *surface = nullptr;
    if (!IsDepthFormat(format) || width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension ||
        sharedHandle)
        return Report(true, CallKind::CreateDepthStencilSurface, "depth-arguments", "%ux%u format %u", width, height,
                      format);
    if (ms != MULTISAMPLE_NONE && GetCapabilityFaults().refuseMultisample) return ERR_INVALIDCALL;
    if (FormatRefused(format, USAGE_DEPTHSTENCIL, GetCapabilityFaults())) return ERR_INVALIDCALL;
    if (Backend() && !GlFormatSupported(format, USAGE_DEPTHSTENCIL)) return ERR_INVALIDCALL;
    const bool lockable = format == FMT_D16_LOCKABLE || format == FMT_D32F_LOCKABLE;
    try {
        auto* s = new SurfaceImpl(this, SurfaceRole::DepthStencil, width, height, format, USAGE_DEPTHSTENCIL,
                                  POOL_DEFAULT, ms, msQuality, lockable);
        Register(s);
        *surface = s;
        return OK;
    } catch (const std::bad_alloc&) {
        return ERR_OUTOFVIDEOMEMORY;
    }
}

Result DeviceImpl::CreateOffscreenPlainSurface(uint32_t width, uint32_t height, Format format, Pool pool,
                                               Surface** surface, void* sharedHandle) {
    CallScope scope(this, CallKind::CreateOffscreenPlainSurface);
    if (!surface) return ERR_INVALIDCALL;
    *surface = nullptr;
    FormatInfo info;
    if (!GetFormatInfo(format, &info) || info.depth || width == 0 || height == 0 || width > kMaxDimension ||
        height > kMaxDimension || pool == POOL_MANAGED || pool > POOL_SCRATCH || sharedHandle)
        return Report(true, CallKind::CreateOffscreenPlainSurface, "surface-arguments", "%ux%u format %u pool %u",
                      width, height, format, pool);
    try {
        auto* s = new SurfaceImpl(this, SurfaceRole::OffscreenPlain, width, height, format, 0, pool,
                                  MULTISAMPLE_NONE, 0, true);
        Register(s);
        *surface = s;
        return OK;
    } catch (const std::bad_alloc&) {
        return ERR_OUTOFVIDEOMEMORY;
    }
}

Result DeviceImpl::CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, Pool pool,
                                      VertexBuffer** buffer, void* sharedHandle) {
    CallScope scope(this, CallKind::CreateVertexBuffer);
    if (!buffer) return ERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > kMaxBufferBytes || pool > POOL_SCRATCH || sharedHandle)
        return Report(true, CallKind::CreateVertexBuffer, "buffer-arguments", "length %u pool %u", length, pool);
    if ((usage & USAGE_DYNAMIC) && pool == POOL_MANAGED)
        return Report(true, CallKind::CreateVertexBuffer, "dynamic-managed", "DYNAMIC buffers cannot be MANAGED");
    try {
        auto* b = new VertexBufferImpl(this, length, usage, fvf, pool);
        Register(b);
        *buffer = b;
        return OK;
    } catch (const std::bad_alloc&) {
        return ERR_OUTOFVIDEOMEMORY;
    }
}

Result DeviceImpl::CreateIndexBuffer(uint32_t length, uint32_t usage, Format format, Pool pool, IndexBuffer** buffer,
                                     void* sharedHandle) {
    CallScope scope(this, CallKind::CreateIndexBuffer);
    if (!buffer) return ERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > kMaxBufferBytes || pool > POOL_SCRATCH || sharedHandle ||
        (format != FMT_INDEX16 && format != FMT_INDEX32))
        return Report(true, CallKind::CreateIndexBuffer, "buffer-arguments", "length %u format %u pool %u", length,
                      format, pool);
    if ((usage & USAGE_DYNAMIC) && pool == POOL_MANAGED)
        return Report(true, CallKind::CreateIndexBuffer, "dynamic-managed", "DYNAMIC buffers cannot be MANAGED");
    try {
        auto* b = new IndexBufferImpl(this, length, usage, format, pool);
        Register(b);
        *buffer = b;
        return OK;
    } catch (const std::bad_alloc&) {
        return ERR_OUTOFVIDEOMEMORY;
    }
}

Result DeviceImpl::CreateVertexDeclaration(const VertexElement* elements, VertexDeclaration** declaration) {
    CallScope scope(this, CallKind::CreateVertexDeclaration);
    if (!declaration || !elements) return ERR_INVALIDCALL;
    *declaration = nullptr;
    std::vector<VertexElement> list;
    for (uint32_t i = 0;; ++i) {
        if (i > kMaxDeclElements)
            return Report(true, CallKind::CreateVertexDeclaration, "declaration-no-end", "no end marker");
        const VertexElement& e = elements[i];
        list.push_back(e);
        if (e.stream == 0xFF && e.type == DECLTYPE_UNUSED) break;
        if (e.type >= DECLTYPE_UNUSED || e.stream >= kMaxStreams || e.usage > DECLUSAGE_SAMPLE)
            return Report(true, CallKind::CreateVertexDeclaration, "declaration-element",
                          "element %u: stream %u type %u usage %u", i, e.stream, e.type, e.usage);
        for (uint32_t j = 0; j < i; ++j)
            if (list[j].usage == e.usage && list[j].usageIndex == e.usageIndex)
                return Report(true, CallKind::CreateVertexDeclaration, "declaration-duplicate-usage",
                              "usage %u index %u appears twice", e.usage, e.usageIndex);
    }
    auto* d = new DeclarationImpl(this, std::move(list));
    Register(d);
    *declaration = d;
    return OK;
}

namespace {

Result MakeShader(DeviceImpl* device, CallKind call, const uint32_t* code, uint32_t codeBytes, uint32_t expectedVersion,
                  std::vector<uint32_t>* words, std::shared_ptr<const std::vector<ConstantDesc>>* table) {
    if (!code || codeBytes < 8) return ERR_INVALIDCALL;
    if (code[0] != expectedVersion)
        return device->Report(true, call, "shader-version", "version token 0x%08X, expected 0x%08X", code[0],
                              expectedVersion);
    const size_t bytes = ShaderCodeSize(code, codeBytes);
    if (bytes == 0) return device->Report(true, call, "shader-no-end", "no end token");
    words->assign(code, code + bytes / 4);
    auto constants = std::make_shared<std::vector<ConstantDesc>>();
    std::string target;
    ParseShaderConstantTable(words->data(), bytes, constants.get(), &target);  // code without a table is valid
    *table = std::move(constants);
    return OK;
}

}  // namespace

Result DeviceImpl::CreateVertexShader(const uint32_t* code, uint32_t codeBytes, VertexShader** shader) {
    CallScope scope(this, CallKind::CreateVertexShader);
    if (!shader) return ERR_INVALIDCALL;
    *shader = nullptr;
    std::vector<uint32_t> words;
    std::shared_ptr<const std::vector<ConstantDesc>> table;
    const Result r = MakeShader(this, CallKind::CreateVertexShader, code, codeBytes, kVertexShaderVersion30, &words, &table);
    if (Failed(r)) return r;
    auto* s = new VertexShaderImpl(this, ObjectKind::VertexShader, std::move(words), std::move(table));
    std::string why;
    if (backend && !backend->PrepareShader(s, false, &why)) {
        delete s;
        return Report(true, CallKind::CreateVertexShader, "shader-not-drawable", "%s", why.c_str());
    }
    Register(s);
    *shader = s;
    return OK;
}

Result DeviceImpl::CreatePixelShader(const uint32_t* code, uint32_t codeBytes, PixelShader** shader) {
    CallScope scope(this, CallKind::CreatePixelShader);
    if (!shader) return ERR_INVALIDCALL;
    *shader = nullptr;
    std::vector<uint32_t> words;
    std::shared_ptr<const std::vector<ConstantDesc>> table;
    const Result r = MakeShader(this, CallKind::CreatePixelShader, code, codeBytes, kPixelShaderVersion30, &words, &table);
    if (Failed(r)) return r;
    auto* s = new PixelShaderImpl(this, ObjectKind::PixelShader, std::move(words), std::move(table));
    std::string why;
    if (backend && !backend->PrepareShader(s, true, &why)) {
        delete s;
        return Report(true, CallKind::CreatePixelShader, "shader-not-drawable", "%s", why.c_str());
    }
    Register(s);
    *shader = s;
    return OK;
}

Result DeviceImpl::CreateQuery(QueryType type, Query** query) {
    CallScope scope(this, CallKind::CreateQuery);
    if (type != QUERYTYPE_EVENT) return ERR_NOTAVAILABLE;
    if (!query) return OK;  // the original's way of asking whether the type is supported
    auto* q = new QueryImpl(this, type);
    Register(q);
    *query = q;
    return OK;
}

Result DeviceImpl::CreateAdditionalSwapChain(PresentParameters* p, SwapChain** swapChain) {
    CallScope scope(this, CallKind::CreateAdditionalSwapChain);
    if (!p || !swapChain) return ERR_INVALIDCALL;
    *swapChain = nullptr;
    const Result r = CheckPresentParameters(p, CallKind::CreateAdditionalSwapChain);
    if (Failed(r)) return r;
    auto* chain = new SwapChainImpl(this, *p);
    Register(chain);
    *swapChain = chain;
    return OK;
}

Result DeviceImpl::GetSwapChain(uint32_t index, SwapChain** swapChain) {
    CallScope scope(this, CallKind::Other);
    if (!swapChain) return ERR_INVALIDCALL;
    *swapChain = nullptr;
    if (index != 0) return ERR_INVALIDCALL;
    implicitSwapChain->AddRef();
    *swapChain = implicitSwapChain.get();
    return OK;
}

}  // namespace gfx::detail
