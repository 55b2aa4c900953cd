#pragma once
// Test helper: a factory and a 64x32 device with an automatic depth surface, every draw
// recorded, and small helpers to read what the device holds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "platform/gfx/ShaderCompiler.h"

namespace gfx {

struct Fixture : ::testing::Test {
    void SetUp() override {
        SetCapabilityFaults({});
        factory = CreateDeviceFactory(SDK_VERSION);
        ASSERT_NE(factory, nullptr);
        params = {};
        params.backBufferWidth = 64;
        params.backBufferHeight = 32;
        params.backBufferFormat = FMT_X8R8G8B8;
        params.enableAutoDepthStencil = 1;
        params.autoDepthStencilFormat = FMT_D24S8;
        ASSERT_EQ(factory->CreateDevice(0, DEVTYPE_HAL, nullptr,
                                        CREATE_HARDWARE_VERTEXPROCESSING | CREATE_PUREDEVICE | CREATE_MULTITHREADED,
                                        &params, &device),
                  OK);
        recorder = GetRecorder(device);
        recorder->SetDrawRecordMode(DrawRecordMode::All);
    }
    void TearDown() override {
        if (device) {
            EXPECT_EQ(device->Release(), 0u);
        }
        factory->Release();
        SetCapabilityFaults({});
    }
    bool Broke(const char* rule) {
        for (const ValidationReport& r : recorder->Reports())
            if (r.rule == rule && r.violation) return true;
        return false;
    }
    VertexBuffer* Quad() {
        VertexBuffer* vb = nullptr;
        EXPECT_EQ(device->CreateVertexBuffer(4 * 20, USAGE_WRITEONLY, 0, POOL_MANAGED, &vb, nullptr), OK);
        return vb;
    }
    uint32_t Pixel(Surface* s, uint32_t x, uint32_t y) {
        std::vector<uint8_t> bytes;
        EXPECT_EQ(recorder->ReadSurface(s, &bytes), OK);
        SurfaceDesc d;
        s->GetDesc(&d);
        uint32_t v;
        std::memcpy(&v, bytes.data() + (static_cast<size_t>(y) * d.width + x) * 4, 4);
        return v;
    }

    // Compiled shader code (released by the caller).
    Blob* Compile(const char* src, const char* entry, const char* profile) {
        Blob* code = nullptr;
        EXPECT_EQ(CompileShader(src, static_cast<uint32_t>(std::strlen(src)), nullptr, nullptr, entry, profile, 0, &code,
                                nullptr, nullptr),
                  OK);
        return code;
    }
    const uint32_t* Code(Blob* b) { return static_cast<const uint32_t*>(b->GetBufferPointer()); }

    DeviceFactory* factory = nullptr;
    Device* device = nullptr;
    Recorder* recorder = nullptr;
    PresentParameters params;
};

}  // namespace gfx
