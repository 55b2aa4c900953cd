#pragma once
// Test helper for the drawing device: a 64 x 64 device on the software rasteriser, shader
// pairs compiled from source, and picture checks with tolerances. A failed check writes
// the picture it got as a PNG under the build folder and names it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "platform/gfx/ImageWriter.h"
#include "platform/gfx/ShaderCompiler.h"

namespace gfx {

struct Vertex {  // FVF_XYZ | FVF_DIFFUSE | FVF_TEX1
    float x, y, z;
    uint32_t color;
    float u, v;
};
constexpr uint32_t kVertexFvf = FVF_XYZ | FVF_DIFFUSE | FVF_TEX1;

// Position in clip space, colour and uv straight through.
constexpr const char* kPassVertex = R"(
struct VOut { float4 position : POSITION; float4 colour : COLOR0; float2 uv : TEXCOORD0; };
VOut vertex(float4 p : POSITION, float4 c : COLOR0, float2 uv : TEXCOORD0) {
    VOut o; o.position = float4(p.xyz, 1); o.colour = c; o.uv = uv; return o;
}
)";
constexpr const char* kColourPixel = R"(
float4 pixel(float4 c : COLOR0) : COLOR0 { return c; }
)";

struct DrawFixture : ::testing::Test {
    static constexpr uint32_t kSize = 64;

