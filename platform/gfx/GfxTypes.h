#pragma once
// Plain records passed to and from the graphics device. Layouts that stored data
// carries (VertexElement) keep their documented byte size.
#include <cstdint>

#include "platform/gfx/GfxEnums.h"

namespace gfx {

using Color = uint32_t;  // 0xAARRGGBB

constexpr Color ColorArgb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return ((a & 0xFF) << 24) | ((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF);
}

struct Rect {
    int32_t left, top, right, bottom;
};

struct Viewport {
    uint32_t x, y, width, height;
    float minZ, maxZ;
};

struct LockedRect {
    int32_t pitch;  // bytes per row (per row of 4x4 blocks for block-compressed formats)
    void* bits;
};

struct SurfaceDesc {
    Format format;
    ResourceType type;
    uint32_t usage;
    Pool pool;
    MultisampleType multiSampleType;
    uint32_t multiSampleQuality;
    uint32_t width;
    uint32_t height;
};

struct VertexBufferDesc {
    Format format;  // FMT_UNKNOWN for vertex buffers
    ResourceType type;
    uint32_t usage;
    Pool pool;
    uint32_t size;
    uint32_t fvf;
};
static_assert(sizeof(VertexBufferDesc) == 24, "vertex buffer description is 24 bytes in stored data");

struct IndexBufferDesc {
    Format format;
    ResourceType type;
    uint32_t usage;
    Pool pool;
    uint32_t size;
};
static_assert(sizeof(IndexBufferDesc) == 20, "index buffer description is 20 bytes in stored data");

// One element of a vertex declaration; 8 bytes as stored in mesh data.
struct VertexElement {
    uint16_t stream;
    uint16_t offset;
    uint8_t type;
    uint8_t method;
    uint8_t usage;
    uint8_t usageIndex;
};
static_assert(sizeof(VertexElement) == 8, "vertex element is 8 bytes in stored data");
constexpr VertexElement kDeclEnd = {0xFF, 0, DECLTYPE_UNUSED, 0, 0, 0};

struct DisplayMode {
    uint32_t width;
    uint32_t height;
    uint32_t refreshRate;
    Format format;
};

struct PresentParameters {
    uint32_t backBufferWidth;
    uint32_t backBufferHeight;
    Format backBufferFormat;
    uint32_t backBufferCount;
    MultisampleType multiSampleType;
    uint32_t multiSampleQuality;
    SwapEffect swapEffect;
    void* deviceWindow;  // the platform window handle; only stored
    int32_t windowed;
    int32_t enableAutoDepthStencil;
    Format autoDepthStencilFormat;
    uint32_t flags;
    uint32_t fullScreenRefreshRateInHz;
    uint32_t presentationInterval;
};

struct GammaRamp {
    uint16_t red[256];
    uint16_t green[256];
    uint16_t blue[256];
};

// The subset of device capabilities the engine reads.
struct Caps {
    DeviceType deviceType;
    uint32_t adapterOrdinal;
    uint32_t maxTextureWidth;
    uint32_t maxTextureHeight;
    uint32_t maxSimultaneousTextures;
    uint32_t maxStreams;
    uint32_t numSimultaneousRTs;
    uint32_t vertexShaderVersion;  // version token of the highest vertex-shader model
    uint32_t pixelShaderVersion;
    uint32_t maxVertexShaderConst;
    uint32_t maxPrimitiveCount;
    uint32_t maxVertexIndex;
    int32_t hardwareVertexProcessing;  // 0 when the device refuses hardware vertex processing
};

}  // namespace gfx
