#pragma once
// Shared fixture of the shader tests: the resource fixture (renderer on a recording
// device, scratch data folders mounted as the data kinds, the loader started) with the
// build's shader data copied into its "common" and "textures" folders. TearDown closes
// the shader manager while the pools still exist.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../resources/ResourceTestSupport.h"
#include "render/resources/ResourcePool.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderDefinitions.h"
#include "render/shaders/ShaderManager.h"
#include "platform/gfx/GfxDevice.h"

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

}  // namespace shadertest