    void SetUp() override {
        // Every machine draws with the same rasteriser.
        setenv("GALLIUM_DRIVER", "llvmpipe", 0);
        setenv("EGL_PLATFORM", "surfaceless", 0);
#if defined(__SANITIZE_THREAD__)
        // The rasteriser's own threads synchronise through futexes ThreadSanitizer cannot
        // see; without them llvmpipe rasterises on the calling thread.
        setenv("LP_NUM_THREADS", "0", 1);
#endif
        SetCapabilityFaults({});
        SelectDeviceKind(DeviceKind::Drawing);
        factory = CreateDeviceFactory(SDK_VERSION);
        SelectDeviceKind(DeviceKind::Recording);
        ASSERT_NE(factory, nullptr);
        PresentParameters params = Params();
        ASSERT_EQ(factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_HARDWARE_VERTEXPROCESSING | CREATE_MULTITHREADED,
                                        &params, &device),
                  OK);
        recorder = GetRecorder(device);
        Prepare();
    }
    // The back buffer: kSize square, X8R8G8B8, with an automatic D24S8 depth surface.
    static PresentParameters Params() {
        PresentParameters params{};
        params.backBufferWidth = params.backBufferHeight = kSize;
        params.backBufferFormat = FMT_X8R8G8B8;
        params.enableAutoDepthStencil = 1;
        params.autoDepthStencilFormat = FMT_D24S8;
        return params;
    }
    // Takes the back buffer and turns culling, depth and lighting off.
    void Prepare() {
        ASSERT_EQ(device->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &backBuffer), OK);
        device->SetRenderState(RS_CULLMODE, CULL_NONE);
        device->SetRenderState(RS_ZENABLE, 0);
        device->SetRenderState(RS_LIGHTING, 0);
    }
    // Each draw adds its colour to what the target holds.
    void AdditiveBlend() {
        device->SetRenderState(RS_ALPHABLENDENABLE, 1);
        device->SetRenderState(RS_SRCBLEND, BLEND_ONE);
        device->SetRenderState(RS_DESTBLEND, BLEND_ONE);
    }
    void TearDown() override {
        for (const ValidationReport& r : recorder ? recorder->Reports() : std::vector<ValidationReport>{})
            if (r.rule.rfind("shader-gl", 0) == 0) ADD_FAILURE() << r.message;
        for (Unknown* u : held) u->Release();
        if (backBuffer) backBuffer->Release();
        if (device) {
            EXPECT_EQ(device->Release(), 0u);
        }
        if (factory) factory->Release();
    }

    // Compiles and binds a shader pair; false (with the messages) when it does not compile.
    void UseShaders(const char* vertexSource, const char* pixelSource, const ShaderMacro* macros = nullptr,
                    IncludeHandler* include = nullptr) {
        VertexShader* vs = nullptr;
        PixelShader* ps = nullptr;
        Blob* code = CompileOrFail(vertexSource, "vertex", "vs_3_0", macros, include);
        ASSERT_NE(code, nullptr);
        ASSERT_EQ(device->CreateVertexShader(static_cast<const uint32_t*>(code->GetBufferPointer()),
                                             code->GetBufferSize(), &vs),
                  OK);
        code->Release();
        code = CompileOrFail(pixelSource, "pixel", "ps_3_0", macros, include);
        ASSERT_NE(code, nullptr);
        ASSERT_EQ(device->CreatePixelShader(static_cast<const uint32_t*>(code->GetBufferPointer()),
                                            code->GetBufferSize(), &ps),
                  OK);
        code->Release();
        device->SetVertexShader(vs);
        device->SetPixelShader(ps);
        held.push_back(vs);
        held.push_back(ps);
    }
    Blob* CompileOrFail(const char* source, const char* entry, const char* profile, const ShaderMacro* macros,
                        IncludeHandler* include = nullptr) {
        Blob* code = nullptr;
        Blob* errors = nullptr;
        CompileShader(source, static_cast<uint32_t>(std::strlen(source)), macros, include, entry, profile, 0, &code,
                      &errors, nullptr);
        if (!code) ADD_FAILURE() << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "no messages");
        if (errors) errors->Release();
        return code;
    }

    // Draws vertices (clip-space x, y, z) as user-pointer primitives.
    void Draw(PrimitiveType type, const std::vector<Vertex>& v, uint32_t primitives) {
        device->SetFVF(kVertexFvf);
        ASSERT_EQ(device->BeginScene(), OK);
        ASSERT_EQ(device->DrawPrimitiveUP(type, primitives, v.data(), sizeof(Vertex)), OK);
        ASSERT_EQ(device->EndScene(), OK);
    }
    // Two triangles covering the clip rectangle (x0, y0)-(x1, y1), one colour.
    static std::vector<Vertex> Rectangle(float x0, float y0, float x1, float y1, uint32_t color, float z = 0.5f) {
        return {{x0, y0, z, color, 0, 1}, {x0, y1, z, color, 0, 0}, {x1, y1, z, color, 1, 0},
                {x0, y0, z, color, 0, 1}, {x1, y1, z, color, 1, 0}, {x1, y0, z, color, 1, 1}};
    }
    void Clear(uint32_t color) {
        Surface* depth = nullptr;
        device->GetDepthStencilSurface(&depth);
        const uint32_t flags = depth ? CLEAR_TARGET | CLEAR_ZBUFFER | CLEAR_STENCIL : CLEAR_TARGET;
        if (depth) depth->Release();
        ASSERT_EQ(device->Clear(0, nullptr, flags, color, 1.0f, 0), OK);
    }

    // Pixels of a 32-bit colour surface as 0xAARRGGBB.
    std::vector<uint32_t> Pixels(Surface* s) {
        std::vector<uint8_t> bytes;
        EXPECT_EQ(recorder->ReadSurface(s, &bytes), OK);
        std::vector<uint32_t> out(bytes.size() / 4);
        std::memcpy(out.data(), bytes.data(), out.size() * 4);
        return out;
    }

    // Compares every pixel with expect(x, y) per channel (alpha ignored unless asked);
    // at most `share` of the pixels may differ by more than `tolerance`.
    void ExpectPicture(const std::string& name, Surface* s, const std::function<uint32_t(uint32_t, uint32_t)>& expect,
                       int tolerance = 2, double share = 0.0, bool alpha = false) {
        SurfaceDesc d{};
        s->GetDesc(&d);
        const std::vector<uint32_t> got = Pixels(s);
        size_t bad = 0;
        std::string first;
        const uint32_t mask = alpha ? 0xFFFFFFFFu : 0x00FFFFFFu;
        for (uint32_t y = 0; y < d.height; ++y) {
            for (uint32_t x = 0; x < d.width; ++x) {
                const uint32_t g = got[y * d.width + x] & mask, e = expect(x, y) & mask;
                int worst = 0;
                for (int c = 0; c < 32; c += 8)
                    worst = std::max(worst, std::abs(static_cast<int>((g >> c) & 0xFF) - static_cast<int>((e >> c) & 0xFF)));
                if (worst > tolerance) {
                    if (bad++ == 0) {
                        char text[96];
                        std::snprintf(text, sizeof text, "(%u,%u) got %08X expected %08X", x, y, g, e);
                        first = text;
                    }
                }
            }
        }
        const double allowed = share * d.width * d.height;
        if (static_cast<double>(bad) > allowed) {
            const std::string dir = std::string(PROJECT_BINARY_ROOT) + "/test-pictures";
            std::filesystem::create_directories(dir);
            const std::string path = dir + "/" + name + ".png";
            std::string error;
            const bool saved = WritePng(path, d.width, d.height, got.data(), alpha, &error);
            ADD_FAILURE() << name << ": " << bad << " pixels differ, first " << first << "; picture "
                          << (saved ? path : "not saved: " + error);
        }
    }

    DeviceFactory* factory = nullptr;
    Device* device = nullptr;
    Recorder* recorder = nullptr;
    Surface* backBuffer = nullptr;
    std::vector<Unknown*> held;
};

inline uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return ColorArgb(a, r, g, b); }

}  // namespace gfx
