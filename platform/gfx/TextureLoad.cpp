// DDS reading and surface loading for the texture helpers.
#include "platform/gfx/TextureLoad.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/gfx/DeviceImpl.h"
#include "platform/gfx/GlBackend.h"
#include "platform/gfx/PixelFormat.h"

namespace gfx {
namespace {

using detail::FormatInfo;

constexpr uint32_t kDdsMagic = MakeFourCC('D', 'D', 'S', ' ');
constexpr uint32_t kHeaderBytes = 128;  // magic + 124-byte header
constexpr uint32_t DDSD_MIPMAPCOUNT = 0x20000;
constexpr uint32_t DDPF_ALPHAPIXELS = 0x1;
constexpr uint32_t DDPF_ALPHA = 0x2;
constexpr uint32_t DDPF_FOURCC = 0x4;
constexpr uint32_t DDPF_RGB = 0x40;
constexpr uint32_t DDPF_LUMINANCE = 0x20000;
constexpr uint32_t DDSCAPS2_CUBEMAP = 0x200;
constexpr uint32_t DDSCAPS2_ALLFACES = 0xFC00;
constexpr uint32_t DDSCAPS2_VOLUME = 0x200000;
constexpr uint32_t kMaxEdge = 16384;

uint32_t U32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

struct DdsImage {
    ImageInfo info;
    uint32_t faces;
    const uint8_t* texels;  // faces x levels, each level tightly packed
};

Format FormatFromMasks(uint32_t flags, uint32_t bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    if (!(flags & DDPF_ALPHAPIXELS) && !(flags & DDPF_ALPHA)) a = 0;
    struct Entry {
        uint32_t bits, r, g, b, a;
        Format format;
    };
    static const Entry kRgb[] = {
        {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, FMT_A8R8G8B8},
        {32, 0xFF0000, 0xFF00, 0xFF, 0, FMT_X8R8G8B8},
        {32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, FMT_A8B8G8R8},
        {32, 0xFF, 0xFF00, 0xFF0000, 0, FMT_X8B8G8R8},
        {32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, FMT_A2R10G10B10},
        {32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, FMT_A2B10G10R10},
        {32, 0xFFFF, 0xFFFF0000, 0, 0, FMT_G16R16},
        {24, 0xFF0000, 0xFF00, 0xFF, 0, FMT_R8G8B8},
        {16, 0xF800, 0x7E0, 0x1F, 0, FMT_R5G6B5},
        {16, 0x7C00, 0x3E0, 0x1F, 0x8000, FMT_A1R5G5B5},
        {16, 0x7C00, 0x3E0, 0x1F, 0, FMT_X1R5G5B5},
        {16, 0xF00, 0xF0, 0xF, 0xF000, FMT_A4R4G4B4},
        {16, 0xF00, 0xF0, 0xF, 0, FMT_X4R4G4B4},
    };
    if (flags & DDPF_RGB) {
        for (const Entry& e : kRgb)
            if (e.bits == bits && e.r == r && e.g == g && e.b == b && e.a == a) return e.format;
        return FMT_UNKNOWN;
    }
    if (flags & DDPF_LUMINANCE) {
        if (bits == 8 && r == 0xFF) return FMT_L8;
        if (bits == 16 && r == 0xFF && a == 0xFF00) return FMT_A8L8;
        if (bits == 16 && r == 0xFFFF) return FMT_L16;
        return FMT_UNKNOWN;
    }
    if ((flags & DDPF_ALPHA) && bits == 8 && a == 0xFF) return FMT_A8;
    return FMT_UNKNOWN;
}

Format FormatFromFourCC(uint32_t fourCC) {
    switch (fourCC) {
    case FMT_DXT1: case FMT_DXT2: case FMT_DXT3: case FMT_DXT4: case FMT_DXT5:
    case FMT_A16B16G16R16: case FMT_R16F: case FMT_G16R16F: case FMT_A16B16G16R16F:
    case FMT_R32F: case FMT_G32R32F: case FMT_A32B32G32R32F:
        return static_cast<Format>(fourCC);
    default:
        return FMT_UNKNOWN;
    }
}

Result ParseDds(const void* data, uint32_t size, DdsImage* out) {
    const auto* p = static_cast<const uint8_t*>(data);
    if (!p || size < kHeaderBytes || U32(p) != kDdsMagic || U32(p + 4) != 124 || U32(p + 76) != 32)
        return ERR_INVALIDDATA;
    const uint32_t flags = U32(p + 8);
    const uint32_t height = U32(p + 12);
    const uint32_t width = U32(p + 16);
    const uint32_t depth = U32(p + 24);
    uint32_t levels = (flags & DDSD_MIPMAPCOUNT) ? U32(p + 28) : 1;
    const uint32_t pfFlags = U32(p + 80);
    const uint32_t fourCC = U32(p + 84);
    const uint32_t caps2 = U32(p + 112);
    if (width == 0 || height == 0 || width > kMaxEdge || height > kMaxEdge) return ERR_INVALIDDATA;
    uint32_t fullChain = 1;
    for (uint32_t w = width, h = height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) ++fullChain;
    if (levels == 0) levels = 1;
    if (levels > fullChain) return ERR_INVALIDDATA;
    Format format = (pfFlags & DDPF_FOURCC) ? FormatFromFourCC(fourCC)
                                            : FormatFromMasks(pfFlags, U32(p + 88), U32(p + 92), U32(p + 96),
                                                              U32(p + 100), U32(p + 104));
    if (format == FMT_UNKNOWN) return ERR_INVALIDDATA;
    ResourceType type = RTYPE_TEXTURE;
    uint32_t faces = 1;
    if (caps2 & DDSCAPS2_CUBEMAP) {
        if ((caps2 & DDSCAPS2_ALLFACES) != DDSCAPS2_ALLFACES || width != height) return ERR_INVALIDDATA;
        type = RTYPE_CUBETEXTURE;
        faces = 6;
    } else if (caps2 & DDSCAPS2_VOLUME) {
        type = RTYPE_VOLUMETEXTURE;  // reported by the information call; not loadable here
    }
    uint64_t needed = 0;
    for (uint32_t i = 0, w = width, h = height; i < levels; ++i, w = std::max(1u, w / 2), h = std::max(1u, h / 2))
        needed += detail::LevelBytes(format, w, h);
    needed *= faces;
    if (type != RTYPE_VOLUMETEXTURE && needed > size - kHeaderBytes) return ERR_INVALIDDATA;
    out->info = {width, height, type == RTYPE_VOLUMETEXTURE ? std::max(1u, depth) : 1, levels, format, type, IFF_DDS};
    out->faces = faces;
    out->texels = p + kHeaderBytes;
    return OK;
}

bool FileSize(uint32_t requested, uint32_t fileValue) {
    return requested == 0 || requested == DEFAULT_VALUE || requested == DEFAULT_NONPOW2 || requested == FROM_FILE ||
           requested == fileValue;
}

uint32_t LevelsToCreate(uint32_t requested, uint32_t fileLevels) {
    if (requested == 0 || requested == DEFAULT_VALUE || requested == FROM_FILE) return fileLevels;
    return std::min(requested, fileLevels);
}

// Copies one level of file texels into a surface, converting when the formats differ.
bool FillLevel(detail::SurfaceImpl* level, const uint8_t* src, Format srcFormat) {
    const uint32_t srcPitch = detail::RowPitch(srcFormat, level->width);
    if (srcFormat == level->format) {
        std::memcpy(level->bytes.data(), src, level->bytes.size());
        return true;
    }
    FormatInfo si, di;
    detail::GetFormatInfo(srcFormat, &si);
    detail::GetFormatInfo(level->format, &di);
    if (!si.convertible || !di.convertible) return false;
    for (uint32_t y = 0; y < level->height; ++y) {
        for (uint32_t x = 0; x < level->width; ++x) {
            float rgba[4];
            detail::DecodeTexel(srcFormat, src + static_cast<size_t>(y) * srcPitch + x * si.bytesPerTexel, rgba);
            detail::EncodeTexel(level->format, rgba, level->Texel(x, y));
        }
    }
    return true;
}

Result CheckCommon(Device* device, uint32_t filter, uint32_t mipFilter, Color colorKey, void* palette,
                   const DdsImage& image, Format* format) {
    if (!device) return ERR_INVALIDCALL;
    if (colorKey != 0 || palette) return ERR_NOTIMPL;
    if (*format == FMT_UNKNOWN || *format == static_cast<Format>(FROM_FILE)) *format = image.info.format;
    if (*format != image.info.format) {
        FormatInfo si, di;
        if (!detail::GetFormatInfo(*format, &di) || !di.convertible) return ERR_INVALIDCALL;
        detail::GetFormatInfo(image.info.format, &si);
        if (!si.convertible) return ERR_INVALIDCALL;
    }
    return OK;
}

// The steps both texture kinds share: parse, check the kind and the size asked for,
// settle the format. ERR_INVALIDDATA for a file of the other kind.
Result PrepareDds(Device* device, const void* data, uint32_t size, ResourceType kind, uint32_t width,
                  uint32_t height, uint32_t filter, uint32_t mipFilter, Color colorKey, void* palette,
                  DdsImage* image, Format* format) {
    Result r = ParseDds(data, size, image);
    if (Failed(r)) return r;
    if (image->info.resourceType != kind) return ERR_INVALIDDATA;
    if (!FileSize(width, image->info.width) || !FileSize(height, image->info.height)) return ERR_NOTIMPL;
    return CheckCommon(device, filter, mipFilter, colorKey, palette, *image, format);
}

}  // namespace

Result GetImageInfoFromFileInMemory(const void* data, uint32_t size, ImageInfo* info) {
    DdsImage image;
    const Result r = ParseDds(data, size, &image);
    if (Failed(r)) return r;
    if (info) *info = image.info;
    return OK;
}

Result CreateTextureFromFileInMemoryEx(Device* device, const void* data, uint32_t size, uint32_t width,
                                       uint32_t height, uint32_t mipLevels, uint32_t usage, Format format, Pool pool,
                                       uint32_t filter, uint32_t mipFilter, Color colorKey, ImageInfo* info,
                                       void* palette, Texture** texture) {
    if (!texture) return ERR_INVALIDCALL;
    *texture = nullptr;
    DdsImage image;
    Result r = PrepareDds(device, data, size, RTYPE_TEXTURE, width, height, filter, mipFilter, colorKey, palette,
                          &image, &format);
    if (Failed(r)) return r;
    const uint32_t levels = LevelsToCreate(mipLevels, image.info.mipLevels);
    Texture* created = nullptr;
    r = device->CreateTexture(image.info.width, image.info.height, levels, usage, format, pool, &created, nullptr);
    if (Failed(r)) return r;
    auto* impl = dynamic_cast<detail::TextureImpl*>(created);
    if (!impl) {
        created->Release();
        return ERR_INVALIDCALL;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(impl->device->mutex);
        impl->device->Count(CallKind::LoadSurface);
        const uint8_t* src = image.texels;
        for (uint32_t i = 0; i < image.info.mipLevels; ++i) {
            const uint32_t w = std::max(1u, image.info.width >> i), h = std::max(1u, image.info.height >> i);
            if (i < impl->levels.size() && !FillLevel(impl->levels[i].get(), src, image.info.format)) {
                created->Release();
                return ERR_INVALIDCALL;
            }
            src += detail::LevelBytes(image.info.format, w, h);
        }
    }
    if (info) *info = image.info;
    *texture = created;
    return OK;
}

Result CreateCubeTextureFromFileInMemoryEx(Device* device, const void* data, uint32_t size, uint32_t edge,
                                           uint32_t mipLevels, uint32_t usage, Format format, Pool pool,
                                           uint32_t filter, uint32_t mipFilter, Color colorKey, ImageInfo* info,
                                           void* palette, CubeTexture** texture) {
    if (!texture) return ERR_INVALIDCALL;
    *texture = nullptr;
    DdsImage image;
    Result r = PrepareDds(device, data, size, RTYPE_CUBETEXTURE, edge, edge, filter, mipFilter, colorKey, palette,
                          &image, &format);
    if (Failed(r)) return r;
    const uint32_t levels = LevelsToCreate(mipLevels, image.info.mipLevels);
    CubeTexture* created = nullptr;
    r = device->CreateCubeTexture(image.info.width, levels, usage, format, pool, &created, nullptr);
    if (Failed(r)) return r;
    auto* impl = dynamic_cast<detail::CubeTextureImpl*>(created);
    if (!impl) {
        created->Release();
        return ERR_INVALIDCALL;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(impl->device->mutex);
        impl->device->Count(CallKind::LoadSurface);
        const uint8_t* src = image.texels;
        // DDS order: every level of face +X, then of -X, +Y, -Y, +Z, -Z.
        for (uint32_t face = 0; face < 6; ++face) {
            for (uint32_t i = 0; i < image.info.mipLevels; ++i) {
                const uint32_t e = std::max(1u, image.info.width >> i);
                if (i < impl->levelCount && !FillLevel(impl->Level(face, i), src, image.info.format)) {
                    created->Release();
                    return ERR_INVALIDCALL;
                }
                src += detail::LevelBytes(image.info.format, e, e);
            }
        }
    }
    if (info) *info = image.info;
    *texture = created;
    return OK;
}

Result LoadSurfaceFromMemory(Surface* dest, const void* destPalette, const Rect* destRect, const void* source,
                             Format sourceFormat, uint32_t sourcePitch, const void* sourcePalette,
                             const Rect* sourceRect, uint32_t filter, Color colorKey) {
    auto* d = dynamic_cast<detail::SurfaceImpl*>(dest);
    if (!d || !source || !sourceRect || destPalette || sourcePalette || colorKey != 0) return ERR_INVALIDCALL;
    if (filter != FILTER_NONE && filter != FILTER_POINT && filter != FILTER_LINEAR) return ERR_INVALIDCALL;
    FormatInfo si;
    if (!detail::GetFormatInfo(sourceFormat, &si) || si.depth) return ERR_INVALIDCALL;
    const Rect sr = *sourceRect;
    if (sr.left < 0 || sr.top < 0 || sr.left >= sr.right || sr.top >= sr.bottom) return ERR_INVALIDCALL;
    std::lock_guard<std::recursive_mutex> lock(d->device->mutex);
    d->device->Count(CallKind::LoadSurface);
    if (d->device->Backend()) d->device->Backend()->SyncToCpu(d);
    d->cpuDirty = true;
    const Rect dr = destRect ? *destRect : Rect{0, 0, static_cast<int32_t>(d->width), static_cast<int32_t>(d->height)};
    if (dr.left < 0 || dr.top < 0 || dr.left >= dr.right || dr.top >= dr.bottom ||
        dr.right > static_cast<int32_t>(d->width) || dr.bottom > static_cast<int32_t>(d->height))
        return ERR_INVALIDCALL;
    const auto sw = static_cast<uint32_t>(sr.right - sr.left), sh = static_cast<uint32_t>(sr.bottom - sr.top);
    const auto* src = static_cast<const uint8_t*>(source);
    if (si.blockCompressed || d->texelBytes == 0) {
        // Blocks are copied as they are: same format, same size, rectangles on block edges.
        if (sourceFormat != d->format || sw != static_cast<uint32_t>(dr.right - dr.left) ||
            sh != static_cast<uint32_t>(dr.bottom - dr.top) || ((sr.left | sr.top | dr.left | dr.top) & 3))
            return ERR_NOTIMPL;
        const uint32_t rowBytes = detail::RowPitch(sourceFormat, sw);
        const uint32_t rows = detail::RowCount(sourceFormat, sh);
        for (uint32_t row = 0; row < rows; ++row) {
            const uint8_t* from = src + static_cast<size_t>(sr.top / 4 + row) * sourcePitch +
                                  static_cast<size_t>(sr.left / 4) * si.bytesPerTexel;
            const size_t to = static_cast<size_t>(dr.top / 4 + row) * d->pitch +
                              static_cast<size_t>(dr.left / 4) * si.bytesPerTexel;
            std::memcpy(d->bytes.data() + to, from, std::min<size_t>(rowBytes, d->bytes.size() - to));
        }
        return OK;
    }
    if (!si.convertible && sourceFormat != d->format) return ERR_NOTIMPL;
    // Stage the source rectangle in a plain surface, then copy or scale into place.
    detail::SurfaceImpl staging(d->device, detail::SurfaceRole::OffscreenPlain, sw, sh, sourceFormat, 0,
                                POOL_SCRATCH, MULTISAMPLE_NONE, 0, true);
    for (uint32_t y = 0; y < sh; ++y)
        std::memcpy(staging.Texel(0, y), src + static_cast<size_t>(sr.top + y) * sourcePitch +
                                             static_cast<size_t>(sr.left) * si.bytesPerTexel,
                    staging.pitch);
    const Rect whole = {0, 0, static_cast<int32_t>(sw), static_cast<int32_t>(sh)};
    if (filter == FILTER_NONE) {
        const float black[4] = {0, 0, 0, 0};
        for (int32_t y = dr.top; y < dr.bottom; ++y)
            for (int32_t x = dr.left; x < dr.right; ++x) detail::EncodeTexel(d->format, black, d->Texel(x, y));
        const Rect overlapSource = {0, 0, std::min<int32_t>(whole.right, dr.right - dr.left),
                                    std::min<int32_t>(whole.bottom, dr.bottom - dr.top)};
        const Rect overlapDest = {dr.left, dr.top, dr.left + overlapSource.right, dr.top + overlapSource.bottom};
        detail::Blit(&staging, overlapSource, d, overlapDest, TEXF_POINT);
    } else {
        detail::Blit(&staging, whole, d, dr, filter == FILTER_LINEAR ? TEXF_LINEAR : TEXF_POINT);
    }
    return OK;
}

}  // namespace gfx
