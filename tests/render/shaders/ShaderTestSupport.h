#pragma once
// Shared fixture of the shader tests: the resource fixture (renderer on a recording
// device, scratch data folders mounted as the data kinds, the loader started) with the
// build's shader data copied into its "common" and "textures" folders. TearDown closes
// the shader manager while the pools still exist.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "../resources/ResourceTestSupport.h"
#include "render/resources/ResourcePool.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderDefinitions.h"
#include "render/shaders/ShaderManager.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "platform/gfx/ImageWriter.h"
#include "render/VornexRenderer.h"

namespace shadertest {

struct ShaderFixture : resourcetest::ResourceFixture {
    void SetUp() override {
        ResourceFixture::SetUp();
        namespace fs = std::filesystem;
        fs::copy(PROJECT_BINARY_ROOT "/data/common/Shaders", root + "/common/Shaders", fs::copy_options::recursive);
        fs::copy(PROJECT_BINARY_ROOT "/data/textures/System", root + "/textures/System", fs::copy_options::recursive);
    }
    void TearDown() override {
        gShaderManager->Close();
        ResourceFixture::TearDown();
    }

    std::string ShaderFolder() const { return root + "/common/Shaders"; }
    // Every shader resource in the pool, by name.
    std::vector<ResourceShader*> PooledShaders() {
        std::vector<ResourceShader*> out;
        CriticalSectionGuard guard(&gResourceManager.ManagerLock());
        ResourcePool* pool = gResourceManager.Pool(RESOURCE_SHADER);
        for (uint32_t i = 0; pool && i < pool->Count(); ++i) out.push_back(static_cast<ResourceShader*>(pool->At(i)));
        return out;
    }
};

// The shader fixture on the drawing device (Mesa's software rasteriser when there is no
// GPU) with the shader definitions loaded, for tests that look at pixels. A derived SetUp
// returns when this one failed (HasFatalFailure).
struct DrawingShaderFixture : ShaderFixture {
    void SetUp() override {
        setenv("GALLIUM_DRIVER", "llvmpipe", 0);
        setenv("EGL_PLATFORM", "surfaceless", 0);
#if defined(__SANITIZE_THREAD__)
        setenv("LP_NUM_THREADS", "0", 1);
#endif
        gfx::SelectDeviceKind(gfx::DeviceKind::Drawing);
        ShaderFixture::SetUp();
        gfx::SelectDeviceKind(gfx::DeviceKind::Recording);
        ASSERT_TRUE(created);
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
    }
};

// Render thread: saves the surface as name.png under $RENDER_PICTURES, or under the
// build's pictures folder when save is set (a failed check), and prints the path.
inline void SavePicture(gfx::Surface* surface, const std::string& name, bool save) {
    const char* folder = std::getenv("RENDER_PICTURES");
    if (!folder && !save) return;
    const std::string dir = folder ? folder : PROJECT_BINARY_ROOT "/pictures";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/" + name + ".png";
    std::string error;
    if (gfx::SaveSurfacePng(gVornexRenderer.Device(), surface, path, &error)) std::printf("picture: %s\n", path.c_str());
}

// On the render thread: runs the draws into a fresh side x side colour target (with a depth
// surface) cleared to black and gives its bytes (B, G, R, A per pixel; empty when it cannot
// be read), saved by SavePicture. The frame's own target and depth surface are bound
// again afterwards.
inline std::vector<uint8_t> DrawOffscreen(gfx::Recorder* recorder, uint32_t side, const std::string& name, bool save,
                                          const std::function<void()>& draws) {
    using namespace gfx;
    std::vector<uint8_t> bytes;
    Device* device = gVornexRenderer.Device();
    Surface *target = nullptr, *depth = nullptr, *frameTarget = nullptr, *frameDepth = nullptr;
    device->GetRenderTarget(0, &frameTarget);
    device->GetDepthStencilSurface(&frameDepth);
    const bool made =
        device->CreateRenderTarget(side, side, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &target, nullptr) == OK &&
        device->CreateDepthStencilSurface(side, side, FMT_D24S8, MULTISAMPLE_NONE, 0, 1, &depth, nullptr) == OK;
    EXPECT_TRUE(made) << "no off-screen target for " << name;
    if (made) {
        device->SetRenderTarget(0, target);
        device->SetDepthStencilSurface(depth);
        device->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0, 1.0f, 0);
        draws();
        if (Failed(recorder->ReadSurface(target, &bytes)) || bytes.size() != size_t(side) * side * 4) bytes.clear();
        SavePicture(target, name, save);
    }
    device->SetRenderTarget(0, frameTarget);
    device->SetDepthStencilSurface(frameDepth);
    for (Surface* s : {target, depth, frameTarget, frameDepth})
        if (s) s->Release();
    return bytes;
}

// 0xRRGGBB per pixel of DrawOffscreen's bytes.
inline std::vector<uint32_t> RgbPixels(const std::vector<uint8_t>& bytes) {
    std::vector<uint32_t> pixels(bytes.size() / 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint32_t(bytes[4 * i + 2]) << 16 | uint32_t(bytes[4 * i + 1]) << 8 | bytes[4 * i];
    return pixels;
}

// Begins a frame of the fixture, runs the draws off-screen on the render thread
// (DrawOffscreen) and ends the frame; the pixels as 0xRRGGBB.
inline std::vector<uint32_t> OffscreenPixels(rendertest::RendererFixture& f, uint32_t side, const std::string& name,
                                             bool save, const std::function<void()>& draws) {
    std::vector<uint8_t> bytes;
    f.BeginFrame();
    rendertest::RunOnRenderThread([&] { bytes = DrawOffscreen(f.recorder, side, name, save, draws); });
    f.EndFrame();
    return RgbPixels(bytes);
}

// The rectangle (x0, y0, x1, y1 inclusive) of the pixels that pass the test; (side, side,
// -1, -1) when none does.
inline std::array<int, 4> PixelRectangle(const std::vector<uint32_t>& pixels, uint32_t side,
                                         const std::function<bool(uint32_t)>& inside) {
    std::array<int, 4> r{int(side), int(side), -1, -1};
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x)
            if (inside(pixels[y * side + x])) {
                r[0] = std::min(r[0], int(x)), r[1] = std::min(r[1], int(y));
                r[2] = std::max(r[2], int(x)), r[3] = std::max(r[3], int(y));
            }
    return r;
}

}  // namespace shadertest
