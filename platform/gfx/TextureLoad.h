#pragma once
// Texture helpers in place of the original's helper library: image information, and
// textures, cube textures and surfaces filled from DDS bytes or raw texels in memory.
// Readers are bounded: corrupt or truncated data gives ERR_INVALIDDATA, never a read
// past the given size. Block-compressed texels are copied, not decoded.
#include <cstdint>

#include "platform/gfx/GfxDevice.h"

namespace gfx {

enum ImageFileFormat : uint32_t { IFF_BMP = 0, IFF_JPG = 1, IFF_TGA = 2, IFF_PNG = 3, IFF_DDS = 4 };

struct ImageInfo {
    uint32_t width, height, depth, mipLevels;
    Format format;
    ResourceType resourceType;  // RTYPE_TEXTURE, RTYPE_CUBETEXTURE or RTYPE_VOLUMETEXTURE
    ImageFileFormat imageFileFormat;
};

constexpr uint32_t DEFAULT_VALUE = 0xFFFFFFFFu;    // size or level count: the helper's default
constexpr uint32_t DEFAULT_NONPOW2 = 0xFFFFFFFEu;  // size: the file's, not rounded to a power of two
constexpr uint32_t FROM_FILE = 0xFFFFFFFDu;        // size or level count: the file's
constexpr uint32_t FILTER_NONE = 1;
constexpr uint32_t FILTER_POINT = 2;
constexpr uint32_t FILTER_LINEAR = 3;

Result GetImageInfoFromFileInMemory(const void* data, uint32_t size, ImageInfo* info);

// Sizes must be the file's (0, DEFAULT_VALUE, DEFAULT_NONPOW2, FROM_FILE or equal);
// the format the file's (FMT_UNKNOWN) or one the file's texels convert to. A level count
// of 0, DEFAULT_VALUE or FROM_FILE takes the file's levels; a larger count than the file
// holds is reduced to the file's. colorKey and palette must be 0 / null.
Result CreateTextureFromFileInMemoryEx(Device* device, const void* data, uint32_t size, uint32_t width,
                                       uint32_t height, uint32_t mipLevels, uint32_t usage, Format format, Pool pool,
                                       uint32_t filter, uint32_t mipFilter, Color colorKey, ImageInfo* info,
                                       void* palette, Texture** texture);
Result CreateCubeTextureFromFileInMemoryEx(Device* device, const void* data, uint32_t size, uint32_t edge,
                                           uint32_t mipLevels, uint32_t usage, Format format, Pool pool,
                                           uint32_t filter, uint32_t mipFilter, Color colorKey, ImageInfo* info,
                                           void* palette, CubeTexture** texture);

// Copies srcRect of the source texels (srcPitch bytes per row) into dstRect of the surface
// (null: whole surface), converting formats and scaling (FILTER_POINT, FILTER_LINEAR);
// FILTER_NONE copies the overlap and fills the rest of dstRect with transparent black.
Result LoadSurfaceFromMemory(Surface* dest, const void* destPalette, const Rect* destRect, const void* source,
                             Format sourceFormat, uint32_t sourcePitch, const void* sourcePalette,
                             const Rect* sourceRect, uint32_t filter, Color colorKey);

}  // namespace gfx
