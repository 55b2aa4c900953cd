#pragma once
// What the drawing-device benchmarks share: a device on the drawing back end (Mesa's
// software rasteriser when there is no GPU), one textured-quad vertex layout with its two
// shaders, and the helpers that make the shaders, a 16 x 16 texture and a filled buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "platform/gfx/ShaderCompiler.h"

namespace benchgfx {

struct Vertex {
    float x, y, z;
    uint32_t color;
    float u, v;
};
constexpr uint32_t kFvf = gfx::FVF_XYZ | gfx::FVF_DIFFUSE | gfx::FVF_TEX1;

inline const char* kVertexSource = R"(
float4 Offset : register(c0);
struct VOut { float4 position : POSITION; float4 colour : COLOR0; float2 uv : TEXCOORD0; };
VOut vertex(float4 p : POSITION, float4 c : COLOR0, float2 uv : TEXCOORD0) {
    VOut o; o.position = float4(p.xy + Offset.xy, p.z, 1); o.colour = c; o.uv = uv; return o;
}
)";
inline const char* kPixelSource = R"(
sampler2D T : register(s0);
float4 pixel(float4 c : COLOR0, float2 uv : TEXCOORD0) : COLOR0 { return c * tex2D(T, uv); }
)";

// A drawing device with an X8R8G8B8 back buffer of the given size and draw recording off;
// null when the drawing back end is missing. The factory is the caller's to release.
inline gfx::Device* CreateDrawingDevice(uint32_t width, uint32_t height, gfx::DeviceFactory*& factory) {
    using namespace gfx;
    setenv("GALLIUM_DRIVER", "llvmpipe", 0);
    setenv("EGL_PLATFORM", "surfaceless", 0);
    SelectDeviceKind(DeviceKind::Drawing);
    factory = CreateDeviceFactory(SDK_VERSION);
    SelectDeviceKind(DeviceKind::Recording);
    PresentParameters params{};
    params.backBufferWidth = width;
    params.backBufferHeight = height;
    params.backBufferFormat = FMT_X8R8G8B8;
    Device* device = nullptr;
    if (!factory || Failed(factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_HARDWARE_VERTEXPROCESSING, &params,
                                                 &device)))
        return nullptr;
    GetRecorder(device)->SetDrawRecordMode(DrawRecordMode::Off);
    return device;
}

// The quad's shaders; false when either did not compile.
inline bool CreateQuadShaders(gfx::Device* device, gfx::VertexShader*& vs, gfx::PixelShader*& ps) {
    using namespace gfx;
    Blob* code = nullptr;
    if (!Failed(CompileShader(kVertexSource, static_cast<uint32_t>(std::strlen(kVertexSource)), nullptr, nullptr,
                              "vertex", "vs_3_0", 0, &code, nullptr, nullptr))) {
        device->CreateVertexShader(static_cast<const uint32_t*>(code->GetBufferPointer()), code->GetBufferSize(), &vs);
        code->Release();
    }
    code = nullptr;
    if (!Failed(CompileShader(kPixelSource, static_cast<uint32_t>(std::strlen(kPixelSource)), nullptr, nullptr,
                              "pixel", "ps_3_0", 0, &code, nullptr, nullptr))) {
        device->CreatePixelShader(static_cast<const uint32_t*>(code->GetBufferPointer()), code->GetBufferSize(), &ps);
        code->Release();
    }
    return vs && ps;
}

// A 16 x 16 A8R8G8B8 texture whose texels alternate between two colours.
inline gfx::Texture* CreateStripedTexture(gfx::Device* device, uint32_t even, uint32_t odd) {
    using namespace gfx;
    Texture* texture = nullptr;
    device->CreateTexture(16, 16, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &texture, nullptr);
    LockedRect lr{};
    texture->LockRect(0, &lr, nullptr, 0);
    for (int i = 0; i < 16 * 16; ++i) static_cast<uint32_t*>(lr.bits)[i] = (i & 1) ? odd : even;
    texture->UnlockRect(0);
    return texture;
}

inline gfx::VertexBuffer* CreateFilledVertexBuffer(gfx::Device* device, const void* bytes, uint32_t size) {
    using namespace gfx;
    VertexBuffer* vb = nullptr;
    void* p = nullptr;
    device->CreateVertexBuffer(size, USAGE_WRITEONLY, kFvf, POOL_MANAGED, &vb, nullptr);
    vb->Lock(0, 0, &p, 0);
    std::memcpy(p, bytes, size);
    vb->Unlock();
    return vb;
}

}  // namespace benchgfx
